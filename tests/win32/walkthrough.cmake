# make run's walk-through (tools/walkthrough) in Wine's Control Panel host of
# this flavour, against modemsim on COM1.
add_test(NAME walkthrough_test
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/walkthrough/run.sh ${CTYSET2_WINE_ARCH}
                 $<TARGET_FILE:walkthrough> ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
                 ${CTYSET2_MODEMSIM})
ctyset2_wine_properties(walkthrough_test TIMEOUT 300)
set_tests_properties(walkthrough_test PROPERTIES RESOURCE_LOCK comports)
