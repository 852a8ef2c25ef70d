#!/usr/bin/env python3
"""The desktop entry and AppStream metadata pass their validators, and the drawn icons are whole
PNGs of their sizes with a picture in them, plus an SVG."""
import os
import shutil
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
BUILT = os.path.join(os.path.dirname(PROGRAM), "packaging")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
APP_ID = "org.brakkenfel.brakkenfel"


def read_png(path):
    """(width, height, RGBA rows) of an 8-bit RGBA PNG without interlace, checking every chunk's CRC."""
    with open(path, "rb") as file:
        data = file.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, chunks = 8, {}
    while at < len(data):
        length, tag = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert zlib.crc32(tag + body) == crc, "bad CRC in %s" % tag
        chunks[tag] = chunks.get(tag, b"") + body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    assert (depth, colour, interlace) == (8, 6, 0)
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = 1 + 4 * width
    assert len(raw) == stride * height
    assert all(raw[row * stride] == 0 for row in range(height)), "only filter 0 is written"
    return width, height, [raw[row * stride + 1:(row + 1) * stride] for row in range(height)]


class DesktopEntryTest(unittest.TestCase):
    def validate(self, tool, *arguments):
        if shutil.which(tool) is None:
            self.skipTest("%s is not installed" % tool)
        done = subprocess.run([tool, *arguments], capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return done.stdout + done.stderr

    def test_the_desktop_entry_is_valid(self):
        output = self.validate("desktop-file-validate", os.path.join(SOURCE, "packaging", APP_ID + ".desktop"))
        self.assertEqual(output.strip(), "")

    def test_the_appstream_metadata_is_valid_and_names_this_version(self):
        path = os.path.join(BUILT, APP_ID + ".metainfo.xml")
        self.validate("appstreamcli", "validate", "--no-net", path)
        version = subprocess.run([PROGRAM, "--version"], capture_output=True, text=True, timeout=60).stdout.split()[-1]
        releases = ElementTree.parse(path).getroot().findall("./releases/release")
        self.assertEqual(releases[0].get("version"), version)

    def test_every_icon_size_is_a_whole_png_of_its_size_with_a_picture_in_it(self):
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            with self.subTest(size=size):
                width, height, rows = read_png(os.path.join(BUILT, "icons", "%dx%d" % (size, size), "brakkenfel.png"))
                self.assertEqual((width, height), (size, size))
                alphas = {row[x + 3] for row in rows for x in range(0, len(row), 4)}
                colours = {bytes(row[x:x + 3]) for row in rows for x in range(0, len(row), 4) if row[x + 3] == 255}
                self.assertIn(0, alphas)          # transparent corners
                self.assertGreater(len(colours), 3)  # field, gun and bullets, not one flat colour
        svg = ElementTree.parse(os.path.join(BUILT, "icons", "brakkenfel.svg")).getroot()
        self.assertEqual(svg.get("viewBox"), "0 0 256 256")
        self.assertGreater(len(list(svg)), 5)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
