// Helpers of the decoder tests: CMDUs that went through the wire (records ->
// bytes -> records), and the lines the decoders log on both destinations.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/codec/tlvs.h"

// Encodes the builder's CMDU to bytes and decodes them back, as the stack
// hands a received CMDU over. Fails the test (and returns null) when the
// codec refuses either way.
CmduPtr wire(CmduBuilder& builder);

// Routes the root logger (level debug) to a file and clears the platform log
// ring for the duration of a test.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    // Lines of the root logger as "<level> <text>" (e.g. "warn parse_topology ...").
    std::vector<std::string> root_lines() const;
    // Lines of the platform log as "<level> <function> <text>" (line number dropped).
    std::vector<std::string> platform_lines() const;
    // Root lines at LEVEL, as text only.
    std::vector<std::string> at(const std::string& level) const;

  private:
    std::string path_;
};

// The root lines PARSE logs as it refuses the CMDU of BUILDER (through the wire); a CMDU it
// takes fails the test.
template <class Parse>
std::vector<std::string> refused(CmduBuilder& builder, Parse parse) {
    LogCapture log;
    EXPECT_FALSE(parse(wire(builder).get()));
    return log.root_lines();
}
template <class Parse>
std::vector<std::string> refused(CmduBuilder&& builder, Parse parse) {
    return refused(builder, parse);
}
