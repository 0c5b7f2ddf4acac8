// The WSC cryptography against an independent reference: Diffie-Hellman in
// the 1536-bit MODP group, the session keys, the Key Wrap Authenticator and
// Encrypted Settings, and the Authenticator, all compared with what the
// Python reference computes from the same fixed inputs. Then the checks that
// protect the exchange: hostile public values and altered ciphertext.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "hex.h"
#include "map/codec/wsc.h"
#include "map/wsc/wsc_crypto.h"
#include "map/wsc/wsc_messages.h"
#include "wsc_reference.h"

using ::testing::HasSubstr;

namespace {

// RFC 3526 group 5 prime, for the hostile values built from it.
const char* kPrimeHex =
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A0879"
    "8E3404DDEF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B"
    "0BFF5CB6F406B7EDEE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3DC2007CB8A163BF0598DA4836"
    "1C55D39A69163FA8FD24CF5F83655D23DCA3AD961C62F356208552BB9ED529077096966D670C354E4ABC9804"
    "F1746C08CA237327FFFFFFFFFFFFFFFF";

struct Vector {
    std::string enrollee_priv, registrar_priv;
};

// Compares every derived value of one exchange with the reference.
void check_against_reference(const Vector& v) {
    const std::vector<uint8_t> epriv = from_hex(v.enrollee_priv),
                               rpriv = from_hex(v.registrar_priv);
    const std::vector<uint8_t> n1 = from_hex("00112233445566778899aabbccddeeff");
    const std::vector<uint8_t> n2 = from_hex("f0e1d2c3b4a5968778695a4b3c2d1e0f");
    const MAC mac(from_hex("020000aabbcc").data());
    const std::vector<uint8_t> iv = from_hex("000102030405060708090a0b0c0d0e0f");

    // The settings plaintext: our encoder against the reference's own.
    WscBssConfig bss;
    bss.ssid = "Home";
    bss.network_key = "correct horse battery";
    bss.auth_type = WSC_AUTH_WPA2_PERSONAL;
    bss.encr_type = WSC_ENCR_AES;
    bss.mac = mac;
    bss.map_ext = WSC_MAP_FRONTHAUL_BSS | WSC_MAP_BACKHAUL_BSS;
    std::vector<uint8_t> settings;
    ASSERT_TRUE(wsc_encode_settings(bss, settings));
    wsc_ref::Object ref_settings;
    std::string why;
    if (!wsc_ref::run(
            "settings",
            {{"ssid", bss.ssid}, {"key", bss.network_key}, {"mac", to_hex(mac.data(), 6)}},
            {{"auth_type", bss.auth_type}, {"encr_type", bss.encr_type}, {"map_ext", bss.map_ext}},
            ref_settings, &why))
        GTEST_SKIP() << why;
    EXPECT_EQ(to_hex(settings), ref_settings.strings["settings"]);

    auto enrollee = WscDhKey::from_private(epriv.data(), epriv.size());
    auto registrar = WscDhKey::from_private(rpriv.data(), rpriv.size());
    ASSERT_TRUE(enrollee && registrar);
    const std::vector<uint8_t> m1 = from_hex("104a000110102200010412345678");
    const std::vector<uint8_t> m2 = from_hex("104a00011010220001059abcdef0");

    wsc_ref::Object ref;
    ASSERT_TRUE(wsc_ref::run("derive",
                             {{"enrollee_priv", v.enrollee_priv},
                              {"registrar_priv", v.registrar_priv},
                              {"enrollee_nonce", to_hex(n1)},
                              {"registrar_nonce", to_hex(n2)},
                              {"enrollee_mac", to_hex(mac.data(), 6)},
                              {"iv", to_hex(iv)},
                              {"settings", to_hex(settings)},
                              {"m1", to_hex(m1)},
                              {"m2_unauthenticated", to_hex(m2)}},
                             {}, ref, &why))
        << why;
    EXPECT_EQ(to_hex(enrollee->public_key(), kWscPublicKeyLen), ref.strings["enrollee_public"]);
    EXPECT_EQ(to_hex(registrar->public_key(), kWscPublicKeyLen), ref.strings["registrar_public"]);

    // Both sides reach the same secret, the reference's.
    uint8_t s1[kWscPublicKeyLen], s2[kWscPublicKeyLen];
    ASSERT_TRUE(enrollee->shared_secret(registrar->public_key(), s1));
    ASSERT_TRUE(registrar->shared_secret(enrollee->public_key(), s2));
    EXPECT_EQ(to_hex(s1, sizeof s1), ref.strings["shared_secret"]);
    EXPECT_EQ(to_hex(s2, sizeof s2), ref.strings["shared_secret"]);

    WscSessionKeys keys;
    ASSERT_TRUE(wsc_derive_keys(s1, n1.data(), mac, n2.data(), keys));
    EXPECT_EQ(to_hex(keys.auth_key, kWscAuthKeyLen), ref.strings["auth_key"]);
    EXPECT_EQ(to_hex(keys.key_wrap_key, kWscKeyWrapKeyLen), ref.strings["key_wrap_key"]);
    EXPECT_EQ(to_hex(keys.emsk, kWscEmskLen), ref.strings["emsk"]);

    std::vector<uint8_t> encrypted;
    ASSERT_TRUE(wsc_encrypt_settings(keys, settings, iv.data(), encrypted));
    EXPECT_EQ(to_hex(encrypted), ref.strings["encrypted_settings"]);

    uint8_t auth[kWscAuthenticatorLen];
    ASSERT_TRUE(wsc_authenticator(keys, m1.data(), m1.size(), m2.data(), m2.size(), auth));
    EXPECT_EQ(to_hex(auth, sizeof auth), ref.strings["authenticator"]);

    // And back: the reference's ciphertext opens to our settings.
    std::vector<uint8_t> plain;
    const std::vector<uint8_t> theirs = from_hex(ref.strings["encrypted_settings"]);
    ASSERT_TRUE(wsc_decrypt_settings(keys, theirs.data(), theirs.size(), plain, &why)) << why;
    EXPECT_EQ(plain, settings);
}

TEST(WscKnownAnswers, SessionKeysSettingsAndAuthenticatorMatchTheReference) {
    check_against_reference({"3f1c0de7a9b2c4e6f80113355779bbdd02468ace13579bdf0fedcba987654321",
                             "6a09e667f3bcc908b2fb1366ea957d3e3adec17512775099da2f590b0667322a"});
}

TEST(WscKnownAnswers, SharedSecretWithLeadingZeroBytesIsPaddedTo192Bytes) {
    // Find a registrar value whose secret with this enrollee starts with a
    // zero byte: only a padded secret hashes to the reference's DHKey.
    const std::vector<uint8_t> epriv = from_hex("0badc0ffee0ddf00d15ea5e0b0a710ad");
    auto enrollee = WscDhKey::from_private(epriv.data(), epriv.size());
    ASSERT_TRUE(enrollee);
    std::string found;
    for (unsigned k = 2; k < 20000 && found.empty(); ++k) {
        const uint8_t priv[2] = {static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)};
        auto r = WscDhKey::from_private(priv, 2);
        ASSERT_TRUE(r);
        uint8_t s[kWscPublicKeyLen];
        ASSERT_TRUE(enrollee->shared_secret(r->public_key(), s));
        if (s[0] == 0)
            found = to_hex(priv, 2);
    }
    ASSERT_FALSE(found.empty());
    check_against_reference({to_hex(epriv), found});
}

