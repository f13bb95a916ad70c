# The modem simulator, driven over its pty as a client would.
ctyset2_unit_test(modemsim_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModemSimTest.cpp
  LIBS modemsim_core)
target_compile_definitions(modemsim_test PRIVATE MODEMSIM_PATH="$<TARGET_FILE:modemsim>")
add_dependencies(modemsim_test modemsim)
