// The segment transport between endpoints of one process on one loop: addressing, own-frame
// suppression, size bounds, floods, and closing from inside the receive callback (between
// processes: OzrOnASegment and the end-to-end tests).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "common/clock.h"
#include "map/transport/segment_transport.h"
#include "transport_test_util.h"

using ::testing::HasSubstr;

namespace {

struct Received {
    size_t if_index;
    std::vector<uint8_t> frame;
};

// One transport with its own record of delivered frames.
struct Station {
    std::unique_ptr<SegmentTransport> transport;
    std::vector<Received> got;

    Station(std::vector<TransportInterface> itfs, const char* al_mac,
            unsigned max_fps = kDefaultRxMaxFramesPerSecond) {
        TransportOptions options;
        options.al_mac = mac_of(al_mac);
        options.rx_max_frames_per_s = max_fps;
        transport = std::make_unique<SegmentTransport>(std::move(itfs), options);
    }
    int open(uv_loop_t* loop) {
        return transport->open(loop, [this](size_t itf, const uint8_t* f, size_t len) {
            got.push_back({itf, std::vector<uint8_t>(f, f + len)});
        });
    }
    // Frames received whose payload starts with MARKER.
    size_t count(uint8_t marker) const {
        size_t n = 0;
        for (const Received& r : got)
            n += r.frame.size() > 14 && r.frame[14] == marker;
        return n;
    }
    // Frames received equal to FRAME.
    size_t count(const std::vector<uint8_t>& frame) const {
        size_t n = 0;
        for (const Received& r : got)
            n += r.frame == frame;
        return n;
    }
};

const MAC kA0 = mac_of("02:00:00:00:0a:01");
const MAC kB0 = mac_of("02:00:00:00:0b:01");
const MAC kB1 = mac_of("02:00:00:00:0b:02");
const MAC kBAl = mac_of("02:00:00:00:0b:ff");
const MAC kStranger = mac_of("02:00:00:00:0c:01");

class SegmentTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(uv_loop_init(&loop_), 0); }
    void TearDown() override {
        ozr_clock::use_real();
        a_.reset();
        b_.reset();
        EXPECT_TRUE(drain_and_close(&loop_)) << "a handle was left open";
    }
    // A with one interface, B with two, both on SEGMENT.
    void open_pair(const std::string& segment, unsigned b_max_fps = kDefaultRxMaxFramesPerSecond) {
        a_ = std::make_unique<Station>(std::vector<TransportInterface>{{"a0", kA0, segment, 0}},
                                       "02:00:00:00:0a:ff");
        b_ = std::make_unique<Station>(
            std::vector<TransportInterface>{{"b0", kB0, segment, 0}, {"b1", kB1, segment, 0}},
            "02:00:00:00:0b:ff", b_max_fps);
        ASSERT_EQ(a_->open(&loop_), 0);
        ASSERT_EQ(b_->open(&loop_), 0);
    }
    int send_a(const std::vector<uint8_t>& f) { return a_->transport->send(0, f.data(), f.size()); }
    // Sends a unicast sentinel A -> b0 and runs the loop until B has it; frames
    // sent before it have then been handled.
    void sync_b(uint8_t marker = 0xEE) {
        size_t before = b_->count(marker);
        ASSERT_EQ(send_a(make_frame(kB0, kA0, kEthertype1905, 20, marker)), 0);
        ASSERT_TRUE(run_until(&loop_, [&] { return b_->count(marker) > before; }));
    }

    uv_loop_t loop_;
    std::unique_ptr<Station> a_, b_;
};

