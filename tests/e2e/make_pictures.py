#!/usr/bin/env python3
"""Writes the picture tests' bitmaps: OUT_DIR/good holds one gun strip in every layout the loader
reads, OUT_DIR/bad files it must refuse, OUT_DIR/gun.ppm the pixels every good file decodes to.

Usage: make_pictures.py OUT_DIR [--frame N] [--frames N] | OUT_DIR --levels 555|565
With --levels, the good files are instead ramps of every level of a 16-bit layout (at 16 bits and in
the 24- and 32-bit layouts that hold them exactly). The strip is black and red only, so that every
layout holds exactly the same picture.
"""

import itertools
import math
import os
import struct
import sys

BLACK = (0, 0, 0)
RED = (255, 0, 0)


def gun_strip(frame=16, frames=16):
    """Rows of (r, g, b), top row first: a round turret with a barrel turning one step per frame."""
    width, height = frame * frames, frame
    rows = [[BLACK] * width for _ in range(height)]
    centre = (frame - 1) / 2
    for f in range(frames):
        turn = 2 * math.pi * f / frames
        dx, dy = math.sin(turn), -math.cos(turn)  # frame 0 points up
        for y in range(frame):
            for x in range(frame):
                px, py = x - centre, y - centre
                along = px * dx + py * dy
                across = abs(px * dy - py * dx)
                body = px * px + py * py <= (frame * 0.28) ** 2
                barrel = 0 <= along <= frame * 0.47 and across <= 0.8
                if body or barrel:
                    rows[y][f * frame + x] = RED
    return rows


# ---------------------------------------------------------------------------------------------
# Writing bitmap files


def file_header(total, offset):
    return b"BM" + struct.pack("<IHHI", total, 0, 0, offset)


def info_header(width, height, bits, compression=0, size_image=0, colors=0, version=40, masks=None):
    """A Windows info header of `version` bytes (40, 108 or 124); masks go into versions 4 and 5."""
    header = struct.pack("<IiiHHIIiiII", version, width, height, 1, bits, compression, size_image,
                         2835, 2835, colors, 0)
    if version > 40:
        r, g, b, a = masks or (0, 0, 0, 0)
        header += struct.pack("<IIII", r, g, b, a) + b"sRGB" + bytes(36) + bytes(12)
        if version == 124:
            header += struct.pack("<IIII", 4, 0, 0, 0)
    assert len(header) == version
    return header


def core_header(width, height, bits):
    return struct.pack("<IHHHH", 12, width, height, 1, bits)


def assemble(header, palette, pixels):
    offset = 14 + len(header) + len(palette)
    return file_header(offset + len(pixels), offset) + header + palette + pixels


def palette_of(colors, entry=4, count=None):
    """A colour table; `count` pads it with grey entries nobody uses."""
    colors = list(colors) + [(128, 128, 128)] * ((count or len(colors)) - len(colors))
    return b"".join(bytes((b, g, r)) + (b"\0" if entry == 4 else b"") for r, g, b in colors)


def pad(row):
    return row + bytes(-len(row) % 4)


def indexed_rows(rows, palette):
    return [[palette.index(p) for p in row] for row in rows]


def pack_indices(indices, bits):
    out = bytearray()
    per_byte = 8 // bits
    for start in range(0, len(indices), per_byte):
        value = 0
        chunk = indices[start:start + per_byte]
        for i, index in enumerate(chunk):
            value |= index << (8 - bits * (i + 1))
        out.append(value)
    return bytes(out)


def stored_order(rows, top_down):
    return rows if top_down else rows[::-1]


def encode_rgb(rows, bits, top_down, masks_for=None):
    out = bytearray()
    for row in stored_order(rows, top_down):
        line = bytearray()
        for r, g, b in row:
            if bits == 24:
                line += bytes((b, g, r))
            elif bits == 32:
                line += bytes((b, g, r, 0))
            elif bits == 16 and masks_for == 565:
                line += struct.pack("<H", (r >> 3) << 11 | (g >> 2) << 5 | b >> 3)
            else:
                line += struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
        out += pad(bytes(line))
    return bytes(out)


def encode_indexed(rows, bits, palette, top_down):
    return b"".join(pad(pack_indices(row, bits)) for row in stored_order(indexed_rows(rows, palette), top_down))


