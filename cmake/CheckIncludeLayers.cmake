# cmake -DSOURCE_DIR=<tree> -P CheckIncludeLayers.cmake
#
# Keeps the dependencies between the engine folders pointing one way:
#
#   compiler/base      <- compiler/frontend, compiler/backend <- compiler/app
#   bookformat         <- compiler/*, reader/*
#
# A rule names a folder and the include prefixes its files may not use. Tests
# (*_test.cpp), fuzzers and test helpers under a layer may reach upwards to
# build their inputs (a writer test compiles a source through the driver), so
# the rules for the compiler layers look at the library code only; bookformat/
# stays free of compiler/ and reader/ with its tests included, so that tools
# and the reader can use it alone.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not set")
endif()

set(rules
  "compiler/base|compiler/frontend/,compiler/backend/,compiler/app/|library"
  "compiler/frontend|compiler/backend/,compiler/app/|library"
  "compiler/backend|compiler/frontend/,compiler/app/|library"
  "bookformat|compiler/,reader/|all")

set(failures "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(GET parts 0 folder)
  list(GET parts 1 forbidden)
  list(GET parts 2 scope)
  string(REPLACE "," ";" forbidden "${forbidden}")
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
       "${SOURCE_DIR}/${folder}/*.def")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH relative "${SOURCE_DIR}" "${file}")
    if(scope STREQUAL "library" AND
       relative MATCHES "(_test\\.cpp|_test_util\\.h|_testing\\.h|_fuzzer\\.cpp)$|/(testing|fuzz)/")
      continue()
    endif()
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" target "${line}")
      foreach(prefix IN LISTS forbidden)
        string(FIND "${target}" "${prefix}" at)
        if(at EQUAL 0)
          string(APPEND failures "  ${relative} includes ${target}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Includes against the layering:\n${failures}")
endif()
message(STATUS "Include layering holds")
