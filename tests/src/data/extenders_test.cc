// The data minder's extenders over the daemon's own context: admission, the onboarding
// state machine by transition, the online wait driven by the stack's data model, the
// backhaul decision, and removal with its factory reset. Timers are fired by calling
// their work after checking that they run; the clock is the manual one.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <unistd.h>
#include <uv.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/paths.h"
#include "core/context.h"
#include "core/timer.h"
#include "data/data_minder.h"
#include "graph/backhaul_information.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/al/stack.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "messages/bus_records.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::LogCapture;
using ozr_test::read_text;
using ozr_test::TempRoot;

namespace {

// The NUL-terminated text at AT in a fixed-size record.
std::string text_at(const std::string& rec, size_t at) {
    return std::string(rec.c_str() + at);
}

const MAC kController(0x02, 0x6f, 0, 0, 0x00, 0x00);
const MAC kLocal(0x02, 0x6f, 0, 0, 0x01, 0x00);
const MAC kExt(0x02, 0x6f, 0, 0, 0x03, 0x00);
const MAC kExtRadio(0x02, 0x6f, 0, 0, 0x03, 0x10);
const MAC kExtHkt(0x02, 0x6f, 0, 0, 0x03, 0x99);
const char* kDb = "/configs/easymesh/ozr_config_db.json";

std::string segment() {
    unsigned pid = static_cast<unsigned>(getpid());
    return "239." + std::to_string((pid >> 16) & 0xff) + "." + std::to_string((pid >> 8) & 0xff) +
           "." + std::to_string(pid & 0xff) + ":23141";
}

class Extenders : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(5000000);
        MapStackConfig c;
        c.segment = segment();
        c.interfaces = {{"ozr0", MAC(0x02, 0x6f, 0, 0, 0x00, 0x01), ""}};
        c.al_mac = kController;
        c.agent_al_mac = kLocal;
        map_stack_set_config(c);
        // Signals raised are read back from the platform journal.
        ASSERT_TRUE(ozr_make_dirs(root_.path("/configs/easymesh")));
        ozr_test::write_text(root_.path("/configs/easymesh/platform.json"),
                             "{\"platform-journal-path\": \"" + journal() + "\"}");
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        ASSERT_EQ(map_stack_start(&loop_), 0);
        // The gateway's own agent tells its serial number in its M1.
        map_ale_info_t* local = map_update_ale(kLocal);
        ASSERT_NE(local, nullptr);
        map_update_ale_m1(local, "Maker", "Gateway", "GW-1", "GW0001", "gw", 3);
        start_context();
    }
    void TearDown() override {
        stop_context();
        map_stack_stop();
        map_datamodel_reset();
        uv_walk(
            &loop_,
            [](uv_handle_t* h, void*) {
                if (!uv_is_closing(h)) {
                    if (h->type == UV_TIMER)
                        BaseTimer::close_timer_handle(reinterpret_cast<uv_timer_t*>(h));
                    else
                        uv_close(h, nullptr);
                }
            },
            nullptr);
        uv_run(&loop_, UV_RUN_DEFAULT);
        uv_loop_close(&loop_);
        map_stack_set_config(map_stack_default_config());
        ozr_clock::use_real();
    }
    void start_context() {
        ctx_ = new Context(&loop_);
        dm_ = ctx_->data_minder;
        hkt_ = ctx_->hkt_mgmt_minder;
        ASSERT_TRUE(dm_->init(*ctx_).ok());
        hkt_->run();  // loads the admitted extenders
    }
    void stop_context() {
        delete ctx_;
        ctx_ = nullptr;
        uv_run(&loop_, UV_RUN_NOWAIT);
    }
    std::string journal() const { return root_.path("/journal.json"); }
    // The payloads of the signals MEMBER raised so far, as bytes.
    std::vector<std::string> signals(const std::string& member) const {
        std::vector<std::string> out;
        for (const std::string& line : ozr_test::lines_of(read_text(journal()))) {
            rapidjson::Document d;
            d.Parse(line.c_str());
            if (!d.IsObject() || !d.HasMember("member") ||
                std::string(d["call"].GetString()) != "qbusSendSignal" ||
                member != d["member"].GetString())
                continue;
            EXPECT_STREQ(d["interface"].GetString(), "vexal.ozrd");
            const std::string hex = d["hex"].GetString();
            std::string bytes;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
            out.push_back(bytes);
        }
        return out;
    }
    std::string log_since(size_t mark) const { return log_.text().substr(mark); }
    size_t mark() const { return log_.text().size(); }
    std::string status_of(const std::string& sn) const {
        auto q = dm_->cfg_db().db_query_record(sn);
        return q.second ? q.second->status : "(none)";
    }
    // The vendor agent of SN as its discovery would describe it.
    HktNode* discover(const std::string& sn, const MAC& agent) {
        HktNode* n = hkt_->add_known_hkt(sn);
        n->agent_mac = agent;
        n->hkt_mac = kExtHkt;
        n->system_mac = MAC(0x02, 0x6f, 0, 0, 0x03, 0x01);
        n->model_number = "EXT-9";
        n->hostname = "hall";
        n->ip_addr = "192.168.1.23";
        n->sw_version = "3.1.4";
        n->vendor = "Maker";
        n->product_class = "extender";
        n->oui[0] = 0x00;
        n->oui[1] = 0x11;
        n->oui[2] = 0x22;
        return n;
    }
    // An agent in the stack's data model with one radio holding NUM_BSS BSSs.
    void agent_in_stack(const MAC& al, int num_bss) {
        map_ale_info_t* a = map_update_ale(al);
        ASSERT_NE(a, nullptr);
        map_radio_info_t* r = map_update_radio(a, kExtRadio);
        ASSERT_NE(r, nullptr);
        map_update_radio_basic_caps(r, 4, nullptr, 0);
        const uint8_t ssid[] = {'H', 'o', 'm', 'e'};
        map_bss_param_t b;
        b.bssid = BSSID(MAC(0x02, 0x6f, 0, 0, 0x03, 0x11));
        b.ssid_len = sizeof ssid;
        b.ssid = ssid;
        ASSERT_EQ(map_update_radio_bss_list(r, &b, num_bss), 0);
    }
    // Fires SN's online wait timer (which must be running).
    void fire_online_wait(const std::string& sn) {
        const ApTimerInfo* t = dm_->timer_info(sn);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(t->online_wait_timer->is_started());
        ozr_clock::advance(DataMinder::kOnlineWaitMs);
        dm_->dm_online_wait_timer_cb(sn);
    }
    // Admitted, detected and configured, its vendor agent discovered.
    void configured(const std::string& sn, const MAC& agent) {
        ASSERT_TRUE(dm_->add_ap_white_list(sn));
        discover(sn, agent);
        ASSERT_EQ(dm_->update_ap_state(sn, ApStatus::DETECTED), 0);
        ASSERT_EQ(dm_->update_ap_state(sn, ApStatus::CONFIGURED), 0);
    }

    TempRoot root_;
    LogCapture log_{root_, 7};
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    DataMinder* dm_ = nullptr;
    HktMgmtMinder* hkt_ = nullptr;
};

}  // namespace

