// JSON building blocks of the REST answers and the listen address.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>

#include "rest/http_response.h"
#include "rest/json_writer.h"
#include "rest/listen_address.h"
#include "rest_test_support.h"

namespace {

std::string compact(const rapidjson::Value& v) {
    std::string s;
    EXPECT_TRUE(write_compact_json(v, s));
    return s;
}

TEST(RestJson, ObjectRendererTypesAndOrder) {
    rapidjson::Document doc;
    JSONObjectRenderer r(doc);
    const MAC mac(0x02, 0x11, 0x22, 0xaa, 0xbb, 0xcc);
    const BSSID bssid(0x0a, 0, 0, 0, 0, 0xff);
    struct timespec ts = {2, 999999999};
    std::vector<MAC> macs = {mac, MAC::zero};
    const uint8_t bytes[3] = {0, 128, 255};
    std::string he(300, '\x01');
    rapidjson::Value nested(rapidjson::kObjectType);
    nested.AddMember("k", 1, r.allocator());
    r.add_null("n")
        .add_bool("b", true)
        .add_int("i", -5)
        .add_int64("i64", -5000000000LL)
        .add_uint("u", 4000000000u)
        .add_uint64("u64", 18446744073709551615ULL)
        .add_float("f", 0.5f)
        .add_string("s", std::string("str"))
        .add_string("c", "cstr")
        .add_string("null-ptr", static_cast<const char*>(nullptr))
        .add_string("len", "abcdef", 3)
        .add_mac("mac", mac)
        .add_bssid("bssid", bssid)
        .add_mac_list("macs", &macs)
        .add_mac_list("absent", nullptr)
        .add_uint8_array("bytes", bytes, 3)
        .add_uint8_array("none", bytes, 0)
        .add_uint8_array("negative", bytes, -2)
        .add_he_mcs_map("he", reinterpret_cast<const uint8_t*>(he.data()), 258)
        .add_vht_mcs_map("vht", 0xfffa)
        .add_timespec("ts", ts)
        .add_value("nested", nested)
        .add_int("i", 6);  // no check for an existing member of the name
    EXPECT_TRUE(nested.IsNull());
    EXPECT_EQ(compact(doc),
              "{\"n\":null,\"b\":true,\"i\":-5,\"i64\":-5000000000,\"u\":4000000000,"
              "\"u64\":18446744073709551615,\"f\":0.5,\"s\":\"str\",\"c\":\"cstr\","
              "\"null-ptr\":\"\",\"len\":\"abc\",\"mac\":\"021122aabbcc\","
              "\"bssid\":\"0a00000000ff\",\"macs\":[\"021122aabbcc\",\"000000000000\"],"
              "\"bytes\":[0,128,255],\"none\":[],\"negative\":[],\"he\":[1,1],"
              "\"vht\":[0,0,0,0,0,0,9,9],\"ts\":2999,\"nested\":{\"k\":1},\"i\":6}");
    EXPECT_TRUE(doc["i64"].IsInt64());
    EXPECT_TRUE(doc["u64"].IsUint64());
}

TEST(RestJson, TimespecMilliseconds) {
    EXPECT_EQ(timespec_to_ms({2, 999999999}), 2999);
    EXPECT_EQ(timespec_to_ms({0, 999999}), 0);
    // 32-bit seconds must not overflow on the way to milliseconds.
    EXPECT_EQ(timespec_to_ms({4000000, 1000000}), 4000000001LL);
}

TEST(RestJson, PrettyWriterIndentsFourSpacesAndRefusesNan) {
    rapidjson::Document doc;
    JSONObjectRenderer(doc).add_int("a", 1).add_uint8_array("b", nullptr, 0);
    std::string out;
    ASSERT_TRUE(write_pretty_json(doc, out));
    EXPECT_EQ(out, "{\n    \"a\": 1,\n    \"b\": []\n}");
    JSONObjectRenderer(doc).add_float("nan", std::nanf(""));
    out.clear();
    EXPECT_FALSE(write_pretty_json(doc, out));
}

TEST(RestListenAddress, PlatformAnswerOrDefaults) {
    LogCapture log;
    Logger logger(nullptr, "rest", "[REST]", 7);
    RestListenAddress a =
        rest_listen_address(0, R"({"rest-ipv4": "192.168.1.1", "rest-port": 9000})", &logger);
    EXPECT_EQ(a.address, "192.168.1.1");
    EXPECT_EQ(a.port, 9000);
    EXPECT_TRUE(log.contains("nal_getMeshRestListenAddress 192.168.1.1 9000 "));
    EXPECT_TRUE(log.contains("listen_addr  192.168.1.1 _listen_port 9000 "));
    EXPECT_FALSE(log.contains("use defualt values"));

    // Each key replaces its own default: one alone, or one beside an unusable other.
    struct Case {
        const char* text;
        const char* address;
        int port;
    };
    const Case partial[] = {
        {R"({"rest-ipv4": "192.168.1.1"})", "192.168.1.1", 8090},
        {R"({"rest-port": 9001})", "127.0.0.1", 9001},
        {R"({"rest-ipv4": "192.168.1.1", "rest-port": "9000"})", "192.168.1.1", 8090},
        {R"({"rest-ipv4": "192.168.1.1", "rest-port": 70000})", "192.168.1.1", 8090},
        {R"({"rest-ipv4": "192.168.1.1", "rest-port": 0})", "192.168.1.1", 8090},
        {R"({"rest-ipv4": "not.an.ip", "rest-port": 9000})", "127.0.0.1", 9000},
        {R"({"rest-ipv4": 5, "rest-port": 9000})", "127.0.0.1", 9000},
        {R"({})", "127.0.0.1", 8090},
    };
    for (const Case& c : partial) {
        a = rest_listen_address(0, c.text, &logger);
        EXPECT_EQ(a.address, c.address) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
    }
    EXPECT_FALSE(log.contains("use defualt values"));
    const char* bad[] = {nullptr, "", "{", "[]", "9000"};
    for (const char* b : bad) {
        a = rest_listen_address(0, b, &logger);
        EXPECT_EQ(a.address, "127.0.0.1") << (b ? b : "null");
        EXPECT_EQ(a.port, 8090);
    }
    a = rest_listen_address(-1, R"({"rest-ipv4": "10.0.0.1", "rest-port": 1})", &logger);
    EXPECT_EQ(a.port, 8090);
    EXPECT_TRUE(log.contains("Error in nal_getMeshRestListenAddress use defualt values"));
    EXPECT_TRUE(log.contains("listen_addr  127.0.0.1 _listen_port 8090 "));
}

}  // namespace

// Numbers read from a body or a file are loaded as doubles; a CPU that traps on a misaligned
// double (the gateway's MIPS) needs every value of a parsed document aligned for one.
TEST(RestJson, ParsedValuesAreAlignedForDoubles) {
    const char* bodies[] = {R"({"chance": 0.25})", R"({"a": "x", "roaming_margin": 1.8})",
                            R"({"k": [1, "ab", 0.5, {"abc": 2.5, "d": [3.25, true]}]})",
                            R"([0.1, 0.2, "odd", 0.3, null, 0.4])"};
    for (const char* body : bodies) {
        rapidjson::Document d;
        d.Parse<rapidjson::kParseIterativeFlag>(body);
        ASSERT_FALSE(d.HasParseError()) << body;
        double sum = 0;
        std::function<void(const rapidjson::Value&)> walk = [&](const rapidjson::Value& v) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(&v) % alignof(double), 0u) << body;
            if (v.IsDouble())
                sum += v.GetDouble();
            else if (v.IsArray())
                for (const auto& e : v.GetArray())
                    walk(e);
            else if (v.IsObject())
                for (const auto& m : v.GetObject())
                    walk(m.value);
        };
        walk(d);
        EXPECT_GT(sum, 0.0) << body;
    }
}
