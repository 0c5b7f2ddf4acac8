ozr_fuzzer(fuzz_map_stack_config ${src} ozr_platform_map)
