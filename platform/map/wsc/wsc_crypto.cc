#include "map/wsc/wsc_crypto.h"

// Only OpenSSL's bignum arithmetic and its block-level SHA-256 and AES are used: the
// EVP layer would load the default provider, its algorithm tables and a random
// generator on first use, about 330 kB of heap kept for the life of the process for
// a handful of exchanges (BENCHMARKS.md, "Quiet mesh cost"). The block-level
// functions are deprecated in OpenSSL 3 but kept by it; HMAC is RFC 2104 over them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "map/codec/wsc.h"

namespace {

constexpr const char* kKdfLabel = "Wi-Fi Easy and Secure Key Derivation";
constexpr uint32_t kKdfBits = 640;  // AuthKey 256 + KeyWrapKey 128 + EMSK 256
// A fresh private value has 256 random bits: twice the group's strength (about 96 bits),
// as short exponents go for a safe-prime group.
constexpr size_t kPrivateLen = 32;
constexpr size_t kSha256Block = 64;

struct BnDel {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDel>;
struct BnCtxDel {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using BnCtx = std::unique_ptr<BN_CTX, BnCtxDel>;

// OUT = BASE^X mod P, X secret: the constant-time power.
bool group_power(const BIGNUM* base, const BIGNUM* x, const BIGNUM* p, BN_CTX* ctx, BIGNUM* out) {
    return BN_mod_exp_mont_consttime(out, base, x, p, ctx, nullptr) == 1;
}

// SHA-256 of LEN bytes at DATA. The block functions, not the one-shot SHA256(), which in
// OpenSSL 3 goes through the EVP layer.
bool sha256(const uint8_t* data, size_t len, uint8_t out[SHA256_DIGEST_LENGTH]) {
    SHA256_CTX sha;
    const bool ok = SHA256_Init(&sha) == 1 && SHA256_Update(&sha, data, len) == 1 &&
                    SHA256_Final(out, &sha) == 1;
    OPENSSL_cleanse(&sha, sizeof sha);
    return ok;
}

bool to_bytes(const BIGNUM* v, uint8_t out[kWscPublicKeyLen]) {
    return BN_bn2binpad(v, out, static_cast<int>(kWscPublicKeyLen)) ==
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
    while (len > 0) {
        const ssize_t n = getrandom(out, len, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// ---- Diffie-Hellman ------------------------------------------------------------------

WscDhKey::WscDhKey(void* priv) : priv_(priv) {}

WscDhKey::~WscDhKey() {
    BN_clear_free(static_cast<BIGNUM*>(priv_));
}

std::unique_ptr<WscDhKey> WscDhKey::generate() {
    uint8_t x[kPrivateLen];
    std::unique_ptr<WscDhKey> k;
    // A value of 0 or 1 is refused by from_private; drawing one again is all but never.
    for (int tries = 0; !k && tries < 4; ++tries) {
        if (!wsc_random(x, sizeof x))
            break;
        k = from_private(x, sizeof x);
    }
    wsc_wipe(x, sizeof x);
    return k;
}

std::unique_ptr<WscDhKey> WscDhKey::from_private(const uint8_t* priv, size_t len) {
    if (priv == nullptr || len == 0 || len > kWscPublicKeyLen)
        return nullptr;
    Bn x(BN_bin2bn(priv, static_cast<int>(len), nullptr));
    Bn p(BN_get_rfc3526_prime_1536(nullptr));
    Bn g(BN_new());
    Bn y(BN_new());
    BnCtx ctx(BN_CTX_new());
    if (!x || !p || !g || !y || !ctx || BN_is_zero(x.get()) || BN_is_one(x.get()) ||
        BN_cmp(x.get(), p.get()) >= 0 || !BN_set_word(g.get(), 2))
        return nullptr;
    BN_set_flags(x.get(), BN_FLG_CONSTTIME);
    std::unique_ptr<WscDhKey> k(new WscDhKey(x.release()));
    if (!group_power(g.get(), static_cast<BIGNUM*>(k->priv_), p.get(), ctx.get(), y.get()) ||
        !to_bytes(y.get(), k->public_))
        return nullptr;
    return k;
}

bool WscDhKey::shared_secret(const uint8_t* peer_public, uint8_t out[kWscPublicKeyLen]) const {
    if (peer_public == nullptr)
        return false;
    Bn y(BN_bin2bn(peer_public, static_cast<int>(kWscPublicKeyLen), nullptr));
    Bn p(BN_get_rfc3526_prime_1536(nullptr));
    Bn limit(BN_new());  // p - 1
    Bn q(BN_new());      // (p - 1) / 2, the order of the prime-order subgroup
    Bn t(BN_new());
    BnCtx ctx(BN_CTX_new());
    // The peer's value is checked before it is used: 2 <= y <= p - 2, and y^q = 1 (it lies
    // in the prime-order subgroup). The check works on public values only.
    bool ok = y && p && limit && q && t && ctx && BN_copy(limit.get(), p.get()) &&
              BN_sub_word(limit.get(), 1) && BN_rshift1(q.get(), limit.get()) &&
              BN_cmp(y.get(), BN_value_one()) > 0 && BN_cmp(y.get(), limit.get()) < 0 &&
              BN_mod_exp(t.get(), y.get(), q.get(), p.get(), ctx.get()) == 1 && BN_is_one(t.get());
    // The secret itself, refused when it is 1 or p - 1 (cannot happen for a checked value).
    ok = ok &&
         group_power(y.get(), static_cast<const BIGNUM*>(priv_), p.get(), ctx.get(), t.get()) &&
         !BN_is_one(t.get()) && BN_cmp(t.get(), limit.get()) != 0 && to_bytes(t.get(), out);
    if (!ok)
        wsc_wipe(out, kWscPublicKeyLen);
    return ok;
}

// ---- key derivation ------------------------------------------------------------------

WscSessionKeys::~WscSessionKeys() {
    wsc_wipe(auth_key, sizeof auth_key);
    wsc_wipe(key_wrap_key, sizeof key_wrap_key);
    wsc_wipe(emsk, sizeof emsk);
}

bool wsc_hmac_sha256(const uint8_t* key, size_t key_len, const std::vector<WscBytes>& parts,
                     uint8_t out[32]) {
    // HMAC (RFC 2104): H(K ^ opad | H(K ^ ipad | text)), a key longer than a block hashed.
    uint8_t k[kSha256Block] = {};
    uint8_t pad[kSha256Block];
    uint8_t inner[SHA256_DIGEST_LENGTH];
    SHA256_CTX sha;
    bool ok = true;
    if (key_len > kSha256Block)
        ok = sha256(key, key_len, k);
    else if (key_len > 0)
        std::memcpy(k, key, key_len);
    for (size_t i = 0; i < kSha256Block; ++i)
        pad[i] = static_cast<uint8_t>(k[i] ^ 0x36);
    ok = ok && SHA256_Init(&sha) == 1 && SHA256_Update(&sha, pad, sizeof pad) == 1;
    for (const WscBytes& part : parts)
        ok = ok && SHA256_Update(&sha, part.data, part.len) == 1;
    ok = ok && SHA256_Final(inner, &sha) == 1;
    for (size_t i = 0; i < kSha256Block; ++i)
        pad[i] = static_cast<uint8_t>(k[i] ^ 0x5c);
    ok = ok && SHA256_Init(&sha) == 1 && SHA256_Update(&sha, pad, sizeof pad) == 1 &&
         SHA256_Update(&sha, inner, sizeof inner) == 1 && SHA256_Final(out, &sha) == 1;
    wsc_wipe(k, sizeof k);
    wsc_wipe(pad, sizeof pad);
    wsc_wipe(inner, sizeof inner);
    wsc_wipe(&sha, sizeof sha);
    return ok;
}

bool wsc_derive_keys(const uint8_t dh_secret[kWscPublicKeyLen],
                     const uint8_t enrollee_nonce[kWscNonceLen], const MAC& enrollee_mac,
                     const uint8_t registrar_nonce[kWscNonceLen], WscSessionKeys& out) {
    uint8_t dhkey[32];
    uint8_t kdk[32];
    uint8_t stream[96];  // three HMAC blocks, 80 bytes used
    bool ok = sha256(dh_secret, kWscPublicKeyLen, dhkey) &&
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
    const size_t kwa_end = settings.size() + 4 + kWscAuthenticatorLen;
    const size_t pad = AES_BLOCK_SIZE - kwa_end % AES_BLOCK_SIZE;  // PKCS#7: 1 to 16 bytes
    plain.reserve(kwa_end + pad);                                  // no copy left behind
    plain.insert(plain.end(), settings.begin(), settings.end());
    const uint8_t head[4] = {static_cast<uint8_t>(WSC_ATTR_KEY_WRAP_AUTHENTICATOR >> 8),
                             static_cast<uint8_t>(WSC_ATTR_KEY_WRAP_AUTHENTICATOR & 0xFF), 0,
                             static_cast<uint8_t>(kWscAuthenticatorLen)};
    plain.insert(plain.end(), head, head + 4);
    plain.insert(plain.end(), kwa, kwa + kWscAuthenticatorLen);
    plain.insert(plain.end(), pad, static_cast<uint8_t>(pad));
    wsc_wipe(kwa, sizeof kwa);

    AES_KEY key;
    uint8_t chain[kWscIvLen];
    std::memcpy(chain, iv, kWscIvLen);
    const bool ok = AES_set_encrypt_key(keys.key_wrap_key, 128, &key) == 0;
    if (ok) {
        out.assign(iv, iv + kWscIvLen);
        out.resize(kWscIvLen + plain.size());
        AES_cbc_encrypt(plain.data(), out.data() + kWscIvLen, plain.size(), &key, chain,
                        AES_ENCRYPT);
    }
    wsc_wipe(&key, sizeof key);
    wsc_wipe(plain);
    return ok;
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
    std::vector<uint8_t> plain(len - kWscIvLen);
    AES_KEY key;
    uint8_t chain[kWscIvLen];
    std::memcpy(chain, data, kWscIvLen);
    const bool keyed = AES_set_decrypt_key(keys.key_wrap_key, 128, &key) == 0;
    if (keyed)
        AES_cbc_encrypt(data + kWscIvLen, plain.data(), plain.size(), &key, chain, AES_DECRYPT);
    wsc_wipe(&key, sizeof key);
    // PKCS#7: the last byte says how many bytes (1 to 16) of that value end the text.
    const size_t pad = plain.back();
    bool ok = keyed && pad >= 1 && pad <= AES_BLOCK_SIZE;
    for (size_t i = 1; ok && i <= pad; ++i)
        ok = plain[plain.size() - i] == pad;
    if (!ok) {
        wsc_wipe(plain);
        return fail("encrypted settings do not decrypt (bad padding)");
    }
    plain.resize(plain.size() - pad);
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
