#!/usr/bin/env python3
"""Sync bodies for the tests, to and from text on the command line:
  wire.py wl add 11 remove 12 ...     whitelist changes (op byte, signed 64-bit key)
  wire.py ts LABEL:V1,V2,... ...      training descriptors (status 1)
  wire.py wl-read < body              one "add KEY" / "remove KEY" line per record
  wire.py ts-read < body              one "LABEL:V1,V2,..." line per descriptor
"""
import struct
import sys


def main(argv):
    kind, words = argv[1], argv[2:]
    if kind == "wl":
        ops = {"add": 1, "remove": 0}
        out = b"".join(struct.pack("<Bq", ops[op], int(key))
                       for op, key in zip(words[::2], words[1::2]))
        sys.stdout.buffer.write(out)
    elif kind == "ts":
        out = b""
        for word in words:
            label, values = word.split(":")
            values = [int(v) for v in values.split(",")]
            out += struct.pack("<IiI", int(label), 1, len(values))
            out += struct.pack("<%dq" % len(values), *values)
        sys.stdout.buffer.write(out)
    elif kind == "wl-read":
        data = sys.stdin.buffer.read()
        for at in range(0, len(data) - len(data) % 9, 9):
            op, key = struct.unpack_from("<Bq", data, at)
            print("add" if op == 1 else "remove", key)
    elif kind == "ts-read":
        data = sys.stdin.buffer.read()
        at = 0
        while at + 12 <= len(data):
            label, _status, count = struct.unpack_from("<IiI", data, at)
            values = struct.unpack_from("<%dq" % count, data, at + 12)
            print("%d:%s" % (label, ",".join(str(v) for v in values)))
            at += 12 + 8 * count
    else:
        sys.exit("unknown kind " + kind)


if __name__ == "__main__":
    main(sys.argv)