TEST_F(SegmentTest, DeliversByDestinationAndDropsTheRest) {
    open_pair(private_segment(21001));

    auto unicast_b1 = make_frame(kB1, kA0, kEthertype1905, 30, 0x10);
    auto to_b_al = make_frame(kBAl, kA0, kEthertype1905, 30, 0x20);
    auto multicast = make_frame(k1905MulticastMac, kA0, kEthertype1905, 30, 0x30);
    auto broadcast = make_frame(kBroadcastMac, kA0, kEthertype1905, 30, 0x40);
    auto stranger = make_frame(kStranger, kA0, kEthertype1905, 30, 0x50);
    auto other_mcast = make_frame(mac_of("01:80:c2:00:00:0e"), kA0, kEthertype1905, 30, 0x55);
    auto ipv4 = make_frame(kB0, kA0, 0x0800, 30, 0x60);
    auto tagged = make_tagged_frame(kB0, kA0, kEthertype1905, 30, 0x70);
    for (auto* f :
         {&unicast_b1, &to_b_al, &multicast, &broadcast, &stranger, &other_mcast, &ipv4, &tagged}) {
        ASSERT_EQ(send_a(*f), 0);
    }
    sync_b();

    // Unicast reaches the interface with that MAC, the AL MAC the first interface,
    // multicast and broadcast every interface once; bytes arrive unchanged.
    std::vector<std::pair<size_t, std::vector<uint8_t>>> expected = {
        {1, unicast_b1}, {0, to_b_al},   {0, multicast}, {1, multicast},
        {0, broadcast},  {1, broadcast}, {0, tagged}};
    ASSERT_EQ(b_->got.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(b_->got[i].if_index, expected[i].first) << "frame " << i;
        EXPECT_EQ(b_->got[i].frame, expected[i].second) << "frame " << i;
    }
    // A multicast counts once.
    EXPECT_EQ(
        std::make_tuple(b_->transport->stats().rx_frames, b_->transport->stats().rx_not_for_us),
        std::make_tuple(6u, 3u));

    // A's own frames came back on the segment and none was delivered: the kernel's filter
    // dropped them, or (where the system has none) the reading side, counting them.
    EXPECT_TRUE(a_->got.empty());
    EXPECT_EQ(a_->transport->stats().rx_own, a_->transport->own_frames_filtered() ? 0u : 9u);
    EXPECT_EQ(a_->transport->stats().tx_frames, 9u);
}

TEST_F(SegmentTest, FramesFromAnyOwnAddressAreNotDeliveredBack) {
    open_pair(private_segment(21002));
    // b0's multicast must reach neither b0 nor b1, but reaches A; a frame
    // claiming B's AL MAC as source is B's own too.
    auto from_b0 = make_frame(k1905MulticastMac, kB0, kEthertype1905, 10, 0x11);
    auto from_b_al = make_frame(kB1, kBAl, kEthertype1905, 10, 0x12);
    ASSERT_EQ(b_->transport->send(0, from_b0.data(), from_b0.size()), 0);
    ASSERT_EQ(b_->transport->send("b1", from_b_al.data(), from_b_al.size()), 0);
    ASSERT_TRUE(run_until(&loop_, [&] { return a_->count(0x11) == 1; }));
    sync_b();
    EXPECT_EQ(std::make_tuple(b_->count(0x11), b_->count(0x12)), std::make_tuple(0u, 0u));
    EXPECT_EQ(b_->transport->stats().rx_own, b_->transport->own_frames_filtered() ? 0u : 2u);
    EXPECT_EQ(a_->got.size(), 1u);
}

