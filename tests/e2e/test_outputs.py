#!/usr/bin/python3
"""Outputs never destroy anything: clashing paths refused, refused runs leave files as they were,
the result written where it was named, no leftovers after kill -9, stalled FIFOs ended by SIGTERM,
and bytes that are not text kept out of JSON and the terminal."""
import itertools
import json
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import PROGRAM, SOURCE, run  # noqa: E402

OUTPUTS = ["--trace", "--snapshot", "--result", "--record", "--protocol-log"]
FOREVER = ["--headless", "--moves", "1000000000"]

# Answers every move at once with no orders.
BOT = """import sys
print("ready", flush=True)
for line in sys.stdin:
    print(line.split()[1], flush=True)
"""


def contents(folder):
    """Every file in `folder` with its bytes (links as their target's text)."""
    found = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.islink(path):
            found[name] = "-> " + os.readlink(path)
        elif os.path.isfile(path):
            with open(path, "rb") as file:
                found[name] = file.read()
        else:
            found[name] = stat.S_IFMT(os.lstat(path).st_mode)
    return found


def stop_after(process, seconds, number):
    """Sends `number` after `seconds`; returns (status, stderr, seconds from the signal to the end)."""
    try:
        time.sleep(seconds)
        process.send_signal(number)
        sent = time.monotonic()
        stderr = process.communicate(timeout=20)[1].decode()
        return process.returncode, stderr, time.monotonic() - sent
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


class OutputsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="outputs")
        os.chmod(cls.dir.name, 0o755)  # run as root, the sandboxed bots are an unprivileged uid that must read them
        # A copy of the program beside its own picture strip: a fault cannot harm the build's.
        cls.program = os.path.join(cls.dir.name, "brakkenfel")
        shutil.copy(PROGRAM, cls.program)
        cls.picture = os.path.join(cls.dir.name, "cannon.bmp")
        shutil.copy(os.path.join(os.path.dirname(PROGRAM), "cannon.bmp"), cls.picture)
        cls.match = os.path.join(cls.dir.name, "recorded.match")
        result = run("--headless", "--moves", "3000", "--seed", "7", "--record", cls.match, program=cls.program)
        assert result.returncode == 0, result.stderr
        cls.summary = result.stderr.decode()
        with open(cls.match, "rb") as file:
            cls.match_bytes = file.read()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="case", dir=self.dir.name)
        os.chmod(self.work, 0o755)
        self.addCleanup(shutil.rmtree, self.work, True)

    def path(self, name):
        return os.path.join(self.work, name)

    def run_program(self, *arguments, **keywords):
        return run(*arguments, program=self.program, **keywords)

    def test_clashing_outputs_are_refused_and_nothing_changes(self):
        with open(self.path("kept"), "wb") as file:
            file.write(b"what the user had\n")
        os.symlink("kept", self.path("link"))
        os.link(self.path("kept"), self.path("hard"))
        os.symlink(self.picture, self.path("to-picture"))
        os.symlink(self.match, self.path("to-match"))
        cases = []
        for number, (first, second) in enumerate(itertools.combinations(OUTPUTS, 2)):
            other = ("link", "hard")[number % 2]  # the second names it through a symbolic or a hard link
            cases.append(([first, self.path("kept"), second, self.path(other)], "are the same file"))
        for option in OUTPUTS:
            cases.append(([option, self.path("to-picture")], "picture strip"))
            # --record with --replay is a bad command line in any case.
            cases.append(([option, self.path("to-match"), "--replay", self.match],
                          "cannot be used with" if option == "--record" else "match being replayed"))
        picture = contents(self.dir.name)["cannon.bmp"]
        for arguments, says in cases:
            with self.subTest(" ".join(arguments).replace(self.work, "")):
                before = contents(self.work)
                result = self.run_program("--headless", "--moves", "5", *arguments)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(says, result.stderr.decode())
                self.assertEqual(contents(self.work), before)
                self.assertEqual(contents(self.dir.name)["cannon.bmp"], picture)
        with open(self.match, "rb") as file:
            self.assertEqual(file.read(), self.match_bytes)

    def test_a_refused_run_leaves_every_file_as_it_was(self):
        names = {"--trace": "t", "--snapshot": "s.bmp", "--result": "r.json", "--protocol-log": "p.log",
                 "--record": "k.match"}
        for name in names.values():
            with open(self.path(name), "w") as file:
                file.write("old " + name + "\n")
        long_command = "--cannon=exec:" + "x" * 5000  # too long for the match file's header
        # label, outputs changed (None: left out), more arguments, status, in stderr
        for label, changed, more, status, says in [
            ("a command too long for the header", {}, [long_command], 1, "do not fit in its header"),
            ("one output in a missing folder", {"--snapshot": "none/s.bmp"}, [], 1, "none/s.bmp"),
            ("a missing replay", {"--record": None}, ["--replay", self.path("no.match")], 1, "no.match"),
            ("a picture strip that is no picture", {}, ["program beside a bad picture"], 1, "Invalid picture"),
        ]:
            with self.subTest(label):
                before = contents(self.work)
                chosen = {**names, **changed}
                outputs = [item for option, name in chosen.items() if name for item in (option, self.path(name))]
                program = self.program
                if more == ["program beside a bad picture"]:
                    os.mkdir(self.path("bad"))
                    program = self.path("bad/brakkenfel")
                    os.link(self.program, program)
                    with open(self.path("bad/cannon.bmp"), "wb") as file:
                        file.write(b"BM not a picture")
                    before = contents(self.work)
                    more = []
                result = run("--headless", "--moves", "5", *outputs, *more, program=program)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(says, result.stderr.decode())
                self.assertEqual(contents(self.work), before)

    def test_the_result_goes_to_the_file_named(self):
        result_json = lambda data: json.loads(data)["moves"]
        with open(self.path("target.json"), "w") as file:
            file.write("old\n")
        os.symlink("target.json", self.path("link.json"))
        result = self.run_program("--headless", "--moves", "7", "--result", self.path("link.json"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.islink(self.path("link.json")), "the link was replaced")
        with open(self.path("target.json")) as file:
            self.assertEqual(result_json(file.read()), 7)

        # A link to standard output, as /dev/stdout is: the result arrives on the pipe, the link stays.
        os.symlink("/proc/self/fd/1", self.path("stdout"))
        result = self.run_program("--headless", "--moves", "8", "--result", self.path("stdout"))
        self.assertEqual((result.returncode, result_json(result.stdout)), (0, 8), result.stderr)
        self.assertEqual(os.readlink(self.path("stdout")), "/proc/self/fd/1")

        os.mkfifo(self.path("fifo"))
        read = {}

        def read_fifo():
            with open(self.path("fifo")) as fifo:
                read["data"] = fifo.read()
        reader = threading.Thread(target=read_fifo)
        reader.start()
        result = self.run_program("--headless", "--moves", "9", "--result", self.path("fifo"))
        reader.join(20)
        self.assertEqual((result.returncode, result_json(read["data"])), (0, 9), result.stderr)
        self.assertTrue(stat.S_ISFIFO(os.lstat(self.path("fifo")).st_mode))

        try:  # a device node of our own, so that a fault replaces no system file
            os.mknod(self.path("null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            os.mknod(self.path("full"), 0o666 | stat.S_IFCHR, os.makedev(1, 7))
        except OSError:
            pass
        for device, status in (("null", 0), ("full", 1)):
            if not os.path.exists(self.path(device)):
                continue
            with self.subTest(device):
                result = self.run_program("--headless", "--moves", "5", "--result", self.path(device))
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertTrue(stat.S_ISCHR(os.lstat(self.path(device)).st_mode), "the device was replaced")
        self.assertEqual(sorted(os.listdir(self.work)),
                         sorted(["target.json", "link.json", "stdout", "fifo"] +
                                [d for d in ("null", "full") if os.path.exists(self.path(d))]))

    def test_an_immutable_result_is_refused_before_the_run(self):
        target = self.path("locked.json")
        with open(target, "w") as file:
            file.write("kept\n")
        if shutil.which("chattr") is None or subprocess.run(["chattr", "+i", target]).returncode != 0:
            self.skipTest("this file system refuses the immutable flag")
        self.addCleanup(subprocess.run, ["chattr", "-i", target])
        result = self.run_program("--headless", "--moves", "5", "--trace", self.path("t"), "--result", target)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("locked.json", result.stderr.decode())
        self.assertEqual(sorted(os.listdir(self.work)), ["locked.json"])  # not even the trace began
        with open(target) as file:
            self.assertEqual(file.read(), "kept\n")

    def test_kill_9_leaves_no_temporary_file(self):
        with open(self.path("r.json"), "w") as file:
            file.write("old\n")
        process = subprocess.Popen([self.program, *FOREVER, "--trace", self.path("t"), "--result",
                                    self.path("r.json")], stderr=subprocess.DEVNULL)
        try:
            while (not os.path.exists(self.path("t")) or os.path.getsize(self.path("t")) == 0) and \
                    process.poll() is None:
                time.sleep(0.05)  # the run is under way once its trace grows
        finally:
            process.kill()
            process.wait()
        self.assertEqual(sorted(os.listdir(self.work)), ["r.json", "t"])
        with open(self.path("r.json")) as file:
            self.assertEqual(file.read(), "old\n")

    def test_sigterm_ends_a_stalled_fifo(self):
        with open(self.path("bot.py"), "w") as file:
            file.write(BOT)
        bot = ["--cannon=exec:exec python3 " + self.path("bot.py"), "--move-budget", "0"]
        for option, more in (("--trace", []), ("--record", []), ("--protocol-log", bot), ("--replay", [])):
            with self.subTest(option):
                fifo = self.path(option.strip("-"))
                os.mkfifo(fifo)
                arguments = ["--headless", "--replay", fifo] if option == "--replay" else [*FOREVER, option, fifo]
                process = subprocess.Popen([self.program, *arguments, *more], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.PIPE)
                if option == "--replay":
                    # The writer sends the header and a few moves, then pauses with the FIFO open.
                    held = open(fifo, "wb")
                    held.write(self.match_bytes[:self.match_bytes.index(b"\n") + 1] +
                               b"".join(self.match_bytes.split(b"\n")[1:40]))
                    held.flush()
                else:
                    # The reader takes the first bytes, then stops reading with the FIFO open.
                    held = open(fifo, "rb")
                    self.assertTrue(held.read(1))
                try:
                    status, stderr, took = stop_after(process, 0.5, signal.SIGTERM)
                finally:
                    held.close()
                print("%s: SIGTERM to exit %.3f s" % (option, took), file=sys.stderr)
                self.assertEqual(status, 143, stderr)
                self.assertIn("by SIGTERM", stderr)

    def test_sigterm_ends_the_wait_for_a_fifos_reader(self):
        os.mkfifo(self.path("fifo"))
        for option in OUTPUTS:
            with self.subTest(option):
                process = subprocess.Popen([self.program, *FOREVER, option, self.path("fifo"),
                                            "--cannon=exec:exec cat"], stderr=subprocess.PIPE)
                status, stderr, _ = stop_after(process, 0.5, signal.SIGTERM)
                self.assertEqual(status, 143, stderr)

    def test_a_full_device_under_the_protocol_log_stops_the_run(self):
        with open(self.path("bot.py"), "w") as file:
            file.write(BOT)
        result = self.run_program(*FOREVER, "--protocol-log", "/dev/full", "--move-budget", "0",
                                  "--cannon=exec:exec python3 " + self.path("bot.py"), timeout=60)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("cannot write the protocol log to /dev/full: No space left on device", result.stderr.decode())

    def test_commands_that_are_not_text_stay_out_of_json_and_the_terminal(self):
        command = b"exec:printf 'x\x01\xff\x1b[31m\xc3\xa9' #"
        live, replayed = self.path("live.json"), self.path("replayed.json")
        result = subprocess.run([self.program, "--headless", "--moves", "5", b"--cannon=" + command, "--record",
                                 self.path("m"), "--result", live], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(live, "rb") as file:
            data = file.read()
        data.decode("utf-8")  # valid UTF-8
        gun = json.loads(data)["guns"][0]
        self.assertEqual(gun["command"], "printf 'x\x01\ufffd\x1b[31m\u00e9' #")
        # The match file keeps the exact bytes, and its replay says so without driving the terminal.
        with open(self.path("m"), "rb") as file:
            header = file.readline()
        field = re.search(rb" cannon=(\S+)", header).group(1)
        self.assertEqual(re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]), field), command)
        result = self.run_program("--headless", "--replay", self.path("m"), "--result", replayed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(b"\x1b", result.stderr)
        self.assertIn(b"printf 'x\\x01\\xff\\x1b[31m\xc3\xa9'", result.stderr)
        with open(replayed, "rb") as file:
            self.assertEqual(json.loads(file.read())["guns"][0]["command"], gun["command"])
        # A contestants file with such a command is a bad contestants file, not a crash.
        with open(self.path("contestants.txt"), "wb") as file:
            file.write(b"odd " + command + b"\nplain ai\n")
        tournament = os.path.join(SOURCE, "tools", "tournament.py")
        result = subprocess.run([sys.executable, tournament, self.path("contestants.txt"), "--print-commands"],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"not UTF-8 text", result.stderr)

    def test_a_jump_counts_what_the_run_did(self):
        summary = lambda text: re.search(r"(\d+) moves, .*pool peak (\d+)", text).groups()
        result = self.run_program("--headless", "--replay", self.match, "--from-move", "2990")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(summary(result.stderr.decode()), summary(self.summary))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
