// M1 and M2 as real bytes: the M1 parser names what is wrong with hostile
// input, an M2 we build opens on the enrollee side (ours and the independent
// reference's) and nothing altered in it does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "hex.h"
#include "map/wsc/wsc_messages.h"
#include "wsc_reference.h"
#include "wsc_test_util.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const MAC kEnrolleeMac(std::array<uint8_t, 6>{0x02, 0x00, 0x00, 0xAA, 0x00, 0x01}.data());

std::vector<wsc_attribute> without(std::vector<wsc_attribute> a, uint16_t type) {
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].type == type) {
            a.erase(a.begin() + static_cast<long>(i));
            break;
        }
    }
    return a;
}

std::vector<wsc_attribute> with_value(std::vector<wsc_attribute> a, uint16_t type,
                                      std::vector<uint8_t> v) {
    for (auto& x : a) {
        if (x.type == type)
            x.value = v;
    }
    return a;
}

TEST(WscM1Parser, ReadsAnAgentsM1AndNamesEveryDefect) {
    auto key = WscDhKey::generate();
    ASSERT_TRUE(key);
    const auto good = m1_attributes(*key, kEnrolleeMac);
    const std::vector<uint8_t> bytes = build(good);
    WscM1 m1;
    std::string why;
    ASSERT_TRUE(wsc_parse_m1(bytes.data(), bytes.size(), m1, &why)) << why;
    EXPECT_EQ(std::tie(m1.raw, m1.mac, m1.enrollee_nonce[15], m1.auth_type_flags,
                       m1.encr_type_flags, m1.rf_bands, m1.serial_number, m1.device_name),
              std::make_tuple(bytes, kEnrolleeMac, 0x5C, 0x0063, 0x0009, WSC_RF_BAND_5_GHZ,
                              "SN0123456789", "ext-livingroom"));
    EXPECT_EQ(std::memcmp(m1.public_key, key->public_key(), kWscPublicKeyLen), 0);

    auto twice = good;
    twice.push_back(twice[5]);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* why;
    } bad[] = {
        {"empty", {}, "empty message"},
        {"truncated", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), "runs past the end"},
        {"short header", {0x10, 0x4A, 0x00}, "runs past the end"},
        {"an M2", build(with_value(good, WSC_ATTR_MESSAGE_TYPE, {WSC_MSG_M2})), "not M1"},
        {"no message type", build(without(good, WSC_ATTR_MESSAGE_TYPE)), "no Message Type"},
        {"no version", build(without(good, WSC_ATTR_VERSION)), "no Version"},
        {"no public key", build(without(good, WSC_ATTR_PUBLIC_KEY)), "no Public Key (0x1032)"},
        {"short public key",
         build(with_value(good, WSC_ATTR_PUBLIC_KEY, std::vector<uint8_t>(191, 1))),
         "Public Key of 191 bytes (192 expected)"},
        {"long public key",
         build(with_value(good, WSC_ATTR_PUBLIC_KEY, std::vector<uint8_t>(256, 1))),
         "Public Key of 256 bytes (192 expected)"},
        {"public key twice", build(twice), "Public Key (0x1032) appears twice"},
        {"no nonce", build(without(good, WSC_ATTR_ENROLLEE_NONCE)), "no Enrollee Nonce"},
        {"short nonce", build(with_value(good, WSC_ATTR_ENROLLEE_NONCE, {1, 2})),
         "Enrollee Nonce of 2 bytes"},
        {"no MAC", build(without(good, WSC_ATTR_MAC_ADDRESS)), "no MAC Address"},
        {"no UUID", build(without(good, WSC_ATTR_UUID_E)), "no UUID-E"},
        {"no auth flags", build(without(good, WSC_ATTR_AUTHENTICATION_TYPE_FLAGS)),
         "no Authentication Type Flags"},
        {"no encr flags", build(without(good, WSC_ATTR_ENCRYPTION_TYPE_FLAGS)),
         "no Encryption Type Flags"},
        {"no bands", build(without(good, WSC_ATTR_RF_BANDS)), "no RF Bands"},
        {"zero bands", build(with_value(good, WSC_ATTR_RF_BANDS, {0})), "names no band"},
        {"no serial", build(without(good, WSC_ATTR_SERIAL_NUMBER)), "no Serial Number"},
        {"long manufacturer",
         build(with_value(good, WSC_ATTR_MANUFACTURER, std::vector<uint8_t>(65, 'm'))),
         "Manufacturer of 65 bytes (at most 64)"},
        {"oversized", build([&] {
             auto a = good;
             a.push_back({WSC_ATTR_VENDOR_EXTENSION, std::vector<uint8_t>(2000, 0)});
             return a;
         }()),
         "-byte message (at most 2048)"},
    };
    for (const auto& b : bad) {
        why.clear();
        EXPECT_FALSE(wsc_parse_m1(b.bytes.data(), b.bytes.size(), m1, &why)) << b.what;
        EXPECT_THAT(why, HasSubstr(b.why)) << b.what << ": " << why;
    }
}

