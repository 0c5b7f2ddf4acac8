# The controller's AL alone over an in-memory transport; sample messages from
# the codec test support sources.
target_sources(${n} PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform/map/codec/samples.cc)
target_include_directories(${n} PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform/map/codec)
set(bench_libs ozr_platform_map)
