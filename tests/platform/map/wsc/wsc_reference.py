#!/usr/bin/env python3
"""An independent Wi-Fi Simple Configuration reference for the tests.

Written from the WSC key derivation rules only (Python integers for the
Diffie-Hellman group, hashlib/hmac, AES-CBC from the `cryptography` package),
sharing no code with the C++ under test. Reads one JSON object on stdin and
writes one on stdout; all byte strings are lower-case hex.

  derive   {"enrollee_priv", "registrar_priv", "enrollee_nonce", "registrar_nonce",
            "enrollee_mac", "iv", "settings", "m1", "m2_unauthenticated"}
           -> public keys, shared secret, KDK, AuthKey, KeyWrapKey, EMSK, the Key
              Wrap Authenticator, the Encrypted Settings value and the
              Authenticator over m1 | m2_unauthenticated.
  settings {"ssid", "auth_type", "encr_type", "key", "mac", "map_ext"}
           -> the plaintext settings attribute list.
  open-m2  {"enrollee_priv", "m1", "m2"}
           -> what an enrollee finds in M2: {"ok": true, "ssid", "auth_type",
              "encr_type", "key", "mac", "map_ext", "attributes": [types in order]}
              or {"ok": false, "why"}.

Exit status 77 when the `cryptography` package is missing (the tests skip).
"""
import hashlib
import hmac
import json
import struct
import sys

try:
    from cryptography.hazmat.primitives import padding
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
except ImportError:  # pragma: no cover
    print("python3-cryptography is not installed", file=sys.stderr)
    sys.exit(77)

# RFC 3526, group 5: the 1536-bit MODP prime, generator 2.
P = int(
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD1"
    "29024E088A67CC74020BBEA63B139B22514A08798E3404DD"
    "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245"
    "E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3D"
    "C2007CB8A163BF0598DA48361C55D39A69163FA8FD24CF5F"
    "83655D23DCA3AD961C62F356208552BB9ED529077096966D"
    "670C354E4ABC9804F1746C08CA237327FFFFFFFFFFFFFFFF",
    16,
)
G = 2
LABEL = b"Wi-Fi Easy and Secure Key Derivation"
WFA_OUI = bytes([0x00, 0x37, 0x2A])


def b(h):
    return bytes.fromhex(h)


def attr(t, v):
    return struct.pack(">HH", t, len(v)) + v


def attrs(data):
    out, at = [], 0
    while at < len(data):
        if len(data) - at < 4:
            raise ValueError("truncated attribute header")
        t, n = struct.unpack(">HH", data[at:at + 4])
        if len(data) - at - 4 < n:
            raise ValueError("attribute runs past the end")
        out.append((t, data[at + 4:at + 4 + n]))
        at += 4 + n
    return out


