# Reads the applet list of Wine's Control Panel host; the package tree's tests
# (package/) run it in the prefixes they install into.
add_executable(control_panel_list ${CMAKE_CURRENT_LIST_DIR}/package/ControlPanelList.cpp)
target_link_libraries(control_panel_list PRIVATE ctyset2_wine_support)
