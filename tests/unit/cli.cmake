# The ctyset2 program against modemsim in real time. Each modem case is a
# CTest test of its own, so that they run side by side (ctest -j).
add_executable(cli_test ${CMAKE_CURRENT_LIST_DIR}/CliTest.cpp)
target_link_libraries(cli_test PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(cli_test PRIVATE MODEMSIM_PATH="$<TARGET_FILE:modemsim>"
  CTYSET2_PATH="$<TARGET_FILE:ctyset2_cli>" CTYSET2_INI="${PROJECT_SOURCE_DIR}/data/Ctyset2.ini")
add_dependencies(cli_test modemsim ctyset2_cli)
foreach(case DetectOnFirstDevice DetectOnThirdDevice SetAccepted SetRefused SetUnanswered
             SetKept SetSwitchedEchoOffNumeric SetCountryOfAnotherFamily UnknownFamily
             OnlySilentDevices)
  add_test(NAME cli_test.${case} COMMAND cli_test --gtest_filter=Modem/CliTest.TellsWhatTheModemDid/${case})
  set_tests_properties(cli_test.${case} PROPERTIES LABELS unit TIMEOUT 300)
endforeach()
add_test(NAME cli_test.Input COMMAND cli_test --gtest_filter=CliInput.*)
set_tests_properties(cli_test.Input PROPERTIES LABELS unit TIMEOUT 120)

# The POSIX port's UUCP lock files, on a pty.
ctyset2_unit_test(serial_port_lock_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli/SerialPortLockTest.cpp
                  LIBS ctyset2_cli_core)
