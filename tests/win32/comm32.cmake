# Serial port component against simulated modems on the COM ports, and the
# port contract (tests/contract) that the unit tests' fake port also runs.
ctyset2_wine_test(comm32_wine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm32/Comm32Test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/comm32/PortContractTest.cpp
  LIBS comm32_win
  COMPORTS)
target_include_directories(comm32_wine_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/contract)