// ---- admission ------------------------------------------------------------------------------

TEST_F(Extenders, AdmissionStoresTheUpperCaseSerialAndRefusesItTwice) {
    ASSERT_TRUE(dm_->add_ap_white_list("ex2026a"));
    EXPECT_EQ(status_of("EX2026A"), "NotDetected");
    EXPECT_NE(log_.text().find("DataMinder::add_ap_white_list()- converted to Upper case, sn: "
                               "EX2026A"),
              std::string::npos);
    const ApInfo* e = dm_->ramdb_find("ex2026a");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->hostname, "host_EX2026A");
    EXPECT_EQ(e->ipv4, "192.168.1.1");
    EXPECT_FALSE(e->online);
    ASSERT_NE(dm_->timer_info("EX2026A"), nullptr);
    EXPECT_FALSE(dm_->timer_info("EX2026A")->online_wait_timer->is_started());
    ASSERT_NE(hkt_->find_hkt_from_serial("ex2026a"), nullptr);
    EXPECT_EQ(hkt_->find_hkt_from_serial("ex2026a")->serial_number, "EX2026A");
    EXPECT_EQ(dm_->get_ap_onboarding_status("Ex2026A"), ApStatus::NOT_DETECTED);

    EXPECT_FALSE(dm_->add_ap_white_list("EX2026A"));
    EXPECT_NE(log_.text().find("DataMinder::add_ap_white_list() - Add AP Already exist for sn: "
                               "EX2026A"),
              std::string::npos);
    EXPECT_EQ(dm_->get_white_list_aps(), std::vector<std::string>{"EX2026A"});
    EXPECT_EQ(hkt_->hkt_nodes().size(), 1u);
    EXPECT_NE(read_text(root_.path(kDb)).find("\"serial-number\": \"EX2026A\""), std::string::npos);
}

