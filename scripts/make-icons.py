#!/usr/bin/env python3
"""Draws imgsmith's flat icons: one white symbol on a coloured rounded
square. Each icon is a list of shapes, written both as SVG (the source a
designer edits) and as PNG (what the program loads from its resources),
rasterised here with 4x4 supersampling so that no image library is needed.

Usage: make-icons.py <output directory>
"""
import math
import os
import struct
import sys
import zlib

SIZE = 96
WHITE = (255, 255, 255)


def hexrgb(h):
    return tuple(int(h[i:i + 2], 16) for i in (1, 3, 5))


# --- shapes: each knows whether a point lies inside and how to say it in SVG

class RoundRect:
    def __init__(self, x, y, w, h, r, color):
        self.x, self.y, self.w, self.h, self.r, self.color = x, y, w, h, r, color

    def inside(self, px, py):
        if not (self.x <= px <= self.x + self.w and self.y <= py <= self.y + self.h):
            return False
        cx = min(max(px, self.x + self.r), self.x + self.w - self.r)
        cy = min(max(py, self.y + self.r), self.y + self.h - self.r)
        return (px - cx) ** 2 + (py - cy) ** 2 <= self.r ** 2

    def svg(self):
        return '<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>' % (
            self.x, self.y, self.w, self.h, self.r, svgcolor(self.color))


class Circle:
    def __init__(self, cx, cy, r, color):
        self.cx, self.cy, self.r, self.color = cx, cy, r, color

    def inside(self, px, py):
        return (px - self.cx) ** 2 + (py - self.cy) ** 2 <= self.r ** 2

    def svg(self):
        return '<circle cx="%g" cy="%g" r="%g" fill="%s"/>' % (self.cx, self.cy, self.r, svgcolor(self.color))


class Ring:
    def __init__(self, cx, cy, r, width, color):
        self.cx, self.cy, self.r, self.wd, self.color = cx, cy, r, width, color

    def inside(self, px, py):
        d = math.hypot(px - self.cx, py - self.cy)
        return abs(d - self.r) <= self.wd / 2

    def svg(self):
        return '<circle cx="%g" cy="%g" r="%g" fill="none" stroke="%s" stroke-width="%g"/>' % (
            self.cx, self.cy, self.r, svgcolor(self.color), self.wd)


