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

# Registers a unit test program's tests: each case on the host, the whole
# program as one test under Wine, since listing its cases would need Wine at
# configure time.
function(notice_add_unit_tests target)
  if(CMAKE_CROSSCOMPILING)
    notice_add_headless_test(${target} ${target})
    set_tests_properties(${target} PROPERTIES LABELS unit)
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
  endif()
endfunction()
