# Meshes built from meshsim scenarios (the large one read from the source tree).
set(bench_libs ozr_meshsim ozr_core)
target_compile_definitions(${n} PRIVATE OZR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
