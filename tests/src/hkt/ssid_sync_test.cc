// The SSID credential sync and the legacy backhaul window against a stand-in vendor agent:
// its VAP reports (real HKT frames) are compared with the credential table on the
// "sync_ssid_credential" timer, and a differing extender gets a unicast autoconfiguration
// renew on the segment; the hold after a renew, the retry list and the window's open/close
// follow the reports. Time is the manual clock.
#include <gtest/gtest.h>

#include <set>

#include "hkt_fixture.h"

using namespace hkt_test;
using ozr_test::count_of;

namespace {

const MAC kRadio24 = mac(0x02, 0x10);
const MAC kRadio5 = mac(0x02, 0x20);
const char* kKey = "sync-test-passphrase";

map_vap_credential_t cred(const char* ssid, const char* key, uint8_t bss_type,
                          uint8_t rf_bands = 0) {
    map_vap_credential_t c{};
    std::snprintf(c.ssid, sizeof c.ssid, "%s", ssid);
    std::snprintf(c.network_key, sizeof c.network_key, "%s", key);
    c.bss_type = bss_type;
    c.rf_bands = rf_bands;
    return c;
}

class SsidSync : public HktFixture {
  protected:
    SsidSync() : HktFixture(23417) {}
    void TearDown() override {
        map_credential_config_t none{};
        set_credential_config(&none);
        HktFixture::TearDown();
    }
    GraphMinder& graph() { return *ctx_->graph_minder; }

    // The extender's agent with a 2.4 GHz and a 5 GHz radio as its capabilities tell.
    void radios(uint8_t max_bss = 4) {
        map_ale_info_t* a = map_update_ale(kExt);
        map_op_class_param_t c24{81, 20, 0, nullptr}, c5{115, 23, 0, nullptr};
        ASSERT_EQ(map_update_radio_basic_caps(map_update_radio(a, kRadio24), max_bss, &c24, 1), 0);
        ASSERT_EQ(map_update_radio_basic_caps(map_update_radio(a, kRadio5), max_bss, &c5, 1), 0);
    }
    // The table: "home" everywhere (fronthaul), "home-bh" on 5 GHz only (backhaul).
    void table() {
        map_credential_config_t t{};
        t.creds[t.count++] = cred("home", kKey, MAP_CRED_FRONTHAUL);
        t.creds[t.count++] = cred("home-bh", "backhaul-secret-77", MAP_CRED_BACKHAUL, 0x02);
        ASSERT_EQ(set_credential_config(&t), 0);
    }
    // The VAP report PEER sends, waited for.
    void report(Peer& p, std::vector<hkt_vaps_info_response_tlv::vap> vaps) {
        hkt_vaps_info_response_tlv r;
        r.vaps = std::move(vaps);
        r.num_vaps = static_cast<uint8_t>(r.vaps.size());
        const size_t before = reports_;
        p.send(r);
        ASSERT_TRUE(run_until(
            [&] { return count_of(log(), "Received HKT enabled vaps info Response") > before; }));
        reports_ = count_of(log(), "Received HKT enabled vaps info Response");
    }
    std::vector<hkt_vaps_info_response_tlv::vap> in_line() {
        return {vap("home", 1, 0), vap("home", 1, 1), vap("home-bh", 2, 2)};
    }
    // Renews the agent received on the segment, each message id once: the stack sends an
    // unanswered renew again under the same id.
    size_t renews(const Peer& p) const {
        std::set<uint16_t> mids;
        for (const Got& g : p.got)
            if (g.message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW && g.dst == kExt)
                mids.insert(g.mid);
        return mids.size();
    }
    void expire() {
        Timer* t = graph().find_timer("sync_ssid_credential");
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(t->is_started());
        graph().on_ssid_sync_timer_expire();
    }

    // The sync's lines of the log (for failure messages).
    std::string sync_log() const {
        std::string out;
        for (const std::string& l : ozr_test::lines_of(log()))
            if (l.find("ssid") != std::string::npos || l.find("renew") != std::string::npos)
                out += l + "\n";
        return out;
    }

