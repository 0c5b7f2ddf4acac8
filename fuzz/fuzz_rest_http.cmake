ozr_fuzzer(fuzz_rest_http ${src} ozr_rest)
target_compile_options(fuzz_rest_http PRIVATE
  -fsanitize-ignorelist=${CMAKE_SOURCE_DIR}/cmake/ubsan_ignorelist.txt)
