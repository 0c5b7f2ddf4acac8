// Capture files: the bytes of the pcap format, the size bound, and what tshark
// reads from a transport's capture.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "map/transport/pcap_writer.h"
#include "map/transport/segment_transport.h"
#include "transport_test_util.h"

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The capture is little-endian on every CPU.
uint32_t u32(const std::string& b, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.data() + at);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The frames stored in a pcap file, checked record by record.
std::vector<std::string> records(const std::string& file) {
    std::vector<std::string> out;
    size_t at = kPcapFileHeaderLen;
    while (at + kPcapRecordHeaderLen <= file.size()) {
        uint32_t caplen = u32(file, at + 8);
        EXPECT_EQ(caplen, u32(file, at + 12));
        at += kPcapRecordHeaderLen;
        if (at + caplen > file.size()) {
            ADD_FAILURE() << "record cut short";
            break;
        }
        out.push_back(file.substr(at, caplen));
        at += caplen;
    }
    EXPECT_EQ(at, file.size()) << "trailing bytes";
    return out;
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/ozr_capture_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { run_command("rm -rf '" + dir_ + "'"); }
    std::string dir_;
};

TEST_F(CaptureTest, WritesPcapHeaderOnceAndOneRecordPerFrame) {
    const std::string path = dir_ + "/w.pcap";
    PcapWriter w;
    ASSERT_TRUE(w.open(path, 1 << 20));
    auto f1 = make_frame(k1905MulticastMac, mac_of("02:00:00:00:00:01"), kEthertype1905, 46, 1);
    auto f2 = make_frame(mac_of("02:00:00:00:00:02"), mac_of("02:00:00:00:00:01"), kEthertype1905,
                         1500, 2);
    w.write(f1.data(), f1.size());
    w.write(f2.data(), f2.size());
    EXPECT_EQ(w.frames(), 2u);
    w.close();
    std::string file = read_all(path);
    ASSERT_GE(file.size(), kPcapFileHeaderLen);
    EXPECT_EQ(u32(file, 0), 0xA1B2C3D4u);
    EXPECT_EQ(file.substr(0, 4), std::string("\xd4\xc3\xb2\xa1", 4));
    EXPECT_EQ(file[4], 2);  // version 2.4
    EXPECT_EQ(file[6], 4);
    EXPECT_EQ(u32(file, 16), 65535u);  // snap length
    EXPECT_EQ(u32(file, 20), kPcapLinkTypeEthernet);
    auto recs = records(file);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0], std::string(f1.begin(), f1.end()));
    EXPECT_EQ(recs[1], std::string(f2.begin(), f2.end()));
    EXPECT_EQ(file.size(), w.bytes());

    // Opening again starts a new file.
    ASSERT_TRUE(w.open(path, 1 << 20));
    w.close();
    EXPECT_EQ(read_all(path).size(), kPcapFileHeaderLen);

    std::string error;
    EXPECT_FALSE(w.open(dir_ + "/no/such/dir/x.pcap", 1 << 20, &error));
    EXPECT_NE(error.find("no/such/dir"), std::string::npos) << error;
    EXPECT_FALSE(w.open(path, 10, &error));
}

TEST_F(CaptureTest, StopsAtTheMaximumSizeWithOneLogLine) {
    LogCapture log;
    const std::string path = dir_ + "/max.pcap";
    auto f = make_frame(k1905MulticastMac, mac_of("02:00:00:00:00:01"), kEthertype1905, 46);
    // Room for the header and exactly three 60-byte frames.
    const uint64_t max = kPcapFileHeaderLen + 3 * (kPcapRecordHeaderLen + f.size());
    PcapWriter w;
    ASSERT_TRUE(w.open(path, max));
    for (int i = 0; i < 10; ++i)
        w.write(f.data(), f.size());
    EXPECT_FALSE(w.active());
    EXPECT_EQ(w.frames(), 3u);
    EXPECT_EQ(LogCapture::count("stopped: maximum size reached"), 1u);
    std::string file = read_all(path);
    EXPECT_EQ(file.size(), max);
    EXPECT_EQ(records(file).size(), 3u);
}

