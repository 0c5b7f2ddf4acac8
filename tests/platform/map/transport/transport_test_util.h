// Helpers of the transport tests: frames, loop driving, log capture, segments
// private to one test process.
#pragma once

#include <uv.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/transport/segment_transport.h"

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

// The little-endian 32-bit number at AT of BYTES.
uint32_t le32(const std::string& bytes, size_t at);
// The frames of the pcap capture FILE (its bytes; little-endian on every CPU) in OUT. False
// when a record is cut short, its lengths differ or bytes follow the last one.
bool pcap_frames(const std::string& file, std::vector<std::string>& out);

// Sends DATA as one datagram to SEGMENT from a plain UDP socket, as any other
// program on the segment would. True when the datagram left.
bool inject_datagram(const std::string& segment, const std::vector<uint8_t>& data);

// The CMDU a 1905 frame carries, as the loss filters see it.
struct FrameInfo {
    MAC dst, src;
    uint16_t type = 0;
    uint16_t mid = 0;
    uint8_t fragment = 0;
    bool last_fragment = false;
    const uint8_t* frame = nullptr;  // the whole frame, valid during the filter's call
    size_t len = 0;
};
// False when FRAME is no 1905 frame with a CMDU header.
bool frame_info(const uint8_t* frame, size_t len, FrameInfo& out);

// A segment transport that loses on the way out the frames its filter names (returns
// true for); the filter may be changed while the transport runs.
using LossFilter = std::function<bool(const FrameInfo& frame)>;
class LossySegmentTransport : public SegmentTransport {
  public:
    LossySegmentTransport(std::vector<TransportInterface> interfaces, TransportOptions options,
                          std::shared_ptr<LossFilter> filter)
        : SegmentTransport(std::move(interfaces), std::move(options)), filter_(std::move(filter)) {}

  protected:
    int send_frame(size_t if_index, const uint8_t* frame, size_t len) override;

  private:
    std::shared_ptr<LossFilter> filter_;
};

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
