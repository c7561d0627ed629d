#!/usr/bin/env python3
"""Draws the shift icons of the on-screen keyboard (src/ui/keyboard/on.png,
off.png): an upward arrow, filled in the primary colour when shift is on,
outlined in the secondary text colour when off. Plain Python (zlib), so the
icons can be redrawn anywhere; run it after changing the shapes or colours."""
import os
import struct
import zlib

SIZE = 32
SAMPLES = 4  # per axis, for smooth edges

# Arrow outline in a 32 x 32 box, clockwise from the tip.
ARROW = [(16, 3), (29, 16), (21, 16), (21, 29), (11, 29), (11, 16), (3, 16)]


def inside(x, y, poly):
    hit = False
    n = len(poly)
    for i in range(n):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def shrink(poly, d):
    """The outline moved inwards by about d (good enough for this convex-ish arrow)."""
    cx = sum(p[0] for p in poly) / len(poly)
    cy = sum(p[1] for p in poly) / len(poly) + 3
    out = []
    for x, y in poly:
        vx, vy = cx - x, cy - y
        length = (vx * vx + vy * vy) ** 0.5
        out.append((x + vx / length * d * 1.4, y + vy / length * d * 1.4))
    return out


def coverage(x, y, filled):
    inner = shrink(ARROW, 2.2)
    hits = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            px = x + (sx + 0.5) / SAMPLES
            py = y + (sy + 0.5) / SAMPLES
            if inside(px, py, ARROW) and (filled or not inside(px, py, inner)):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def png(path, rgb, filled):
    rows = b""
    for y in range(SIZE):
        row = b"\x00"
        for x in range(SIZE):
            alpha = int(round(255 * coverage(x, y, filled)))
            row += bytes(rgb) + bytes([alpha])
        rows += row

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "keyboard")
    os.makedirs(out, exist_ok=True)
    png(os.path.join(out, "on.png"), (0x17, 0x69, 0xAA), True)
    png(os.path.join(out, "off.png"), (0x59, 0x63, 0x6E), False)
