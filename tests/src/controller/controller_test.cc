// The controller minder against the started stack on a private segment: the searches it
// sends are read back as frames by a listener on the segment, and the answers another
// gateway would give are handed to the stack's table.
#include <gtest/gtest.h>
#include <uv.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "common/clock.h"
#include "controller/controller_minder.h"
#include "core/context.h"
#include "map/al/stack.h"
#include "map/callbacks.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/transport/segment_transport.h"
#include "platform/map/codec/hex.h"
#include "platform/map/transport/transport_test_util.h"
#include "supervise/supervise.h"
#include "support/temp_root.h"

using ozr_test::count_of;

namespace {

MAC test_mac(uint8_t id, uint8_t sub) {
    return MAC(0x02, 0, 0, 0, id, sub);
}

// Frames on the segment as a plain listener with its own MAC receives them: the 1905
// multicast ones, i.e. every search.
struct Listener {
    Listener(uv_loop_t* loop, const std::string& seg)
        : t({{"lis0", test_mac(9, 1), seg, 0}}, TransportOptions()) {
        ok = t.open(loop, [this](size_t, const uint8_t* f, size_t n) {
            frames.emplace_back(f, f + n);
        }) == 0;
    }
    ~Listener() { t.close(); }
    static bool is_search(const std::vector<uint8_t>& f) {
        return f.size() > 18 && f[16] == 0x00 && f[17] == 0x07;
    }
    size_t searches() const { return std::count_if(frames.begin(), frames.end(), is_search); }
    std::vector<uint8_t> last_search() const {
        for (auto it = frames.rbegin(); it != frames.rend(); ++it)
            if (is_search(*it))
                return *it;
        return {};
    }
    SegmentTransport t;
    bool ok = false;
    std::vector<std::vector<uint8_t>> frames;
};

// The exact frame of a search from AL MAC AL with interface MAC IFC, message id MID.
std::string expected_search(const MAC& al, const MAC& ifc, uint16_t mid, int profile) {
    char id[16], prof[24] = "";
    std::snprintf(id, sizeof id, "%04x", mid);
    if (profile != 1)
        std::snprintf(prof, sizeof prof, "b30001%02x", profile);  // Multi-AP Profile
    return "0180c2000013" + to_hex(al.data(), 6) +                // 1905 multicast, from the AL MAC
           "893a 00000007" + id +                                 // version 0, Search, message id
           "00c0 010006" + to_hex(ifc.data(), 6) +  // last fragment, relayed; AL MAC TLV
           "0d000100 0e000100" +                    // SearchedRole registrar, band 0x00
           "8000020101 8100020100" + prof +         // SupportedService agent, searched controller
           "000000";                                // End of message
}

uint16_t mid_of(const std::vector<uint8_t>& frame) {
    return static_cast<uint16_t>(frame[18] << 8 | frame[19]);
}

class ControllerPresence : public ::testing::Test {
  protected:
    // Starts the stack (AL MAC 02:..:01:00, interface 02:..:01:01, PROFILE) and a Context.
    bool start(uint16_t port, int profile) {
        ozr_clock::set_manual(9000000);
        if (uv_loop_init(&loop_) != 0)
            return false;
        seg_ = private_segment(port);
        MapStackConfig c;
        c.segment = seg_;
        c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
        c.al_mac = test_mac(1, 0);
        c.profile = profile;
        map_stack_set_config(c);
        std::string error;
        if (map_stack_start(&loop_, &error) != 0) {
            skip_ = "the segment transport cannot open here: " + error;
            return false;
        }
        ctx_ = new Context(&loop_);
        listener_ = std::make_unique<Listener>(&loop_, seg_);
        return listener_->ok;
    }
    void TearDown() override {
        listener_.reset();
        delete ctx_;
        ctx_ = nullptr;
        map_stack_stop();
        map_datamodel_reset();
        map_stack_set_config(map_stack_default_config());
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    ControllerMinder& cm() { return *ctx_->controller_minder; }
    // Hands an AP-Autoconfiguration Response with message id MID to the stack's table,
    // as the stack does with a received one.
    void response(uint16_t mid) {
        CmduPtr r = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, mid)
                        .source(test_mac(3, 0))
                        .add(supported_role_tlv{})
                        .add(supported_freq_band_tlv{})
                        .build();
        map_dispatch_cmdu(r.get());
    }

