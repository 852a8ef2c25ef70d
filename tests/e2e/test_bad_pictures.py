#!/usr/bin/python3
"""The program handed every picture file of make_pictures.py as its cannon.bmp, and things that are no file.

Usage: test_bad_pictures.py PROGRAM. Each case copies PROGRAM into a scratch folder beside the
picture, because the program looks for cannon.bmp beside itself. Good layouts must all show the
same gun; broken files and non-files must end start-up with error 481 or 53 naming the path, status
1, before any window: headless, and on a private Xvfb where the error box must be the only window.
"""
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_pictures  # noqa: E402

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
HANG = 20  # seconds after which a start-up counts as hung
GUNS = {"Cannon": (12, 12), "Helicopter": (32, 32)}  # frame 0's top left in the field
NOBODY = 65534


def read_snapshot(path):
    """Rows of (r, g, b), top row first, of the program's 24-bit bottom-up snapshot."""
    with open(path, "rb") as file:
        data = file.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        start = offset + (height - 1 - y) * stride
        rows.append([tuple(reversed(data[start + 3 * x:start + 3 * x + 3])) for x in range(width)])
    return rows


class Arena:
    """A scratch folder holding a copy of the program; `picture` is where it looks for cannon.bmp."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="brakkenfel-pictures-")
        # Reachable by an unprivileged user too, for the unreadable-file case.
        os.chmod(self.folder, 0o755)
        self.program = os.path.join(self.folder, "brakkenfel")
        shutil.copy2(PROGRAM, self.program)
        self.picture = os.path.join(self.folder, "cannon.bmp")

    def clear(self):
        if os.path.isdir(self.picture) and not os.path.islink(self.picture):
            os.rmdir(self.picture)
        elif os.path.lexists(self.picture):
            os.remove(self.picture)

    def put(self, data):
        self.clear()
        with open(self.picture, "wb") as file:
            file.write(data)

    def run(self, *arguments, prefix=(), env=None):
        started = time.monotonic()
        result = subprocess.run([*prefix, self.program, *arguments], capture_output=True, timeout=HANG,
                                cwd="/", env=env, stdin=subprocess.DEVNULL)
        return result, time.monotonic() - started

    def remove(self):
        self.clear()
        shutil.rmtree(self.folder)


class PictureFiles(unittest.TestCase):
    slowest = 0.0

    @classmethod
    def setUpClass(cls):
        cls.arena = Arena()
        cls.strip = make_pictures.gun_strip()

    @classmethod
    def tearDownClass(cls):
        cls.arena.remove()
        print("\nslowest refused start-up: %.0f ms" % (cls.slowest * 1000), file=sys.stderr)

    def expect_refused(self, number, prefix=()):
        result, elapsed = self.arena.run("--headless", "--moves", "1", prefix=prefix)
        PictureFiles.slowest = max(PictureFiles.slowest, elapsed)
        stderr = result.stderr.decode()
        self.assertEqual(result.returncode, 1, stderr)
        text = {53: "File not found", 481: "Invalid picture"}[number]
        self.assertIn("Error %d: %s: %s" % (number, text, self.arena.picture), stderr)
        # Refused during set-up: no move ran, so there is no end-of-run summary.
        self.assertNotIn("moves,", stderr)

    def test_every_layout_shows_the_same_gun(self):
        snapshots = {}
        for name, data in make_pictures.good_pictures(self.strip).items():
            with self.subTest(name):
                self.arena.put(data)
                snapshot = os.path.join(self.arena.folder, "field.bmp")
                result, _ = self.arena.run("--headless", "--moves", "1", "--snapshot", snapshot)
                self.assertEqual(result.returncode, 0, result.stderr.decode())
                field = read_snapshot(snapshot)
                for gun, (left, top) in GUNS.items():
                    block = [row[left:left + 16] for row in field[top:top + 16]]
                    self.assertEqual(block, [row[:16] for row in self.strip], gun)
                with open(snapshot, "rb") as file:
                    snapshots[name] = file.read()
        self.assertEqual(len(set(snapshots.values())), 1, "the fields differ beyond the guns")

    def test_broken_files_are_invalid_pictures(self):
        for name, data in make_pictures.bad_pictures(self.strip).items():
            with self.subTest(name):
                self.arena.put(data)
                self.expect_refused(481)

    def test_what_is_no_file_is_not_found(self):
        def folder(path):
            os.mkdir(path)

        def pipe(path):
            os.mkfifo(path)  # nobody writes: opening it for reading must not wait

        cases = {
            "missing": lambda path: None,
            "a folder": folder,
            "a pipe": pipe,
            "a link to nowhere": lambda path: os.symlink(path + ".gone", path),
            "a link to an endless device": lambda path: os.symlink("/dev/zero", path),
        }
        for name, make in cases.items():
            with self.subTest(name):
                self.arena.clear()
                make(self.arena.picture)
                self.expect_refused(53)

    def test_a_file_the_user_may_not_read_is_not_found(self):
        self.arena.put(make_pictures.good_pictures(self.strip)["rgb24_bottomup"])
        os.chmod(self.arena.picture, 0)
        prefix = ()
        if os.geteuid() == 0:
            # Permissions do not stop root: run the program as an unprivileged user instead.
            setpriv = shutil.which("setpriv")
            if setpriv is None:
                self.skipTest("running as root and setpriv is missing, so the file cannot be made unreadable")
            prefix = (setpriv, "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups")
        self.expect_refused(53, prefix=prefix)


class PictureFilesOnADisplay(unittest.TestCase):
    """Without --headless: the error box is the only window, and closing it ends the program with 1."""

    def test_refused_before_the_main_window(self):
        if shutil.which("Xvfb") is None:
            self.skipTest("Xvfb is not installed")
        import test_window
        from Xlib import X
        from Xlib import display as xdisplay
        arena = Arena()
        with open(os.path.join(arena.folder, "xvfb.log"), "w") as log:
            server, name = test_window.start_xvfb(log)
        try:
            screen = xdisplay.Display(name)
            env = dict(os.environ, DISPLAY=name, SDL_VIDEODRIVER="x11")
            env.pop("WAYLAND_DISPLAY", None)
            bad = make_pictures.bad_pictures(make_pictures.gun_strip())
            for case in ("huge_claim_24bit", "cut_in_pixels"):
                with self.subTest(case):
                    arena.put(bad[case])
                    child = subprocess.Popen([arena.program], env=env, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    try:
                        box = None
                        deadline = time.monotonic() + HANG
                        while box is None and child.poll() is None and time.monotonic() < deadline:
                            shown = [w for w in screen.screen().root.query_tree().children
                                     if w.get_attributes().map_state == X.IsViewable]
                            for window in shown:
                                size = window.get_geometry()
                                self.assertNotEqual((size.width, size.height), test_window.CLIENT,
                                                    "the main window appeared")
                            box = shown[0] if shown else None
                            time.sleep(0.02)
                        self.assertIsNotNone(box, "no error box appeared")
                        test_window.close_window(screen, box)
                        _, stderr = child.communicate(timeout=HANG)
                    finally:
                        if child.poll() is None:
                            child.kill()
                            child.wait()
                    self.assertEqual(child.returncode, 1)
                    self.assertIn("Error 481: Invalid picture: " + arena.picture, stderr.decode())
        finally:
            server.terminate()
            server.wait(timeout=10)
            arena.remove()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