def rle(rows, palette, bits, skip_blank_rows=False):
    """Bottom-up RLE8 or RLE4 in runs, an end of line past each row's last coloured pixel and,
    optionally, deltas over blank rows (decoding is SDL's, so no literal stretches)."""
    out, blank = bytearray(), 0
    for row in indexed_rows(rows, palette)[::-1]:
        while row and row[-1] == 0:
            row = row[:-1]  # an end-of-line leaves the rest of the row at colour 0
        if skip_blank_rows and not row:
            blank += 1
            continue
        if blank:
            out += bytes((0, 2, 0, blank))
            blank = 0
        for colour, run in itertools.groupby(row):
            run = len(list(run))
            for count in [255] * (run // 255) + [run % 255] * bool(run % 255):
                out += bytes((count, colour if bits == 8 else colour << 4 | colour))
        out += b"\0\0"
    return bytes(out) + b"\0\1"


def good_pictures(rows):
    """{name: bytes}: the strip in every layout the loader reads."""
    width, height = len(rows[0]), len(rows)
    two = [BLACK, RED]
    sixteen = [BLACK, (0, 0, 128), (0, 128, 0), RED] + [(16 * i, 16 * i, 16 * i) for i in range(12)]
    pictures = {}
    for top_down in (False, True):
        order = "topdown" if top_down else "bottomup"
        h = -height if top_down else height
        pictures["rgb1_" + order] = assemble(info_header(width, h, 1, colors=2), palette_of(two),
                                             encode_indexed(rows, 1, two, top_down))
        pictures["rgb4_" + order] = assemble(info_header(width, h, 4), palette_of(sixteen),
                                             encode_indexed(rows, 4, sixteen, top_down))
        pictures["rgb8_" + order] = assemble(info_header(width, h, 8), palette_of(two, count=256),
                                             encode_indexed(rows, 8, two, top_down))
        pictures["rgb16_" + order] = assemble(info_header(width, h, 16), b"", encode_rgb(rows, 16, top_down))
        pictures["rgb24_" + order] = assemble(info_header(width, h, 24), b"", encode_rgb(rows, 24, top_down))
        pictures["rgb32_" + order] = assemble(info_header(width, h, 32), b"", encode_rgb(rows, 32, top_down))
    masks565 = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    pictures["bitfields16_565"] = assemble(info_header(width, height, 16, compression=3), masks565,
                                           encode_rgb(rows, 16, False, masks_for=565))
    bgra = (0x00FF0000, 0x0000FF00, 0x000000FF, 0)
    pictures["v4_bitfields32"] = assemble(info_header(width, height, 32, compression=3, version=108, masks=bgra),
                                          b"", encode_rgb(rows, 32, False))
    pictures["v5_rgb24_topdown"] = assemble(info_header(width, -height, 24, version=124), b"",
                                            encode_rgb(rows, 24, True))
    pictures["v5_rgb8_two_colours"] = assemble(info_header(width, height, 8, colors=2, version=124),
                                               palette_of(two), encode_indexed(rows, 8, two, False))
    data = rle(rows, two, 8)
    pictures["rle8"] = assemble(info_header(width, height, 8, compression=1, size_image=len(data), colors=2),
                                palette_of(two), data)
    data = rle(rows, two, 8, skip_blank_rows=True)
    pictures["rle8_deltas"] = assemble(info_header(width, height, 8, compression=1, size_image=len(data)),
                                       palette_of(two, count=256), data)
    data = rle(rows, sixteen, 4)
    pictures["rle4"] = assemble(info_header(width, height, 4, compression=2, size_image=len(data)),
                                palette_of(sixteen), data)
    for bits in (1, 8):
        pictures["core%d" % bits] = assemble(core_header(width, height, bits), palette_of(two, entry=3, count=1 << bits),
                                             encode_indexed(rows, bits, two, False))
    pictures["core24"] = assemble(core_header(width, height, 24), b"", encode_rgb(rows, 24, False))
    return pictures


def widen(level, bits):
    """An n-bit channel level as 8 bits, its top bits repeated below it: 31 of 5 bits is 255."""
    value, filled = level << (8 - bits), bits
    while filled < 8:
        value |= value >> filled
        filled *= 2
    return value


def level_ramps(green_bits):
    """Rows of (r, g, b): ramps of red, green, blue and grey over 64 columns, at 5 bits (green: `green_bits`)."""
    def ramp(column, bits):
        return widen(column >> (6 - bits), bits)
    rows = [[(ramp(x, 5), 0, 0) for x in range(64)], [(0, ramp(x, green_bits), 0) for x in range(64)],
            [(0, 0, ramp(x, 5)) for x in range(64)]]
    rows.append([(ramp(x, 5), ramp(x, green_bits), ramp(x, 5)) for x in range(64)])
    return rows


def level_pictures(rows, layout):
    """{name: bytes}: the ramps of `level_ramps` at 16 bits in `layout` ("555" or "565"), and at 24 and 32."""
    width, height = len(rows[0]), len(rows)
    pictures = {
        "rgb24": assemble(info_header(width, height, 24), b"", encode_rgb(rows, 24, False)),
        "rgb32_topdown": assemble(info_header(width, -height, 32), b"", encode_rgb(rows, 32, True)),
    }
    masks = {"555": (0x7C00, 0x03E0, 0x001F), "565": (0xF800, 0x07E0, 0x001F)}[layout]
    pixels = encode_rgb(rows, 16, False, masks_for=int(layout))
    pictures["bitfields16_" + layout] = assemble(info_header(width, height, 16, compression=3),
                                                 struct.pack("<III", *masks), pixels)
    pictures["v4_bitfields16_" + layout] = assemble(
        info_header(width, height, 16, compression=3, version=108, masks=masks + (0,)), b"", pixels)
    if layout == "555":
        pictures["rgb16"] = assemble(info_header(width, height, 16), b"", pixels)
    return pictures


def bad_pictures(rows):
    """{name: bytes}: files that must be refused as pictures."""
    good = good_pictures(rows)
    rgb24, rgb8, rle = good["rgb24_bottomup"], good["rgb8_bottomup"], good["rle8"]
    height = len(rows)

    def header24(w, h, bits=24, compression=0, size_image=0, version=40, colors=0, offset=None, total=None):
        header = info_header(w, h, bits, compression, size_image, colors, version)
        return file_header(total or 0, offset if offset is not None else 14 + len(header)) + header

    def claim(w, h, bits=24, compression=0, size=100, **more):
        """A `size`-byte file whose header claims a w x h picture."""
        head = header24(w, h, bits, compression, **more)
        return (head + bytes(max(0, size - len(head))))[:size]

    def patched(data, offset, fmt, *values):
        data = bytearray(data)
        struct.pack_into(fmt, data, offset, *values)
        return bytes(data)

    bad = {
        "empty": b"",
        "text": b"this is not a picture\n",
        "png_signature": b"\x89PNG\r\n\x1a\n" + bytes(64),
        "cut_in_file_header": rgb24[:10],
        "cut_in_info_header": rgb24[:30],
        "cut_in_palette": rgb8[:14 + 40 + 100],
        "cut_in_pixels": rgb24[:-100],
        "cut_last_row": rgb24[:-1],
        "zero_width": claim(0, 16, size=len(rgb24)),
        "zero_height": claim(16, 0, size=len(rgb24)),
        "negative_width": claim(-16, 16, size=len(rgb24)),
        "huge_claim_24bit": claim(30000, 30000),
        "huge_claim_1bit": claim(30000, 30000, bits=1, size=200),
        "huge_claim_rle8": claim(30000, 30000, bits=8, compression=1, size=1100),
        "huge_claim_topdown": claim(30000, -30000),
        "most_negative_height": claim(16, -2 ** 31),
        "widest_int_width": claim(2 ** 31 - 1, 1),
        "within_limits_but_short": claim(16384, 1024),
        "rle8_size_past_end": patched(rle, 34, "<I", 1 << 20),
        "rle8_topdown": patched(rle, 22, "<i", -height),
        "rle8_at_24_bits": patched(rle, 28, "<H", 24),
        "bitfields_at_8_bits": patched(rgb8, 30, "<I", 3),
        "jpeg_compression": patched(rgb24, 30, "<I", 4),
        "png_compression": patched(rgb24, 30, "<I", 5),
        "compression_7": patched(rgb24, 30, "<I", 7),
        "compression_max": patched(rgb24, 30, "<I", 0xFFFFFFFF),
        "bits_0": patched(rgb24, 28, "<H", 0),
        "bits_7": patched(rgb24, 28, "<H", 7),
        "bits_64": patched(rgb24, 28, "<H", 64),
        "palette_too_large": patched(rgb8, 46, "<I", 1000),
        "pixels_past_end": patched(rgb24, 10, "<I", len(rgb24) + 10),
        "pixels_inside_header": patched(rgb24, 10, "<I", 20),
        "header_size_0": patched(rgb24, 14, "<I", 0),
        "header_size_64": patched(rgb24, 14, "<I", 64),
        "header_size_max": patched(rgb24, 14, "<I", 0xFFFFFFFF),
    }
    return bad


def write_ppm(path, rows):
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (len(rows[0]), len(rows)))
        out.write(bytes(c for row in rows for pixel in row for c in pixel))


def main(argv):
    args = list(argv[1:])
    if not args or args[0].startswith("-"):
        print(__doc__)
        return 2
    out = args.pop(0)
    options = dict(zip(args[::2], args[1::2]))
    if "--levels" in options:
        rows = level_ramps(int(options["--levels"][1]))
        sets = (("good", level_pictures(rows, options["--levels"])),)
    else:
        rows = gun_strip(int(options.get("--frame", 16)), int(options.get("--frames", 16)))
        sets = (("good", good_pictures(rows)), ("bad", bad_pictures(rows)))
    for kind, pictures in sets:
        os.makedirs(os.path.join(out, kind), exist_ok=True)
        for name, data in pictures.items():
            with open(os.path.join(out, kind, name + ".bmp"), "wb") as file:
                file.write(data)
    write_ppm(os.path.join(out, "gun.ppm"), rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
