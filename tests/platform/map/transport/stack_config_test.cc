// Loading map_stack.json: a full file, omitted keys, and every malformed case refused
// with a text naming its key.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/paths.h"
#include "map/stack_config.h"
#include "platform/map/wsc/wsc_test_util.h"
#include "support/temp_root.h"
#include "transport_test_util.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class StackConfigTest : public ::testing::Test {
  protected:
    void write_config(const std::string& text) {
        std::string path = ozr_path(kMapStackConfigPath);
        ASSERT_TRUE(ozr_make_dirs(path.substr(0, path.rfind('/'))));
        ASSERT_TRUE(ozr_write_file_atomic(path, text));
    }
    ozr_test::TempRoot root_;
};

TEST_F(StackConfigTest, FullFileIsTakenAsWritten) {
    write_config(R"({
        "transport": "segment",
        "segment": "239.1.2.3:4000",
        "interfaces": [{"name": "eth0", "mac": "02:00:00:00:00:11"},
                       {"name": "eth1", "mac": "02-00-00-00-00-12", "segment": "239.1.2.4:4001"}],
        "al_mac": "02:00:00:00:00:aa",
        "agent_al_mac": "02:00:00:00:00:bb",
        "profile": 3,
        "pcap": "relative/cap.pcap",
        "pcap_max_bytes": 2048,
        "discovery_interval_s": 5,
        "rx_max_frames_per_s": 100,
        "_comment": "keys starting with an underscore are ignored"
    })");
    MapStackConfig config;
    std::string error;
    ASSERT_EQ(map_stack_config_load(config, &error), 0) << error;
    ASSERT_EQ(config.interfaces.size(), 2u);
    EXPECT_EQ(std::make_tuple(config.from_file, config.segment, config.interfaces[0].segment,
                              config.interfaces[1].segment, config.interfaces[1].mac.to_string(),
                              config.al_mac.to_string(), config.agent_al_mac.to_string()),
              std::make_tuple(true, "239.1.2.3:4000", "239.1.2.3:4000", "239.1.2.4:4001",
                              "02:00:00:00:00:12", "02:00:00:00:00:aa", "02:00:00:00:00:bb"));
    // The capture file is not moved under OZR_ROOT.
    EXPECT_EQ(std::tie(config.profile, config.pcap, config.pcap_max_bytes,
                       config.discovery_interval_s, config.rx_max_frames_per_s),
              std::make_tuple(3, "relative/cap.pcap", 2048u, 5u, 100u));
}

TEST_F(StackConfigTest, OmittedKeysFollowTheOthers) {
    MapStackConfig config;
    std::string error;
    // The default interface joins the file's segment; the AL MAC is the first interface's.
    ASSERT_EQ(map_stack_config_parse(R"({"segment": "239.9.9.9:999"})", config, &error), 0);
    EXPECT_EQ(config.interfaces[0].segment, "239.9.9.9:999");
    ASSERT_EQ(map_stack_config_parse(
                  R"({"interfaces": [{"name": "x", "mac": "02:00:00:00:00:21"}]})", config, &error),
              0);
    EXPECT_EQ(config.al_mac.to_string(), "02:00:00:00:00:21");
    EXPECT_EQ(config.interfaces[0].segment, "239.255.19.5:19050");
    // A raw interface may leave its MAC to the system: the AL MAC is then unknown yet.
    ASSERT_EQ(map_stack_config_parse(R"({"transport": "raw", "interfaces": [{"name": "eth0"}]})",
                                     config, &error),
              0)
        << error;
    EXPECT_EQ(std::tie(config.transport, config.interfaces[0].mac, config.al_mac),
              std::make_tuple(MapTransportKind::raw, MAC::zero, MAC::zero));
    ASSERT_EQ(map_stack_config_parse("{}", config, &error), 0);
    EXPECT_EQ(config.interfaces[0].name, "ozr0");
}