// A segment transport with a capture file records what it sent and what it
// kept, once per frame, in a file tshark reads.
TEST_F(CaptureTest, TransportCaptureIsReadableByTshark) {
    const std::string segment = private_segment(21201);
    const std::string path = dir_ + "/seg.pcap";
    const MAC kA = mac_of("02:00:00:00:0a:01"), kB0 = mac_of("02:00:00:00:0b:01"),
              kB1 = mac_of("02:00:00:00:0b:02");
    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    TransportOptions with_pcap;
    with_pcap.pcap_path = path;
    SegmentTransport a({{"a0", kA, segment, 0}}, with_pcap);
    SegmentTransport b({{"b0", kB0, segment, 0}, {"b1", kB1, segment, 0}}, {});
    size_t a_got = 0, b_got = 0;
    ASSERT_EQ(a.open(&loop, [&](size_t, const uint8_t*, size_t) { ++a_got; }), 0);
    ASSERT_EQ(b.open(&loop, [&](size_t, const uint8_t*, size_t) { ++b_got; }), 0);
    ASSERT_NE(a.capture(), nullptr);

    // A sends three, one of them for a stranger; B answers twice with a multicast
    // (kept once though it reaches one A interface) and a unicast; a frame B sends
    // to someone else is not A's and is not captured.
    std::vector<std::vector<uint8_t>> sent = {
        make_frame(kB0, kA, kEthertype1905, 50, 1),
        make_frame(k1905MulticastMac, kA, kEthertype1905, 50, 2),
        make_frame(mac_of("02:00:00:00:0c:01"), kA, kEthertype1905, 50, 3)};
    for (auto& f : sent)
        ASSERT_EQ(a.send(0, f.data(), f.size()), 0);
    std::vector<std::vector<uint8_t>> answers = {
        make_frame(k1905MulticastMac, kB1, kEthertype1905, 50, 4),
        make_frame(mac_of("02:00:00:00:0c:01"), kB0, kEthertype1905, 50, 5),
        make_frame(kA, kB0, kEthertype1905, 50, 6)};
    for (auto& f : answers)
        ASSERT_EQ(b.send(1, f.data(), f.size()), 0);
    ASSERT_TRUE(run_until(&loop, [&] { return a_got == 2; }));
    EXPECT_EQ(a.capture()->frames(), 5u);
    a.close();
    b.close();
    EXPECT_TRUE(drain_and_close(&loop));

    std::string file = read_all(path);
    auto recs = records(file);
    ASSERT_EQ(recs.size(), 5u);
    std::vector<std::vector<uint8_t>> expected = {sent[0], sent[1], sent[2], answers[0],
                                                  answers[2]};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(recs[i], std::string(expected[i].begin(), expected[i].end())) << i;
    }

    if (!have_program("tshark"))
        GTEST_SKIP() << "tshark not installed: capture not read back";
    std::string out;
    ASSERT_EQ(run_command("tshark -r '" + path +
                              "' -T fields -e eth.dst -e eth.src -e eth.type 2>/dev/null",
                          &out),
              0);
    EXPECT_EQ(out,
              "02:00:00:00:0b:01\t02:00:00:00:0a:01\t0x893a\n"
              "01:80:c2:00:00:13\t02:00:00:00:0a:01\t0x893a\n"
              "02:00:00:00:0c:01\t02:00:00:00:0a:01\t0x893a\n"
              "01:80:c2:00:00:13\t02:00:00:00:0b:02\t0x893a\n"
              "02:00:00:00:0a:01\t02:00:00:00:0b:01\t0x893a\n");
}

TEST_F(CaptureTest, BoundedTransportCaptureStaysReadable) {
    LogCapture log;
    const std::string segment = private_segment(21202);
    const std::string path = dir_ + "/bounded.pcap";
    auto f = make_frame(k1905MulticastMac, mac_of("02:00:00:00:0a:01"), kEthertype1905, 100);
    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    TransportOptions options;
    options.pcap_path = path;
    options.pcap_max_bytes = kPcapFileHeaderLen + 4 * (kPcapRecordHeaderLen + f.size()) + 10;
    SegmentTransport a({{"a0", mac_of("02:00:00:00:0a:01"), segment, 0}}, options);
    ASSERT_EQ(a.open(&loop, nullptr), 0);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(a.send(0, f.data(), f.size()), 0);
    EXPECT_EQ(a.stats().tx_frames, 20u) << "sending goes on after capture stopped";
    ASSERT_NE(a.capture(), nullptr);
    EXPECT_FALSE(a.capture()->active());
    EXPECT_EQ(LogCapture::count("stopped: maximum size reached"), 1u);
    a.close();
    EXPECT_TRUE(drain_and_close(&loop));
    EXPECT_EQ(records(read_all(path)).size(), 4u);

    if (!have_program("tshark"))
        GTEST_SKIP() << "tshark not installed: capture not read back";
    std::string out;
    ASSERT_EQ(run_command("tshark -r '" + path + "' -T fields -e frame.number 2>/dev/null", &out),
              0);
    EXPECT_EQ(out, "1\n2\n3\n4\n");
}

}  // namespace
