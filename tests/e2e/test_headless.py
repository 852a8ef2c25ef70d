#!/usr/bin/env python3
"""Headless runs of the built program: trace, snapshot, captions, determinism, options, install."""
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")


def f32(value):
    """Rounds a Python float to the nearest 32-bit float, as the arena stores every step."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def run(*arguments, timeout=60):
    return subprocess.run([PROGRAM, *arguments], capture_output=True, timeout=timeout)


def read_bmp(path):
    """Pixels of a 24-bit bottom-up BMP as rows of (r, g, b), top row first."""
    with open(path, "rb") as file:
        data = file.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    assert bits == 24 and height > 0, (bits, height)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        row = data[offset + (height - 1 - y) * stride:][: width * 3]
        rows.append([(row[3 * x + 2], row[3 * x + 1], row[3 * x]) for x in range(width)])
    return width, height, rows


class HeadlessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.trace = os.path.join(cls.dir.name, "trace.jsonl")
        cls.snapshot = os.path.join(cls.dir.name, "field.bmp")
        result = run("--headless", "--moves", "2000", "--trace", cls.trace, "--snapshot", cls.snapshot)
        assert result.returncode == 0, result.stderr
        cls.summary = result.stderr.decode()
        with open(cls.trace) as trace:
            cls.lines = [json.loads(line) for line in trace]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def gun(self, move, name):
        line = self.lines[move - 1]
        return next(g for g in line["guns"] if g["name"] == name)

    def test_one_line_per_move_and_the_guns_sweep_one_step_a_move(self):
        self.assertEqual([line["move"] for line in self.lines], list(range(1, 2001)))
        self.assertEqual((list(self.lines[0]), [g["name"] for g in self.lines[0]["guns"]]),
                         (["move", "guns", "bullets"], ["Cannon", "Helicopter"]))
        angles = [self.gun(m, "Cannon")["angle"] for m in range(1, 260)]
        self.assertEqual(angles[:3], [128, 129, 130])
        at = angles.index(254)
        self.assertEqual(angles[at:at + 6], [254, 255, 255, 0, 1, 2])
        self.assertEqual(self.gun(1, "Helicopter")["angle"], 0)
        self.assertEqual(self.gun(1, "Helicopter")["target"], 1)

    def test_guns_fire_on_their_reload_rhythm(self):
        for name, reload, expected in (("Cannon", 89, [1, 90, 179]), ("Helicopter", 59, [1, 60, 119])):
            fired = [m for m in range(1, 200) if self.gun(m, name)["reload"] == reload]
            self.assertEqual(fired[:3], expected, name)
        self.assertIn("shots: Cannon 23, Helicopter 34", self.summary)

    def test_first_bullet_has_flown_one_move(self):
        bullets = self.lines[0]["bullets"]
        self.assertEqual([b["slot"] for b in bullets], [0, 1])
        cannon = bullets[0]  # fired straight up (angle 128) from (20, 20)
        vy = f32(f32(f32(-2.0) / f32(1.003)) + f32(0.00981))
        # The shortest decimal reads back as the very same 32-bit float.
        self.assertEqual(f32(cannon["vy"]), vy)
        self.assertEqual(f32(cannon["y"]), f32(20.0 + vy))
        self.assertEqual(cannon["x"], 20)

    def test_runs_are_byte_identical(self):
        with tempfile.TemporaryDirectory() as other:
            trace = os.path.join(other, "trace.jsonl")
            snapshot = os.path.join(other, "field.bmp")
            result = run("--headless", "--moves", "2000", "--trace", trace, "--snapshot", snapshot)
            self.assertEqual(result.returncode, 0, result.stderr)
            for mine, theirs in ((trace, self.trace), (snapshot, self.snapshot)):
                with open(mine, "rb") as a, open(theirs, "rb") as b:
                    self.assertEqual(a.read(), b.read(), mine)

    def test_snapshot_shows_the_last_moves_guns_and_bullets(self):
        width, height, rows = read_bmp(self.snapshot)
        self.assertEqual((width, height), (373, 285))
        _, _, strip = read_bmp(os.path.join(os.path.dirname(PROGRAM), "cannon.bmp"))
        guns = {(12, 12), (32, 32)}
        for left, top in guns:
            block = [row[left:left + 16] for row in rows[top:top + 16]]
            self.assertEqual(block, [row[:16] for row in strip[:16]], (left, top))
        last = self.lines[-1]["bullets"]
        self.assertTrue(last, "no bullet in flight at the last move")
        covered = lambda x, y: any(l <= x < l + 16 and t <= y < t + 16 for l, t in guns)
        lit = set()
        for b in last:
            x, y = round(b["x"]), round(b["y"])  # Python rounds halves to even, as the arena does
            if b["y"] >= 0 and 0 <= x < width and 0 <= y < height and not covered(x, y):
                self.assertEqual(rows[y][x], (255, 255, 255), b)
                lit.add((x, y))
        self.assertTrue(lit)
        for y in range(height):
            for x in range(width):
                if not covered(x, y) and (x, y) not in lit:
                    self.assertEqual(rows[y][x], (0, 0, 0), (x, y))


class OptionsAndPacingTest(unittest.TestCase):
    def test_seconds_prints_one_caption_a_second(self):
        result = run("--headless", "--seconds", "3", timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        captions = result.stdout.decode().splitlines()
        self.assertEqual(len(captions), 4, captions)
        self.assertEqual(captions[0], "FPS:  1 | MPS:  1 | 0:01")
        self.assertEqual(captions[-1][-4:], "0:04")

    def test_command_line(self):
        # What each refusal says is the parser's own test; here, that it ends the program with status 2.
        for arguments in (["--frob"], ["--moves", "5"], ["--helicopter", "robot"]):
            result = run(*arguments)
            self.assertEqual(result.returncode, 2, arguments)
            self.assertEqual(len(result.stderr.decode().strip().splitlines()), 1, arguments)
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("--headless", result.stdout.decode())
        self.assertRegex(run("--version").stdout.decode(), r"^brakkenfel \d+\.\d+\.\d+\n$")

    def test_unwritable_trace_is_an_error_not_a_silent_loss(self):
        result = run("--headless", "--moves", "10", "--trace", "/nonexistent/dir/trace")
        self.assertEqual(result.returncode, 1)
        self.assertIn("/nonexistent/dir/trace", result.stderr.decode())

    def test_installed_program_finds_its_picture(self):
        build = os.path.dirname(PROGRAM)
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, capture_output=True)
            installed = os.path.join(prefix, "bin", "brakkenfel")
            result = subprocess.run([installed, "--headless", "--moves", "100"], capture_output=True,
                                    cwd="/", timeout=30)
            self.assertEqual(result.returncode, 0, result.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
