#!/usr/bin/env python3
"""Draws cannon.bmp: a strip of 16 frames of 16 x 16 pixels showing a gun turret from above.

Frame n points the barrel at game angle 128 + 16 n (angle 0 is down, 64 right, 128 up), so
frame 0, the frame the arena shows, points straight up; the frames step round a full turn.
Only the standard library is used and the output is the same byte for byte on every run.

Usage: make_cannon.py [output path]   (default: cannon.bmp beside this script)
"""

import math
import os
import struct
import sys

FRAME = 16
FRAMES = 16
WIDTH = FRAME * FRAMES
HEIGHT = FRAME

BLACK = (0, 0, 0)
BODY = (96, 128, 48)        # olive turret
BODY_EDGE = (56, 80, 28)    # darker rim
HATCH = (140, 170, 80)      # light hatch on top
BARREL = (170, 170, 160)    # steel
MUZZLE = (230, 230, 215)    # bright muzzle tip

CENTRE = 8.0                # the frame's middle, on the line between pixels 7 and 8
BODY_RADIUS = 4.6
BARREL_LENGTH = 7.2
BARREL_HALF_WIDTH = 1.05


def segment_distance(px, py, ax, ay, bx, by):
    """Distance from (px, py) to the segment from (ax, ay) to (bx, by)."""
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def frame_pixel(n, x, y):
    """Colour of pixel (x, y) of frame n."""
    angle = (128 + 16 * n) % 256
    theta = angle * 2.0 * math.pi / 256.0
    # The arena's angles: direction (sin, cos), Y downward.
    dx, dy = math.sin(theta), math.cos(theta)
    cx = cy = CENTRE
    px, py = x + 0.5, y + 0.5
    tip_x, tip_y = cx + dx * BARREL_LENGTH, cy + dy * BARREL_LENGTH
    along = segment_distance(px, py, cx, cy, tip_x, tip_y)
    radius = math.hypot(px - cx, py - cy)
    if along <= BARREL_HALF_WIDTH and radius > 1.6:
        return MUZZLE if radius > BARREL_LENGTH - 1.2 else BARREL
    if radius <= 1.6:
        return HATCH
    if radius <= BODY_RADIUS - 1.0:
        return BODY
    if radius <= BODY_RADIUS:
        return BODY_EDGE
    return BLACK


def bmp_bytes():
    """The whole file: a 24-bit bottom-up Windows bitmap."""
    row_size = (WIDTH * 3 + 3) // 4 * 4
    rows = []
    for y in reversed(range(HEIGHT)):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = frame_pixel(x // FRAME, x % FRAME, y)
            row += bytes((b, g, r))
        row += bytes(row_size - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "cannon.bmp")
    with open(out, "wb") as f:
        f.write(bmp_bytes())


if __name__ == "__main__":
    main()
