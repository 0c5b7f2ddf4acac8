// Helpers of the AL tests: 1905 nodes on a private segment, each an AL of its
// own collecting what it delivers.
#pragma once

#include <gtest/gtest.h>
#include <uv.h>

#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/al/al.h"
#include "platform/map/transport/transport_test_util.h"

// A deep copy of CMDU (records included), with its source and interface.
CmduPtr copy_cmdu(const CMDU& cmdu);

// First record of type T in CMDU, or null.
template <class T>
const T* first_tlv(const CMDU* cmdu) {
    if (cmdu == nullptr || cmdu->list_of_TLVs == nullptr)
        return nullptr;
    for (size_t i = 0; cmdu->list_of_TLVs[i]; ++i) {
        if (const T* t = tlv_cast<T>(cmdu->list_of_TLVs[i]))
            return t;
    }
    return nullptr;
}

// One AL on segments; interfaces "NAMEi" with MACs 02:00:00:ID:i:01.
class Node {
  public:
    struct Itf {
        std::string name;
        MAC mac;
        std::string segment;
    };
    Node(uv_loop_t* loop, MAC al_mac, std::vector<Itf> itfs, bool controller,
         const std::string& pcap = "");
    ~Node();

    MapAl& al() { return *al_; }
    // CMDUs delivered, oldest first.
    std::vector<CmduPtr>& got() { return got_; }
    size_t count(uint16_t type) const;
    // Last CMDU of TYPE delivered, or null.
    const CMDU* last(uint16_t type) const;
    // Sends one raw frame out of interface I (bypassing the AL).
    int send_frame(size_t i, const std::vector<uint8_t>& frame);
    // From now on the frames FILTER names are lost on their way out (null: none).
    void lose(LossFilter filter) { *loss_ = std::move(filter); }

  private:
    std::shared_ptr<LossFilter> loss_ = std::make_shared<LossFilter>();
    std::unique_ptr<MapAl> al_;
    std::vector<CmduPtr> got_;
};

// "02:00:00:00:ID:SUB"
MAC test_mac(uint8_t id, uint8_t sub);
// Frame DST <- SRC carrying PAYLOAD (one CMDU payload).
std::vector<uint8_t> frame_of(const MAC& dst, const MAC& src, const std::vector<uint8_t>& payload);
// The payloads of CMDU, fragmented at MAX_PAYLOAD.
std::vector<std::vector<uint8_t>> payloads_of(const CMDU& cmdu, size_t max_payload = 1500);

// The process's stack started on a private segment (AL test_mac(1, 0) on interface
// test_mac(1, 1), its frames captured in pcap_) with one agent AL, test_mac(2, 0), that it
// has heard; the manual clock.
class StackAndAgent : public ::testing::Test {
  protected:
    explicit StackAndAgent(uint16_t port) : seg_(private_segment(port)) {}
    void SetUp() override;
    void TearDown() override;
    bool run(const std::function<bool()>& done) { return run_until(&loop_, done, 3000); }
    // Runs the loop until the agent got a CMDU of TYPE; returns the last one.
    const CMDU* receive(uint16_t type);

    uv_loop_t loop_;
    std::string seg_, pcap_;
    std::unique_ptr<Node> agent_;
};