def kdf(key, bits):
    out = b""
    for i in range(1, (bits + 255) // 256 + 1):
        out += hmac.new(key, struct.pack(">I", i) + LABEL + struct.pack(">I", bits),
                        hashlib.sha256).digest()
    return out[:bits // 8]


def session(secret, n1, mac, n2):
    dhkey = hashlib.sha256(secret).digest()
    kdk = hmac.new(dhkey, n1 + mac + n2, hashlib.sha256).digest()
    keys = kdf(kdk, 640)
    return kdk, keys[:32], keys[32:48], keys[48:80]


def encrypt(auth_key, kwk, iv, settings):
    kwa = hmac.new(auth_key, settings, hashlib.sha256).digest()[:8]
    plain = settings + attr(0x101E, kwa)
    padder = padding.PKCS7(128).padder()
    padded = padder.update(plain) + padder.finalize()
    enc = Cipher(algorithms.AES(kwk), modes.CBC(iv)).encryptor()
    return kwa, iv + enc.update(padded) + enc.finalize()


def settings_bytes(r):
    return (attr(0x1045, r["ssid"].encode()) + attr(0x1003, struct.pack(">H", r["auth_type"])) +
            attr(0x100F, struct.pack(">H", r["encr_type"])) + attr(0x1027, r["key"].encode()) +
            attr(0x1020, b(r["mac"])) +
            attr(0x1049, WFA_OUI + bytes([0x06, 1, r["map_ext"]])))


def derive(r):
    a, x = int(r["enrollee_priv"], 16), int(r["registrar_priv"], 16)
    pke, pkr = pow(G, a, P), pow(G, x, P)
    secret = pow(pkr, a, P).to_bytes(192, "big")
    assert secret == pow(pke, x, P).to_bytes(192, "big")
    kdk, auth_key, kwk, emsk = session(secret, b(r["enrollee_nonce"]), b(r["enrollee_mac"]),
                                       b(r["registrar_nonce"]))
    kwa, encrypted = encrypt(auth_key, kwk, b(r["iv"]), b(r["settings"]))
    authenticator = hmac.new(auth_key, b(r["m1"]) + b(r["m2_unauthenticated"]),
                             hashlib.sha256).digest()[:8]
    return {
        "enrollee_public": pke.to_bytes(192, "big").hex(),
        "registrar_public": pkr.to_bytes(192, "big").hex(),
        "shared_secret": secret.hex(),
        "kdk": kdk.hex(),
        "auth_key": auth_key.hex(),
        "key_wrap_key": kwk.hex(),
        "emsk": emsk.hex(),
        "kwa": kwa.hex(),
        "encrypted_settings": encrypted.hex(),
        "authenticator": authenticator.hex(),
    }


def open_m2(r):
    m1, m2 = b(r["m1"]), b(r["m2"])
    a1, a2 = dict(attrs(m1)), attrs(m2)
    d2 = dict(a2)
    if a2[-1][0] != 0x1005 or len(a2[-1][1]) != 8:
        return {"ok": False, "why": "Authenticator is not last"}
    if d2.get(0x1022) != b"\x05":
        return {"ok": False, "why": "not an M2"}
    if d2.get(0x101A) != a1[0x101A]:
        return {"ok": False, "why": "enrollee nonce differs"}
    secret = pow(int.from_bytes(d2[0x1032], "big"), int(r["enrollee_priv"], 16), P)
    _, auth_key, kwk, _ = session(secret.to_bytes(192, "big"), a1[0x101A], a1[0x1020], d2[0x1039])
    want = hmac.new(auth_key, m1 + m2[:-12], hashlib.sha256).digest()[:8]
    if not hmac.compare_digest(want, a2[-1][1]):
        return {"ok": False, "why": "Authenticator mismatch"}
    es = d2[0x1018]
    dec = Cipher(algorithms.AES(kwk), modes.CBC(es[:16])).decryptor()
    padded = dec.update(es[16:]) + dec.finalize()
    unpadder = padding.PKCS7(128).unpadder()
    plain = unpadder.update(padded) + unpadder.finalize()
    inner = attrs(plain)
    if inner[-1][0] != 0x101E:
        return {"ok": False, "why": "no Key Wrap Authenticator"}
    kwa = hmac.new(auth_key, plain[:-12], hashlib.sha256).digest()[:8]
    if not hmac.compare_digest(kwa, inner[-1][1]):
        return {"ok": False, "why": "Key Wrap Authenticator mismatch"}
    s = dict(inner)
    ext = s[0x1049]
    if ext[:3] != WFA_OUI or ext[3] != 0x06 or ext[4] != 1:
        return {"ok": False, "why": "no Multi-AP Extension subelement"}
    return {
        "ok": True,
        "ssid": s[0x1045].decode(),
        "auth_type": struct.unpack(">H", s[0x1003])[0],
        "encr_type": struct.unpack(">H", s[0x100F])[0],
        "key": s[0x1027].decode(),
        "mac": s[0x1020].hex(),
        "map_ext": ext[5],
        "attributes": [t for t, _ in a2],
    }


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    request = json.load(sys.stdin)
    if mode == "derive":
        out = derive(request)
    elif mode == "settings":
        out = {"settings": settings_bytes(request).hex()}
    elif mode == "open-m2":
        out = open_m2(request)
    else:
        print("usage: wsc_reference.py derive|settings|open-m2 < request.json", file=sys.stderr)
        return 2
    json.dump(out, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
