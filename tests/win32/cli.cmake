# ctyset2.exe (the command-line program) under Wine against modemsim on COM2.
add_test(NAME cli_wine_test
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli/run.sh ${CTYSET2_WINE_ARCH}
                 $<TARGET_FILE:ctyset2_cli> ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
                 ${CTYSET2_MODEMSIM})
ctyset2_wine_properties(cli_wine_test TIMEOUT 300)
set_tests_properties(cli_wine_test PROPERTIES RESOURCE_LOCK comports)