    size_t reports_ = 0;
};

// What the extender runs against the table: order does not matter; a lost backhaul role,
// another SSID, other security, a missing or an extra BSS all differ; the radio's BSS limit
// and the bands follow the registrar's choice.
TEST_F(SsidSync, AReportIsComparedAsTheRegistrarWouldConfigure) {
    radios();
    table();
    const map_ale_info_t* ale = get_ale(kExt);
    ASSERT_NE(ale, nullptr);
    const map_credential_config_t& t = *map_get_m2_config();
    auto verdict = [&](std::vector<hkt_vaps_info_response_tlv::vap> vs) {
        std::vector<HKTVapInfo> in;
        for (const auto& v : vs) {
            HKTVapInfo x;
            x.ssid.assign(reinterpret_cast<const char*>(v.ssid), v.ssid_len);
            x.authentication_mode = v.authentication_mode;
            x.encryption_mode = v.encryption_mode;
            x.bss_type = v.bss_type;
            in.push_back(x);
        }
        return compare_ssid_credentials(*ale, in, t);
    };
    EXPECT_EQ(verdict(in_line()).verdict, SsidSyncVerdict::in_sync);
    EXPECT_EQ(verdict({vap("home-bh", 2, 2), vap("home", 1, 1), vap("home", 1, 0)}).verdict,
              SsidSyncVerdict::in_sync);
    SsidSyncResult r = verdict({vap("home", 1, 0), vap("home", 1, 1), vap("home-bh", 1, 2)});
    ASSERT_EQ(r.verdict, SsidSyncVerdict::differ);
    EXPECT_EQ(r.describe(),
              "missing \"home-bh\" backhaul (auth 0x0020 encr 0x0008); unexpected \"home-bh\" "
              "fronthaul (auth 0x0020 encr 0x0008)");
    EXPECT_EQ(verdict({vap("Home", 1, 0), vap("home", 1, 1), vap("home-bh", 2, 2)}).verdict,
              SsidSyncVerdict::differ);
    EXPECT_EQ(verdict({vap("home", 1, 0, 0x0001, 0x0001), vap("home", 1, 1), vap("home-bh", 2, 2)})
                  .verdict,
              SsidSyncVerdict::differ);
    EXPECT_EQ(verdict({vap("home", 1, 0), vap("home-bh", 2, 2)}).missing.size(), 1u);
    EXPECT_EQ(verdict({vap("home", 1, 0), vap("home", 1, 1), vap("home-bh", 2, 2), vap("x", 1, 3)})
                  .unexpected.size(),
              1u);
    EXPECT_EQ(r.describe().find("passphrase"), std::string::npos);
    // Whatever bytes an extender reports, the description stays printable text.
    SsidCredential odd;
    odd.ssid = std::string("a\n\"\xff", 4);
    odd.bss_type = 1;
    EXPECT_EQ(odd.describe(), "\"a\\x0a\\x22\\xff\" fronthaul (auth 0x0000 encr 0x0000)");

    // An open network is sent (and so expected) as open / no encryption whatever its types.
    map_credential_config_t open{};
    open.creds[open.count++] = cred("cafe", "", MAP_CRED_FRONTHAUL);
    std::vector<SsidCredential> e = expected_ssid_credentials(*ale, open);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(std::tie(e[0].auth_type, e[0].encr_type), std::make_tuple(0x0001, 0x0001));
    // One BSS per radio at most: the first credential in table order.
    map_radio_info_t* r24 = map_update_radio(map_update_ale(kExt), kRadio24);
    map_radio_info_t* r5 = map_update_radio(map_update_ale(kExt), kRadio5);
    r24->max_bss = r5->max_bss = 1;
    e = expected_ssid_credentials(*ale, t);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(std::tie(e[0].ssid, e[1].ssid), std::make_tuple("home", "home"));
    // A 6 GHz radio takes only the every-band credentials; radios not known yet nothing.
    r5->max_bss = 4;
    map_op_class_param_t c6{131, 23, 0, nullptr};
    ASSERT_EQ(map_update_radio_basic_caps(r5, 4, &c6, 1), 0);
    e = expected_ssid_credentials(*ale, t);
    EXPECT_EQ(e.size(), 2u);
    map_ale_info_t* blank = map_update_ale(mac(0x05, 0x00));
    map_update_radio(blank, mac(0x05, 0x10));
    size_t known = 9;
    EXPECT_TRUE(expected_ssid_credentials(*blank, t, &known).empty());
    EXPECT_EQ(known, 0u);
    EXPECT_EQ(compare_ssid_credentials(*blank, {}, t).verdict, SsidSyncVerdict::unknown);
}

// The timer sends a differing extender one renew; a second look before the hold ends or
// before a newer report puts it on the retry list; the next report decides. No key in the
// log.
TEST_F(SsidSync, ADifferingExtenderGetsARenewAndIsWatchedUntilItComesInLine) {
    Peer& p = peer(kExtHkt);
    Peer& agent = peer(kExt);  // the extender's Multi-AP agent, where renews go
    ASSERT_NE(online_node(p, "EX1", kExt), nullptr);
    radios();
    // Nothing to compare yet: no table, then no report.
    expire();
    table();
    expire();
    settle();
    EXPECT_EQ(renews(agent), 0u);

    // The extender still runs its factory SSID on 2.4 GHz.
    report(p, {vap("factory", 1, 0), vap("home", 1, 1), vap("home-bh", 2, 2)});
    ozr_clock::advance(GraphMinder::kTimers[11].period_ms);
    expire();
    ASSERT_TRUE(run_until([&] { return renews(agent) == 1; })) << sync_log();
    EXPECT_TRUE(
        said("hkt_db_ssid_info of 02:6f:00:00:02:00 differs from the credentials: "
             "missing \"home\" fronthaul (auth 0x0020 encr 0x0008); unexpected "
             "\"factory\" fronthaul"));
    EXPECT_TRUE(said("send auto config renew to 02:6f:00:00:02:00"));
    EXPECT_EQ(graph().ssid_renews_sent(), 1u);

    // The old report again, 30 s later: held back.
    ozr_clock::advance(30000);
    expire();
    EXPECT_TRUE(said("last autoconfig renew was send before 30 sec"));
    EXPECT_TRUE(said("Add the ale 02:6f:00:00:02:00 to retry list"));
    EXPECT_EQ(graph().ssid_retry_list().count(kExt), 1u);
    // Its next report, after the hold, still differs: one more renew, off the list.
    ozr_clock::advance(40000);
    report(p, {vap("factory", 1, 0), vap("home", 1, 1), vap("home-bh", 2, 2)});
    ASSERT_TRUE(run_until([&] { return renews(agent) == 2; }));
    EXPECT_TRUE(graph().ssid_retry_list().empty());
    EXPECT_EQ(graph().ssid_sync_status().at(kExt).verdict, SsidSyncVerdict::differ);
    // The report after the exchange shows the table's BSSs: the status follows at once, and
    // nothing more is sent.
    ozr_clock::advance(15000);
    report(p, in_line());
    EXPECT_EQ(graph().ssid_sync_status().at(kExt).verdict, SsidSyncVerdict::in_sync);
    EXPECT_EQ(graph().ssid_sync_status().at(kExt).difference, "");
    ozr_clock::advance(GraphMinder::kTimers[11].period_ms);
    expire();
    settle();
    EXPECT_EQ(renews(agent), 2u);
    EXPECT_EQ(log().find(kKey), std::string::npos);
    EXPECT_EQ(log().find("backhaul-secret-77"), std::string::npos);
}

// A VAP configuration change renews every agent by multicast; the sync does not add its own
// renew until the agents answered with a newer report; an agent on the retry list that
// reports the new table leaves the list without a renew.
TEST_F(SsidSync, AMulticastRenewIsWaitedFor) {
    Peer& p = peer(kExtHkt);
    Peer& agent = peer(kExt);
    ASSERT_NE(online_node(p, "EX1", kExt), nullptr);
    radios();
    table();
    report(p, in_line());
    ozr_clock::advance(120000);
    ZkaAllEnabledVapCfg cfg{};
    cfg.num_vaps = 2;
    // Interface, SSID, key, authentication, encryption, band, type, hidden, enabled.
    cfg.vaps[0] = {"", "home2", "", 0, 0, 0, MAP_CRED_FRONTHAUL, "", 1, 0};
    std::snprintf(cfg.vaps[0].key, sizeof cfg.vaps[0].key, "%s", kKey);
    cfg.vaps[1] = {"", "home-bh", "backhaul-secret-77", 0, 0, 0x02, MAP_CRED_BACKHAUL, "", 1, 0};
    ASSERT_EQ(ctx_->config_minder->set_vap_configuration(&cfg), 0);
    ozr_clock::advance(GraphMinder::kSsidRenewHoldMs + 1000);
    expire();  // the report is from before the renew
    settle();
    EXPECT_EQ(renews(agent), 0u);
    EXPECT_EQ(graph().ssid_retry_list().count(kExt), 1u);
    report(p, {vap("home2", 1, 0), vap("home2", 1, 1), vap("home-bh", 2, 2)});
    EXPECT_TRUE(graph().ssid_retry_list().empty());
    EXPECT_TRUE(said("hkt_db_ssid_info of 02:6f:00:00:02:00 matches the credentials again"));
    settle();
    EXPECT_EQ(renews(agent), 0u);
}

// The legacy backhaul VAP opens when an extender that needs it comes online, and closes as
// soon as that extender reports the table's backhaul BSS (or when the window ends).
TEST_F(SsidSync, TheLegacyBackhaulClosesOnceTheExtenderRunsTheBackhaulBss) {
    Peer& local = peer(mac(0x01, 0xe0));
    Peer& p = peer(kExtHkt);
    ASSERT_NE(online_node(local, "GW1", kLocal), nullptr);
    radios();
    table();
    ASSERT_NE(online_node(p, "EX1", kExt, HktMgmtMinder::kMinder8ByteBackhaul), nullptr);
    BaseTimer* window = hkt_->find_timer("8bytes_bh_timer");  // opened (Registry's test)
    ASSERT_TRUE(run_until([&] { return local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST) == 1; }));
    // Fronthaul only so far: still needed.
    report(p, {vap("home", 1, 0), vap("home", 1, 1)});
    EXPECT_TRUE(window->is_started());
    // The backhaul BSS under another SSID does not count either.
    report(p, {vap("home", 1, 0), vap("old-bh", 2, 2)});
    EXPECT_TRUE(window->is_started());
    report(p, in_line());
    EXPECT_FALSE(window->is_started());
    ASSERT_TRUE(run_until([&] { return local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST) == 2; }));
    EXPECT_EQ(local.last<hkt_bh_vap_8byte_request_tlv>().enabled, 0);
    // Later reports and capability checks leave it closed.
    report(p, in_line());
    hkt_->check_ap_capabilites();
    settle();
    EXPECT_FALSE(window->is_started());
    EXPECT_EQ(local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST), 2u);
}

}  // namespace
