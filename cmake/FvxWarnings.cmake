# Warnings for our own targets only; third-party headers come in as SYSTEM.
function(fvx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# fvx_library(name SOURCES ... [LIBS ...] [QT])
# A static engine library whose headers are found from the repository root
# ("bookformat/block_store.h").
function(fvx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  fvx_warnings(${name})
endfunction()
