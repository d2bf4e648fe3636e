include(GoogleTest)

# fvx_add_gtest(name SOURCES a_test.cpp ... LIBS lib ...)
# One GoogleTest executable, registered with CTest test by test.
function(fvx_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE FVX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             FVX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  fvx_warnings(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${ARG_ENV}")
endfunction()

# fvx_add_fuzzer(name SOURCES a_fuzz.cpp ... LIBS lib ...)
# libFuzzer target, built only with FVX_FUZZ=ON and clang.
function(fvx_add_fuzzer name)
  if(NOT FVX_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()

# fvx_add_bench(name SOURCES a_bench.cpp ... LIBS lib ...)
function(fvx_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
  fvx_warnings(${name})
endfunction()

# fvx_add_qttest(name SOURCES a_test.cpp ... LIBS lib ... [ENV VAR=value ...] [WEBENGINE])
# One Qt Test executable, one CTest entry, run on the offscreen platform.
# WEBENGINE tests need a display: they run under xvfb-run without the
# sandbox (CI runs as root) and without the GPU.
function(fvx_add_qttest name)
  cmake_parse_arguments(ARG "WEBENGINE" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE FVX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             FVX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  fvx_warnings(${name})
  if(ARG_WEBENGINE)
    add_test(NAME ${name} COMMAND xvfb-run -a $<TARGET_FILE:${name}>)
    set(env QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
            QT_QPA_PLATFORM=xcb)
  else()
    add_test(NAME ${name} COMMAND ${name})
    set(env QT_QPA_PLATFORM=offscreen)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 ENVIRONMENT "${env};${ARG_ENV}")
endfunction()
