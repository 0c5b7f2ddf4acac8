// The data minder's extenders over the daemon's own context: admission, the onboarding
// state machine by transition, the online wait driven by the stack's data model, the
// backhaul decision, and removal with its factory reset. Timers are fired by calling
// their work after checking that they run; the clock is the manual one.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "graph/backhaul_information.h"
#include "map/map_send.h"
#include "messages/bus_records.h"
#include "support/mesh_stack.h"

using ozr_test::count_of;
using ozr_test::read_text;

namespace {

// The NUL-terminated texts of a fixed-size record, by offset.
void expect_texts(const std::string& rec, std::map<size_t, std::string> texts) {
    for (const auto& t : texts)
        EXPECT_EQ(std::string(rec.c_str() + t.first), t.second) << t.first;
}

const MAC kController(0x02, 0x6f, 0, 0, 0x00, 0x00);
const MAC kLocal(0x02, 0x6f, 0, 0, 0x01, 0x00);
const MAC kExt(0x02, 0x6f, 0, 0, 0x03, 0x00);
const MAC kExtHkt(0x02, 0x6f, 0, 0, 0x03, 0x99);
const char* kDb = "/configs/easymesh/ozr_config_db.json";

ozr_test::MeshOptions options() {
    ozr_test::MeshOptions o;
    o.port = 23141;
    o.clock_ms = 5000000;
    o.controller = kController;
    o.local = kLocal;
    return o;
}

class Extenders : public ozr_test::MeshStack {
  protected:
    Extenders() : MeshStack(options()) {}
    void SetUp() override {
        MeshStack::SetUp();
        if (!ctx_)
            return;
        dm_ = ctx_->data_minder;
        hkt_ = ctx_->hkt_mgmt_minder;
        // The gateway's own agent tells its serial number in its M1.
        map_ale_info_t* local = map_update_ale(kLocal);
        ASSERT_NE(local, nullptr);
        map_update_ale_m1(local, "Maker", "Gateway", "GW-1", "GW0001", "gw", 3);
    }
    // A restart of the daemon's minders over the same files.
    void restart() {
        delete ctx_;
        uv_run(&loop_, UV_RUN_NOWAIT);
        ctx_ = new Context(&loop_);
        dm_ = ctx_->data_minder;
        hkt_ = ctx_->hkt_mgmt_minder;
        ASSERT_TRUE(dm_->init(*ctx_).ok());
        hkt_->run();  // loads the admitted extenders
    }
    // The payloads of the signals MEMBER raised so far, as bytes.
    std::vector<std::string> signals(const std::string& member) const {
        std::vector<std::string> out;
        for (const std::string& line : journal("qbusSendSignal")) {
            rapidjson::Document d;
            d.Parse(line.c_str());
            if (!d.IsObject() || !d.HasMember("member") || member != d["member"].GetString())
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
        n->hkt_mac = MAC(agent[0], agent[1], agent[2], agent[3], agent[4], 0x99);
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
        map_radio_info_t* r = map_update_radio(a, MAC(al[0], al[1], al[2], al[3], al[4], 0x10));
        ASSERT_NE(r, nullptr);
        map_update_radio_basic_caps(r, 4, nullptr, 0);
        const uint8_t ssid[] = {'H', 'o', 'm', 'e'};
        map_bss_param_t b;
        b.bssid = BSSID(MAC(al[0], al[1], al[2], al[3], al[4], 0x11));
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

    DataMinder* dm_ = nullptr;
    HktMgmtMinder* hkt_ = nullptr;
};

}  // namespace

// ---- admission ------------------------------------------------------------------------------

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
    const size_t m = mark();
    restart();
    EXPECT_NE(log_since(m).find("DataMinder::init_ramdb() - AP Config DB records read: 2"),
              std::string::npos);
    const ApInfo* ex1 = dm_->ramdb_find("EX1");
    ASSERT_NE(ex1, nullptr);  // the host name as the vendor agent told it
    EXPECT_EQ(std::tie(ex1->status, ex1->hostname, ex1->ale_mac),
              std::make_tuple("Configured", "hall", kExt));
    EXPECT_NE(dm_->timer_info("EX2"), nullptr);
    ASSERT_NE(hkt_->find_hkt_from_serial("EX1"), nullptr);
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX1")->ap_status, ApStatus::CONFIGURED);
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX2")->ap_status, ApStatus::NOT_DETECTED);
}

// ---- the onboarding state machine, by transition --------------------------------------------

TEST_F(Extenders, TheOnboardingStateMachineByTransition) {
    const ApStatus none = ApStatus::INVALID_STATUS, N = ApStatus::NOT_DETECTED,
                   D = ApStatus::DETECTED, C = ApStatus::CONFIGURED,
                   F = ApStatus::CONFIGURATION_FAILED;
    struct Row {
        ApStatus from;  // INVALID_STATUS: no record
        ApStatus to;
        int rc;
        const char* status;  // after; "(none)": no record
        const char* says;    // a line of the log, @ for the serial number
        size_t authorised;   // marlowAuthReqSignal raised
    };
    const Row rows[] = {
        {none, D, 0, "Detected", "update_ap_state sn: @ Added AP into DB with detected state", 0},
        {N, D, 0, "Detected", "Updated AP rec sn: @ state Detected", 0},
        {D, D, 0, "Detected", "AP already in detected state, returning sn: @", 0},
        {C, D, 0, "Configured", "configured/ config failed state,returning Serial number: @", 0},
        {F, D, 0, "ConfigurationFailed", "config failed state,returning Serial number: @", 0},
        {none, C, -1, "(none)", "AP doesnt exist to set state Configured, sn: @", 0},
        {N, C, -1, "NotDetected", "Cannot set to Configured, AP in not detected state sn: @", 0},
        {D, C, 0, "Configured", "AP current state Detected sn: @", 1},
        {C, C, 0, "Configured", "AP already in configured state, returning sn: @", 0},
        {F, C, 0, "Configured", "AP current state ConfigurationFailed sn: @", 1},
        {none, F, -1, "(none)", "AP doesnt exist to set state Configured failed, sn: @", 0},
        {N, F, -1, "NotDetected", "Cannot set to Configured failed, AP in not detected state sn: @",
         0},
        {D, F, 0, "ConfigurationFailed", "Updated AP rec sn: @ state ConfigurationFailed", 0},
        {F, F, 0, "ConfigurationFailed", "AP already in configured failed state sn: @", 0},
        {C, F, 0, "Configured", "AP already in configured state, cannot set to Failed sn: @", 0},
        {N, N, -1, "NotDetected", "Not expected to get NOT_DETECTED state, sn: @", 0},
        {none, N, -1, "(none)", "Not expected to get NOT_DETECTED state, sn: @", 0},
        {N, none, -1, "NotDetected", "AP status Invalid 5, sn: @", 0},
        {N, static_cast<ApStatus>(42), -1, "NotDetected", "AP status Invalid 42, sn: @", 0},
    };
    int i = 0;
    for (const Row& r : rows) {
        const std::string sn = "EX" + std::to_string(++i);
        SCOPED_TRACE(sn + " to " + std::to_string(static_cast<int>(r.to)));
        if (r.from != none) {
            ASSERT_TRUE(dm_->add_ap_white_list(sn));
            discover(sn, kExt);
        }
        if (r.from == D || r.from == C || r.from == F) {
            ASSERT_EQ(dm_->update_ap_state(sn, D), 0);
        }
        if (r.from == C || r.from == F) {
            ASSERT_EQ(dm_->update_ap_state(sn, r.from), 0);
        }
        const size_t auth = signals("marlowAuthReqSignal").size();
        const unsigned long long writes = dm_->cfg_db().writes();
        const size_t m = mark();
        EXPECT_EQ(dm_->update_ap_state("ex" + std::to_string(i), r.to), r.rc);  // any case
        EXPECT_EQ(status_of(sn), r.status);
        std::string says = r.says;
        says.replace(says.find('@'), 1, sn);
        EXPECT_NE(log_since(m).find(says), std::string::npos) << says;
        EXPECT_EQ(signals("marlowAuthReqSignal").size(), auth + r.authorised);
        if (r.rc != 0)
            EXPECT_EQ(dm_->cfg_db().writes(), writes);
        else
            EXPECT_EQ(dm_->ramdb_find(sn)->status, r.status);
        if (r.from == none && r.rc == 0) {
            EXPECT_NE(dm_->timer_info(sn), nullptr);
        }
    }
    EXPECT_EQ(dm_->get_ap_onboarding_status("NOPE"), ApStatus::INVALID_STATUS);

    // The authorisation (234 bytes) and the record carry the vendor agent's identity.
    const std::vector<std::string> auth = signals("marlowAuthReqSignal");
    ASSERT_FALSE(auth.empty());
    ASSERT_EQ(auth[0].size(), 234u);
    // EX4: the first configured one.
    expect_texts(auth[0], {{0, "02:6f:00:00:03:99"}, {36, "EX4"}, {69, "EXT-9"}});
    expect_texts(auth[0], {{135, "Maker"}, {200, "extender"}, {225, "00:11:22"}});
    EXPECT_EQ(hkt_->find_hkt_from_serial("EX8")->ap_status, ApStatus::CONFIGURED);
    EXPECT_EQ(*dm_->cfg_db().db_query_record("EX8").second,
              (ApRecord{"EX8", "EXT-9", "hall", "02:6f:00:00:03:00", "02:6f:00:00:03:01", "",
                        "Configured"}));
    EXPECT_EQ(dm_->ramdb_find("EX8")->ipv4, "192.168.1.23");
    EXPECT_EQ(dm_->ramdb_find("EX8")->ap_mac, kExtHkt);
}

// ---- online wait and status signals -------------------------------------------------------

// Announced online (notifyMeshTopologyChange, status 2) once the agent's BSSs are in the
// stack's data model, or at the tenth firing of the online wait; offline at once.
TEST_F(Extenders, TheOnlineWaitByWhatTheStackKnows) {
    struct Row {
        const char* what;
        bool configured;
        int bsss;  // -1: an agent without radio, -2: an agent not in the stack
        int firings;
        bool online;
        const char* says;  // @ for the serial number
        size_t announced;
    };
    const Row rows[] = {
        {"BSSs reported", true, 1, 1, true,
         "BSS details are updated in K-way, propagating online for AP sn: @", 1},
        {"no radio: nothing to wait for", true, -1, 1, true, "propagating online for AP sn: @", 1},
        {"radios without BSSs", true, 0, 10, true,
         "MAX retry count 10 reached, propagating online for AP sn: @", 1},
        {"never in the stack", true, -2, 10, false,
         "MAX retry count 10 reached, setting AP sn: @ offline", 0},
        {"only detected", false, 1, 1, true,
         "AP is not in configured state sn: @ so not informing higher layer", 0},
    };
    uint8_t i = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string sn = "EX" + std::to_string(++i);
        const MAC agent(0x02, 0x6f, 0, 0, static_cast<uint8_t>(0x10 + i), 0x00);
        ASSERT_TRUE(dm_->add_ap_white_list(sn));
        discover(sn, agent);
        ASSERT_EQ(dm_->update_ap_state(sn, ApStatus::DETECTED), 0);
        if (r.configured) {
            ASSERT_EQ(dm_->update_ap_state(sn, ApStatus::CONFIGURED), 0);
        }
        if (r.bsss >= 0)
            agent_in_stack(agent, r.bsss);
        else if (r.bsss == -1)
            map_update_ale(agent);
        const size_t before = signals("notifyMeshTopologyChange").size();
        dm_->notify_ap_status_change(sn, true);
        dm_->notify_ap_status_change(sn, true);  // already waiting: no second start
        EXPECT_TRUE(dm_->timer_info(sn)->online_wait_active);
        for (int f = 1; f < r.firings; ++f) {
            fire_online_wait(sn);
            ASSERT_FALSE(dm_->ramdb_find(sn)->online) << f;
        }
        const size_t m = mark();
        fire_online_wait(sn);
        std::string says = r.says;
        says.replace(says.find('@'), 1, sn);
        EXPECT_NE(log_since(m).find(says), std::string::npos) << says;
        EXPECT_EQ(dm_->ramdb_find(sn)->online, r.online);
        EXPECT_FALSE(dm_->timer_info(sn)->online_wait_timer->is_started());
        EXPECT_EQ(signals("notifyMeshTopologyChange").size(), before + r.announced);
    }
    EXPECT_EQ(count_of(log_.text(), "Retrying for one more time"), 18u);  // 9 + 9