TEST_F(SegmentTest, SizeBoundsOnSendAndReceive) {
    ozr_clock::set_manual(1000000);
    LogCapture log;
    std::string segment = private_segment(21005);
    open_pair(segment);

    // Sending: 14 to 1514 bytes, or 1518 with a VLAN tag.
    std::vector<uint8_t> header_only = make_frame(kB0, kA0, kEthertype1905, 0, 0x31);
    std::vector<uint8_t> too_short(header_only.begin(), header_only.end() - 1);
    std::vector<uint8_t> max_plain = make_frame(kB0, kA0, kEthertype1905, 1500, 0x32);
    std::vector<uint8_t> too_long = make_frame(kB0, kA0, kEthertype1905, 1501, 0x33);
    std::vector<uint8_t> max_tagged = make_tagged_frame(kB0, kA0, kEthertype1905, 1500, 0x34);
    std::vector<uint8_t> tagged_too_long = make_tagged_frame(kB0, kA0, kEthertype1905, 1501, 0x35);
    EXPECT_EQ(send_a(header_only), 0);
    EXPECT_EQ(send_a(too_short), kTransportErrFrameSize);
    EXPECT_EQ(send_a(max_plain), 0);
    EXPECT_EQ(send_a(too_long), kTransportErrFrameSize);
    EXPECT_EQ(send_a(max_tagged), 0);
    EXPECT_EQ(send_a(tagged_too_long), kTransportErrFrameSize);
    EXPECT_EQ(a_->transport->send(0, nullptr, 60), kTransportErrFrameSize);
    EXPECT_EQ(a_->transport->stats().tx_rejected, 4u);

    sync_b();

    // Receiving: what another program puts on the segment is checked the same
    // way. A leaves, so that the log lines are B's alone.
    a_->transport->close();
    auto sync_injected = [&](uint8_t marker) {
        auto sentinel = make_frame(kB0, kStranger, kEthertype1905, 10, marker);
        ASSERT_TRUE(inject_datagram(segment, sentinel));
        ASSERT_TRUE(run_until(&loop_, [&] { return b_->count(sentinel) == 1; }));
    };
    std::vector<uint8_t> short_tagged = make_tagged_frame(kB0, kStranger, kEthertype1905, 0);
    short_tagged.resize(16);  // the tag, but no ethertype after it
    ASSERT_TRUE(inject_datagram(segment, too_short));
    ASSERT_TRUE(inject_datagram(segment, {0x01}));
    ASSERT_TRUE(inject_datagram(segment, short_tagged));
    ASSERT_TRUE(inject_datagram(segment, make_frame(kB0, kStranger, kEthertype1905, 1501, 0x37)));
    ASSERT_TRUE(inject_datagram(segment, make_frame(kB0, kStranger, kEthertype1905, 4000, 0x36)));
    sync_injected(0xE1);

    // The three good ones once, and two sentinels.
    EXPECT_EQ(std::make_tuple(b_->count(header_only), b_->count(max_plain), b_->count(max_tagged),
                              b_->got.size()),
              std::make_tuple(1u, 1u, 1u, 5u));
    EXPECT_EQ(std::make_tuple(b_->transport->stats().rx_short, b_->transport->stats().rx_long),
              std::make_tuple(3u, 2u));
    // One line per kind of drop within the log interval, one for the refusals.
    EXPECT_EQ(LogCapture::count("dropped a"), 2u);
    EXPECT_EQ(LogCapture::count("shorter than the Ethernet bounds"), 1u);
    EXPECT_EQ(LogCapture::count("longer than the Ethernet bounds"), 1u);
    EXPECT_EQ(LogCapture::count("refused a"), 1u);

    // After the interval a new line tells how many were not logged.
    ozr_clock::advance(kDropLogIntervalMs);
    ASSERT_TRUE(inject_datagram(segment, {0x01, 0x02}));
    sync_injected(0xE2);
    EXPECT_EQ(LogCapture::count("shorter than the Ethernet bounds"), 2u);
    EXPECT_EQ(LogCapture::count("(2 more such drops"), 1u);
}

TEST_F(SegmentTest, FloodIsCutAtTheReceiveBudget) {
    ozr_clock::set_manual(5000000);
    LogCapture log;
    std::string segment = private_segment(21006);
    open_pair(segment, 5);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(inject_datagram(segment, make_frame(kB0, kStranger, kEthertype1905, 10, 0x41)));
    }
    const TransportStats& st = b_->transport->stats();
    ASSERT_TRUE(run_until(&loop_, [&] { return st.rx_frames + st.rx_flood == 20; }));
    EXPECT_EQ(std::make_tuple(b_->count(0x41), st.rx_flood), std::make_tuple(5u, 15u));
    EXPECT_EQ(LogCapture::count("over the receive rate limit"), 1u);

    // A new second brings a new budget.
    ozr_clock::advance(1000);
    sync_b();
    EXPECT_EQ(b_->count(0xEE), 1u);
}

