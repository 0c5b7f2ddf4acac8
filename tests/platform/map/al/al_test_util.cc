#include "al_test_util.h"

#include <unistd.h>

#include <cstdio>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/codec/codec.h"
#include "map/datamodel/datamodel.h"
#include "map/transport/segment_transport.h"

CmduPtr copy_cmdu(const CMDU& cmdu) {
    std::vector<std::vector<uint8_t>> frags;
    if (!encode_1905_CMDU(cmdu, frags, 1u << 20) || frags.size() != 1)
        return nullptr;
    CmduPtr c = decode_1905_CMDU(frags[0].data(), frags[0].size(), &cmdu.src_al_mac);
    if (c)
        std::copy(std::begin(cmdu.interface_name), std::end(cmdu.interface_name),
                  c->interface_name);
    return c;
}

Node::Node(uv_loop_t* loop, MAC al_mac, std::vector<Itf> itfs, bool controller,
           const std::string& pcap) {
    std::vector<TransportInterface> tis;
    for (const auto& i : itfs)
        tis.push_back({i.name, i.mac, i.segment, 0});
    TransportOptions topt;
    topt.al_mac = al_mac;
    topt.pcap_path = pcap;
    MapAlOptions opt;
    opt.al_mac = al_mac;
    opt.controller = controller;
    al_ = std::make_unique<MapAl>(
        std::make_unique<LossySegmentTransport>(std::move(tis), topt, loss_), opt);
    std::string error;
    if (al_->start(
            loop, [this](CMDU* c) { got_.push_back(copy_cmdu(*c)); }, &error) != 0)
        ADD_FAILURE_AT(__FILE__, __LINE__);
}

Node::~Node() {
    al_->stop();
}

size_t Node::count(uint16_t type) const {
    size_t n = 0;
    for (const auto& c : got_)
        n += c && c->message_type == type;
    return n;
}

const CMDU* Node::last(uint16_t type) const {
    for (auto it = got_.rbegin(); it != got_.rend(); ++it) {
        if (*it && (*it)->message_type == type)
            return it->get();
    }
    return nullptr;
}

int Node::send_frame(size_t i, const std::vector<uint8_t>& frame) {
    return al_->transport().send(i, frame.data(), frame.size());
}

MAC test_mac(uint8_t id, uint8_t sub) {
    const uint8_t b[6] = {0x02, 0, 0, 0, id, sub};
    return MAC(b);
}

std::vector<uint8_t> frame_of(const MAC& dst, const MAC& src, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f;
    build_1905_ethernet_frame(dst, src, payload, f);
    return f;
}

std::vector<std::vector<uint8_t>> payloads_of(const CMDU& cmdu, size_t max_payload) {
    std::vector<std::vector<uint8_t>> frags;
    encode_1905_CMDU(cmdu, frags, max_payload);
    return frags;
}

void StackAndAgent::SetUp() {
    ozr_clock::set_manual(7000000);
    uv_loop_init(&loop_);
    pcap_ = "/tmp/ozr_stack_" + std::to_string(getpid()) + ".pcap";
    MapStackConfig c;
    c.segment = seg_;
    c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
    c.al_mac = test_mac(1, 0);
    c.pcap = pcap_;
    map_stack_set_config(c);
    ASSERT_EQ(map_stack_start(&loop_), 0);
    agent_ = std::make_unique<Node>(&loop_, test_mac(2, 0),
                                    std::vector<Node::Itf>{{"ag0", test_mac(2, 1), seg_}}, false);
    ASSERT_TRUE(run([] { return get_ale(test_mac(2, 0)) != nullptr; }));
}

void StackAndAgent::TearDown() {
    agent_.reset();
    map_stack_stop();
    map_datamodel_reset();
    EXPECT_TRUE(drain_and_close(&loop_));
    std::remove(pcap_.c_str());
    ozr_clock::use_real();
}

const CMDU* StackAndAgent::receive(uint16_t type) {
    size_t n = agent_->count(type);
    run([&] { return agent_->count(type) > n; });
    return agent_->count(type) > n ? agent_->last(type) : nullptr;
}
