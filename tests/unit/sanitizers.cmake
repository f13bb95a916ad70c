# The native tree runs under AddressSanitizer (with LeakSanitizer) and
# UndefinedBehaviorSanitizer: a probe provokes each and its report must come.
if(CTYSET2_SANITIZE)
  add_executable(sanitizer_probe ${CMAKE_CURRENT_LIST_DIR}/SanitizerProbe.cpp)
  foreach(mode_report leak:LeakSanitizer overflow:heap-buffer-overflow
                      undefined:runtime.error)
    string(REPLACE ":" ";" pair ${mode_report})
    list(GET pair 0 mode)
    list(GET pair 1 report)
    add_test(NAME sanitizer_reports_${mode} COMMAND sanitizer_probe ${mode})
    set_tests_properties(sanitizer_reports_${mode} PROPERTIES LABELS unit
                         PASS_REGULAR_EXPRESSION "${report}")
  endforeach()
endif()