TEST(WscSettings, RoundTripAndRefusals) {
    WscBssConfig in;
    in.ssid = std::string(32, 's');
    in.network_key = std::string(64, 'k');
    in.auth_type = WSC_AUTH_SAE;
    in.encr_type = WSC_ENCR_AES;
    in.mac = kEnrolleeMac;
    in.map_ext = WSC_MAP_BACKHAUL_BSS;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(wsc_encode_settings(in, bytes));
    WscBssConfig out;
    std::string why;
    ASSERT_TRUE(wsc_decode_settings(bytes.data(), bytes.size(), out, &why)) << why;
    EXPECT_EQ(
        std::tie(out.ssid, out.network_key, out.auth_type, out.encr_type, out.map_ext, out.mac),
        std::tie(in.ssid, in.network_key, in.auth_type, in.encr_type, in.map_ext, in.mac));

    in.ssid += "x";
    EXPECT_FALSE(wsc_encode_settings(in, bytes));
    std::vector<wsc_attribute> attrs;
    in.ssid.pop_back();
    ASSERT_TRUE(wsc_encode_settings(in, bytes));
    ASSERT_TRUE(wsc_parse_attributes(bytes.data(), bytes.size(), attrs));
    EXPECT_FALSE(wsc_decode_settings(build(without(attrs, WSC_ATTR_VENDOR_EXTENSION)).data(),
                                     build(without(attrs, WSC_ATTR_VENDOR_EXTENSION)).size(), out,
                                     &why));
    EXPECT_EQ(why, "no Multi-AP Extension subelement");
    const auto no_key = build(without(attrs, WSC_ATTR_NETWORK_KEY));
    EXPECT_FALSE(wsc_decode_settings(no_key.data(), no_key.size(), out, &why));
    EXPECT_THAT(why, HasSubstr("no Network Key"));
    // A refusal never quotes the key.
    EXPECT_THAT(why, Not(HasSubstr(std::string(64, 'k'))));
}

// One M2 built the registrar's way for the M1 of ENROLLEE.
struct Exchange {
    std::unique_ptr<WscDhKey> enrollee = WscDhKey::generate();
    std::unique_ptr<WscDhKey> registrar = WscDhKey::generate();
    std::vector<uint8_t> m1_bytes;
    WscM1 m1;
    WscRegistrarIdentity id;
    uint8_t nonce[kWscNonceLen] = {0x3C, 0x01};
    uint8_t iv[kWscIvLen] = {0x77};
    WscBssConfig bss;
    std::vector<uint8_t> m2;
    uint8_t nonce_byte = 0x5C;

    bool make() {
        m1_bytes = build(m1_attributes(*enrollee, kEnrolleeMac, nonce_byte));
        std::string why;
        if (!wsc_parse_m1(m1_bytes.data(), m1_bytes.size(), m1, &why))
            return false;
        uint8_t secret[kWscPublicKeyLen];
        WscSessionKeys keys;
        if (!registrar->shared_secret(m1.public_key, secret) ||
            !wsc_derive_keys(secret, m1.enrollee_nonce, m1.mac, nonce, keys))
            return false;
        bss.ssid = "Home";
        bss.network_key = "correct horse battery";
        bss.auth_type = WSC_AUTH_WPA2_PERSONAL;
        bss.encr_type = WSC_ENCR_AES;
        bss.mac = m1.mac;
        bss.map_ext = WSC_MAP_FRONTHAUL_BSS;
        id.serial_number = "020000000100";
        const WscM2Inputs in{&m1,   &id,  nonce, registrar->public_key(),
                             &keys, &bss, iv,    WSC_RF_BAND_5_GHZ};
        return wsc_build_m2(in, m2);
    }
};

