#!/usr/bin/python3
"""Headless runs of the built program: the known trace, snapshot, captions, options, install, hostile
environments; and the window's trace and snapshot."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmp  # noqa: E402
from run import PROGRAM, processes_naming, run, trace_lines  # noqa: E402


def fnv1a(data):
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return value


class HeadlessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.trace = os.path.join(cls.dir.name, "trace.jsonl")
        cls.snapshot = os.path.join(cls.dir.name, "field.bmp")
        result = run("--headless", "--moves", "2000", "--trace", cls.trace, "--snapshot", cls.snapshot)
        assert result.returncode == 0, result.stderr
        cls.summary = result.stderr.decode()
        cls.lines = trace_lines(cls.trace)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_the_trace_is_the_known_one_and_the_summary_counts_its_shots(self):
        # tests/test_determinism.cpp pins the same 2,000 moves in the core; here the program writes them.
        with open(self.trace, "rb") as trace:
            self.assertEqual(hex(fnv1a(trace.read())), hex(0xC0ED76C4D475DB60))
        self.assertIn("shots: Cannon 23, Helicopter 34", self.summary)

    def test_snapshot_shows_the_last_moves_guns_and_bullets(self):
        rows = bmp.read(self.snapshot)
        width, height = len(rows[0]), len(rows)
        self.assertEqual((width, height), (373, 285))
        strip = bmp.read(os.path.join(os.path.dirname(PROGRAM), "cannon.bmp"))
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
        for arguments in (["--frob"], ["--seconds", "5"], ["--headless", "--cannon", "keys"], ["--helicopter", "robot"]):
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


# Answers every move with no orders, after `delay` seconds.
BOT = """import sys, time
print("ready", flush=True)
for line in sys.stdin:
    time.sleep(%s)
    print(line.split()[1], flush=True)
