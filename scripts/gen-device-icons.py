#!/usr/bin/env python3
"""Draws the device kind icons of the install screens (src/ui/installscreens/
devicon-*.png): a white glyph on a rounded square in the primary colour
(grey for "no device"). Plain Python (zlib); run it after changing a shape."""
import os
import struct
import zlib

SIZE = 48
SAMPLES = 4
PRIMARY = (0x17, 0x69, 0xAA)
GREY = (0x59, 0x63, 0x6E)


def rounded(x, y, x0, y0, x1, y1, r):
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polygon(x, y, poly):
    hit = False
    for i in range(len(poly)):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % len(poly)]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def ring_with_slash(x, y):
    d = ((x - 24) ** 2 + (y - 24) ** 2) ** 0.5
    slash = abs((x - 24) + (y - 24)) <= 2.2 and d <= 11
    return 9 <= d <= 13 or slash


GLYPHS = {
    # onboard storage: a chip with a hollow core
    "onboardflash": lambda x, y: rounded(x, y, 12, 12, 36, 36, 3) and not rounded(x, y, 18, 18, 30, 30, 1),
    # SD card: a card with a cut corner
    "sd": lambda x, y: polygon(x, y, [(17, 9), (33, 9), (33, 39), (15, 39), (15, 13)]),
    # USB stick: plug and body
    "usb": lambda x, y: rounded(x, y, 19, 8, 29, 18, 1) or rounded(x, y, 15, 18, 33, 40, 3),
    # M.2 drive: a long board with a notch
    "ssd": lambda x, y: rounded(x, y, 8, 17, 40, 31, 2) and not rounded(x, y, 34, 21, 37, 27, 1),
    "null": ring_with_slash,
}


def pixel(name, px, py):
    back = GREY if name == "null" else PRIMARY
    inside_bg = inside_glyph = 0
    for sx in range(SAMPLES):
        for sy in range(SAMPLES):
            x = px + (sx + 0.5) / SAMPLES
            y = py + (sy + 0.5) / SAMPLES
            if rounded(x, y, 2, 2, 46, 46, 9):
                inside_bg += 1
                if GLYPHS[name](x, y):
                    inside_glyph += 1
    n = SAMPLES * SAMPLES
    if not inside_bg:
        return (0, 0, 0, 0)
    g = inside_glyph / inside_bg
    rgb = tuple(round(c * (1 - g) + 255 * g) for c in back)
    return rgb + (round(255 * inside_bg / n),)


def png(path, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "installscreens")
for name in GLYPHS:
    png(os.path.join(out, "devicon-%s.png" % name), [[pixel(name, x, y) for x in range(SIZE)] for y in range(SIZE)])
