# Hostile modems and vanishing ports against the real window and TComm32, and
# a soak of many openings in one loading of the library. Each fault scenario
# runs in a process of its own, after one warm-up opening: under Wine 8 a
# scenario that follows another fault scenario in the same process sees some
# 950 handles appear in its opening (none when it runs after the warm-up
# alone, none over the soak's 20 openings); see docs/RELIABILITY.md. The soak
# runs in a process of its own too. Each process must also exit cleanly.
ctyset2_wine_test(reliability_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/reliability/ReliabilityTest.cpp
  LIBS dialog_driver wfload_win psapi COMPORTS
  PROCESS_PER_TEST
    FaultTest.ModemVanishesMidLadder
    FaultTest.ModemVanishesMidSwitch
    FaultTest.MegabyteFloodDuringDetection
    FaultTest.ZeroBytesAndUnterminatedLines
    FaultTest.EchoOffIsNotRecognised
    FaultTest.SlowModemAnsweringAfterNineSeconds
    FaultTest.DeviceAnsweringEverythingWithError
    FaultTest.TwoDevicesTheKnownOneOnCom3IsFound
    SoakTest.*)
add_dependencies(reliability_test ctyset2)
