#!/usr/bin/env python3
"""Draws the desktop icon: a turret on a dark field firing a curved trail of bullets.

One list of shapes in a 256-unit square is both written as an SVG and rasterised here, 4 x 4
samples a pixel, into PNGs at the sizes desktops ask for. Only the standard library is used and
the output is the same byte for byte on every run.

Usage: make_icon.py OUTPUT_FOLDER   writes OUTPUT_FOLDER/brakkenfel.svg and OUTPUT_FOLDER/NxN/brakkenfel.png
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
UNIT = 256.0

FIELD = (18, 22, 38)
FIELD_EDGE = (70, 86, 120)
GROUND = (54, 70, 34)
BODY = (96, 128, 48)
BARREL = (170, 170, 160)
BULLET = (245, 245, 235)

# The trail: points of one bullet's path under gravity, from the muzzle up and over to the right.
MUZZLE = (118.0, 112.0)
TRAIL = [(MUZZLE[0] + 18.0 * t, MUZZLE[1] - 30.0 * t + 4.0 * t * t) for t in range(1, 7)]


def shapes():
    """(kind, colour, geometry) in drawing order, in 256-unit coordinates."""
    items = [
        ("rrect", FIELD_EDGE, (8, 8, 248, 248, 40)),
        ("rrect", FIELD, (16, 16, 240, 240, 32)),
        ("rect", GROUND, (16, 188, 240, 206)),
        ("segment", BARREL, (72, 160, MUZZLE[0], MUZZLE[1], 16)),
        ("circle", BODY, (72, 168, 36)),
        ("rect", BODY, (36, 168, 108, 190)),
    ]
    for number, (x, y) in enumerate(TRAIL):
        items.append(("circle", BULLET, (x, y, 11 - number * 0.9)))
    return items


def covers(kind, geometry, x, y):
    """Whether the point (x, y) lies inside the shape."""
    if kind == "rect":
        left, top, right, bottom = geometry
        return left <= x < right and top <= y < bottom
    if kind == "rrect":
        left, top, right, bottom, radius = geometry
        cx = min(max(x, left + radius), right - radius)
        cy = min(max(y, top + radius), bottom - radius)
        return left <= x < right and top <= y < bottom and (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    if kind == "circle":
        cx, cy, radius = geometry
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    if kind == "segment":
        x1, y1, x2, y2, width = geometry
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        return (x - x1 - t * dx) ** 2 + (y - y1 - t * dy) ** 2 <= (width / 2) ** 2
    raise ValueError(kind)


def raster(size):
    """RGBA rows of the icon at size x size pixels; transparent outside the field's edge."""
    items = shapes()
    # Large sizes have pixels far smaller than any shape: fewer samples smooth their edges as well.
    samples = 4 if size <= 64 else 2
    scale = UNIT / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            total = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    colour = None
                    for kind, fill, geometry in items:
                        if covers(kind, geometry, x, y):
                            colour = fill
                    if colour:
                        for channel in range(3):
                            total[channel] += colour[channel]
                        total[3] += 1
            hits = total[3]
            if hits:
                row += bytes(round(total[c] / hits) for c in range(3)) + bytes([round(255 * hits / samples ** 2)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def png(size):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    raw = b"".join(b"\0" + row for row in raster(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def svg():
    def hex_colour(colour):
        return "#%02x%02x%02x" % colour

    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">']
    for kind, fill, g in shapes():
        colour = hex_colour(fill)
        if kind == "rect":
            lines.append('  <rect x="%g" y="%g" width="%g" height="%g" fill="%s"/>' % (g[0], g[1], g[2] - g[0], g[3] - g[1], colour))
        elif kind == "rrect":
            lines.append('  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>'
                         % (g[0], g[1], g[2] - g[0], g[3] - g[1], g[4], colour))
        elif kind == "circle":
            lines.append('  <circle cx="%g" cy="%g" r="%g" fill="%s"/>' % (g[0], g[1], g[2], colour))
        else:
            lines.append('  <line x1="%g" y1="%g" x2="%g" y2="%g" stroke="%s" stroke-width="%g" stroke-linecap="round"/>'
                         % (g[0], g[1], g[2], g[3], colour, g[4]))
    # The raster clips the field to its rounded edge; the SVG's shapes already stay inside it.
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__.split("Usage: ")[1])
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "brakkenfel.svg"), "w", encoding="ascii") as file:
        file.write(svg())
    for size in SIZES:
        folder = os.path.join(out, "%dx%d" % (size, size))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "brakkenfel.png"), "wb") as file:
            file.write(png(size))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
