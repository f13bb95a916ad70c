# Test helpers shared by every directory.
#
#   ctyset2_unit_test(name SOURCES a.cpp ... LIBS lib ...)
#     native GoogleTest executable (ASan/UBSan), one CTest test.
#   ctyset2_wine_test(name SOURCES a.cpp ... LIBS lib ... [COMPORTS])
#     MinGW GoogleTest executable run under Wine through
#     CMAKE_CROSSCOMPILING_EMULATOR; COMPORTS serialises tests that use the
#     simulated COM ports.

function(ctyset2_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

function(ctyset2_wine_test name)
  cmake_parse_arguments(T "COMPORTS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine
    ENVIRONMENT "CTYSET2_BUILD=${CMAKE_BINARY_DIR};CTYSET2_SOURCE=${PROJECT_SOURCE_DIR}")
  if(T_COMPORTS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK comports)
  endif()
endfunction()
