#!/usr/bin/env python3
"""Writes skin/html/DeleteFlag.png: the 16x16 mark the HTML pages put in front
of a deleted record (an orange disc with a white bar, the deleted colour
FF6100). Run once; the PNG is kept in the tree."""
import struct, sys, zlib

SIZE = 16
ORANGE = (0xFF, 0x61, 0x00, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF, 0xFF)
CLEAR = (0, 0, 0, 0)


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    if (x - cx) ** 2 + (y - cy) ** 2 > (SIZE / 2 - 0.5) ** 2:
        return CLEAR
    if 3 <= x <= 12 and 7 <= y <= 8:
        return WHITE
    return ORANGE


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


rows = b"".join(b"\x00" + bytes(c for x in range(SIZE) for c in pixel(x, y)) for y in range(SIZE))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
out = sys.argv[1] if len(sys.argv) > 1 else "skin/html/DeleteFlag.png"
with open(out, "wb") as f:
    f.write(png)
