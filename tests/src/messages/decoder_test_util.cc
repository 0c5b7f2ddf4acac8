#include "decoder_test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "log/logger.h"
#include "map/codec/codec.h"
#include "nal/nal.h"

CmduPtr wire(CmduBuilder& builder) {
    std::vector<std::vector<uint8_t>> fragments;
    // One payload, however many TLVs: the decoders see whole CMDUs.
    EXPECT_TRUE(encode_1905_CMDU(*builder.get(), fragments, 1u << 24));
    if (fragments.size() != 1) {
        ADD_FAILURE() << "expected one payload, got " << fragments.size();
        return nullptr;
    }
    CmduPtr out = decode_1905_CMDU(fragments[0].data(), fragments[0].size());
    EXPECT_NE(out, nullptr) << "the codec refused its own encoding";
    return out;
}

LogCapture::LogCapture() {
    static Config config;
    static int serial = 0;
    path_ = testing::TempDir() + "decoders_log_" + std::to_string(getpid()) + "_" +
            std::to_string(++serial) + ".txt";
    std::remove(path_.c_str());
    init_root_logger(7, "ozr", config);
    EXPECT_EQ(init_file_logger(path_), 0);
    nal_setLogLevel(7);
    nal_log_clear();
}

LogCapture::~LogCapture() {
    teardown_logging();
    nal_log_clear();
    std::remove(path_.c_str());
}

std::vector<std::string> LogCapture::root_lines() const {
    // "2026-12-05 19:00:50.123 warn root: text"
    std::vector<std::string> out;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        size_t p = 0;
        for (int field = 0; field < 2 && p != std::string::npos; ++field)
            p = line.find(' ', p + 1);
        if (p == std::string::npos) {
            ADD_FAILURE() << "unexpected line: " << line;
            continue;
        }
        const std::string rest = line.substr(p + 1);
        const size_t sp = rest.find(' ');
        const std::string level = rest.substr(0, sp);
        const std::string tail = rest.substr(sp + 1);
        EXPECT_EQ(tail.rfind("root: ", 0), 0u) << "not on the root logger: " << line;
        out.push_back(level + " " + tail.substr(6));
    }
    return out;
}

std::vector<std::string> LogCapture::platform_lines() const {
    // "<level> <func>:<line> <text>"
    std::vector<std::string> out;
    for (const std::string& l : nal_log_recent()) {
        const size_t colon = l.find(':');
        const size_t sp = l.find(' ', colon);
        if (colon == std::string::npos || sp == std::string::npos) {
            out.push_back(l);
            continue;
        }
        out.push_back(l.substr(0, colon) + l.substr(sp));
    }
    return out;
}

std::vector<std::string> LogCapture::at(const std::string& level) const {
    std::vector<std::string> out;
    for (const std::string& l : root_lines())
        if (l.rfind(level + " ", 0) == 0)
            out.push_back(l.substr(level.size() + 1));
    return out;
}
