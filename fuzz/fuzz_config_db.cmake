ozr_fuzzer(fuzz_config_db ${src} ozr_data ozr_core)
