# Test helpers shared by every directory.
#
#   ctyset2_unit_test(name SOURCES a.cpp ... LIBS lib ...)
#     native GoogleTest executable (ASan/UBSan), one CTest test, label "unit".
#   ctyset2_wine_test(name SOURCES a.cpp ... LIBS lib ... [COMPORTS])
#     MinGW GoogleTest executable run under Wine through
#     CMAKE_CROSSCOMPILING_EMULATOR (cmake/wine-run.sh), label "wine". It needs
#     the "wine" fixture (prefix, wineserver, display; tests/win32/wine.cmake)
#     and links ctyset2_wine_support (tests/win32/support). COMPORTS serialises
#     tests that use the simulated COM ports. PROCESS_PER_TEST Suite.Case ...
#     runs each named GoogleTest case in a program of its own, one CTest test
#     each (name.Suite.Case).
#   ctyset2_wine_script_test(name SCRIPT run.sh TARGET program)
#     a bash script that runs `program` of this tree under Wine against modemsim
#     on the simulated COM ports: run.sh <win64|win32> <program> <build-dir>
#     <source-dir> <modemsim>.
#   ctyset2_wine_properties(test ... [TIMEOUT s])
#     what every test that runs a Windows program has: the "wine" fixture, label
#     "wine", exit code 77 as "skipped" (the i686 flavour on a machine that
#     cannot run 32-bit programs, cmake/can-run-32bit.sh), a crash that Wine
#     reports fails the test.

# modemsim comes from the native tree; Wine tests start it through simctl.sh.
set(CTYSET2_MODEMSIM "${PROJECT_SOURCE_DIR}/build/native/tools/modemsim/modemsim"
    CACHE FILEPATH "Native modemsim used by the Wine tests")

function(ctyset2_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 300)
endfunction()

function(ctyset2_wine_test name)
  cmake_parse_arguments(T "COMPORTS" "" "SOURCES;LIBS;PROCESS_PER_TEST" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ctyset2_wine_support GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  set(tests)
  if(T_PROCESS_PER_TEST)
    foreach(case ${T_PROCESS_PER_TEST})
      add_test(NAME ${name}.${case} COMMAND ${name} --gtest_filter=${case})
      list(APPEND tests ${name}.${case})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name})
    set(tests ${name})
  endif()
  ctyset2_wine_properties(${tests})
  set_tests_properties(${tests} PROPERTIES ENVIRONMENT "CTYSET2_BUILD=${CMAKE_BINARY_DIR};CTYSET2_SOURCE=${PROJECT_SOURCE_DIR};CTYSET2_MODEMSIM=${CTYSET2_MODEMSIM}")
  if(T_COMPORTS)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK comports)
  endif()
endfunction()

function(ctyset2_wine_properties)
  cmake_parse_arguments(T "" "TIMEOUT" "" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  # A crash that Wine reports fails the test even if the process then exits 0.
  set_tests_properties(${T_UNPARSED_ARGUMENTS} PROPERTIES FIXTURES_REQUIRED wine LABELS wine
    TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77 FAIL_REGULAR_EXPRESSION "wine: Unhandled")
endfunction()

function(ctyset2_wine_script_test name)
  cmake_parse_arguments(T "" "SCRIPT;TARGET" "" ${ARGN})
  add_test(NAME ${name}
           COMMAND bash ${T_SCRIPT} ${CTYSET2_WINE_ARCH} $<TARGET_FILE:${T_TARGET}>
                   ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${CTYSET2_MODEMSIM})
  ctyset2_wine_properties(${name} TIMEOUT 300)
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK comports)
endfunction()
