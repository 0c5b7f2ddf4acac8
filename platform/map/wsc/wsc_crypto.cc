#include "map/wsc/wsc_crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/dh.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

#include <cstring>

#include "map/codec/wsc.h"

namespace {

constexpr const char* kGroup = "modp_1536";
constexpr const char* kKdfLabel = "Wi-Fi Easy and Secure Key Derivation";
constexpr uint32_t kKdfBits = 640;  // AuthKey 256 + KeyWrapKey 128 + EMSK 256

struct BnDel {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDel>;
struct PkeyDel {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDel>;
struct PkeyCtxDel {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDel>;
struct CipherCtxDel {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDel>;
struct ParamBldDel {
    void operator()(OSSL_PARAM_BLD* b) const { OSSL_PARAM_BLD_free(b); }
};
struct ParamsDel {
    void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};

// A DH key of the group from its public value and, when given, its private one.
Pkey make_key(const BIGNUM* pub, const BIGNUM* priv) {
    std::unique_ptr<OSSL_PARAM_BLD, ParamBldDel> bld(OSSL_PARAM_BLD_new());
    if (!bld ||
        !OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, kGroup, 0) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, pub) ||
        (priv && !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv)))
        return nullptr;
    std::unique_ptr<OSSL_PARAM, ParamsDel> params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, priv ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                          params.get()) <= 0)
        return nullptr;
    return Pkey(key);
}

bool public_bytes(EVP_PKEY* key, uint8_t out[kWscPublicKeyLen]) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PUB_KEY, &raw) <= 0)
        return false;
    Bn pub(raw);
    return BN_bn2binpad(pub.get(), out, static_cast<int>(kWscPublicKeyLen)) ==
           static_cast<int>(kWscPublicKeyLen);
}

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void wsc_wipe(void* p, size_t len) {
    if (p != nullptr && len != 0)
        OPENSSL_cleanse(p, len);
}

void wsc_wipe(std::vector<uint8_t>& v) {
    wsc_wipe(v.data(), v.size());
    v.clear();
}

void wsc_wipe(std::string& s) {
    wsc_wipe(&s[0], s.size());
    s.clear();
}

bool wsc_random(uint8_t* out, size_t len) {
    return RAND_bytes(out, static_cast<int>(len)) == 1;
}

// ---- Diffie-Hellman ------------------------------------------------------------------

WscDhKey::WscDhKey(void* pkey) : pkey_(pkey) {}

WscDhKey::~WscDhKey() {
    EVP_PKEY_free(static_cast<EVP_PKEY*>(pkey_));  // the private value is cleared
}

std::unique_ptr<WscDhKey> WscDhKey::generate() {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_group_name(ctx.get(), kGroup) <= 0 ||
        EVP_PKEY_keygen(ctx.get(), &key) <= 0)
        return nullptr;
    std::unique_ptr<WscDhKey> k(new WscDhKey(key));
    if (!public_bytes(key, k->public_))
        return nullptr;
    return k;
}

std::unique_ptr<WscDhKey> WscDhKey::from_private(const uint8_t* priv, size_t len) {
    if (priv == nullptr || len == 0 || len > kWscPublicKeyLen)
        return nullptr;
    Bn x(BN_bin2bn(priv, static_cast<int>(len), nullptr));
    Bn p(BN_get_rfc3526_prime_1536(nullptr));
    Bn g(BN_new());
    Bn y(BN_new());
    BN_CTX* bn_ctx = BN_CTX_secure_new();
    bool ok = x && p && g && y && bn_ctx && !BN_is_zero(x.get()) && BN_cmp(x.get(), p.get()) < 0 &&
              BN_set_word(g.get(), 2) &&
              BN_mod_exp_mont_consttime(y.get(), g.get(), x.get(), p.get(), bn_ctx, nullptr);
    BN_CTX_free(bn_ctx);
    if (!ok)
        return nullptr;
    Pkey key = make_key(y.get(), x.get());
    if (!key)
        return nullptr;
    std::unique_ptr<WscDhKey> k(new WscDhKey(key.release()));
    if (!public_bytes(static_cast<EVP_PKEY*>(k->pkey_), k->public_))
        return nullptr;
    return k;
}