TEST_F(SegmentTest, SendNeedsAnOpenTransportAndAKnownInterfaceAndOpenAUsableOne) {
    open_pair(private_segment(21007));
    auto f = make_frame(kB0, kA0, kEthertype1905, 10);
    EXPECT_EQ(a_->transport->send(1, f.data(), f.size()), kTransportErrNoInterface);
    EXPECT_EQ(a_->transport->send("b0", f.data(), f.size()), kTransportErrNoInterface);
    EXPECT_EQ(a_->transport->send("a0", f.data(), f.size()), 0);
    EXPECT_EQ(a_->transport->find_interface("a0"), 0);
    a_->transport->close();
    EXPECT_FALSE(a_->transport->is_open());
    EXPECT_EQ(a_->transport->send(0, f.data(), f.size()), kTransportErrClosed);

    uv_loop_t* loop = &loop_;
    TransportOptions options;
    std::string error;
    SegmentTransport no_mac({{"x0", MAC(), private_segment(21008), 0}}, options);
    EXPECT_EQ(no_mac.open(loop, nullptr, &error), kTransportErrConfig);
    EXPECT_THAT(error, HasSubstr("x0"));
    SegmentTransport bad_segment({{"x1", kA0, "10.0.0.1:5000", 0}}, options);
    EXPECT_EQ(bad_segment.open(loop, nullptr, &error), kTransportErrConfig);
    EXPECT_THAT(error, HasSubstr("10.0.0.1:5000"));
    SegmentTransport none({}, options);
    EXPECT_EQ(none.open(loop, nullptr, &error), kTransportErrConfig);
    // A later good interface does not leave the first one's socket behind.
    SegmentTransport half({{"y0", kA0, private_segment(21009), 0}, {"y1", kB0, "junk", 0}},
                          options);
    EXPECT_EQ(half.open(loop, nullptr, &error), kTransportErrConfig);
    EXPECT_FALSE(half.is_open());
}

TEST_F(SegmentTest, ClosingOrDestroyingInsideTheCallbackStopsDelivery) {
    const std::string segment = private_segment(21010);
    open_pair(segment);
    // C only tells when A's earlier frames have been through every socket.
    Station c({{"c0", mac_of("02:00:00:00:0c:09"), segment, 0}}, "02:00:00:00:0c:ff");
    ASSERT_EQ(c.open(&loop_), 0);
    auto sync_c = [&](uint8_t marker) {
        ASSERT_EQ(send_a(make_frame(k1905MulticastMac, kA0, kEthertype1905, 10, marker)), 0);
        ASSERT_TRUE(run_until(&loop_, [&] { return c.count(marker) == 1; }));
    };

    int calls = 0;
    b_->transport->close();
    ASSERT_EQ(b_->transport->open(&loop_,
                                  [&](size_t, const uint8_t*, size_t) {
                                      ++calls;
                                      b_->transport->close();
                                  }),
              0);
    ASSERT_EQ(send_a(make_frame(kBroadcastMac, kA0, kEthertype1905, 10)), 0);
    ASSERT_EQ(send_a(make_frame(kB0, kA0, kEthertype1905, 10)), 0);
    sync_c(0x51);
    EXPECT_EQ(calls, 1) << "delivery went on after close()";

    // The same when the callback destroys the transport outright.
    calls = 0;
    b_->transport.reset(
        new SegmentTransport({{"b0", kB0, segment, 0}, {"b1", kB1, segment, 0}}, {}));
    ASSERT_EQ(b_->transport->open(&loop_,
                                  [&](size_t, const uint8_t*, size_t) {
                                      ++calls;
                                      b_->transport.reset();
                                  }),
              0);
    ASSERT_EQ(send_a(make_frame(kBroadcastMac, kA0, kEthertype1905, 10)), 0);
    ASSERT_EQ(send_a(make_frame(kB1, kA0, kEthertype1905, 10)), 0);
    sync_c(0x52);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(b_->transport, nullptr);
    c.transport->close();
}

TEST(SegmentAddress, ParsesMulticastGroupAndPort) {
    uint32_t group = 0;
    uint16_t port = 0;
    ASSERT_TRUE(parse_segment_address("239.255.19.5:19050", &group, &port));
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&group);
    EXPECT_EQ(std::make_tuple(port, b[0], b[3]), std::make_tuple(19050, 239, 5));
    for (const char* bad : {"239.255.19.5", "239.255.19.5:", ":19050", "10.0.0.1:19050",
                            "239.255.19.5:0", "239.255.19.5:65536", "239.255.19.5:12a",
                            "239.255.19:19050", "239.255.19.5:190500", "host:1"}) {
        EXPECT_FALSE(parse_segment_address(bad, &group, &port)) << bad;
    }
}

}  // namespace
