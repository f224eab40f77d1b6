# Test runs of Windows programs under Wine (wine/run), on a private display
# (wine/desktop) or on none.

# Windows test programs run through wine/run, in a private prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/wine/run)

# wine/run ends with this status where no 32-bit program can run at all.
set(NOTICE_NO_WINE_STATUS 77)

# Windows programs that need no display share a Wine prefix of their own: a
# Wine server started without a display cannot show windows later on.
set(NOTICE_HEADLESS_PREFIX ${CMAKE_BINARY_DIR}/wine/headless)

# Runs a program under Wine with no display at all.
#   notice_add_headless_test(NAME COMMAND...)
function(notice_add_headless_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES
    SKIP_RETURN_CODE ${NOTICE_NO_WINE_STATUS}
    ENVIRONMENT "NOTICE_WINE_PREFIX=${NOTICE_HEADLESS_PREFIX}"
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:;NOTICE_DESKTOP=unset:")
endfunction()

# The private display that every desktop test's windows appear on, started
# before the first of them and stopped, with the Wine servers of PREFIXES,
# after the last.
#   notice_add_desktop_fixture(PREFIX...)
set(NOTICE_DESKTOP_STATE ${CMAKE_BINARY_DIR}/wine/desktop)
function(notice_add_desktop_fixture)
  add_test(NAME desktop_start COMMAND ${PROJECT_SOURCE_DIR}/wine/desktop start ${NOTICE_DESKTOP_STATE})
  add_test(NAME desktop_stop COMMAND ${PROJECT_SOURCE_DIR}/wine/desktop stop ${NOTICE_DESKTOP_STATE} ${ARGN})
  set_tests_properties(desktop_start PROPERTIES FIXTURES_SETUP desktop)
  set_tests_properties(desktop_stop PROPERTIES FIXTURES_CLEANUP desktop)
endfunction()

# Runs a program under Wine whose windows appear on the private display:
#   notice_add_desktop_test(NAME LABEL [ENVIRONMENT NAME=VALUE...] COMMAND ...)
function(notice_add_desktop_test name label)
  cmake_parse_arguments(PARSE_ARGV 2 test "" "" "ENVIRONMENT;COMMAND")
  add_test(NAME ${name} COMMAND ${test_COMMAND})
  set(environment NOTICE_DESKTOP=${NOTICE_DESKTOP_STATE} ${test_ENVIRONMENT})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED desktop
    RESOURCE_LOCK desktop  # windows of two runs would cover each other
    ENVIRONMENT "${environment}"
    LABELS ${label}
    SKIP_RETURN_CODE ${NOTICE_NO_WINE_STATUS}
    TIMEOUT 180)
endfunction()
