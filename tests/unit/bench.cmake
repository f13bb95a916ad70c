# Speed targets: built with the tree, run only by `make bench` (bench/*.sh).
add_executable(transcript_bench ${CMAKE_CURRENT_LIST_DIR}/TranscriptBench.cpp)
target_link_libraries(transcript_bench PRIVATE wfload_core)
add_executable(serialport_bench ${CMAKE_CURRENT_LIST_DIR}/SerialPortBench.cpp)
target_link_libraries(serialport_bench PRIVATE ctyset2_cli_core util)
