# Serial port component against simulated modems on the COM ports.
ctyset2_wine_test(comm32_wine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm32/Comm32Test.cpp
  LIBS comm32_win
  COMPORTS)
