# The settings window and the whole applet, loaded into the test program and
# driven through its real controls (support/DialogDriver.h). COMPORTS: the
# dialog scans the COM ports as soon as it shows.

# The window: controls, texts, sizes, closing; the platform services it uses.
ctyset2_wine_test(window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/window/WindowTest.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/window/OrbitSceneTest.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/window/WindowModesTest.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/window/StormTest.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/window/PortSeamsTest.cpp
                  LIBS dialog_driver wfload_win COMPORTS)
add_dependencies(window_test ctyset2)

# The whole applet against the modem simulator, each case in a process of its
# own: every case starts from a fresh dialog state, as after a host's first
# loading. (Under Wine a library whose serial component has run stays loaded
# until its process ends, so the state would carry over; see reload_test.)
ctyset2_wine_test(applet_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/window/EndToEndTest.cpp
                  LIBS dialog_driver COMPORTS
                  PROCESS_PER_TEST
                    EndToEndTest.NoPortShowsNoModemAndCloses
                    EndToEndTest.ModemOnCom2BehindAnotherDeviceIsSwitchedToTheChosenCountry
                    EndToEndTest.UnknownFamilyShowsModemTypeNotDetected
                    EndToEndTest.RefusedCountryCommandFailsAfterTenSeconds
                    EndToEndTest.CancelDuringDetectionClosesThePort
                    EndToEndTest.CancelDuringTheSwitchClosesThePort
                    EndToEndTest.ModemOnCom12IsFoundAfterCom1ToCom8AndSwitched
                    EndToEndTest.ModemOnCom15BehindAnUnknownDeviceOnCom10IsSwitched
                    EndToEndTest.OnlyListedPortsAboveCom8AreProbed
                    EndToEndTest.ComWordStartsTheScanAtCom12
                    Profiles/ModemProfileTest.VerdictIsWhatTheModemHolds/KeepsItsCountry
                    Profiles/ModemProfileTest.VerdictIsWhatTheModemHolds/EchoOff
                    Profiles/ModemProfileTest.VerdictIsWhatTheModemHolds/NumericCodes)
add_dependencies(applet_e2e_test ctyset2)

# The library loaded, used and unloaded several times in one process.
ctyset2_wine_test(reload_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/window/ReloadTest.cpp
                  LIBS dialog_driver COMPORTS)
add_dependencies(reload_test ctyset2)
