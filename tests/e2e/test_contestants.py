#!/usr/bin/env python3
"""Contestants that are outside programs, end to end: orders in the trace, misbehaviour, no process left."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import time
import uuid

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import PROGRAM, SOURCE, processes_naming, run, trace_lines  # noqa: E402

AIMER_CPP = os.path.join(os.path.dirname(PROGRAM), "examples", "aimer")
AIMER_PY = os.path.join(SOURCE, "examples", "aimer.py")

# A contestant whose every move is looked up in ACTIONS (the rest get DEFAULT). An action is a line
# to write ({n}: the move number), a list of them, "exit" (status 3, no reply), "flood" (one line of
# 10 MB) or (seconds, action) to sleep first.
# PRELUDE runs first. Every line received goes to the log file given as argv[1].
BOT = r"""import os, signal, sys, time
ACTIONS, DEFAULT, STUBBORN = %(actions)r, %(default)r, %(stubborn)r
%(prelude)s
log = open(sys.argv[1], "w")
def note(text):
    log.write(text)
    log.flush()
if STUBBORN:
    # Ignores SIGTERM and "quit", and leaves a child behind in its group that does the same.
    signal.signal(signal.SIGTERM, lambda *_: note("TERM\n"))
    if os.fork() == 0:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        while True: time.sleep(1)
def say(text):
    sys.stdout.buffer.write(text.encode("latin-1"))
    sys.stdout.buffer.flush()
def act(action, n):
    if isinstance(action, tuple):
        time.sleep(action[0])
        action = action[1]
    if action == "exit": sys.exit(3)
    if action == "flood": action = "x" * 10_000_000
    for line in action if isinstance(action, list) else [action]:
        say(line.replace("{n}", str(n)) + "\n")
for line in sys.stdin:
    note(line)
    words = line.split()
    if words[0] == "brakkenfel":
        say("ready\n")
    elif words[0] == "move":
        act(ACTIONS.get(int(words[1]), DEFAULT), int(words[1]))
    else:
        sys.stderr.write("bot: %%s" %% line)
        sys.stderr.flush()
        break
while STUBBORN:
    time.sleep(1)
"""

SUMMARY = re.compile(r"^brakkenfel: (\w+) contestant: (\d+) moves, (\d+) replies in time, (\d+) late, "
                     r"(\d+) malformed, (\d+) ahead, (\d+) unanswered, (not out|out at move (\d+) \((.*)\))(?:, .*)?$",
                     re.M)


def summaries(stderr):
    """The per-contestant summary lines, by gun: (moves, in time, late, malformed, ahead, unanswered,
    out move or None, reason); the five counts after moves always add up to it."""
    found = {m[0]: (int(m[1]), int(m[2]), int(m[3]), int(m[4]), int(m[5]), int(m[6]), int(m[8]) if m[8] else None,
                    m[9] or None) for m in SUMMARY.findall(stderr)}
    for name, counts in found.items():
        assert counts[0] == sum(counts[1:6]), (name, counts)
    return found


def summary_sandbox(stderr, name):
    """The sandbox part of a gun's summary line, as the result file must repeat it."""
    return re.search(r"^brakkenfel: %s contestant: .*, (sandbox: .*)$" % name, stderr, re.M)[1]


def gun(line, name):
    return next(g for g in line["guns"] if g["name"] == name)


class MarkedFolderTest(unittest.TestCase):
    """Every path the contestants run from carries a marker of its own, so a leftover process shows."""

    def setUp(self):
        self.marker = "brakkenfel-e2e-" + uuid.uuid4().hex
        self.dir = os.path.join(tempfile.gettempdir(), self.marker)
        os.mkdir(self.dir)
        # Run as root, the sandboxed bots are an unprivileged uid: their granted folder must let it write
        # (and remove the arena's files there, so no sticky bit).
        os.chmod(self.dir, 0o777)

    def tearDown(self):
        self.assertEqual(processes_naming(self.marker), [], "a contestant process outlived the arena")
        shutil.rmtree(self.dir)


