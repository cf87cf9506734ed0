#!/usr/bin/env python3
"""Draws the chat site's two default avatars, assets/images/contact_20.png and
assets/images/group_20.png: a rounded square with one person (a contact) or
two (a group chat), 40 x 40 pixels so that they stay sharp at 20 CSS pixels
on a high-density screen. Standard library only; run from this folder."""
import struct
import zlib

SIZE = 40
SAMPLES = 4  # per axis, for smooth edges


def rounded_square(x, y, radius):
    cx = min(max(x, radius), SIZE - radius)
    cy = min(max(y, radius), SIZE - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def person(x, y, centre, scale):
    head = (x - centre) ** 2 + (y - 15 * scale - (1 - scale) * 14) ** 2 <= (6.2 * scale) ** 2
    body_top = 24 * scale + (1 - scale) * 16
    shoulders = y >= body_top and ((x - centre) / (11.5 * scale)) ** 2 + ((y - body_top - 9 * scale) / (9 * scale)) ** 2 <= 1
    return head or (shoulders and y <= SIZE - 6)


def draw(background, people):
    rows = []
    for py in range(SIZE):
        row = bytearray([0])
        for px in range(SIZE):
            inside = figure = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    if rounded_square(x, y, 7):
                        inside += 1
                        if any(person(x, y, c, s) for c, s in people):
                            figure += 1
            total = SAMPLES * SAMPLES
            alpha = inside / total
            mix = figure / inside if inside else 0
            colour = [round(b + (255 - b) * mix) for b in background]
            row += bytes(colour + [round(alpha * 255)])
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    with open("assets/images/contact_20.png", "wb") as out:
        out.write(draw((120, 144, 176), [(20, 1.0)]))
    with open("assets/images/group_20.png", "wb") as out:
        out.write(draw((76, 166, 120), [(14.5, 0.78), (25.5, 0.78)]))
