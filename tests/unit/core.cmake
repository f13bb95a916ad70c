# Dialog logic on a virtual clock with a scripted port.
ctyset2_unit_test(core_dialog_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/TranscriptTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DetectionTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ScriptTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HardeningTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VerdictTest.cpp
  LIBS wfload_core)