TEST_F(StackConfigTest, MalformedFilesAreRefusedNamingTheKey) {
    const std::string itf = R"("interfaces": [{"name": "e0", "mac": "02:00:00:00:00:01"}])";
    const struct {
        std::string json;
        std::string key;
    } cases[] = {
        {R"({"transport": "wifi"})", "\"transport\""},
        {R"({"segment": "10.0.0.1:19050"})", "\"segment\""},
        {R"({"segment": "239.255.19.5:70000"})", "\"segment\""},
        {R"({"interfaces": {}})", "\"interfaces\""},
        {R"({"interfaces": []})", "\"interfaces\""},
        {R"({"interfaces": ["eth0"]})", "\"interfaces[0]\""},
        {R"({"interfaces": [{"mac": "02:00:00:00:00:01"}]})", "\"interfaces[0].name\""},
        {R"({"interfaces": [{"name": "e0"}]})", "\"interfaces[0].mac\""},
        {R"({"interfaces": [{"name": "e0", "mac": "01:00:5e:00:00:01"}]})",
         "\"interfaces[0].mac\""},
        {R"({"interfaces": [{"name": "waytoolonginterfacename", "mac": "02:00:00:00:00:01"}]})",
         "\"interfaces[0].name\""},
        {R"({"interfaces": [{"name": "a/b", "mac": "02:00:00:00:00:01"}]})",
         "\"interfaces[0].name\""},
        {R"({"interfaces": [{"name": "e0", "mac": "02:00:00:00:00:01", "speed": 1}]})",
         "\"interfaces[0].speed\""},
        {R"({"interfaces": [{"name": "e0", "mac": "02:00:00:00:00:01", "segment": "x"}]})",
         "\"interfaces[0].segment\""},
        {R"({"transport": "raw", "interfaces": [{"name": "e0", "segment": "239.1.1.1:1"}]})",
         "\"interfaces[0].segment\""},
        {R"({"interfaces": [{"name": "e0", "mac": "02:00:00:00:00:01"},
                            {"name": "e0", "mac": "02:00:00:00:00:02"}]})",
         "\"interfaces[1].name\""},
        {R"({"interfaces": [{"name": "e0", "mac": "02:00:00:00:00:01"},
                            {"name": "e1", "mac": "02:00:00:00:00:01"}]})",
         "\"interfaces[1].mac\""},
        {R"({"interfaces": [{"name": "e0", "name": "e1", "mac": "02:00:00:00:00:01"}]})",
         "\"interfaces[0].name\""},
        {R"({"transport": "raw"})", "\"interfaces\""},
        {"{" + itf + R"(, "al_mac": "ff:ff:ff:ff:ff:ff"})", "\"al_mac\""},
        {"{" + itf + R"(, "agent_al_mac": "nope"})", "\"agent_al_mac\""},
        {"{" + itf + R"(, "profile": 4})", "\"profile\""},
        {"{" + itf + R"(, "profile": "2"})", "\"profile\""},
        {"{" + itf + R"(, "pcap": ""})", "\"pcap\""},
        {"{" + itf + R"(, "pcap_max_bytes": 10})", "\"pcap_max_bytes\""},
        {"{" + itf + R"(, "discovery_interval_s": 0})", "\"discovery_interval_s\""},
        {"{" + itf + R"(, "rx_max_frames_per_s": 0})", "\"rx_max_frames_per_s\""},
        {"{" + itf + R"(, "tranport": "raw"})", "\"tranport\""},
        {"{" + itf + R"(, "profile": 2, "profile": 3})", "\"profile\""},
        {"[]", "(top level)"},
    };
    for (const auto& c : cases) {
        write_config(c.json);
        LogCapture log;
        MapStackConfig config;
        std::string error;
        EXPECT_EQ(map_stack_config_load(config, &error), -1) << c.json;
        EXPECT_THAT(error, HasSubstr(c.key)) << c.json << " -> " << error;
        ASSERT_EQ(LogCapture::lines().size(), 1u) << c.json;
        EXPECT_THAT(LogCapture::lines()[0], HasSubstr(error));
    }
}

