set(bench_libs ozr_graph ozr_core)