    // The record (204 bytes) of the first; going offline is announced at once, once.
    std::vector<std::string> topo = signals("notifyMeshTopologyChange");
    ASSERT_EQ(topo.size(), 3u);
    ASSERT_EQ(topo[0].size(), 204u);
    expect_texts(topo[0], {{0, "02:6f:00:00:11:99"}, {40, "3.1.4"}, {105, "EX1"}, {138, "EXT-9"}});
    int32_t status = 0;
    std::memcpy(&status, topo[0].data() + 36, 4);
    EXPECT_EQ(status, 2);
    dm_->notify_ap_status_change("EX1", false);
    dm_->notify_ap_status_change("EX1", false);  // no change: no second signal
    EXPECT_FALSE(dm_->ramdb_find("EX1")->online);
    topo = signals("notifyMeshTopologyChange");
    ASSERT_EQ(topo.size(), 4u);
    std::memcpy(&status, topo[3].data() + 36, 4);
    EXPECT_EQ(status, 1);
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
    EXPECT_EQ(std::tie(e->is_backhaul_connected, e->backhaul_ale_mac, e->backhaul_quality_string,
                       e->cost_to_gw, e->online),
              std::make_tuple(true, kLocal, "good", 120u, false));
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

TEST_F(Extenders, RemovalWithoutAKnownAlMacForgetsEverythingAtOnce) {
    // The gateway itself, an empty serial number: refused; one never admitted: nothing to do.
    ASSERT_TRUE(dm_->add_ap_white_list("gw0001"));
    EXPECT_TRUE(dm_->ramdb_find("GW0001")->is_gateway);
    EXPECT_EQ(dm_->remove_extender("GW0001"), -1);
    EXPECT_EQ(dm_->remove_extender(""), -1);
    EXPECT_EQ(dm_->remove_extender("NEVER-ADMITTED"), 0);
    EXPECT_NE(hkt_->find_hkt_from_serial("GW0001"), nullptr);
    EXPECT_EQ(dm_->cfg_db().records().size(), 1u);
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
    for (const char* mac : {"02:6F:00:00:03:00", "02:6f:00:00:03:99", "02:6f:00:00:03:01",
                            "02:6f:00:00:0e:01", "00:00:00:00:00:00", "not a mac"}) {
        std::string sn;
        bool online = false;
        const bool known = std::strstr(mac, ":03:") != nullptr;
        EXPECT_EQ(dm_->get_ap_by_mac(mac, &sn, &online), known ? 0 : -1) << mac;
        EXPECT_EQ(sn, known ? "EX1" : "") << mac;
        EXPECT_EQ(online, known) << mac;
    }
}
