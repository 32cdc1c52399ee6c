#!/usr/bin/env python3
"""Writes examples/IMG_0042.png: a 96x64 gradient with a red square."""
import struct
import sys
import zlib

w, h = 96, 64
rows = []
for y in range(h):
    row = bytearray([0])
    for x in range(w):
        r, g, b = (x * 255 // w, y * 255 // h, 160)
        if 10 <= x < 30 and 10 <= y < 30:
            r, g, b = 230, 30, 30
        row += bytes((r, g, b))
    rows.append(bytes(row))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)


png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
out = sys.argv[1] if len(sys.argv) > 1 else "examples/IMG_0042.png"
open(out, "wb").write(png)
