# Country tables: the INI reader, the built-in lists and the country command.
ctyset2_unit_test(tables_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CountryTablesTest.cpp
                  LIBS wfload_core)
target_compile_definitions(tables_test PRIVATE CTYSET2_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