TEST(WscDh, FreshKeyPairsAgreeAndHostilePublicValuesAreRefused) {
    auto a = WscDhKey::generate();
    auto b = WscDhKey::generate();
    ASSERT_TRUE(a && b);
    EXPECT_NE(std::memcmp(a->public_key(), b->public_key(), kWscPublicKeyLen), 0);
    uint8_t s1[kWscPublicKeyLen], s2[kWscPublicKeyLen];
    ASSERT_TRUE(a->shared_secret(b->public_key(), s1));
    ASSERT_TRUE(b->shared_secret(a->public_key(), s2));
    EXPECT_EQ(std::memcmp(s1, s2, sizeof s1), 0);

    const std::vector<uint8_t> p = from_hex(kPrimeHex);
    ASSERT_EQ(p.size(), kWscPublicKeyLen);
    auto minus = [&](uint8_t d) {
        std::vector<uint8_t> v = p;
        v.back() = static_cast<uint8_t>(v.back() - d);  // the prime ends in 0xFF
        return v;
    };
    std::vector<uint8_t> zero(kWscPublicKeyLen, 0), one = zero, ones(kWscPublicKeyLen, 0xFF);
    one.back() = 1;
    const struct {
        const char* what;
        std::vector<uint8_t> value;
    } bad[] = {{"zero", zero},
               {"one", one},
               {"p - 1", minus(1)},
               {"p - 2: in range, outside the prime-order subgroup", minus(2)},
               {"p", p},
               {"all ones", ones}};
    for (const auto& x : bad) {
        uint8_t out[kWscPublicKeyLen];
        std::memset(out, 0xAA, sizeof out);
        EXPECT_FALSE(a->shared_secret(x.value.data(), out)) << x.what;
        EXPECT_EQ(out[0], 0) << x.what << ": a refused secret is wiped";
    }
    EXPECT_FALSE(WscDhKey::from_private(zero.data(), zero.size()));
    EXPECT_FALSE(WscDhKey::from_private(p.data(), p.size()));
}

