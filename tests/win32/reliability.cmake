# Hostile modems and vanishing ports against the real window and TComm32, and
# a soak of many openings in one loading of the library. The fault scenarios
# share one process, each loading the library afresh (as a host that opens
# the applet again does); the soak runs in a second one. Each process must
# also exit cleanly.
ctyset2_wine_test(reliability_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reliability/ReliabilityTest.cpp
  LIBS dialog_driver wfload_win psapi COMPORTS
  PROCESS_PER_TEST FaultTest.* SoakTest.*)
add_dependencies(reliability_test ctyset2)
