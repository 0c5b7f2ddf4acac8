// Capture files: the bytes of the pcap format, and a transport's capture bounded in size
// that tshark still reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "map/transport/pcap_writer.h"
#include "map/transport/segment_transport.h"
#include "support/temp_root.h"
#include "transport_test_util.h"

using ::testing::HasSubstr;

namespace {

using ozr_test::read_text;

// The frames stored in a pcap file, checked record by record.
std::vector<std::string> records(const std::string& file) {
    std::vector<std::string> out;
    EXPECT_TRUE(pcap_frames(file, out)) << "a record cut short or trailing bytes";
    return out;
}

class CaptureTest : public ::testing::Test {
  protected:
    ozr_test::TempRoot root_;
    const std::string dir_ = root_.dir();
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
    std::string file = read_text(path);
    ASSERT_GE(file.size(), kPcapFileHeaderLen);
    // Magic (little-endian), version 2.4, snap length, link type.
    EXPECT_EQ(
        std::make_tuple(file.substr(0, 4), file[4], file[6], le32(file, 16), le32(file, 20)),
        std::make_tuple(std::string("\xd4\xc3\xb2\xa1", 4), 2, 4, 65535u, kPcapLinkTypeEthernet));
    EXPECT_EQ(records(file), (std::vector<std::string>{std::string(f1.begin(), f1.end()),
                                                       std::string(f2.begin(), f2.end())}));
    EXPECT_EQ(file.size(), w.bytes());

    // Opening again starts a new file.
    ASSERT_TRUE(w.open(path, 1 << 20));
    w.close();
    EXPECT_EQ(read_text(path).size(), kPcapFileHeaderLen);

    std::string error;
    EXPECT_FALSE(w.open(dir_ + "/no/such/dir/x.pcap", 1 << 20, &error));
    EXPECT_THAT(error, HasSubstr("no/such/dir"));
    EXPECT_FALSE(w.open(path, 10, &error));
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
    // Room for the header and exactly four frames.
    options.pcap_max_bytes = kPcapFileHeaderLen + 4 * (kPcapRecordHeaderLen + f.size());
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
    const std::string file = read_text(path);
    EXPECT_EQ(file.size(), options.pcap_max_bytes);
    EXPECT_EQ(records(file).size(), 4u);

    if (!have_program("tshark"))
        GTEST_SKIP() << "tshark not installed: capture not read back";
    std::string out;
    ASSERT_EQ(run_command("tshark -r '" + path + "' -T fields -e frame.number 2>/dev/null", &out),
              0);
    EXPECT_EQ(out, "1\n2\n3\n4\n");
}

}  // namespace
