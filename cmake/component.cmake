# A portable piece of the program: the library NAME.cpp, its unit tests
# NAME_test.cpp and, for a piece that reads untrusted bytes, its fuzz target
# NAME_fuzz.cpp, seeded from fuzz_corpus/.
function(notice_add_component name)
  add_library(${name} STATIC ${name}.cpp)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE notice_warnings)

  if(NOTICE_TESTS)
    add_executable(${name}_test ${name}_test.cpp)
    target_link_libraries(${name}_test PRIVATE ${name} notice_warnings GTest::gtest_main)
    notice_add_unit_tests(${name}_test)
  endif()

  if(NOTICE_FUZZ AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}_fuzz.cpp)
    notice_add_fuzz_target(${name}_fuzz ${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_corpus)
  endif()
endfunction()