class Stroke:
    """A polyline of the given width with round caps and joins."""

    def __init__(self, points, width, color):
        self.points, self.wd, self.color = points, width, color

    def inside(self, px, py):
        r2 = (self.wd / 2) ** 2
        for (x1, y1), (x2, y2) in zip(self.points, self.points[1:]):
            dx, dy = x2 - x1, y2 - y1
            t = 0.0 if dx == dy == 0 else max(0.0, min(1.0, ((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy)))
            if (px - x1 - t * dx) ** 2 + (py - y1 - t * dy) ** 2 <= r2:
                return True
        return False

    def svg(self):
        pts = " ".join("%g,%g" % p for p in self.points)
        return ('<polyline points="%s" fill="none" stroke="%s" stroke-width="%g" '
                'stroke-linecap="round" stroke-linejoin="round"/>' % (pts, svgcolor(self.color), self.wd))


class Polygon:
    def __init__(self, points, color):
        self.points, self.color = points, color

    def inside(self, px, py):
        inside = False
        pts = self.points
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        return inside

    def svg(self):
        return '<polygon points="%s" fill="%s"/>' % (" ".join("%g,%g" % p for p in self.points), svgcolor(self.color))


def svgcolor(c):
    return "#%02X%02X%02X" % c


# --- icons ------------------------------------------------------------------

def tile(color):
    return [RoundRect(2, 2, SIZE - 4, SIZE - 4, 20, hexrgb(color))]


W = 9  # stroke width of the symbols


def arc(cx, cy, r, start, end, steps=24):
    """Points of a circular arc, angles in degrees clockwise from east (y down)."""
    return [(cx + r * math.cos(math.radians(start + (end - start) * i / steps)),
             cy + r * math.sin(math.radians(start + (end - start) * i / steps))) for i in range(steps + 1)]


def letter_icon(color, strokes):
    return tile(color) + [Stroke(p, W, WHITE) for p in strokes]


def icons():
    bg = {}
    # Operating systems: a monogram or a plain symbol each, never a maker's mark.
    bg["androidos.png"] = letter_icon("#2E7D32", [[(30, 70), (48, 26), (66, 70)], [(37, 55), (59, 55)]])
    bg["ubuntuos.png"] = letter_icon("#C2521B", [[(32, 28), (32, 54), (36, 66), (48, 71), (60, 66), (64, 54), (64, 28)]])
    bg["debianos.png"] = letter_icon("#A3123A", [[(34, 27), (34, 69)], [(34, 27), (48, 27), (60, 33), (65, 48), (60, 63), (48, 69), (34, 69)]])
    bg["linuxos.png"] = letter_icon("#1F2328", [[(27, 34), (42, 48), (27, 62)], [(50, 66), (69, 66)]])
    bg["lxde.png"] = tile("#1769AA") + [RoundRect(22, 24, 52, 36, 5, WHITE), RoundRect(28, 30, 40, 24, 2, hexrgb("#1769AA")),
                                        Stroke([(48, 62), (48, 70)], W, WHITE), Stroke([(34, 72), (62, 72)], W, WHITE)]
    # A fan of two arcs above a dot.
    bg["openwrt.png"] = tile("#00497A") + [Stroke(arc(48, 68, 36, 225, 315), 8, WHITE),
                                          Stroke(arc(48, 68, 22, 225, 315), 8, WHITE), Circle(48, 66, 7, WHITE)]
    bg["openmediavault.png"] = letter_icon("#3A6EA5", [[(26, 70), (26, 28), (48, 52), (70, 28), (70, 70)]])
    bg["proxmox.png"] = letter_icon("#B85C00", [[(30, 30), (66, 66)], [(66, 30), (30, 66)]])
    bg["openharmony.png"] = letter_icon("#0A59F7", [[(32, 28), (32, 68)], [(64, 28), (64, 68)], [(32, 48), (64, 48)]])
    bg["rocknix.png"] = letter_icon("#6A1B9A", [[(34, 70), (34, 27), (52, 27), (61, 33), (61, 43), (52, 49), (34, 49)], [(50, 49), (63, 70)]])
    bg["alpine.png"] = tile("#0D597F") + [Polygon([(16, 70), (40, 32), (56, 56), (64, 46), (80, 70)], WHITE)]
    bg["buildroot.png"] = tile("#5D4037") + [RoundRect(24, 48, 22, 22, 3, WHITE), RoundRect(50, 48, 22, 22, 3, WHITE),
                                            RoundRect(37, 22, 22, 22, 3, WHITE)]
    # A raw disk image and a back-up: a drive with its activity light.
    disk = [RoundRect(20, 30, 56, 36, 7, WHITE), Stroke([(30, 56), (52, 56)], 5, hexrgb("#59636E")),
            Circle(64, 56, 4, hexrgb("#2E7D32"))]
    bg["backup.png"] = tile("#59636E") + disk
    # Storage kinds of the target choice.
    chip = [RoundRect(28, 28, 40, 40, 5, WHITE)]
    for i in range(3):
        o = 36 + i * 12
        chip += [Stroke([(o, 18), (o, 26)], 5, WHITE), Stroke([(o, 70), (o, 78)], 5, WHITE),
                 Stroke([(18, o), (26, o)], 5, WHITE), Stroke([(70, o), (78, o)], 5, WHITE)]
    bg["devicon-onboardflash.png"] = tile("#1769AA") + chip
    bg["devicon-sd.png"] = tile("#2E7D32") + [Polygon([(30, 20), (58, 20), (68, 30), (68, 76), (30, 76)], WHITE)] + \
        [Stroke([(x, 26), (x, 34)], 4, hexrgb("#2E7D32")) for x in (38, 46, 54)]
    bg["devicon-usb.png"] = tile("#B26A00") + [RoundRect(34, 40, 28, 40, 5, WHITE), RoundRect(38, 18, 20, 22, 2, WHITE),
                                              RoundRect(43, 24, 4, 6, 1, hexrgb("#B26A00")), RoundRect(50, 24, 4, 6, 1, hexrgb("#B26A00"))]
    bg["devicon-ssd.png"] = tile("#1F2328") + [RoundRect(16, 34, 64, 28, 4, WHITE)] + \
        [Stroke([(x, 42), (x, 54)], 4, hexrgb("#1F2328")) for x in (26, 34)] + [Circle(68, 48, 4, hexrgb("#2E7D32"))]
    bg["devicon-null.png"] = tile("#8A939C") + [Ring(48, 48, 22, 8, WHITE), Stroke([(33, 63), (63, 33)], 8, WHITE)]
    # The help picture beside "No image files found": a card and a folder.
    bg["sdcardfiles.png"] = tile("#E3ECF5") + [
        Polygon([(14, 22), (40, 22), (50, 32), (50, 80), (14, 80)], hexrgb("#1769AA")),
        RoundRect(44, 44, 42, 32, 4, hexrgb("#B26A00")), RoundRect(44, 38, 18, 10, 3, hexrgb("#B26A00")),
        Stroke([(54, 60), (76, 60)], 4, WHITE)]
    return bg


# --- output -----------------------------------------------------------------

def render(shapes, size=SIZE, ss=4):
    rows = []
    scale = SIZE / size
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(ss):
                for sx in range(ss):
                    px = (x + (sx + 0.5) / ss) * scale
                    py = (y + (sy + 0.5) / ss) * scale
                    for shape in reversed(shapes):
                        if shape.inside(px, py):
                            c = shape.color
                            acc[0] += c[0]
                            acc[1] += c[1]
                            acc[2] += c[2]
                            acc[3] += 255
                            break
            n = ss * ss
            a = acc[3] // n
            if a:
                # Straight (not premultiplied) alpha: average colour of the
                # covered samples.
                covered = acc[3] // 255
                row += bytes((acc[0] // covered, acc[1] // covered, acc[2] // covered, a))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


def write_png(path, rows, size):
    raw = b"".join(b"\0" + r for r in rows)

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_svg(path, shapes):
    body = "\n  ".join(s.svg() for s in shapes)
    with open(path, "w") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n  %s\n</svg>\n'
                % (SIZE, SIZE, SIZE, SIZE, body))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    for name, shapes in sorted(icons().items()):
        size = 160 if name == "sdcardfiles.png" else SIZE
        write_png(os.path.join(out, name), render(shapes, size), size)
        write_svg(os.path.join(out, name[:-4] + ".svg"), shapes)
        print(name)


if __name__ == "__main__":
    main()
