# The settings window through CPlApplet, and the platform services it uses.
# COMPORTS: the dialog scans the COM ports as soon as it shows.
ctyset2_wine_test(window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window/WindowTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/window/DialogDriver.cpp
  LIBS wfload_win COMPORTS)
target_include_directories(window_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/window)
add_dependencies(window_test ctyset2)
