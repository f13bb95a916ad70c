# make run's walk-through (tools/walkthrough) in Wine's Control Panel host of
# this flavour, against modemsim on COM1.
ctyset2_wine_script_test(walkthrough_test SCRIPT ${CMAKE_CURRENT_LIST_DIR}/walkthrough/run.sh
                         TARGET walkthrough)