bool WscDhKey::shared_secret(const uint8_t* peer_public, uint8_t out[kWscPublicKeyLen]) const {
    if (peer_public == nullptr)
        return false;
    Bn y(BN_bin2bn(peer_public, static_cast<int>(kWscPublicKeyLen), nullptr));
    if (!y)
        return false;
    Pkey peer = make_key(y.get(), nullptr);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, static_cast<EVP_PKEY*>(pkey_), nullptr));
    size_t n = kWscPublicKeyLen;
    // The peer's value is checked (range and subgroup) before it is used.
    if (!peer || !ctx || EVP_PKEY_derive_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_dh_pad(ctx.get(), 1) <= 0 ||
        EVP_PKEY_derive_set_peer_ex(ctx.get(), peer.get(), 1) <= 0 ||
        EVP_PKEY_derive(ctx.get(), out, &n) <= 0 || n != kWscPublicKeyLen) {
        wsc_wipe(out, kWscPublicKeyLen);
        return false;
    }
    return true;
}

// ---- key derivation ------------------------------------------------------------------

WscSessionKeys::~WscSessionKeys() {
    wsc_wipe(auth_key, sizeof auth_key);
    wsc_wipe(key_wrap_key, sizeof key_wrap_key);
    wsc_wipe(emsk, sizeof emsk);
}

bool wsc_hmac_sha256(const uint8_t* key, size_t key_len, const std::vector<WscBytes>& parts,
                     uint8_t out[32]) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    bool ok = ctx && EVP_MAC_init(ctx, key, key_len, params) == 1;
    for (const WscBytes& p : parts)
        ok = ok && EVP_MAC_update(ctx, p.data, p.len) == 1;
    size_t n = 0;
    ok = ok && EVP_MAC_final(ctx, out, &n, 32) == 1 && n == 32;
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    return ok;
}

bool wsc_derive_keys(const uint8_t dh_secret[kWscPublicKeyLen],
                     const uint8_t enrollee_nonce[kWscNonceLen], const MAC& enrollee_mac,
                     const uint8_t registrar_nonce[kWscNonceLen], WscSessionKeys& out) {
    uint8_t dhkey[32];
    uint8_t kdk[32];
    uint8_t stream[96];  // three HMAC blocks, 80 bytes used
    unsigned int dlen = 0;
    bool ok = EVP_Digest(dh_secret, kWscPublicKeyLen, dhkey, &dlen, EVP_sha256(), nullptr) == 1 &&
              dlen == 32 &&
              wsc_hmac_sha256(dhkey, sizeof dhkey,
                              {{enrollee_nonce, kWscNonceLen},
                               {enrollee_mac.data(), 6},
                               {registrar_nonce, kWscNonceLen}},
                              kdk);
    const size_t label_len = std::strlen(kKdfLabel);
    for (uint32_t i = 1; ok && i <= 3; ++i) {
        uint8_t counter[4], bits[4];
        put_be32(counter, i);
        put_be32(bits, kKdfBits);
        ok = wsc_hmac_sha256(
            kdk, sizeof kdk,
            {{counter, 4}, {reinterpret_cast<const uint8_t*>(kKdfLabel), label_len}, {bits, 4}},
            stream + 32 * (i - 1));
    }
    if (ok) {
        std::memcpy(out.auth_key, stream, kWscAuthKeyLen);
        std::memcpy(out.key_wrap_key, stream + kWscAuthKeyLen, kWscKeyWrapKeyLen);
        std::memcpy(out.emsk, stream + kWscAuthKeyLen + kWscKeyWrapKeyLen, kWscEmskLen);
    }
    wsc_wipe(dhkey, sizeof dhkey);
    wsc_wipe(kdk, sizeof kdk);
    wsc_wipe(stream, sizeof stream);
    return ok;
}

bool wsc_authenticator(const WscSessionKeys& keys, const uint8_t* previous, size_t previous_len,
                       const uint8_t* current, size_t current_len,
                       uint8_t out[kWscAuthenticatorLen]) {
    uint8_t full[32];
    bool ok = wsc_hmac_sha256(keys.auth_key, kWscAuthKeyLen,
                              {{previous, previous_len}, {current, current_len}}, full);
    if (ok)
        std::memcpy(out, full, kWscAuthenticatorLen);
    wsc_wipe(full, sizeof full);
    return ok;
}

// ---- Encrypted Settings --------------------------------------------------------------

