# quorvex_fuzz_target(NAME SOURCE file LIBS libs... CORPUS dir)
# In the fuzz preset (clang, QUORVEX_FUZZ) this builds a libFuzzer binary. In every test build it
# builds the same entry point with a small driver that replays the seed corpus, registered with
# CTest, so CI runs every seed through the code under the sanitizers.
function(quorvex_fuzz_target name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  if(QUORVEX_FUZZ)
    add_executable(${name} ${ARG_SOURCE})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  endif()
  if(QUORVEX_TESTS)
    add_executable(${name}_replay ${ARG_SOURCE} ${QUORVEX_ROOT}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS})
    add_test(NAME ${name}_corpus_replay COMMAND ${name}_replay ${ARG_CORPUS})
    set_tests_properties(${name}_corpus_replay PROPERTIES LABELS fuzz-replay TIMEOUT 300)
  endif()
endfunction()
