# Control Panel entry: the exported function, resources, and Wine's host.
ctyset2_wine_test(cpl_applet_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpl/CplAppletTest.cpp)
ctyset2_wine_test(cpl_host_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpl/ControlPanelHostTest.cpp)
add_dependencies(cpl_applet_test ctyset2)
add_dependencies(cpl_host_test ctyset2)
target_include_directories(cpl_host_test PRIVATE ${PROJECT_SOURCE_DIR})

# Read from the file, no Wine needed (runs for both flavours on any machine):
# imports, the one export, resources, CPlApplet's calling convention.
add_test(NAME cpl_pe_check
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cpl/check-pe.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:ctyset2>)
set_tests_properties(cpl_pe_check PROPERTIES LABELS static)