TEST(WscEncryptedSettings, AlteredOrForeignCiphertextNeverOpens) {
    uint8_t secret[kWscPublicKeyLen] = {1, 2, 3};
    uint8_t n1[kWscNonceLen] = {4}, n2[kWscNonceLen] = {5};
    WscSessionKeys keys, other;
    ASSERT_TRUE(wsc_derive_keys(secret, n1, MAC(), n2, keys));
    ASSERT_TRUE(wsc_derive_keys(secret, n2, MAC(), n1, other));
    std::vector<uint8_t> settings = {0x10, 0x45, 0x00, 0x02, 'h', 'i'};
    uint8_t iv[kWscIvLen] = {9};
    std::vector<uint8_t> enc, plain;
    ASSERT_TRUE(wsc_encrypt_settings(keys, settings, iv, enc));
    ASSERT_EQ(enc.size(), kWscIvLen + 32u);  // 6 + 12 bytes padded to two blocks
    std::string why;
    ASSERT_TRUE(wsc_decrypt_settings(keys, enc.data(), enc.size(), plain, &why)) << why;
    EXPECT_EQ(plain, settings);

    // Every single flipped bit, in the IV or the ciphertext, is caught.
    for (size_t i = 0; i < enc.size(); ++i) {
        std::vector<uint8_t> bad = enc;
        bad[i] ^= 0x01;
        EXPECT_FALSE(wsc_decrypt_settings(keys, bad.data(), bad.size(), plain, &why))
            << "byte " << i;
        EXPECT_TRUE(plain.empty());
    }
    EXPECT_FALSE(wsc_decrypt_settings(other, enc.data(), enc.size(), plain, &why));
    EXPECT_FALSE(wsc_decrypt_settings(keys, enc.data(), enc.size() - 1, plain, &why));
    EXPECT_THAT(why, HasSubstr("whole AES blocks"));
    EXPECT_FALSE(wsc_decrypt_settings(keys, enc.data(), kWscIvLen, plain, &why));

    // Same key wrap key, other AuthKey: decrypts, but the KWA gives it away.
    WscSessionKeys forged;
    std::memcpy(forged.key_wrap_key, keys.key_wrap_key, kWscKeyWrapKeyLen);
    EXPECT_FALSE(wsc_decrypt_settings(forged, enc.data(), enc.size(), plain, &why));
    EXPECT_EQ(why, "Key Wrap Authenticator does not match");
}

}  // namespace
