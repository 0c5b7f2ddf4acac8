ozr_fuzzer(fuzz_datamodel ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_datamodel.cc ozr_platform_map)
