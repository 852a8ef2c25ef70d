#!/usr/bin/python3
"""The program's wiring of its picture loader and its error report; every file layout and every bad
file are tests/sdl/test_bad_pictures.cpp's. A broken cannon.bmp ends start-up with error 481 naming
it and status 1, before any move, and on a display before the main window; a 16-bit strip draws
exactly as its 24-bit twin. (A missing one is test_error_report.py's.)

Usage: test_bad_pictures.py PROGRAM. Each case runs a copy of PROGRAM beside the picture, because the
program looks for cannon.bmp beside itself.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmp  # noqa: E402
import make_pictures  # noqa: E402

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
HANG = 20  # seconds after which a start-up counts as hung
STRIP = make_pictures.gun_strip()
BROKEN = make_pictures.bad_pictures(STRIP)["cut_in_pixels"]


class PictureWiring(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="brakkenfel-pictures-")
        self.program = shutil.copy2(PROGRAM, self.work.name)
        self.picture = os.path.join(self.work.name, "cannon.bmp")
        self.expected = "Error 481: Invalid picture: " + self.picture

    def tearDown(self):
        self.work.cleanup()

    def put(self, data):
        with open(self.picture, "wb") as file:
            file.write(data)

    def test_a_broken_file_stops_start_up(self):
        self.put(BROKEN)
        result = subprocess.run([self.program, "--headless", "--moves", "1"], capture_output=True, timeout=HANG,
                                cwd="/", stdin=subprocess.DEVNULL)
        stderr = result.stderr.decode()
        self.assertEqual(result.returncode, 1, stderr)
        self.assertIn(self.expected, stderr)
        self.assertNotIn("moves,", stderr, "a move ran")

    def test_a_16_bit_strip_draws_as_its_24_bit_twin(self):
        good = make_pictures.good_pictures(STRIP)
        fields = []
        for name in ("rgb16_bottomup", "rgb24_bottomup"):
            self.put(good[name])
            snapshot = os.path.join(self.work.name, name + ".bmp")
            result = subprocess.run([self.program, "--headless", "--moves", "1", "--snapshot", snapshot],
                                    capture_output=True, timeout=HANG, cwd="/")
            self.assertEqual(result.returncode, 0, result.stderr.decode())
            fields.append(bmp.read(snapshot))
        self.assertEqual(fields[0], fields[1])
        # The Cannon's frame 0, top left at (12, 12), is the file's and not the build's strip.
        self.assertEqual([row[12:28] for row in fields[0][12:28]], [row[:16] for row in STRIP])

    @unittest.skipIf(shutil.which("Xvfb") is None, "Xvfb is not installed")
    def test_on_a_display_the_error_box_is_the_only_window(self):
        import xserver
        from test_window import CLIENT
        from Xlib import X
        from Xlib import display as xdisplay
        self.put(BROKEN)
        with open(os.path.join(self.work.name, "xvfb.log"), "w") as log:
            server, name = xserver.start_xvfb(log)
        child = None
        try:
            screen = xdisplay.Display(name)
            child = subprocess.Popen([self.program], env=xserver.x11_env(name), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            box = None
            deadline = time.monotonic() + HANG
            while box is None and child.poll() is None and time.monotonic() < deadline:
                shown = [w for w in screen.screen().root.query_tree().children
                         if w.get_attributes().map_state == X.IsViewable]
                for window in shown:
                    size = window.get_geometry()
                    self.assertNotEqual((size.width, size.height), CLIENT, "the main window appeared")
                box = shown[0] if shown else None
                time.sleep(0.02)
            self.assertIsNotNone(box, "no error box appeared")
            xserver.close_window(screen, box)
            _, stderr = child.communicate(timeout=HANG)
            self.assertEqual(child.returncode, 1)
            self.assertIn(self.expected, stderr.decode())
        finally:
            xserver.end(child)
            server.terminate()
            server.wait(timeout=10)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