    ozr_test::TempRoot root_;
    ozr_test::LogCapture cap_{root_, 7};
    uv_loop_t loop_;
    std::string seg_, skip_;
    Context* ctx_ = nullptr;
    std::unique_ptr<Listener> listener_;
};

TEST_F(ControllerPresence, ElevenSearchesEveryFiveToSevenSecondsThenSilenceAndTheWatchdog) {
    if (!start(25101, 2))
        GTEST_SKIP() << skip_;
    ASSERT_TRUE(ctx_->init().ok());
    EXPECT_TRUE(cm().watchdog_timer().is_started());
    EXPECT_EQ(cm().watchdog_timer().last_timeout(), 10000u);

    // Each firing of the check: one search on the wire, the next check 5000-7000 ms on.
    for (int i = 1; i <= 11; ++i) {
        cm().on_controller_check();
        EXPECT_EQ(cm().checks_left(), 11 - i);
        EXPECT_TRUE(cm().check_timer().is_started());
        EXPECT_GE(cm().check_timer().last_timeout(), 5000u);
        EXPECT_LE(cm().check_timer().last_timeout(), 7000u);
        ASSERT_TRUE(run_until(&loop_, [&] { return listener_->searches() == size_t(i); }))
            << "search " << i;
        const auto f = listener_->last_search();
        EXPECT_EQ(mid_of(f), cm().mid());
        EXPECT_EQ(to_hex(f),
                  hex_digits(expected_search(test_mac(1, 0), test_mac(1, 1), cm().mid(), 2)));
    }

    // The twelfth firing says so once and re-arms nothing.
    cm().on_controller_check();
    EXPECT_FALSE(cm().check_timer().is_started());
    std::string log = cap_.text();
    EXPECT_EQ(count_of(log,
                       "void ControllerMinder::on_controller_check() - No duplicate "
                       "controllers found. Stopping checks."),
              1u);
    EXPECT_EQ(count_of(log, "- send succeed, interface_name is all."), 11u);
    uv_run(&loop_, UV_RUN_NOWAIT);
    EXPECT_EQ(listener_->searches(), 11u);

    // The watchdog goes on: every feed calls the platform's and logs its line.
    unsigned long feeds = supervise_watchdog_feeds();
    cm().on_watchdog_feed();
    EXPECT_EQ(supervise_watchdog_feeds(), feeds + 1);
    EXPECT_TRUE(cm().watchdog_timer().is_started());
    EXPECT_NE(cap_.text().find("controller_minder.cc:"), std::string::npos);

    // An answer to another message id changes nothing; one to the last search, even after
    // the checks ended, stops the daemon (no marker to remove is no fault). The withdrawal
    // itself is followed by OzrProcess.OfTwoControllersOnOneSegmentExactlyOneKeepsRunning.
    response(static_cast<uint16_t>(cm().mid() + 1));
    EXPECT_FALSE(cm().duplicate_found());
    response(cm().mid());
    EXPECT_TRUE(cm().duplicate_found());
    uv_run(&loop_, UV_RUN_DEFAULT);  // the stop is pending: returns at once
}

TEST_F(ControllerPresence, RunArmsTheFirstCheckWithinASecondAndProfileOneSendsFiveTlvs) {
    if (!start(25102, 1))
        GTEST_SKIP() << skip_;
    ASSERT_TRUE(ctx_->init().ok());
    cm().run();
    EXPECT_TRUE(cm().check_timer().is_started());
    EXPECT_GE(cm().check_timer().last_timeout(), 1u);
    EXPECT_LE(cm().check_timer().last_timeout(), 1000u);
    // The loop's own timer sends the first search.
    ASSERT_TRUE(run_until(
        &loop_, [&] { return listener_->searches() == 1; }, 3000));
    EXPECT_EQ(cm().checks_left(), 10);
    EXPECT_GE(cm().check_timer().last_timeout(), 5000u);
    EXPECT_EQ(to_hex(listener_->last_search()),
              hex_digits(expected_search(test_mac(1, 0), test_mac(1, 1), cm().mid(), 1)));
}

TEST_F(ControllerPresence, AFailedSendIsLoggedAndStillConsumesACheck) {
    if (!start(25105, 2))
        GTEST_SKIP() << skip_;
    ASSERT_TRUE(ctx_->init().ok());
    map_stack_stop();  // the stack refuses every send from now on
    cm().on_controller_check();
    EXPECT_EQ(cm().checks_left(), 10);
    EXPECT_TRUE(cm().check_timer().is_started());
    EXPECT_NE(cap_.text().find("- send failed, ret is -4."), std::string::npos);
    response(cm().mid());  // nothing went out, so nothing can answer it
    EXPECT_FALSE(cm().duplicate_found());
}

}  // namespace