"""


class HostileEnvironmentTest(unittest.TestCase):
    def test_each_ends_in_order_within_its_bound(self):
        with tempfile.TemporaryDirectory(prefix="hostile") as work:
            path = lambda name: os.path.join(work, name)
            os.mkfifo(path("fifo"))
            with open(path("bot.py"), "w") as file:
                file.write(BOT % "0.01")
            with open(path("stalled.py"), "w") as file:
                file.write(BOT % "300")
            slow = "--cannon=exec:exec python3 " + path("bot.py")
            picture = os.path.join(os.path.dirname(PROGRAM), "cannon.bmp")
            with open(picture, "rb") as file:
                strip = file.read()
            forever = ["--headless", "--moves", "1000000000"]
            # name, arguments, fds closed at start, signal sent after half a second, status, in stderr
            cases = [
                ("stderr closed", ["--headless", "--moves", "5", "--trace", path("t1"), "--cannon=exec:echo x"],
                 (2,), None, 0, None),
                ("stdout closed", ["--headless", "--seconds", "1", "--trace", path("t2")], (1,), None, 0, None),
                ("stdin closed", ["--headless", "--moves", "5", "--trace", path("t3")], (0,), None, 0, None),
                ("FIFO without a reader", [*forever, "--trace", path("fifo")], (), signal.SIGINT, 130,
                 "interrupted at move 0 by SIGINT"),
                ("snapshot FIFO", [*forever, "--snapshot", path("fifo")], (), signal.SIGTERM, 143, "by SIGTERM"),
                ("full device", [*forever, "--trace", "/dev/full"], (), None, 1,
                 "Error 75: Path/File access error: cannot write the trace to /dev/full: No space left on device"),
                ("a folder", ["--headless", "--moves", "5", "--snapshot", work], (), None, 1, "Is a directory"),
                ("same file twice", ["--headless", "--moves", "5", "--trace", path("t4"), "--snapshot",
                                     work + "/./t4"], (), None, 2, "are the same file"),
                ("trace on the picture", ["--headless", "--moves", "5", "--trace", picture], (), None, 2,
                 "picture strip"),
                ("snapshot on the picture", ["--headless", "--moves", "5", "--snapshot", picture], (), None, 2,
                 "picture strip"),
                ("SIGHUP", ["--headless", "--seconds", "100", slow, "--move-budget", "0"], (), signal.SIGHUP, 129,
                 "by SIGHUP"),
                # Without a budget the wait for a reply has no limit but the stop signal.
                ("SIGINT with a stalled contestant", [*forever, "--cannon=exec:exec python3 " + path("stalled.py"),
                                                      "--move-budget", "0"], (), signal.SIGINT, 130, "by SIGINT"),
                ("open-ended SIGTERM", ["--headless", slow], (), signal.SIGTERM, 0, None),
                ("closed trace pipe", [*forever, "--trace", "-", slow, "--move-budget", "0"], (), "head", 141,
                 "by SIGPIPE"),
            ]
            for name, arguments, closed, stop, status, says in cases:
                with self.subTest(name):
                    def child():
                        # Background jobs of a script start with SIGINT ignored, which the arena keeps.
                        for number in (signal.SIGINT, signal.SIGHUP):
                            signal.signal(number, signal.SIG_DFL)
                        for fd in closed:
                            os.close(fd)
                    started = time.monotonic()
                    process = subprocess.Popen([PROGRAM, *arguments], stdin=subprocess.DEVNULL,
                                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=child)
                    try:
                        if stop == "head":
                            process.stdout.read(1000)  # `| head -c 1000`
                            process.stdout.close()
                        elif stop is not None:
                            time.sleep(0.5)
                            process.send_signal(stop)
                        stderr = process.communicate(timeout=20)[1].decode()
                    finally:
                        if process.poll() is None:
                            process.kill()
                            process.wait()
                    self.assertLess(time.monotonic() - started, 20)
                    self.assertEqual(process.returncode, status, stderr)
                    if says:
                        self.assertIn(says, stderr)
                    for trace in ("t1", "t2", "t3"):
                        if closed and os.path.exists(path(trace)):
                            lines = trace_lines(path(trace))  # nothing else got in
                            self.assertEqual(lines[-1]["move"], len(lines))
                    deadline = time.monotonic() + 5
                    while processes_naming(work) and time.monotonic() < deadline:
                        time.sleep(0.05)
                    self.assertEqual(processes_naming(work), [])
            with open(picture, "rb") as file:
                changed = file.read() != strip
            if changed:  # put the build's picture back before failing
                with open(picture, "wb") as file:
                    file.write(strip)
            self.assertFalse(changed, "the picture strip was written")


def have_xlib():
    try:
        import Xlib  # noqa: F401
        return True
    except ImportError:
        return False


@unittest.skipIf(shutil.which("Xvfb") is None or not have_xlib(), "Xvfb or python3-xlib is not installed")
class WindowOutputsTest(unittest.TestCase):
    def test_the_window_writes_its_trace_and_its_last_frame(self):
        import xserver
        with tempfile.TemporaryDirectory(prefix="window-outputs") as work:
            trace, snapshot = os.path.join(work, "trace.jsonl"), os.path.join(work, "field.bmp")
            with open(os.path.join(work, "xvfb.log"), "w") as log:
                server, name = xserver.start_xvfb(log)
            process = None
            try:
                connection, process, window, log = xserver.launch(PROGRAM, work, name, "--trace", trace,
                                                                  "--snapshot", snapshot)
                time.sleep(1)
                xserver.close_window(connection, window)
                xserver.finish(process, log, "closed")
                connection.close()
            finally:
                xserver.end(process)
                server.terminate()
                server.wait(timeout=10)
            moves = [line["move"] for line in trace_lines(trace)]
            self.assertGreater(len(moves), 45)
            self.assertEqual(moves, list(range(1, len(moves) + 1)))
            rows = bmp.read(snapshot)
            self.assertEqual((len(rows[0]), len(rows)), (373, 285))
            self.assertIn((255, 255, 255), {pixel for row in rows for pixel in row})  # a bullet was drawn


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
