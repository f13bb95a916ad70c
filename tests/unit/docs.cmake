# Every document is linked from the README and no relative link is broken.
add_test(NAME docs_links COMMAND bash ${PROJECT_SOURCE_DIR}/tools/check-docs.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(docs_links PROPERTIES LABELS unit)
