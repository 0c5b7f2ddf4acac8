set(bench_libs ozr_platform_map)