TEST_F(Extenders, AdmissionRefusesUnusableSerialsAndAFullWhiteList) {
    for (const std::string& bad :
         {std::string(), std::string(34, 'A'), std::string("A\nB"), std::string("A B")})
        EXPECT_FALSE(dm_->add_ap_white_list(bad)) << bad;
    EXPECT_TRUE(dm_->add_ap_white_list(std::string(33, 'b')));
    for (size_t i = 1; i < ApConfigDb::kMaxRecords; ++i)
        ASSERT_TRUE(dm_->add_ap_white_list("EX" + std::to_string(i)));
    EXPECT_FALSE(dm_->add_ap_white_list("ONE-TOO-MANY"));
    EXPECT_EQ(dm_->cfg_db().records().size(), ApConfigDb::kMaxRecords);
    EXPECT_EQ(dm_->ramdb().size(), ApConfigDb::kMaxRecords);
}

TEST_F(Extenders, ARestartReloadsTheRamDbTimersAndKnownVendorAgents) {
    configured("EX1", kExt);
    ASSERT_TRUE(dm_->add_ap_white_list("EX2"));
    stop_context();
    const size_t m = mark();
    start_context();
    EXPECT_NE(log_since(m).find("DataMinder::init_ramdb() - AP Config DB records read: 2"),
              std::string::npos);
    ASSERT_NE(dm_->ramdb_find("EX1"), nullptr);
    EXPECT_EQ(dm_->ramdb_find("EX1")->status, "Configured");
    EXPECT_EQ(dm_->ramdb_find("EX1")->hostname, "hall");  // stored from the vendor agent
    EXPECT_EQ(dm_->ramdb_find("EX1")->ale_mac, kExt);
    EXPECT_NE(dm_->timer_info("EX2"), nullptr);
    ASSERT_NE(hkt_->find_hkt_from_serial("EX1"), nullptr);
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX1")->ap_status, ApStatus::CONFIGURED);
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX2")->ap_status, ApStatus::NOT_DETECTED);
}

// ---- the onboarding state machine, by transition --------------------------------------------

TEST_F(Extenders, DetectedIsTakenFromNotDetectedOrWithoutARecordAndKeptOtherwise) {
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::DETECTED), 0);
    EXPECT_EQ(status_of("EX1"), "Detected");
    EXPECT_EQ(dm_->ramdb_find("EX1")->status, "Detected");
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::DETECTED), 0);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() - AP already in detected state, "
                               "returning sn: EX1"),
              std::string::npos);

    // A vendor agent detected without a record is added in the Detected state.
    EXPECT_EQ(dm_->update_ap_state("new9", ApStatus::DETECTED), 0);
    EXPECT_EQ(status_of("NEW9"), "Detected");
    EXPECT_NE(log_.text().find("update_ap_state sn: NEW9 Added AP into DB with detected state "),
              std::string::npos);
    EXPECT_NE(dm_->ramdb_find("NEW9"), nullptr);
    EXPECT_NE(dm_->timer_info("NEW9"), nullptr);

    for (ApStatus s : {ApStatus::CONFIGURED, ApStatus::CONFIGURATION_FAILED}) {
        ASSERT_TRUE(dm_->add_ap_white_list("K" + std::to_string(static_cast<int>(s))));
        const std::string sn = "K" + std::to_string(static_cast<int>(s));
        discover(sn, kExt);
        ASSERT_EQ(dm_->update_ap_state(sn, ApStatus::DETECTED), 0);
        ASSERT_EQ(dm_->update_ap_state(sn, s), 0);
        const size_t m = mark();
        EXPECT_EQ(dm_->update_ap_state(sn, ApStatus::DETECTED), 0);
        EXPECT_EQ(status_of(sn), ApConfigDb::status_to_string(s));
        EXPECT_NE(log_since(m).find("AP already in configured/ config failed state,returning "
                                    "Serial number: " +
                                    sn),
                  std::string::npos);
    }
}

