ozr_fuzzer(fuzz_hkt ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_hkt.cc ozr_core)
