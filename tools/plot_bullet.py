#!/usr/bin/env python3
"""Draws one bullet's path from a Brakkenfel trace as a PNG (standard library only).

Usage: tools/plot_bullet.py TRACE.jsonl OUT.png [--slot N] [--from-move M]

The bullet is the one in slot N (default 0) that is in flight at move M (default: the first move
with a bullet in that slot); its path is followed until the slot empties or is refilled.
"""
import argparse
import json
import struct
import sys
import zlib

WIDTH, HEIGHT, SCALE = 373, 285, 2


def follow(trace_path, slot, from_move):
    """The (x, y) points of one bullet, move by move."""
    points, last_vy = [], None
    with open(trace_path) as trace:
        for line in trace:
            move = json.loads(line)
            if move["move"] < from_move:
                continue
            bullet = next((b for b in move["bullets"] if b["slot"] == slot), None)
            if bullet is None:
                if points:
                    break
                continue
            # A slot refilled by a new shot starts again near a gun: its speed jumps back.
            if points and last_vy is not None and abs(bullet["vy"] - last_vy) > 0.5:
                break
            points.append((bullet["x"], bullet["y"]))
            last_vy = bullet["vy"]
    return points


def write_png(path, pixels, width, height):
    raw = b"".join(b"\x00" + bytes(pixels[y * width * 3:(y + 1) * width * 3]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description="Draw one bullet's path from a trace as a PNG.")
    parser.add_argument("trace")
    parser.add_argument("png")
    parser.add_argument("--slot", type=int, default=0)
    parser.add_argument("--from-move", type=int, default=1)
    args = parser.parse_args()

    points = follow(args.trace, args.slot, args.from_move)
    if not points:
        sys.exit(f"no bullet in slot {args.slot} from move {args.from_move}")
    width, height = WIDTH * SCALE, HEIGHT * SCALE
    pixels = bytearray(b"\x10\x10\x18" * (width * height))

    def plot(x, y, colour):
        if 0 <= x < width and 0 <= y < height:
            pixels[3 * (y * width + x):3 * (y * width + x) + 3] = colour

    for gx in range(0, width, 50 * SCALE):  # a grid line every 50 field pixels
        for y in range(height):
            plot(gx, y, b"\x30\x30\x40")
    for gy in range(0, height, 50 * SCALE):
        for x in range(width):
            plot(x, gy, b"\x30\x30\x40")
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        steps = max(1, int(max(abs(x1 - x0), abs(y1 - y0)) * SCALE))
        for i in range(steps + 1):
            t = i / steps
            plot(round((x0 + (x1 - x0) * t) * SCALE), round((y0 + (y1 - y0) * t) * SCALE), b"\xff\xff\xff")
    for x, y in points[:1]:
        for dx in range(-3, 4):
            for dy in range(-3, 4):
                plot(round(x * SCALE) + dx, round(y * SCALE) + dy, b"\xff\x60\x40")
    write_png(args.png, pixels, width, height)
    print(f"{len(points)} moves of slot {args.slot} drawn to {args.png}")


if __name__ == "__main__":
    main()
