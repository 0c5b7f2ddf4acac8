ozr_fuzzer(fuzz_wsc ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_wsc.cc ozr_platform_map)
