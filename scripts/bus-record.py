#!/usr/bin/env python3
"""Builds a bus record for busctl: prints SIZE and the record's bytes, ready to follow
"ay" on a busctl command line.

    scripts/bus-record.py SIZE [OFFSET:TYPE:VALUE ...]

TYPE is text (NUL-padded; the field's bytes are what you give), u8, i8, u16, i16, u32,
i32 or hex (raw bytes, e.g. hex:0a0b). Numbers are written in the machine's own byte
order, as the daemon reads them. Example (setradiochannel, 5 GHz channel 36 at 80 MHz for
the whole mesh):

    busctl call vexal.ozrd /vexal/ozrd vexal.ozr.application setradiochannel \\
        ay $(scripts/bus-record.py 52 0:text:00:00:00:00:00:00 36:u32:0x80 40:u8:36 44:u32:3)
"""
import struct
import sys

FORMATS = {"u8": "B", "i8": "b", "u16": "H", "i16": "h", "u32": "I", "i32": "i"}


def main(argv):
    if len(argv) < 2 or not argv[1].isdigit():
        sys.stderr.write(__doc__)
        return 2
    size = int(argv[1])
    rec = bytearray(size)
    for field in argv[2:]:
        offset, kind, value = field.split(":", 2)
        offset = int(offset, 0)
        if kind == "text":
            data = value.encode()
        elif kind == "hex":
            data = bytes.fromhex(value)
        elif kind in FORMATS:
            data = struct.pack("=" + FORMATS[kind], int(value, 0))
        else:
            sys.stderr.write("unknown type %s\n" % kind)
            return 2
        if offset + len(data) > size:
            sys.stderr.write("%s does not fit a %d-byte record\n" % (field, size))
            return 2
        rec[offset:offset + len(data)] = data
    print(size, " ".join(str(b) for b in rec))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
