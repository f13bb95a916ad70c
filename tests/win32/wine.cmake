# Wine environment of this tree: set up before the first Wine test, torn down
# after the last one (also when tests fail). See cmake/wine-harness.sh.
set(_harness ${PROJECT_SOURCE_DIR}/cmake/wine-harness.sh)
add_test(NAME wine_setup
         COMMAND bash ${_harness} setup ${CTYSET2_WINE_ARCH} ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 LABELS wine
                     SKIP_RETURN_CODE 77)
add_test(NAME wine_cleanup COMMAND bash ${_harness} cleanup ${CTYSET2_WINE_ARCH} ${CMAKE_BINARY_DIR})
set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine LABELS wine)

# The harness itself: ports stay inside the build tree, the simulator helper works.
ctyset2_wine_test(wine_harness_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/harness/HarnessTest.cpp
                  LIBS wfload_win COMPORTS)
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/modemsim/main.cpp OR EXISTS ${CTYSET2_MODEMSIM})
  target_compile_definitions(wine_harness_test PRIVATE CTYSET2_HAVE_MODEMSIM)
endif()
