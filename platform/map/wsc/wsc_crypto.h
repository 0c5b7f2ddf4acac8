// The cryptography of a Wi-Fi Simple Configuration exchange, on OpenSSL's bignums,
// SHA-256 and AES (not its EVP layer) and the kernel's random generator:
// Diffie-Hellman in the 1536-bit MODP group, the session keys (KDK, AuthKey,
// KeyWrapKey, EMSK) derived with HMAC-SHA-256, the Authenticator over the
// previous and current messages, and Encrypted Settings (AES-128-CBC behind a
// Key Wrap Authenticator). Used by the controller's registrar and by the
// simulator's enrollees. Every secret buffer is wiped when it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"

constexpr size_t kWscPublicKeyLen = 192;  // 1536 bits, big-endian, zero-padded
constexpr size_t kWscNonceLen = 16;
constexpr size_t kWscAuthKeyLen = 32;
constexpr size_t kWscKeyWrapKeyLen = 16;
constexpr size_t kWscEmskLen = 32;
constexpr size_t kWscAuthenticatorLen = 8;
constexpr size_t kWscIvLen = 16;

// Overwrites LEN bytes at P in a way the compiler keeps (OPENSSL_cleanse).
void wsc_wipe(void* p, size_t len);
void wsc_wipe(std::vector<uint8_t>& v);
void wsc_wipe(std::string& s);
// LEN bytes from the kernel's generator (getrandom). False when it failed.
bool wsc_random(uint8_t* out, size_t len);

// One Diffie-Hellman key pair of the 1536-bit MODP group (generator 2).
class WscDhKey {
  public:
    // A fresh key pair (a 256-bit random private value); null when that fails.
    static std::unique_ptr<WscDhKey> generate();
    // The key pair of a given private value (big-endian, 1..192 bytes; the
    // known-answer tests use it). Null for 0, 1 or a value of p or more.
    static std::unique_ptr<WscDhKey> from_private(const uint8_t* priv, size_t len);
    ~WscDhKey();
    WscDhKey(const WscDhKey&) = delete;
    WscDhKey& operator=(const WscDhKey&) = delete;

    // The public value, 192 bytes big-endian.
    const uint8_t* public_key() const { return public_; }
    // g^(ab) mod p with the peer's 192-byte public value, zero-padded to 192
    // bytes. False when the peer's value is not a valid group element (0, 1,
    // p-1, >= p, outside the prime-order subgroup) or OpenSSL fails.
    bool shared_secret(const uint8_t* peer_public, uint8_t out[kWscPublicKeyLen]) const;

  private:
    explicit WscDhKey(void* priv);
    void* priv_;  // BIGNUM: the private value
    uint8_t public_[kWscPublicKeyLen] = {};
};

// AuthKey, KeyWrapKey and EMSK of one exchange; wiped on destruction.
struct WscSessionKeys {
    uint8_t auth_key[kWscAuthKeyLen] = {};
    uint8_t key_wrap_key[kWscKeyWrapKeyLen] = {};
    uint8_t emsk[kWscEmskLen] = {};
    WscSessionKeys() = default;
    ~WscSessionKeys();
    WscSessionKeys(const WscSessionKeys&) = delete;
    WscSessionKeys& operator=(const WscSessionKeys&) = delete;
};

// DHKey = SHA-256(shared secret), KDK = HMAC-SHA-256(DHKey, N1 | enrollee MAC
// | N2), then the 640-bit key derivation function over KDK with the label
// "Wi-Fi Easy and Secure Key Derivation" cut into AuthKey | KeyWrapKey |
// EMSK. False when OpenSSL fails.
bool wsc_derive_keys(const uint8_t dh_secret[kWscPublicKeyLen],
                     const uint8_t enrollee_nonce[kWscNonceLen], const MAC& enrollee_mac,
                     const uint8_t registrar_nonce[kWscNonceLen], WscSessionKeys& out);

// HMAC-SHA-256 over the concatenation of PARTS. False when OpenSSL fails.
struct WscBytes {
    const uint8_t* data;
    size_t len;
};
bool wsc_hmac_sha256(const uint8_t* key, size_t key_len, const std::vector<WscBytes>& parts,
                     uint8_t out[32]);

// The first 64 bits of HMAC-SHA-256(AuthKey, PREVIOUS | CURRENT), CURRENT
// being the message without its Authenticator attribute.
bool wsc_authenticator(const WscSessionKeys& keys, const uint8_t* previous, size_t previous_len,
                       const uint8_t* current, size_t current_len,
                       uint8_t out[kWscAuthenticatorLen]);

// The value of an Encrypted Settings attribute: IV | AES-128-CBC(KeyWrapKey,
// SETTINGS | Key Wrap Authenticator attribute), PKCS#7 padding. SETTINGS is a
// WSC attribute list. False when OpenSSL fails.
bool wsc_encrypt_settings(const WscSessionKeys& keys, const std::vector<uint8_t>& settings,
                          const uint8_t iv[kWscIvLen], std::vector<uint8_t>& out);
// The inverse: decrypts, checks the padding, that the plaintext is an
// attribute list ending with a Key Wrap Authenticator and that it matches.
// SETTINGS gets the attributes before it. False with WHY set otherwise.
bool wsc_decrypt_settings(const WscSessionKeys& keys, const uint8_t* data, size_t len,
                          std::vector<uint8_t>& settings, std::string* why);
