# The test build runs every test under ASan and UBSan; any report aborts the test, so CI goes red.
if(SORVANE_SANITIZE)
  set(_sorvane_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_sorvane_san})
  add_link_options(${_sorvane_san})
endif()

# Environment for every test: sanitizers fail loudly; leaks inside system libraries are suppressed.
set(SORVANE_TEST_ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "QT_QPA_PLATFORM=offscreen")
