ozr_fuzzer(fuzz_map_al ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_map_al.cc ozr_platform_map)
