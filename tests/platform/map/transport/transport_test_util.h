// Helpers of the transport tests: frames, loop driving, log capture, segments
// private to one test process.
#pragma once

#include <uv.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/mac.h"

// A frame DST, SRC, ETHERTYPE followed by PAYLOAD_LEN bytes counting up from MARKER.
std::vector<uint8_t> make_frame(const MAC& dst, const MAC& src, uint16_t ethertype,
                                size_t payload_len, uint8_t marker = 0);
// The same with an 802.1Q tag (VID 5) before the ethertype.
std::vector<uint8_t> make_tagged_frame(const MAC& dst, const MAC& src, uint16_t ethertype,
                                       size_t payload_len, uint8_t marker = 0);
MAC mac_of(const char* text);

// Runs LOOP until DONE() holds or TIMEOUT_MS pass; true when DONE() held.
bool run_until(uv_loop_t* loop, const std::function<bool()>& done, int timeout_ms = 3000);
// Runs LOOP until no handle is left, then closes it; true when it closed cleanly.
bool drain_and_close(uv_loop_t* loop);

// "239.A.B.C:PORT" with A.B.C from the process id, so that concurrent test
// processes never share a segment; PORT tells the tests of one process apart.
std::string private_segment(uint16_t port);

// Sends DATA as one datagram to SEGMENT from a plain UDP socket, as any other
// program on the segment would. True when the datagram left.
bool inject_datagram(const std::string& segment, const std::vector<uint8_t>& data);

// Collects the stack's log lines while alive.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    static std::vector<std::string>& lines();
    // Lines containing TEXT.
    static size_t count(const std::string& text);
};

// True when PROGRAM is found on PATH.
bool have_program(const char* program);
// Runs COMMAND through /bin/sh; its standard output in OUT; the exit status.
int run_command(const std::string& command, std::string* out = nullptr);