bool wsc_encrypt_settings(const WscSessionKeys& keys, const std::vector<uint8_t>& settings,
                          const uint8_t iv[kWscIvLen], std::vector<uint8_t>& out) {
    uint8_t kwa[32];
    if (!wsc_hmac_sha256(keys.auth_key, kWscAuthKeyLen, {{settings.data(), settings.size()}}, kwa))
        return false;
    std::vector<uint8_t> plain;
    plain.reserve(settings.size() + 4 + kWscAuthenticatorLen);  // no copy left behind
    plain.insert(plain.end(), settings.begin(), settings.end());
    const uint8_t head[4] = {static_cast<uint8_t>(WSC_ATTR_KEY_WRAP_AUTHENTICATOR >> 8),
                             static_cast<uint8_t>(WSC_ATTR_KEY_WRAP_AUTHENTICATOR & 0xFF), 0,
                             static_cast<uint8_t>(kWscAuthenticatorLen)};
    plain.insert(plain.end(), head, head + 4);
    plain.insert(plain.end(), kwa, kwa + kWscAuthenticatorLen);
    wsc_wipe(kwa, sizeof kwa);

    std::vector<uint8_t> ct(plain.size() + 16);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    int n1 = 0, n2 = 0;
    bool ok =
        ctx &&
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, keys.key_wrap_key, iv) == 1 &&
        EVP_EncryptUpdate(ctx.get(), ct.data(), &n1, plain.data(),
                          static_cast<int>(plain.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx.get(), ct.data() + n1, &n2) == 1;
    wsc_wipe(plain);
    if (!ok)
        return false;
    out.assign(iv, iv + kWscIvLen);
    out.insert(out.end(), ct.begin(), ct.begin() + n1 + n2);
    return true;
}

bool wsc_decrypt_settings(const WscSessionKeys& keys, const uint8_t* data, size_t len,
                          std::vector<uint8_t>& settings, std::string* why) {
    auto fail = [&](const char* text) {
        if (why)
            *why = text;
        wsc_wipe(settings);
        return false;
    };
    settings.clear();
    if (data == nullptr || len < kWscIvLen + 16 || (len - kWscIvLen) % 16 != 0)
        return fail("encrypted settings are not an IV and whole AES blocks");
    std::vector<uint8_t> plain(len - kWscIvLen + 16);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    int n1 = 0, n2 = 0;
    bool ok =
        ctx &&
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, keys.key_wrap_key, data) == 1 &&
        EVP_DecryptUpdate(ctx.get(), plain.data(), &n1, data + kWscIvLen,
                          static_cast<int>(len - kWscIvLen)) == 1;
    ok = ok && EVP_DecryptFinal_ex(ctx.get(), plain.data() + n1, &n2) == 1;
    if (!ok) {
        wsc_wipe(plain);
        return fail("encrypted settings do not decrypt (bad padding)");
    }
    plain.resize(static_cast<size_t>(n1 + n2));
    // The plaintext is an attribute list whose last attribute is the KWA.
    size_t at = 0, kwa_at = SIZE_MAX;
    while (at < plain.size()) {
        if (plain.size() - at < 4)
            break;
        const uint16_t type = static_cast<uint16_t>(plain[at] << 8 | plain[at + 1]);
        const size_t n = static_cast<size_t>(plain[at + 2] << 8 | plain[at + 3]);
        if (plain.size() - at - 4 < n)
            break;
        if (type == WSC_ATTR_KEY_WRAP_AUTHENTICATOR && n == kWscAuthenticatorLen &&
            at + 4 + n == plain.size())
            kwa_at = at;
        at += 4 + n;
    }
    if (at != plain.size()) {
        wsc_wipe(plain);
        return fail("decrypted settings are not a WSC attribute list");
    }
    if (kwa_at == SIZE_MAX) {
        wsc_wipe(plain);
        return fail("decrypted settings do not end with a Key Wrap Authenticator");
    }
    uint8_t kwa[32];
    ok = wsc_hmac_sha256(keys.auth_key, kWscAuthKeyLen, {{plain.data(), kwa_at}}, kwa) &&
         CRYPTO_memcmp(kwa, plain.data() + kwa_at + 4, kWscAuthenticatorLen) == 0;
    wsc_wipe(kwa, sizeof kwa);
    if (!ok) {
        wsc_wipe(plain);
        return fail("Key Wrap Authenticator does not match");
    }
    settings.assign(plain.begin(), plain.begin() + static_cast<long>(kwa_at));
    wsc_wipe(plain);
    return true;
}
