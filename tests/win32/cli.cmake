# ctyset2.exe (the command-line program) under Wine against modemsim on COM2.
ctyset2_wine_script_test(cli_wine_test SCRIPT ${CMAKE_CURRENT_LIST_DIR}/cli/run.sh
                         TARGET ctyset2_cli)

# The console control handler of ctyset2.exe, run in this program with the
# command on a thread of its own.
ctyset2_wine_test(cli_close_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli/ConsoleCloseTest.cpp
                  LIBS ctyset2_cli_core COMPORTS)
target_include_directories(cli_close_test PRIVATE ${PROJECT_SOURCE_DIR})