TEST_F(Extenders, ConfiguredNeedsDetectionAndRaisesTheAuthorisationOnce) {
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURED), -1);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() - AP doesnt exist to set state "
                               "Configured, sn: EX1"),
              std::string::npos);
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    discover("EX1", kExt);
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURED), -1);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() - Cannot set to Configured, AP in "
                               "not detected state sn: EX1"),
              std::string::npos);
    EXPECT_EQ(status_of("EX1"), "NotDetected");

    ASSERT_EQ(dm_->update_ap_state("EX1", ApStatus::DETECTED), 0);
    const size_t m = mark();
    EXPECT_EQ(dm_->update_ap_state("ex1", ApStatus::CONFIGURED), 0);
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURED), 0);
    const std::string l = log_since(m);
    EXPECT_NE(l.find("DataMinder::update_ap_state() - AP current state Detected sn: EX1"),
              std::string::npos);
    EXPECT_NE(l.find("DataMinder::update_ap_state() - AP already in configured state, returning "
                     "sn: EX1"),
              std::string::npos);
    EXPECT_EQ(count_of(l, "Sending Extender Authorized Notification"), 1u);
    const std::vector<std::string> auth = signals("marlowAuthReqSignal");
    ASSERT_EQ(auth.size(), 1u);
    ASSERT_EQ(auth[0].size(), 234u);
    EXPECT_EQ(text_at(auth[0], 0), "02:6f:00:00:03:99");
    EXPECT_EQ(text_at(auth[0], 36), "EX1");
    EXPECT_EQ(text_at(auth[0], 69), "EXT-9");
    EXPECT_EQ(text_at(auth[0], 135), "Maker");
    EXPECT_EQ(text_at(auth[0], 200), "extender");
    EXPECT_EQ(text_at(auth[0], 225), "00:11:22");
    EXPECT_EQ(status_of("EX1"), "Configured");
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX1")->ap_status, ApStatus::CONFIGURED);

    // The record now carries the vendor agent's identity.
    const ApRecord* r = dm_->cfg_db().db_query_record("EX1").second;
    EXPECT_EQ(r->hw_model, "EXT-9");
    EXPECT_EQ(r->ale_id, "02:6f:00:00:03:00");
    EXPECT_EQ(r->system_mac, "02:6f:00:00:03:01");
    EXPECT_EQ(r->hostname, "hall");
    const ApInfo* e = dm_->ramdb_find("EX1");
    EXPECT_EQ(e->ipv4, "192.168.1.23");
    EXPECT_EQ(e->ap_mac, kExtHkt);
}

TEST_F(Extenders, ConfigurationFailedOnlyAfterDetectionAndConfiguredStillReachable) {
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURATION_FAILED), -1);
    EXPECT_NE(log_.text().find("AP doesnt exist to set state Configured failed, sn: EX1"),
              std::string::npos);
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    discover("EX1", kExt);
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURATION_FAILED), -1);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() -Cannot set to Configured failed, "
                               "AP in not detected state sn: EX1"),
              std::string::npos);
    ASSERT_EQ(dm_->update_ap_state("EX1", ApStatus::DETECTED), 0);
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURATION_FAILED), 0);
    EXPECT_EQ(status_of("EX1"), "ConfigurationFailed");
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURATION_FAILED), 0);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() -AP already in configured failed "
                               "state sn: EX1"),
              std::string::npos);

    const size_t m = mark();
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURED), 0);
    EXPECT_EQ(status_of("EX1"), "Configured");
    EXPECT_EQ(count_of(log_since(m), "Sending Extender Authorized Notification"), 1u);
    EXPECT_EQ(signals("marlowAuthReqSignal").size(), 1u);
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::CONFIGURATION_FAILED), 0);
    EXPECT_EQ(status_of("EX1"), "Configured");
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() -AP already in configured state, "
                               "cannot set to Failed sn: EX1"),
              std::string::npos);
}

TEST_F(Extenders, NotDetectedAndUnknownStatesAreRefusedWithoutChange) {
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    const unsigned long long writes = dm_->cfg_db().writes();
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::NOT_DETECTED), -1);
    EXPECT_EQ(dm_->update_ap_state("NOPE", ApStatus::NOT_DETECTED), -1);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() - Not expected to get NOT_DETECTED "
                               "state, sn: EX1"),
              std::string::npos);
    EXPECT_EQ(dm_->update_ap_state("EX1", ApStatus::INVALID_STATUS), -1);
    EXPECT_EQ(dm_->update_ap_state("EX1", static_cast<ApStatus>(42)), -1);
    EXPECT_NE(log_.text().find("DataMinder::update_ap_state() - AP status Invalid 42, sn: EX1"),
              std::string::npos);
    EXPECT_EQ(dm_->cfg_db().writes(), writes);
    EXPECT_EQ(status_of("EX1"), "NotDetected");
    EXPECT_EQ(dm_->get_ap_onboarding_status("NOPE"), ApStatus::INVALID_STATUS);
    EXPECT_NE(log_.text().find("DataMinder::get_ap_onboarding_status() sn: NOPE Not found"),
              std::string::npos);
}

