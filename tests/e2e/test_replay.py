#!/usr/bin/env python3
"""Match files end to end: record, replay byte for byte, a divergence found at its move, a killed
recording, the jump, the seed, and every bad file of the reader's fuzz corpus refused by name and line."""
import glob
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

# Random orders, seeded from the system (never the same twice); reports the seed it was offered.
BOT = r"""import os, random, sys
sys.stderr.write("seed " + os.environ.get("BRAKKENFEL_SEED", "none") + "\n")
for line in sys.stdin:
    words = line.split()
    if words[0] == "brakkenfel":
        print("ready", flush=True)
    elif words[0] == "move":
        orders = random.choice(["", " shoot", " rotate %d" % random.randrange(256), " shoot rotate 7", "a", "t"])
        # "a": the next move's reply too, written before it is asked; "t": this one twice. Each in one write.
        if orders == "a": orders = "\n%d" % (int(words[1]) + 1)
        if orders == "t": orders = "\n" + words[1]
        print(words[1] + orders, flush=True)
    elif words[0] == "quit":
        break
"""


def run(*arguments, timeout=120):
    return subprocess.run([PROGRAM, *arguments], capture_output=True, timeout=timeout)


class ReplayTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        os.chmod(cls.dir.name, 0o755)  # run as root, the sandboxed bot is an unprivileged uid that must read it
        with open(cls.path("bot.py"), "w") as bot:
            bot.write(BOT)
        cls.match = cls.path("match.txt")
        recorded = run("--headless", "--moves", "20000", "--helicopter", "exec:exec python3 " + cls.path("bot.py"),
                       "--move-budget", "0", "--record", cls.match, "--trace", cls.path("live.jsonl"),
                       "--result", cls.path("live.json"))
        assert recorded.returncode == 0, recorded.stderr
        with open(cls.match) as match:
            cls.lines = match.read().splitlines(keepends=True)
        with open(cls.path("live.jsonl"), "rb") as trace:
            cls.trace = trace.read()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.dir.name, name)

    def replay(self, match, *more):
        trace = self.path("replay.jsonl")
        result = run("--headless", "--replay", match, "--trace", trace, *more)
        with open(trace, "rb") as file:
            return result, file.read()

    def test_replay_gives_the_recorded_trace_and_result_byte_for_byte(self):
        result, trace = self.replay(self.match, "--result", self.path("replay.json"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(trace, self.trace)
        with open(self.path("live.json"), "rb") as live, open(self.path("replay.json"), "rb") as again:
            # Byte for byte but for the sandbox the live program ran in: a replay runs no program.
            live_bytes = live.read()
            self.assertIn(b'"sandbox":"sandbox: ', live_bytes)
            self.assertEqual(again.read(), re.sub(rb'"sandbox":"[^"]*"', b'"sandbox":null', live_bytes))
        self.assertIn(b"helicopter=exec:exec\\x20python3", self.lines[0].encode())
        self.assertEqual(len(self.lines), 20001)
        # Replies written ahead and lines ignored are recorded, so the replay's counts are the run's.
        self.assertRegex("".join(self.lines), r" -/1\.0\.0\.0\.1\.0 ")
        self.assertRegex("".join(self.lines), r"/1\.1\.0\.0\.0\.1 ")

    def test_jump_and_move_limit_keep_the_trace(self):
        result, trace = self.replay(self.match, "--from-move", "15000")
        self.assertEqual((result.returncode, trace), (0, self.trace), result.stderr)
        result, trace = self.replay(self.match, "--from-move", "9000", "--moves", "12000")
        expected = b"".join(self.trace.splitlines(keepends=True)[:12000])
        self.assertEqual((result.returncode, trace), (0, expected), result.stderr)

    def test_one_edited_order_diverges_at_its_move(self):
        # The Helicopter's field of a move in the middle gets one more turn order than it gave.
        move = next(m for m in range(10000, 20000) if not self.lines[m].split()[1].startswith("x"))
        fields = self.lines[move].split(" ")
        orders, slash, counts = fields[1].partition("/")  # the counts after the orders stay as they were
        orders = "r77" if orders == "-" else orders + "r77" if not orders.endswith("r77") else "-"
        fields[1] = orders + slash + counts
        edited = self.path("edited.txt")
        with open(edited, "w") as file:
            file.writelines(self.lines[:move] + [" ".join(fields)] + self.lines[move + 1:])
        result, _ = self.replay(edited)
        self.assertEqual(result.returncode, 1)
        self.assertIn("replay diverges at move %d " % move, result.stderr.decode())
        self.assertIn("edited.txt line %d" % (move + 1), result.stderr.decode())

    def test_a_recording_killed_midway_replays_to_its_last_whole_line(self):
        killed = self.path("killed.txt")
        child = subprocess.Popen([PROGRAM, "--headless", "--record", killed], stdout=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 30
            while (not os.path.exists(killed) or os.path.getsize(killed) < 3000) and time.monotonic() < deadline:
                time.sleep(0.05)
        finally:
            child.send_signal(signal.SIGKILL)
            child.wait()
        with open(killed, "rb") as file:
            data = file.read()
        # Cut inside the last line too, as a crash in the middle of a write would.
        with open(killed, "wb") as file:
            file.write(data[:-5])
        whole = data[:-5].count(b"\n") - 1
        self.assertGreater(whole, 50)
        result, trace = self.replay(killed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(trace.count(b"\n"), whole)
        self.assertIn("the replay ends at move %d" % whole, result.stderr.decode())

    def test_seed_reaches_the_header_and_the_program(self):
        seeded = self.path("seeded.txt")
        result = run("--headless", "--moves", "3", "--seed", "4294967295", "--record", seeded, "--move-budget", "0",
                     "--cannon", "exec:exec python3 " + self.path("bot.py"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Cannon: seed 4294967295", result.stderr.decode())
        with open(seeded) as file:
            self.assertIn(" seed=4294967295 budget=0 ", file.readline())

    def test_bad_command_lines_and_bad_files(self):
        for arguments in (["--replay", self.match, "--cannon", "ai"], ["--replay", self.match, "--seed", "1"],
                          ["--replay", self.match, "--record", self.path("x")], ["--from-move", "5"]):
            with self.subTest(arguments=arguments):
                self.assertEqual(run("--headless", *arguments).returncode, 2)
        bad = sorted(glob.glob(os.path.join(SOURCE, "fuzz", "corpus_match", "bad_l*")))
        self.assertGreater(len(bad), 10)
        for path in bad:
            with self.subTest(file=os.path.basename(path)):
                line = re.match(r"bad_l(\d+)_", os.path.basename(path)).group(1)
                result = run("--headless", "--replay", path)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn("%s line %s: " % (path, line), result.stderr.decode())
        # Every hex digit reads back as written: the divergence names the recorded hash.
        result = run("--headless", "--replay", os.path.join(SOURCE, "fuzz", "corpus_match", "good_hash_every_digit.match"))
        self.assertIn("line 2: replay diverges at move 1 (state hash 5396979eb0bc583a, recorded 0123456789abcdef)",
                      result.stderr.decode())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