TEST(WscM2, OpensOnTheEnrolleeSideOnlyWhenUntouched) {
    Exchange x;
    ASSERT_TRUE(x.enrollee && x.registrar && x.make());
    WscBssConfig got;
    std::string why;
    ASSERT_TRUE(wsc_enrollee_open_m2(*x.enrollee, x.m1_bytes, x.m2.data(), x.m2.size(), got, &why))
        << why;
    EXPECT_EQ(
        std::tie(got.ssid, got.network_key, got.map_ext, got.mac),
        std::make_tuple("Home", "correct horse battery", WSC_MAP_FRONTHAUL_BSS, kEnrolleeMac));

    // Any one byte changed anywhere in the M2 is refused.
    for (size_t i = 0; i < x.m2.size(); ++i) {
        std::vector<uint8_t> bad = x.m2;
        bad[i] ^= 0x40;
        EXPECT_FALSE(
            wsc_enrollee_open_m2(*x.enrollee, x.m1_bytes, bad.data(), bad.size(), got, &why))
            << "byte " << i;
    }
    // A changed M1 (what the registrar saw is not what we sent) too.
    std::vector<uint8_t> other_m1 = x.m1_bytes;
    other_m1[other_m1.size() - 1] ^= 1;
    EXPECT_FALSE(wsc_enrollee_open_m2(*x.enrollee, other_m1, x.m2.data(), x.m2.size(), got, &why));
    EXPECT_THAT(why, HasSubstr("Authenticator does not match"));
    // Another enrollee key: the keys differ.
    auto stranger = WscDhKey::generate();
    EXPECT_FALSE(wsc_enrollee_open_m2(*stranger, x.m1_bytes, x.m2.data(), x.m2.size(), got, &why));
    EXPECT_THAT(why, HasSubstr("Authenticator does not match"));
    // An M2 for another M1.
    Exchange y;
    y.nonce_byte = 0x5D;
    ASSERT_TRUE(y.make());
    EXPECT_FALSE(
        wsc_enrollee_open_m2(*x.enrollee, x.m1_bytes, y.m2.data(), y.m2.size(), got, &why));
    EXPECT_EQ(why, "M2 answers another M1 (enrollee nonce differs)");
    // Authenticator moved away from the end.
    std::vector<wsc_attribute> attrs;
    ASSERT_TRUE(wsc_parse_attributes(x.m2.data(), x.m2.size(), attrs));
    std::swap(attrs[attrs.size() - 1], attrs[attrs.size() - 2]);
    const auto moved = build(attrs);
    EXPECT_FALSE(
        wsc_enrollee_open_m2(*x.enrollee, x.m1_bytes, moved.data(), moved.size(), got, &why));
    EXPECT_THAT(why, HasSubstr("not the last attribute"));
    EXPECT_THAT(why, Not(HasSubstr("correct horse")));
}

TEST(WscM2, TheIndependentReferenceOpensOurM2WithEveryAttributeInOrder) {
    Exchange x;
    const std::vector<uint8_t> epriv = from_hex("3f1c0de7a9b2c4e6f80113355779bbdd");
    x.enrollee = WscDhKey::from_private(epriv.data(), epriv.size());
    ASSERT_TRUE(x.enrollee && x.make());
    wsc_ref::Object r;
    std::string why;
    if (!wsc_ref::run(
            "open-m2",
            {{"enrollee_priv", to_hex(epriv)}, {"m1", to_hex(x.m1_bytes)}, {"m2", to_hex(x.m2)}},
            {}, r, &why))
        GTEST_SKIP() << why;
    ASSERT_TRUE(r.ok) << r.strings["why"];
    EXPECT_EQ(std::make_tuple(r.strings["ssid"], r.strings["key"], r.strings["mac"]),
              std::make_tuple("Home", "correct horse battery", to_hex(kEnrolleeMac.data(), 6)));
    EXPECT_EQ(std::make_tuple(r.numbers["auth_type"], r.numbers["encr_type"], r.numbers["map_ext"]),
              std::make_tuple(WSC_AUTH_WPA2_PERSONAL, WSC_ENCR_AES, WSC_MAP_FRONTHAUL_BSS));
    // Version, Message Type, Enrollee and Registrar Nonces, UUID-R, Public Key, the
    // Authentication, Encryption and Connection Type Flags, Config Methods, Manufacturer,
    // Model Name and Number, Serial Number, Primary Device Type, Device Name, RF Bands,
    // Association State, Configuration Error, Device Password ID, OS Version, Vendor
    // Extension, Encrypted Settings, Authenticator.
    const std::vector<uint8_t> types = from_hex(
        "104a 1022 101a 1039 1048 1032 1004 1010 100d 1008 1021 1023 1024 1042 1054 1011 103c "
        "1002 1009 1012 102d 1049 1018 1005");
    std::vector<long long> order;
    for (size_t i = 0; i + 1 < types.size(); i += 2)
        order.push_back(types[i] << 8 | types[i + 1]);
    EXPECT_EQ(r.attributes, order);
}

}  // namespace
