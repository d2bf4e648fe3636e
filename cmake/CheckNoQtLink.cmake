# cmake -DPROGRAM=<file> -P CheckNoQtLink.cmake
#
# Fails when the program loads a Qt library at start: programs that use Qt
# for some commands only open it at run time (imaging/image_library_loader.h).
if(NOT PROGRAM)
  message(FATAL_ERROR "PROGRAM not set")
endif()
execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "libQt[^ \t\n]*" qt "${libraries}")
if(qt)
  message(FATAL_ERROR "${PROGRAM} links Qt: ${qt}")
endif()
message(STATUS "${PROGRAM} starts without Qt")
