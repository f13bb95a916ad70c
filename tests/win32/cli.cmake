# ctyset2.exe (the command-line program) under Wine against modemsim on COM2.
ctyset2_wine_script_test(cli_wine_test SCRIPT ${CMAKE_CURRENT_LIST_DIR}/cli/run.sh
                         TARGET ctyset2_cli)
