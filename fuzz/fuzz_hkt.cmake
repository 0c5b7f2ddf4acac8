# The minder reaches the graph minder, which reaches the message decoders: name them after
# the core so the static libraries resolve in one pass.
ozr_fuzzer(fuzz_hkt ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_hkt.cc ozr_core ozr_hkt ozr_graph
           ozr_messages)
