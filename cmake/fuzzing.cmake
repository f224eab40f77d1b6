# libFuzzer targets, each run by CTest for a bounded time from its seed corpus.
set(NOTICE_FUZZ_SECONDS 30 CACHE STRING "How long each fuzz target runs under CTest")

function(notice_add_fuzz_target target library seeds)
  add_executable(${target} ${target}.cpp)
  target_link_libraries(${target} PRIVATE ${library} notice_warnings)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  # New inputs go to a folder of the build; the seeds in the tree stay as they are.
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${target}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${target}
    COMMAND ${target} -max_total_time=${NOTICE_FUZZ_SECONDS} -print_final_stats=1 ${corpus} ${seeds})
  set_tests_properties(${target} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