// ---- online wait and status signals -------------------------------------------------------

TEST_F(Extenders, RadiosThatNeverReportBssesAreAnnouncedOnlineAtTheTenthFiring) {
    configured("EX1", kExt);
    agent_in_stack(kExt, 0);
    dm_->notify_ap_status_change("EX1", true);
    EXPECT_TRUE(dm_->timer_info("EX1")->online_wait_active);
    for (int i = 1; i < DataMinder::kOnlineWaitTries; ++i) {
        fire_online_wait("EX1");
        EXPECT_FALSE(dm_->ramdb_find("EX1")->online) << i;
    }
    const size_t m = mark();
    fire_online_wait("EX1");
    const std::string l = log_since(m);
    EXPECT_NE(l.find("DataMinder::dm_online_wait_timer_cb() MAX retry count 10 reached, "
                     "propagating online for AP sn: EX1"),
              std::string::npos);
    EXPECT_NE(l.find("DataMinder::send_ap_status_change_notification() - MAC: 02:6f:00:00:03:99 "
                     "Topo change status 2"),
              std::string::npos);
    EXPECT_TRUE(dm_->ramdb_find("EX1")->online);
    EXPECT_FALSE(dm_->timer_info("EX1")->online_wait_timer->is_started());
    const std::vector<std::string> topo = signals("notifyMeshTopologyChange");
    ASSERT_EQ(topo.size(), 1u);
    ASSERT_EQ(topo[0].size(), 204u);
    EXPECT_EQ(text_at(topo[0], 0), "02:6f:00:00:03:99");
    int32_t status = 0;
    std::memcpy(&status, topo[0].data() + 36, 4);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(text_at(topo[0], 40), "3.1.4");
    EXPECT_EQ(text_at(topo[0], 105), "EX1");
    EXPECT_EQ(text_at(topo[0], 138), "EXT-9");
    EXPECT_EQ(count_of(log_.text(),
                       "BSS details are not yet updated in K-way, num_radios 1  AP "
                       "sn: EX1"),
              10u);
}

TEST_F(Extenders, AnAgentNeverInTheStackIsMarkedOfflineAtTheTenthFiring) {
    configured("EX1", MAC(0x02, 0x6f, 0, 0, 0x0e, 0x00));
    dm_->notify_ap_status_change("EX1", true);
    for (int i = 1; i < DataMinder::kOnlineWaitTries; ++i)
        fire_online_wait("EX1");
    EXPECT_EQ(count_of(log_.text(), "Retrying for one more time"), 9u);
    fire_online_wait("EX1");
    EXPECT_NE(log_.text().find("DataMinder::dm_online_wait_timer_cb() MAX retry count 10 reached, "
                               "setting AP sn: EX1 offline"),
              std::string::npos);
    EXPECT_FALSE(dm_->ramdb_find("EX1")->online);
    EXPECT_FALSE(dm_->timer_info("EX1")->online_wait_timer->is_started());
    EXPECT_EQ(count_of(log_.text(), "Topo change status"), 0u);
}

TEST_F(Extenders, OnlineAtOnceWhenTheBssesAreThereAndOfflineAnnouncedAtOnce) {
    configured("EX1", kExt);
    agent_in_stack(kExt, 1);
    dm_->notify_ap_status_change("EX1", true);
    dm_->notify_ap_status_change("EX1", true);  // already waiting: no second start
    fire_online_wait("EX1");
    EXPECT_TRUE(dm_->ramdb_find("EX1")->online);
    EXPECT_NE(log_.text().find("BSS details are updated in K-way, propagating online for AP sn: "
                               "EX1"),
              std::string::npos);
    const size_t m = mark();
    dm_->notify_ap_status_change("EX1", false);
    dm_->notify_ap_status_change("EX1", false);  // no change: no second signal
    EXPECT_FALSE(dm_->ramdb_find("EX1")->online);
    EXPECT_EQ(count_of(log_since(m), "Topo change status 1"), 1u);
    std::vector<std::string> topo = signals("notifyMeshTopologyChange");
    ASSERT_EQ(topo.size(), 2u);
    int32_t status = 0;
    std::memcpy(&status, topo[1].data() + 36, 4);
    EXPECT_EQ(status, 1);

    // An agent with no radio has no BSS to wait for: online at the first firing.
    const MAC bare(0x02, 0x6f, 0, 0, 0x05, 0x00);
    configured("EX2", bare);
    ASSERT_NE(map_update_ale(bare), nullptr);
    dm_->notify_ap_status_change("EX2", true);
    fire_online_wait("EX2");
    EXPECT_TRUE(dm_->ramdb_find("EX2")->online);
    topo = signals("notifyMeshTopologyChange");
    ASSERT_EQ(topo.size(), 3u);
    EXPECT_EQ(text_at(topo[2], 105), "EX2");
    std::memcpy(&status, topo[2].data() + 36, 4);
    EXPECT_EQ(status, 2);
}

