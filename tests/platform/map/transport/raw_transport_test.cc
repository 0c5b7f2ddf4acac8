// The raw transport on a real link: two network namespaces joined by a veth pair, one raw
// transport in each, frames both ways. Needs root and permission to create namespaces.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <tuple>

#include "map/transport/raw_transport.h"
#include "support/netns.h"
#include "transport_test_util.h"

using ozr_test::InNetns;
using ozr_test::VethPair;
using ::testing::HasSubstr;

namespace {

struct Side {
    std::unique_ptr<RawTransport> transport;
    std::vector<std::vector<uint8_t>> got;
    size_t count(const std::vector<uint8_t>& f) const {
        size_t n = 0;
        for (const auto& g : got)
            n += g == f;
        return n;
    }
};

TEST(RawTransport, FramesCrossAVethPairBetweenNamespaces) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to create network namespaces and raw sockets";
    if (!have_program("ip"))
        GTEST_SKIP() << "iproute2 (ip) not installed";
    const MAC kA = mac_of("02:00:00:00:1a:01"), kAAl = mac_of("02:00:00:00:1a:ff");
    const MAC kB = mac_of("02:00:00:00:1b:01"), kStranger = mac_of("02:00:00:00:1c:01");
    VethPair net;
    std::string failed = net.create(kA.to_string(), kB.to_string());
    if (!net.created)
        GTEST_SKIP() << "network namespaces not permitted here (" << failed << ")";
    ASSERT_EQ(failed, "") << "setting up the veth pair failed at: " << failed;

    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    Side a, b;
    TransportOptions a_options;
    a_options.al_mac = kAAl;  // differs from the interface: joined as extra unicast address
    a.transport.reset(new RawTransport({{net.veth_a, MAC(), "", 0}}, a_options));
    b.transport.reset(new RawTransport({{net.veth_b, MAC(), "", 0}}, {}));
    std::string error;
    auto open = [&](Side& side, const std::string& ns) {
        InNetns in(ns);
        ASSERT_TRUE(in.ok());
        ASSERT_EQ(
            side.transport->open(
                &loop,
                [&side](size_t, const uint8_t* f, size_t n) { side.got.emplace_back(f, f + n); },
                &error),
            0)
            << error;
    };
    open(a, net.ns_a);
    open(b, net.ns_b);
    // The interface MACs came from the system.
    EXPECT_EQ(std::make_tuple(a.transport->interfaces()[0].mac, b.transport->interfaces()[0].mac,
                              b.transport->al_mac()),
              std::make_tuple(kA, kB, kB));
    EXPECT_GT(a.transport->interfaces()[0].ifindex, 0);

    std::vector<std::vector<uint8_t>> from_a = {
        make_frame(kB, kA, kEthertype1905, 46, 0x01),
        make_frame(k1905MulticastMac, kAAl, kEthertype1905, 46, 0x02),
        make_frame(kStranger, kA, kEthertype1905, 46, 0x03),
        make_frame(kB, kA, kEthertype1905, 1500, 0x04)};
    for (auto& f : from_a)
        ASSERT_EQ(a.transport->send(0, f.data(), f.size()), 0);
    ASSERT_TRUE(run_until(&loop, [&] { return b.got.size() >= 3; }));
    std::vector<std::vector<uint8_t>> from_b = {
        make_frame(kA, kB, kEthertype1905, 46, 0x05),
        make_frame(kBroadcastMac, kB, kEthertype1905, 46, 0x06),
        make_frame(kAAl, kB, kEthertype1905, 46, 0x07)};
    for (auto& f : from_b)
        ASSERT_EQ(b.transport->send(net.veth_b, f.data(), f.size()), 0);
    ASSERT_TRUE(run_until(&loop, [&] { return a.got.size() >= 3; }));

    EXPECT_EQ(
        std::make_tuple(b.count(from_a[0]), b.count(from_a[1]), b.count(from_a[3]), b.got.size()),
        std::make_tuple(1u, 1u, 1u, 3u))
        << "the stranger's frame was delivered";
    for (auto& f : from_b)
        EXPECT_EQ(a.count(f), 1u);
    EXPECT_EQ(a.got.size(), 3u);
    EXPECT_EQ(a.transport->stats().tx_frames, 4u);

    // Sizes are checked on the raw transport too.
    std::vector<uint8_t> too_long = make_frame(kB, kA, kEthertype1905, 1501);
    EXPECT_EQ(a.transport->send(0, too_long.data(), too_long.size()), kTransportErrFrameSize);

    a.transport.reset();
    b.transport.reset();
    EXPECT_TRUE(drain_and_close(&loop));
}

TEST(RawTransport, OpenFailsClearlyWithoutTheInterface) {
    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    RawTransport t({{"ozrnosuch1", MAC(), "", 0}}, {});
    std::string error;
    EXPECT_EQ(t.open(&loop, nullptr, &error), kTransportErrConfig);
    EXPECT_THAT(error, HasSubstr("ozrnosuch1"));
    EXPECT_FALSE(t.is_open());
    EXPECT_TRUE(drain_and_close(&loop));
}

}  // namespace