class ContestantTest(MarkedFolderTest):
    @classmethod
    def setUpClass(cls):
        cls.ai_trace = os.path.join(tempfile.mkdtemp(prefix="brakkenfel-ai-"), "trace.jsonl")
        result = run("--headless", "--moves", "300", "--trace", cls.ai_trace)
        assert result.returncode == 0, result.stderr
        cls.ai = trace_lines(cls.ai_trace)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(os.path.dirname(cls.ai_trace))

    def bot(self, actions=None, default="{n}", stubborn=False, name="bot", with_exec=True, prelude="", before=""):
        """Writes a scripted contestant; returns the KIND that runs it (`before`: shell words first)."""
        script = os.path.join(self.dir, name + ".py")
        with open(script, "w") as file:
            file.write(BOT % {"actions": actions or {}, "default": default, "stubborn": stubborn, "prelude": prelude})
        command = "python3 %s %s" % (script, os.path.join(self.dir, name + ".log"))
        return "exec:" + before + ("exec " if with_exec else "") + command

    def log(self, name="bot"):
        with open(os.path.join(self.dir, name + ".log")) as file:
            return file.read()

    def headless(self, *arguments, moves=300):
        trace = os.path.join(self.dir, "trace.jsonl")
        # The bots keep a log beside them: the one folder the sandbox lets them write.
        result = run("--headless", "--moves", str(moves), "--trace", trace, "--contestant-write", self.dir, *arguments)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        lines = trace_lines(trace)
        self.assertEqual(len(lines), moves)
        return lines, result.stderr.decode()

    def assertHelicopterAsWithTheComputer(self, lines):
        for mine, ai in zip(lines, self.ai):
            self.assertEqual(gun(mine, "Helicopter"), gun(ai, "Helicopter"), mine["move"])

    def test_orders_turn_and_fire_the_gun(self):
        # Without a budget, so that a busy machine cannot make a reply late.
        lines, stderr = self.headless("--cannon", self.bot({1: "1 rotate 140", 5: "5 shoot",
                                                            20: "20 shoot rotate 135 shoot"}), "--move-budget", "0")
        cannon = [gun(line, "Cannon") for line in lines]
        self.assertEqual([c["target"] for c in cannon[:20]], [140] * 19 + [135])
        # One step a move, always upward, from the move after the order.
        self.assertEqual([c["angle"] for c in cannon[:14]], list(range(128, 141)) + [140])
        self.assertEqual(cannon[-1]["angle"], 135)  # up past 255 and round, as the registry turns
        # Fired on move 5 only: the shots of move 20 came while it reloaded.
        self.assertEqual([m for m, c in enumerate(cannon, 1) if c["reload"] == 89], [5])
        self.assertIn("shots: Cannon 1,", stderr)
        self.assertEqual(summaries(stderr)["Cannon"], (300, 300, 0, 0, 0, 0, None, None))
        self.assertHelicopterAsWithTheComputer(lines)
        log = self.log().splitlines()
        self.assertEqual(log[:3], ["brakkenfel 1 Cannon", "move 1 128 20 20 0", "move 2 129 20 20 0"])
        self.assertEqual(log[-1], "quit")

    def test_replies_later_than_the_default_budget_move_nothing(self):
        # 200 ms a reply against the default 5 ms: never in time. Going out after 90 misses is ProgramSession's test.
        # The greeting waits without limit: a loaded machine may take over a second to start Python.
        lines, stderr = self.headless("--cannon", self.bot(default=(0.2, "{n} rotate 200 shoot")), "--ready-time", "0",
                                      moves=10)
        for line in lines:
            self.assertEqual(gun(line, "Cannon"), {"name": "Cannon", "angle": 128, "target": 128, "reload": 0, "hits": 0})
        self.assertEqual(summaries(stderr)["Cannon"][:2], (10, 0))
        self.assertHelicopterAsWithTheComputer(lines)

    def test_garbage_long_lines_and_wild_angles_are_refused(self):
        # One of each kind the pipe can bring; the judging of each reply is ProtocolLine's own table.
        refused = {2: "\x00\xff\xfe rotate 200", 3: "", 4: "4 rotate 256", 5: "99 rotate 200", 6: "flood",
                   7: "7 rotate 200" + " shoot" * 50}
        # A reply to a move already over is dropped, and the wait for this move goes on; move 7
        # was decided by its over-long line, so this one counts for nothing.
        actions = {**refused, 8: ["7 rotate 200", "8"], 9: "9 rotate 140"}
        lines, stderr = self.headless("--cannon", self.bot(actions), "--move-budget", "0", moves=100)
        targets = [gun(line, "Cannon")["target"] for line in lines]
        self.assertEqual(targets, [128] * 8 + [140] * 92)
        self.assertEqual(summaries(stderr)["Cannon"], (100, 100 - len(refused), 0, len(refused), 0, 0, None, None))
        self.assertRegex(stderr, r"Cannon contestant: .*, not out, 1 line ignored(, sandbox: .*)?\n")
        self.assertHelicopterAsWithTheComputer(lines)

    def test_a_contestant_that_exits_is_out_and_the_run_goes_on(self):
        result, protocol = os.path.join(self.dir, "result.json"), os.path.join(self.dir, "protocol.log")
        lines, stderr = self.headless("--cannon", self.bot({50: "exit"}, default="{n} rotate 200"),
                                      "--move-budget", "0", "--result", result, "--protocol-log", protocol)
        self.assertIn("Cannon contestant is out at move 50: exited with status 3", stderr)
        self.assertEqual(summaries(stderr)["Cannon"], (50, 49, 0, 0, 0, 1, 50, "exited with status 3"))
        with open(result) as file:
            outcome = json.load(file)
        hits = {name: gun(lines[-1], name)["hits"] for name in ("Cannon", "Helicopter")}
        self.assertEqual(outcome["guns"][0], {
            "name": "Cannon", "kind": "exec", "command": self.bot()[len("exec:"):], "shots": 0, "hits": hits["Cannon"],
            "program": {"moves": 50, "replies": 49, "late": 0, "malformed": 0, "ahead": 0, "unanswered": 1,
                        "ignored": 0, "out": True, "out_at_move": 50,
                        "out_reason": "exited with status 3", "sandbox": summary_sandbox(stderr, "Cannon")}})
        self.assertEqual(outcome["guns"][1]["kind"], "ai")
        self.assertEqual((outcome["moves"], outcome["interrupted"], outcome["error"], outcome["winner"]),
                         (300, False, None, "Helicopter" if hits["Helicopter"] > hits["Cannon"] else "draw"))
        with open(protocol) as file:
            entries = [line.split(" ", 4) for line in file.read().splitlines()[1:]]
        self.assertEqual([(e[0], e[1], e[2], e[4]) for e in entries[:4]],
                         [("0", "Cannon", ">", "brakkenfel 1 Cannon"), ("0", "Cannon", "<", "ready"),
                          ("1", "Cannon", ">", "move 1 128 20 20 0"), ("1", "Cannon", "<", "1 rotate 200")])
        self.assertEqual([(e[0], e[2], e[4]) for e in entries[-4:]],
                         [("50", ">", "move 50 177 20 20 0"), ("50", "!", "its output ended"),
                          ("50", "!", "out: exited with status 3"), ("50", ">", "quit")])
        # Turning on toward its last order is the gun's own doing, not the program's.
        self.assertEqual(gun(lines[-1], "Cannon")["target"], 200)
        self.assertHelicopterAsWithTheComputer(lines)

    def test_contestants_that_ignore_sigterm_are_killed_with_their_groups(self):
        # The Cannon's program runs under a shell (no "exec"), so the shell leads its group.
        _, stderr = self.headless("--cannon", self.bot(stubborn=True, name="one", with_exec=False),
                                  "--helicopter", self.bot(stubborn=True, name="two"), "--move-budget", "0",
                                  moves=50)
        self.assertEqual({name: s[:2] for name, s in summaries(stderr).items()},
                         {"Cannon": (50, 50), "Helicopter": (50, 50)})
        self.assertIn("shots: Cannon 0, Helicopter 0", stderr)
        # Each got "quit", then SIGTERM, which it ignored (a busy machine may kill it before its handler
        # runs, so the TERM line is not required); tearDown finds both groups gone.
        for name in ("one", "two"):
            self.assertRegex(self.log(name), r"quit\n(TERM\n)?$", name)

    def test_a_failed_start_up_stops_the_program_before_the_report(self):
        # The program with its picture beside it, which the Cannon's contestant removes as it starts:
        # the picture is read once before any output is made, and fails when set-up reads it again.
        program = os.path.join(self.dir, "brakkenfel")
        shutil.copy(PROGRAM, program)
        picture = os.path.join(self.dir, "cannon.bmp")
        shutil.copy(os.path.join(os.path.dirname(PROGRAM), "cannon.bmp"), picture)
        outcome = os.path.join(self.dir, "result.json")
        # Removing it is a write in the program's folder: granted, or the sandbox refuses it.
        result = run("--headless", "--moves", "10", "--cannon", self.bot(before="rm %s; " % picture),
                     "--helicopter", "exec:never-run", "--result", outcome, "--contestant-write", self.dir,
                     program=program)
        self.assertEqual(result.returncode, 1)
        with open(outcome) as file:
            outcome = json.load(file)
        self.assertEqual((outcome["moves"], outcome["error"]["number"]), (0, 53))
        self.assertEqual(outcome["guns"][1]["program"]["out_reason"], "never started: the run ended before its start")
        stderr = result.stderr.decode()
        self.assertIn("cannon.bmp", stderr)
        self.assertLess(stderr.index("bot: quit"), stderr.index("brakkenfel: Error"), stderr)
        self.assertEqual(self.log().splitlines(), ["brakkenfel 1 Cannon", "quit"])

    def test_a_contestant_that_leaves_a_new_session_behind_is_contained(self):
        # The other escapes are ContestantProcess's own test; this one shows the arena asks for containment.
        sleeper = "python3 -c 'import time; time.sleep(300)' %s" % self.dir
        _, stderr = self.headless("--cannon", self.bot(before="setsid %s & " % sleeper), "--move-budget", "0",
                                  moves=50)
        self.assertEqual(summaries(stderr)["Cannon"][:2], (50, 50), stderr)
        self.assertNotIn("not contained", stderr)
        self.assertEqual(processes_naming(self.marker), [])

    def test_standard_error_is_relayed_bounded_and_cannot_touch_the_arenas(self):
        flood = ("import fcntl\nfcntl.fcntl(2, fcntl.F_SETFL, fcntl.fcntl(2, fcntl.F_GETFL) | os.O_NONBLOCK)\n"
                 "os.write(2, b'first\\x1b[2J\\n' + b'y' * 3000 + b'\\n')\n"
                 "for _ in range(100):\n    try: os.write(2, b'z' * 65536)\n    except BlockingIOError: time.sleep(0.001)\n")
        trace_moves = 20000
        # Trace and standard error share one pipe that is read only after a while: the program's
        # non-blocking standard error must not make the arena's writes fail.
        arena = subprocess.Popen([PROGRAM, "--headless", "--moves", str(trace_moves), "--trace", "-",
                                  "--move-budget", "0", "--cannon", self.bot(prelude=flood), "--contestant-write", self.dir],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        time.sleep(1)
        lines = arena.communicate(timeout=120)[0].decode().splitlines()
        self.assertEqual(arena.returncode, 0, lines[-3:])
        self.assertEqual(sum(line.startswith('{"move"') for line in lines), trace_moves)
        relayed = [line for line in lines if line.startswith("Cannon: ")]
        self.assertEqual(relayed[:2], ["Cannon: first?[2J", "Cannon: " + "y" * 512 + " [cut]"])
        self.assertLess(len(relayed), 200)
        dropped = re.search(r"^brakkenfel: Cannon contestant: .*, not out, (\d+) bytes of standard error dropped(?:, sandbox: .*)?$",
                            "\n".join(lines[-3:]), re.M)
        self.assertGreater(int(dropped[1]), 3000 - 512, lines[-3:])


class ExampleAimerTest(MarkedFolderTest):
    """The example contestants, each on a gun of its own."""
    MOVES = 2000

    def setUp(self):
        super().setUp()
        self.cpp = shutil.copy(AIMER_CPP, self.dir)
        self.py = "python3 " + shutil.copy(AIMER_PY, self.dir)

    def run_aimers(self, cannon, helicopter, name, *rules, moves=MOVES):
        trace = os.path.join(self.dir, name)
        result = run("--headless", "--moves", str(moves), "--move-budget", "0", "--trace", trace, *rules,
                     "--cannon", "exec:exec " + cannon, "--helicopter", "exec:exec " + helicopter)
        self.assertEqual(result.returncode, 0, result.stderr)
        stderr = result.stderr.decode()
        for gun_name in ("Cannon", "Helicopter"):
            self.assertEqual(summaries(stderr)[gun_name], (moves, moves, 0, 0, 0, 0, None, None), stderr)
        with open(trace, "rb") as file:
            return file.read()

    def test_each_settles_on_an_aim_and_runs_repeat_exactly_in_either_language(self):
        trace = self.run_aimers(self.cpp, self.py, "a.jsonl")
        # Without a budget the same contestants give the same bytes, whichever language steers which gun.
        self.assertEqual(self.run_aimers(self.py, self.cpp, "b.jsonl"), trace)
        lines = [json.loads(line) for line in trace.splitlines()]
        for name, reload in (("Cannon", 89), ("Helicopter", 59)):
            # One angle, held to the end, and the gun fires on its reload rhythm (the aim is the examples' own).
            self.assertEqual(len({gun(line, name)["target"] for line in lines}), 1, name)
            self.assertEqual(gun(lines[-1], name)["angle"], gun(lines[-1], name)["target"], name)
            self.assertGreater(sum(gun(line, name)["reload"] == reload for line in lines), 10, name)

    def test_each_plays_duel_rules_without_going_out(self):
        # Protocol 2's greeting and longer move lines: both languages answer every move, alike.
        duel = ("--rules", "duel", "--seed", "3")
        trace = self.run_aimers(self.cpp, self.py, "a.jsonl", *duel, moves=300)
        self.assertEqual(self.run_aimers(self.py, self.cpp, "b.jsonl", *duel, moves=300), trace)
        lines = [json.loads(line) for line in trace.splitlines()]
        for name in ("Cannon", "Helicopter"):
            # The orders are carried out: one aim of its own (not the start angle), reached and held.
            start, last = gun(lines[0], name)["angle"], gun(lines[-1], name)
            self.assertEqual({gun(line, name)["target"] for line in lines[1:]}, {last["angle"]}, name)
            self.assertNotEqual(last["angle"], start, name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
