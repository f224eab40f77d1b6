# GoogleTest for the tests: the installed package on the host, built from
# Debian's sources when cross-compiling, since no Windows build is packaged.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Windows programs that need no display share a Wine prefix of their own: a
# Wine server started without a display cannot show windows later on.
set(NOTICE_HEADLESS_PREFIX ${CMAKE_BINARY_DIR}/wine/headless)

# scripts/wine ends with this status where no 32-bit program can run at all.
set(NOTICE_NO_WINE_STATUS 77)

# Runs a program's tests in a headless Wine prefix when cross-compiling.
function(notice_add_headless_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES
    SKIP_RETURN_CODE ${NOTICE_NO_WINE_STATUS}
    ENVIRONMENT "NOTICE_WINE_PREFIX=${NOTICE_HEADLESS_PREFIX}"
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:;NOTICE_DESKTOP=unset:")
endfunction()

function(notice_add_unit_tests target)
  if(CMAKE_CROSSCOMPILING)
    # One test a program: listing its cases would need Wine at configure time.
    notice_add_headless_test(${target} ${target})
    set_tests_properties(${target} PROPERTIES LABELS unit)
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
  endif()
endfunction()