TEST_F(Extenders, AnExtenderThatIsOnlyDetectedSendsNoSignal) {
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    discover("EX1", kExt);
    ASSERT_EQ(dm_->update_ap_state("EX1", ApStatus::DETECTED), 0);
    agent_in_stack(kExt, 1);
    dm_->notify_ap_status_change("EX1", true);
    fire_online_wait("EX1");
    EXPECT_TRUE(dm_->ramdb_find("EX1")->online);
    EXPECT_NE(log_.text().find("DataMinder::send_ap_status_change_notification() - AP is not in "
                               "configured state sn: EX1 so not informing higher layer"),
              std::string::npos);
    EXPECT_EQ(count_of(log_.text(), "Topo change status"), 0u);
    EXPECT_TRUE(signals("notifyMeshTopologyChange").empty());
}

TEST_F(Extenders, ABackhaulChangeAloneNeverStartsTheOnlineWait) {
    configured("EX1", kExt);
    agent_in_stack(kExt, 1);
    backhaul_information bh;
    bh.local_ale = kExt;
    bh.remote_ale = kLocal;
    bh.remote_interface = MAC(0x02, 0x6f, 0, 0, 0x01, 0x22);
    bh.is_backhaul_connected = true;
    bh.quality = backhaul_quality::GOOD;
    bh.cost_to_root = 120;
    dm_->notify_ap_bh_change(bh);
    const ApInfo* e = dm_->ramdb_find("EX1");
    EXPECT_TRUE(e->is_backhaul_connected);
    EXPECT_EQ(e->backhaul_ale_mac, kLocal);
    EXPECT_EQ(e->backhaul_quality_string, "good");
    EXPECT_EQ(e->cost_to_gw, 120u);
    EXPECT_FALSE(e->online);
    EXPECT_FALSE(dm_->timer_info("EX1")->online_wait_timer->is_started());
    EXPECT_EQ(count_of(log_.text(), "Topo change status"), 0u);

    // Online through the vendor agent; a new parent is a topology change.
    dm_->notify_ap_status_change("EX1", true);
    fire_online_wait("EX1");
    ASSERT_TRUE(dm_->ramdb_find("EX1")->online);
    size_t m = mark();
    bh.cost_to_root = 140;  // same uplink, another cost: nothing to announce
    dm_->notify_ap_bh_change(bh);
    EXPECT_EQ(count_of(log_since(m), "Topo change status"), 0u);
    bh.remote_ale = kController;
    dm_->notify_ap_bh_change(bh);
    EXPECT_EQ(count_of(log_since(m), "Topo change status 2"), 1u);

    // A lost backhaul takes it offline at once.
    m = mark();
    bh.is_backhaul_connected = false;
    dm_->notify_ap_bh_change(bh);
    EXPECT_FALSE(dm_->ramdb_find("EX1")->online);
    EXPECT_EQ(count_of(log_since(m), "Topo change status 1"), 1u);
    // A backhaul coming back is not online yet either.
    bh.is_backhaul_connected = true;
    dm_->notify_ap_bh_change(bh);
    EXPECT_FALSE(dm_->ramdb_find("EX1")->online);
    EXPECT_FALSE(dm_->timer_info("EX1")->online_wait_timer->is_started());
}

