#!/usr/bin/env python3
"""Writes a small sample payload archive for the demo."""
import struct
import sys

def checksum(data):
    a = s1 = x1 = s2 = x2 = 0
    for b in data:
        a = (a * 233 + b) & 0xFFFFFFFF
        s1 = (s1 + (a & 0xFF)) & 0xFF
        x1 ^= a & 0xFF
        s2 = (s2 + b) & 0xFF
        x2 ^= b
    return struct.pack("<IBBBB", a, s1, x1, s2, x2)

files = [("data1.arc", bytes(range(256)) * 64), ("data2.arc", b"new archive\n")]
records = b"".join(n.encode().ljust(56, b"\0") + checksum(d) for n, d in files)
files.append(("vrx.hvl", b"KPL_____" + struct.pack("<II", 0, 2) + records))
out = b"PackFile    " + struct.pack("<I", len(files))
offset = 0
for name, data in files:
    out += name.encode().ljust(16, b"\0") + struct.pack("<II", offset, len(data)) + bytes(8)
    offset += len(data)
out += b"".join(d for _, d in files)
open(sys.argv[1], "wb").write(out)
