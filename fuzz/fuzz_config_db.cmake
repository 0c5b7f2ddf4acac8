ozr_fuzzer(fuzz_config_db ${src} ozr_data ozr_core)
target_compile_options(fuzz_config_db PRIVATE
  -fsanitize-ignorelist=${CMAKE_SOURCE_DIR}/cmake/ubsan_ignorelist.txt)
