ozr_fuzzer(fuzz_cmdu ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_cmdu.cc ozr_platform_map)