TEST_F(Extenders, TheAgentAlMacIsLearntFromTheStacksM1SerialNumber) {
    ASSERT_TRUE(dm_->add_ap_white_list("ex7"));
    map_ale_info_t* a = map_update_ale(kExt);
    ASSERT_NE(a, nullptr);
    map_update_ale_m1(a, "Maker", "Ext", "EXT-9", "Ex7", "ext", 3);
    const ApInfo* e = dm_->ramdb_find_by_ale(kExt);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->sn, "EX7");
    EXPECT_EQ(dm_->ramdb_find("EX7")->ale_mac, kExt);
    EXPECT_EQ(dm_->ramdb_find_by_ale(MAC(0x02, 0, 0, 0, 0, 9)), nullptr);
}

// ---- removal ------------------------------------------------------------------------------

TEST_F(Extenders, TheGatewayItselfCannotBeRemoved) {
    ASSERT_TRUE(dm_->add_ap_white_list("gw0001"));
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    EXPECT_TRUE(dm_->ramdb_find("GW0001")->is_gateway);
    EXPECT_EQ(dm_->remove_extender("GW0001"), -1);
    EXPECT_EQ(dm_->cfg_db().records().size(), 2u);
    EXPECT_NE(dm_->ramdb_find("GW0001"), nullptr);
    EXPECT_NE(hkt_->find_hkt_from_serial("GW0001"), nullptr);
    EXPECT_EQ(dm_->remove_extender(""), -1);
    // A serial number not on the white list: nothing to remove, no failure.
    EXPECT_EQ(dm_->remove_extender("NEVER-ADMITTED"), 0);
    EXPECT_EQ(dm_->cfg_db().records().size(), 2u);
}

TEST_F(Extenders, RemovalWithoutAKnownAlMacForgetsEverythingAtOnce) {
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    dm_->notify_ap_status_change("EX1", true);  // its online wait runs
    ASSERT_TRUE(dm_->timer_info("EX1")->online_wait_timer->is_started());
    EXPECT_EQ(dm_->remove_extender("ex1"), 0);
    EXPECT_EQ(dm_->cfg_db().db_query_record("EX1").first, 2);
    EXPECT_EQ(dm_->ramdb_find("EX1"), nullptr);
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX1"), nullptr);
    EXPECT_EQ(dm_->timer_info("EX1"), nullptr);
    EXPECT_EQ(read_text(root_.path(kDb)).find("EX1"), std::string::npos);
    const std::string l = log_.text();
    EXPECT_NE(l.find("DataMinder::remove_extender_records()- sn: EX1 Removed successfully from DB"),
              std::string::npos);
    EXPECT_NE(l.find("DataMinder::remove_extender_records()- Removing sn: EX1 from mgmt minder "
                     "succeeded"),
              std::string::npos);
    uv_run(&loop_, UV_RUN_NOWAIT);  // the closed timers go
}

TEST_F(Extenders, RemovalRegistersTheFactoryResetAndRemovesAgainWhenItsTimerFires) {
    configured("EX1", kExt);
    agent_in_stack(kExt, 1);
    dm_->set_ap_remove_wait_time(30000);
    EXPECT_EQ(dm_->remove_extender("EX1"), 0);
    EXPECT_NE(log_.text().find("factory reset registered as 02:6f:00:00:03:00AP-FACTORY-RESET"),
              std::string::npos);
    EXPECT_EQ(dm_->ramdb_find("EX1"), nullptr);
    const ApTimerInfo* t = dm_->timer_info("EX1");
    ASSERT_NE(t, nullptr);  // kept for the factory reset wait
    EXPECT_TRUE(t->factory_reset_active);
    EXPECT_TRUE(t->factory_reset_timer->is_started());
    EXPECT_EQ(dm_->start_ap_factory_reset_timer(kExt), 0);  // running: unchanged
    EXPECT_NE(log_.text().find("already running."), std::string::npos);
    EXPECT_EQ(dm_->start_ap_factory_reset_timer(kController), -1);

    // While it resets, the vendor agent shows up again and is detected.
    discover("EX1", kExt);
    ASSERT_EQ(dm_->update_ap_state("EX1", ApStatus::DETECTED), 0);
    ASSERT_EQ(status_of("EX1"), "Detected");
    ozr_clock::advance(30000);
    dm_->ap_factory_reset_wait_timer("EX1");
    EXPECT_EQ(dm_->cfg_db().db_query_record("EX1").first, 2);
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX1"), nullptr);
    EXPECT_EQ(dm_->timer_info("EX1"), nullptr);
    uv_run(&loop_, UV_RUN_NOWAIT);
}

