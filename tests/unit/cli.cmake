# The ctyset2 program against modemsim in real time. The modem cases run side
# by side inside one test program (they wait, they do not compute), so a run
# costs about as long as the longest case.
add_executable(cli_test ${CMAKE_CURRENT_LIST_DIR}/CliTest.cpp)
find_package(nlohmann_json 3 REQUIRED CONFIG)
target_link_libraries(cli_test PRIVATE GTest::gtest GTest::gtest_main nlohmann_json::nlohmann_json)
target_compile_definitions(cli_test PRIVATE MODEMSIM_PATH="$<TARGET_FILE:modemsim>"
  CTYSET2_PATH="$<TARGET_FILE:ctyset2_cli>" CTYSET2_INI="${PROJECT_SOURCE_DIR}/data/Ctyset2.ini")
add_dependencies(cli_test modemsim ctyset2_cli)
add_test(NAME cli_test.Modem COMMAND cli_test --gtest_filter=Modem/CliTest.*)
set_tests_properties(cli_test.Modem PROPERTIES LABELS unit TIMEOUT 300)
add_test(NAME cli_test.Input COMMAND cli_test --gtest_filter=CliInput.*)
set_tests_properties(cli_test.Input PROPERTIES LABELS unit TIMEOUT 120)
