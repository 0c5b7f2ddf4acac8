#!/usr/bin/env python3
"""CMDUs per second on a meshsim segment, by direction and type, from a loopback capture
of its UDP traffic (each datagram carries one Ethernet frame).

    segment_cmdus.py CAPTURE.pcap SECONDS CONTROLLER_MAC...
"""
import struct
import sys


def frames(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        return
    magic = struct.unpack_from("<I", data)[0]
    end = "<" if magic in (0xA1B2C3D4, 0xA1B23C4D) else ">"
    link = struct.unpack_from(end + "I", data, 20)[0]
    off = 24
    while off + 16 <= len(data):
        _, _, incl, _ = struct.unpack_from(end + "IIII", data, off)
        rec = data[off + 16 : off + 16 + incl]
        off += 16 + incl
        base = 14 if link == 1 else 16 if link == 113 else 0
        if len(rec) < base + 20:
            continue
        ihl = (rec[base] & 0x0F) * 4
        yield rec[base + ihl + 8 :]


def main():
    path, seconds, own = sys.argv[1], float(sys.argv[2]), set(sys.argv[3:])
    counts = {}
    for fr in frames(path):
        if len(fr) < 22 or fr[12:14] != b"\x89\x3a":
            continue
        src = ":".join("%02x" % b for b in fr[6:12])
        key = ("tx" if src in own else "rx", struct.unpack_from(">H", fr, 16)[0])
        counts[key] = counts.get(key, 0) + 1
    for d in ("rx", "tx"):
        rows = sorted(((n, t) for (dd, t), n in counts.items() if dd == d), reverse=True)
        total = sum(n for n, _ in rows)
        print("  %s %.1f CMDUs/s: %s" % (d, total / seconds, ", ".join(
            "0x%04x %.1f" % (t, n / seconds) for n, t in rows)))


if __name__ == "__main__":
    main()