TEST_F(Extenders, AdmittingAgainDuringTheFactoryResetWaitKeepsTheNewAdmission) {
    configured("EX1", kExt);
    agent_in_stack(kExt, 1);
    ASSERT_EQ(dm_->remove_extender("EX1"), 0);
    ASSERT_TRUE(dm_->timer_info("EX1")->factory_reset_timer->is_started());
    ASSERT_TRUE(dm_->add_ap_white_list("EX1"));
    EXPECT_FALSE(dm_->timer_info("EX1")->factory_reset_timer->is_started());
    dm_->ap_factory_reset_wait_timer("EX1");  // a late firing changes nothing
    EXPECT_EQ(status_of("EX1"), "NotDetected");
    EXPECT_NE(dm_->ramdb_find("EX1"), nullptr);
}

// ---- what the control bus reads ------------------------------------------------------------

TEST_F(Extenders, ExtenderInfoFillsTheBusRecordForOneOrEveryExtender) {
    configured("EX1", kExt);
    agent_in_stack(kExt, 1);
    dm_->notify_ap_status_change("EX1", true);
    fire_online_wait("EX1");
    ASSERT_TRUE(dm_->add_ap_white_list("ex2"));
    ozr_clock::advance(7000);

    ZkaExtenderInfoList_T list;
    std::memset(&list, 0xee, sizeof list);  // every byte not filled must come back zero
    ASSERT_EQ(dm_->get_white_list_aps_info("ex1", &list), 0);
    ASSERT_EQ(list.count, 1u);
    const auto* raw = reinterpret_cast<const uint8_t*>(&list.entries[0]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw)), "EX1");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 33)), "hall");
    EXPECT_EQ(raw[66], 3);  // Configured
    EXPECT_EQ(raw[67], 1);  // online
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 68)), "192.168.1.23");
    EXPECT_EQ(MAC(raw + 84), MAC(0x02, 0x6f, 0, 0, 0x03, 0x01));
    EXPECT_EQ(MAC(raw + 90), kExt);
    EXPECT_EQ(MAC(raw + 96), kExtHkt);
    EXPECT_EQ(raw[102], 0);  // not the gateway
    uint32_t secs = 0;
    std::memcpy(&secs, raw + 148, 4);
    EXPECT_EQ(secs, 7u);
    for (size_t i = 152; i < sizeof(ZkaExtenderInfo_T); ++i)
        EXPECT_EQ(raw[i], 0) << i;
    for (size_t k = 1; k < kZkaMaxExtenderInfo; ++k)
        EXPECT_EQ(list.entries[k].sn[0], 0) << k;

    ASSERT_EQ(dm_->get_white_list_aps_info("", &list), 0);
    ASSERT_EQ(list.count, 2u);
    EXPECT_STREQ(list.entries[0].sn, "EX1");
    EXPECT_STREQ(list.entries[1].sn, "EX2");
    EXPECT_STREQ(list.entries[1].hostname, "host_EX2");
    EXPECT_EQ(list.entries[1].status, 1);  // NotDetected
    EXPECT_EQ(dm_->get_white_list_aps_info("EX9", &list), -1);
    EXPECT_EQ(dm_->get_white_list_aps_info("EX1", nullptr), -1);

    // More extenders than the record holds: the first ones, in serial number order.
    for (int i = 3; i <= 20; ++i)
        ASSERT_TRUE(dm_->add_ap_white_list("EX" + std::to_string(i)));
    ASSERT_EQ(dm_->get_white_list_aps_info("", &list), 0);
    EXPECT_EQ(list.count, kZkaMaxExtenderInfo);

    // An extender by any of its MACs, in any case.
    std::string sn;
    bool online = false;
    EXPECT_EQ(dm_->get_ap_by_mac("02:6F:00:00:03:00", &sn, &online), 0);
    EXPECT_EQ(sn, "EX1");
    EXPECT_TRUE(online);
    EXPECT_EQ(dm_->get_ap_by_mac("02:6f:00:00:03:99", &sn, &online), 0);
    EXPECT_EQ(dm_->get_ap_by_mac("02:6f:00:00:03:01", &sn, &online), 0);
    EXPECT_EQ(dm_->get_ap_by_mac("02:6f:00:00:0e:01", &sn, &online), -1);
    EXPECT_EQ(dm_->get_ap_by_mac("00:00:00:00:00:00", &sn, &online), -1);
    EXPECT_EQ(dm_->get_ap_by_mac("not a mac", &sn, &online), -1);
}
