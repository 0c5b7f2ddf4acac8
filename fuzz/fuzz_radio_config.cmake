# The configuration minder reaches the steering, data, bus and graph code, which come
# before it in the core's list: name them after it so the static libraries resolve in one
# pass.
ozr_fuzzer(fuzz_radio_config ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_radio_config.cc ozr_core
           ozr_configuration ozr_steering ozr_data ozr_dbus ozr_rest ozr_hkt ozr_graph
           ozr_messages ozr_core)
