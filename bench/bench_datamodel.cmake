# The stack's data model alone: no daemon libraries.
set(bench_libs ozr_platform_map)
