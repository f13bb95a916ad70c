# Serial port component: portable pieces.
ctyset2_unit_test(comm32_logic_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm32/CommLogicTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/comm32/CommsLogTest.cpp
  LIBS comm32_core)

# The port contract (tests/contract), run here against the fake port and in
# tests/win32 against TComm32.
ctyset2_unit_test(comm32_contract_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm32/PortContractTest.cpp
  LIBS comm32_core)
target_include_directories(comm32_contract_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}
                                                        ${PROJECT_SOURCE_DIR}/tests/contract)

# The POSIX port's UUCP lock files, on a pty.
ctyset2_unit_test(serial_port_lock_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm32/SerialPortLockTest.cpp
                  LIBS comm32_posix)
