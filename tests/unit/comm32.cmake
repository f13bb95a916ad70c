# Serial port component: portable pieces.
ctyset2_unit_test(comm32_logic_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm32/CommLogicTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/comm32/CommsLogTest.cpp
  LIBS comm32_core)
