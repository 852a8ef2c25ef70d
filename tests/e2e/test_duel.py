#!/usr/bin/env python3
"""Duel rules end to end: 200 seeds repeat and replay byte for byte, a match ends on destruction,
protocol 2 speaks as docs/duel.md shows, and plain rules keep protocol 1 and their files as they were."""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
HUNTER = "exec:exec python3 " + os.path.join(SOURCE, "examples", "hunter.py")

# Writes every line it is sent to the file named by its argument; answers with the bare move number.
LISTENER = r"""import sys
with open(sys.argv[1], "w") as seen:
    for line in sys.stdin:
        seen.write(line)
        seen.flush()
        words = line.split()
        if words[0] == "brakkenfel":
            print("ready", flush=True)
        elif words[0] == "move":
            print(words[1], flush=True)
"""


def run(*arguments, timeout=120):
    return subprocess.run([PROGRAM, *arguments], capture_output=True, timeout=timeout)


def read(path):
    with open(path, "rb") as file:
        return file.read()


class DuelTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        # Run as root, the sandboxed contestants are an unprivileged uid that reads and writes here.
        os.chmod(self.dir.name, 0o777)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def test_two_hundred_seeds_repeat_and_replay_byte_for_byte(self):
        def check(seed):
            outputs = []
            for take in ("a", "b"):
                trace, result = self.path(f"{seed}{take}.jsonl"), self.path(f"{seed}{take}.json")
                extra = ["--record", self.path(f"{seed}.match")] if take == "a" else []
                done = run("--headless", "--rules", "duel", "--seed", str(seed), "--moves", "600", "--trace", trace,
                           "--result", result, *extra)
                assert done.returncode == 0, done.stderr
                outputs.append((read(trace), read(result)))
            replay_trace = self.path(f"{seed}r.jsonl")
            replayed = run("--headless", "--replay", self.path(f"{seed}.match"), "--trace", replay_trace,
                           "--result", self.path(f"{seed}r.json"))
            assert replayed.returncode == 0, replayed.stderr
            return seed, outputs, read(replay_trace), read(self.path(f"{seed}r.json"))

        places = set()
        with ThreadPoolExecutor(2) as pool:
            for seed, ((trace, result), again), replay_trace, replay_result in pool.map(check, range(200)):
                self.assertEqual(again, (trace, result), f"seed {seed} did not repeat")
                self.assertEqual(replay_trace, trace, f"seed {seed}'s replay differs")
                self.assertEqual(replay_result, result, f"seed {seed}'s replayed result differs")
                outcome = json.loads(result)
                self.assertEqual((outcome["rules"], outcome["seed"], outcome["health"]), ("duel", seed, 5))
                places.add(tuple((gun["x"], gun["y"]) for gun in outcome["guns"]))
        self.assertGreater(len(places), 190, "seeds should draw different fields")

    def test_a_hunter_destroys_an_idle_gun_and_the_match_replays(self):
        match, trace, result = self.path("m.txt"), self.path("t.jsonl"), self.path("r.json")
        done = run("--headless", "--rules", "duel", "--seed", "12", "--health", "3", "--moves", "20000",
                   "--move-budget", "0", "--cannon", HUNTER, "--helicopter", "human", "--record", match,
                   "--trace", trace, "--result", result)
        self.assertEqual(done.returncode, 0, done.stderr)
        outcome = json.loads(read(result))
        cannon, helicopter = outcome["guns"]
        self.assertEqual(outcome["winner"], "Cannon")
        self.assertEqual((helicopter["final_health"], helicopter["destroyed_by"]), (0, "Cannon"))
        self.assertEqual(helicopter["destroyed_at"], outcome["moves"])
        self.assertLess(outcome["moves"], 20000)
        self.assertEqual((cannon["final_health"], cannon["destroyed_at"], cannon["hits"]), (3, None, 3))
        last = json.loads(read(trace).splitlines()[-1])
        self.assertEqual([gun["health"] for gun in last["guns"]], [3, 0])
        self.assertEqual(read(match).splitlines()[0].split()[-2:], [b"rules=duel", b"health=3"])
        replay_trace = self.path("rt.jsonl")
        replayed = run("--headless", "--replay", match, "--trace", replay_trace)
        self.assertEqual(replayed.returncode, 0, replayed.stderr)
        self.assertEqual(read(replay_trace), read(trace))

    def test_protocol_two_session_is_as_the_docs_show(self):
        with open(os.path.join(SOURCE, "docs", "duel.md"), encoding="utf-8") as docs:
            text = docs.read()
        block = re.search(r"```\n(> brakkenfel 2 Cannon\n.*?)```", text, re.S).group(1)
        shown = block.splitlines()
        log = self.path("log.txt")
        done = run("--headless", "--rules", "duel", "--seed", "3", "--moves", str(len(shown) // 2 - 1),
                   "--move-budget", "0", "--cannon", HUNTER, "--protocol-log", log)
        self.assertEqual(done.returncode, 0, done.stderr)
        spoken = []
        for line in read(log).decode().splitlines()[1:]:
            _move, _gun, direction, _micros, words = line.split(" ", 4)
            if words != "quit":
                spoken.append(direction + " " + words)
        self.assertEqual(spoken, shown)

    def test_plain_rules_speak_protocol_one_and_write_what_they_always_did(self):
        with open(self.path("listener.py"), "w") as listener:
            listener.write(LISTENER)
        seen, trace, result = self.path("seen.txt"), self.path("t.jsonl"), self.path("r.json")
        done = run("--headless", "--moves", "3", "--move-budget", "0", "--cannon",
                   "exec:exec python3 %s %s" % (self.path("listener.py"), seen), "--trace", trace, "--result", result,
                   "--contestant-write", self.dir.name)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(read(seen).decode().splitlines(),
                         ["brakkenfel 1 Cannon", "move 1 128 20 20 0", "move 2 128 20 20 0", "move 3 128 20 20 0",
                          "quit"])
        self.assertNotIn("rules", json.loads(read(result)))
        first = json.loads(read(trace).splitlines()[0])
        self.assertEqual(list(first["guns"][0]), ["name", "angle", "target", "reload", "hits"])

    def test_rules_options_are_checked(self):
        for arguments, message in [
            (["--rules", "chess"], b"invalid value 'chess' for --rules (plain or duel)"),
            (["--health", "3"], b"--health needs --rules duel"),
            (["--rules", "duel", "--health", "0"], b"invalid value '0' for --health"),
            (["--replay", "x", "--rules", "duel"], b"--replay cannot be used with --rules"),
        ]:
            with self.subTest(arguments=arguments):
                done = run("--headless", "--moves", "1", *arguments)
                self.assertEqual(done.returncode, 2)
                self.assertIn(message, done.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