TEST_F(StackConfigTest, CredentialsAreReadWithoutEverQuotingAKey) {
    MapStackConfig config;
    std::string error;
    ASSERT_EQ(map_stack_config_parse(R"({"credentials": [
        {"ssid": "Home", "key": "correct horse battery"},
        {"ssid": "Home-bh", "key": "0123456789abcdef", "security": "wpa3-personal",
         "bands": ["5"], "fronthaul": false, "backhaul": true, "hidden": true},
        {"ssid": "Guest", "bands": ["2.4", "5"]}]})",
                                     config, &error),
              0)
        << error;
    std::vector<std::string> got;
    for (const auto& c : config.credentials)
        got.push_back(cred_text(c));
    // With a key WPA2-Personal (20) with AES (8) by default, without one open (1); bands 0:
    // every band.
    EXPECT_EQ(got, (std::vector<std::string>{"Home/correct horse battery/20/8/0/1",
                                             "Home-bh/0123456789abcdef/40/8/2/2 hidden",
                                             "Guest//1/1/3/1"}));

    const std::string secret = "s3cret-never-shown";
    const struct {
        std::string json;
        std::string key;
    } bad[] = {
        {R"({"credentials": {}})", "\"credentials\""},
        {R"({"credentials": [1]})", "\"credentials[0]\""},
        {R"({"credentials": [{"key": ")" + secret + R"("}]})", "\"credentials[0].ssid\""},
        {R"({"credentials": [{"ssid": ""}]})", "\"credentials[0].ssid\""},
        {R"({"credentials": [{"ssid": ")" + std::string(33, 's') + R"("}]})",
         "\"credentials[0].ssid\""},
        {R"({"credentials": [{"ssid": "a", "key": "short"}]})", "\"credentials[0].key\""},
        {R"({"credentials": [{"ssid": "a", "key": ")" + std::string(65, 'k') + R"("}]})",
         "\"credentials[0].key\""},
        {R"({"credentials": [{"ssid": "a", "key": ")" + secret + R"(", "security": "open"}]})",
         "\"credentials[0].key\""},
        {R"({"credentials": [{"ssid": "a", "security": "wpa2-personal"}]})",
         "\"credentials[0].key\""},
        {R"({"credentials": [{"ssid": "a", "security": "wep"}]})", "\"credentials[0].security\""},
        {R"({"credentials": [{"ssid": "a", "bands": ["7"]}]})", "\"credentials[0].bands[0]\""},
        {R"({"credentials": [{"ssid": "a", "fronthaul": false}]})", "\"credentials[0]\""},
        {R"({"credentials": [{"ssid": "a", "backhaul": "yes"}]})", "\"credentials[0].backhaul\""},
        {R"({"credentials": [{"ssid": "a", "vlan": 3}]})", "\"credentials[0].vlan\""},
        {R"({"credentials": [)" +
             [] {
                 std::string many;
                 for (int i = 0; i < 17; ++i)
                     many += std::string(i ? "," : "") + R"({"ssid": "a"})";
                 return many;
             }() +
             "]}",
         "\"credentials\""},
    };
    for (const auto& c : bad) {
        EXPECT_EQ(map_stack_config_parse(c.json, config, &error), -1) << c.json;
        EXPECT_THAT(error, HasSubstr(c.key)) << c.json << " -> " << error;
        EXPECT_THAT(error, Not(HasSubstr(secret)));
    }
}

TEST_F(StackConfigTest, UnreadableFilesAreRefused) {
    MapStackConfig config;
    std::string error;
    for (const std::string text : {"", "{\"transport\": ", "not json", "{} {}"}) {
        write_config(text);
        EXPECT_EQ(map_stack_config_load(config, &error), -1) << text;
        EXPECT_THAT(error, HasSubstr("not valid JSON"));
    }
    write_config("{\"_pad\": \"" + std::string(kMapStackConfigMaxBytes, 'x') + "\"}");
    EXPECT_EQ(map_stack_config_load(config, &error), -1);
    EXPECT_THAT(error, HasSubstr("cannot read"));
    // A folder in the file's place.
    std::string path = ozr_path(kMapStackConfigPath);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_TRUE(ozr_make_dirs(path));
    EXPECT_EQ(map_stack_config_load(config, &error), -1);
}

}  // namespace
