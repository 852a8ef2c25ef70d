#!/usr/bin/env python3
"""The tournament runner end to end: four contestants, every pair from both seats, and the same table
from --print-commands run through sh and then --merge."""
import csv
import glob
import itertools
import json
import os
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
TOURNAMENT = os.path.join(SOURCE, "tools", "tournament.py")
CONTESTANTS = {
    "gunner": "ai",
    "idle": "human",
    "aimer-cpp": "exec:exec " + os.path.join(os.path.dirname(PROGRAM), "examples", "aimer"),
    "aimer-py": "exec:exec python3 " + os.path.join(SOURCE, "examples", "aimer.py"),
}


def tournament(*arguments, cwd):
    return subprocess.run([sys.executable, TOURNAMENT, "contestants.txt", "--program", PROGRAM, "--moves", "1000",
                           "--move-budget", "0", *arguments], cwd=cwd, capture_output=True, text=True, timeout=240)


def table(folder):
    with open(os.path.join(folder, "league.csv")) as file:
        return list(csv.DictReader(file))


class TournamentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        with open(os.path.join(cls.dir.name, "contestants.txt"), "w") as file:
            file.write("# four seats\n\n" + "".join("%s %s\n" % item for item in CONTESTANTS.items()))
        cls.played = tournament("--jobs", "2", "--out", "played", cwd=cls.dir.name)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_every_pair_plays_from_both_seats_and_the_table_adds_up(self):
        self.assertEqual(self.played.returncode, 0, self.played.stderr)
        self.assertIn("12/12 matches played", self.played.stderr)
        seats = []
        for path in glob.glob(os.path.join(self.dir.name, "played", "*.json")):
            with open(path) as file:
                guns = json.load(file)["guns"]
            seats.append(tuple("exec:" + g["command"] if g["command"] else g["kind"] for g in guns))
        self.assertEqual(sorted(seats), sorted(itertools.permutations(CONTESTANTS.values(), 2)))

        rows = {row["contestant"]: {k: int(v) for k, v in row.items() if k != "contestant"}
                for row in table(os.path.join(self.dir.name, "played"))}
        self.assertEqual(set(rows), set(CONTESTANTS))
        self.assertEqual([row["rank"] for row in rows.values()], [1, 2, 3, 4])
        for name, row in rows.items():
            self.assertEqual((row["played"], row["won"] + row["drawn"] + row["lost"]), (6, 6), name)
        total = {key: sum(row[key] for row in rows.values()) for key in ("won", "lost", "hits_for", "hits_against")}
        self.assertEqual(total["won"], total["lost"])
        self.assertEqual(total["hits_for"], total["hits_against"])
        # The idle seat never fires, so it never scores; the aimers do.
        self.assertEqual((rows["idle"]["hits_for"], rows["idle"]["won"]), (0, 0))
        self.assertGreater(rows["aimer-cpp"]["hits_for"], 0)
        with open(os.path.join(self.dir.name, "played", "league.md")) as file:
            self.assertEqual(self.played.stdout, file.read())

    def test_printed_commands_run_by_sh_then_merged_give_the_same_table(self):
        commands = tournament("--print-commands", "--out", "spread", cwd=self.dir.name)
        self.assertEqual(commands.returncode, 0, commands.stderr)
        self.assertEqual(len(commands.stdout.splitlines()), 12)
        ran = subprocess.run(["sh"], input=commands.stdout, cwd=self.dir.name, text=True, timeout=240)
        self.assertEqual(ran.returncode, 0)
        results = sorted(glob.glob(os.path.join(self.dir.name, "spread", "*.json")))
        merged = tournament("--merge", *results, "--out", "merged", cwd=self.dir.name)
        self.assertEqual(merged.returncode, 0, merged.stderr)
        self.assertEqual(merged.stdout, self.played.stdout)
        self.assertEqual(table(os.path.join(self.dir.name, "merged")), table(os.path.join(self.dir.name, "played")))
        # A missing match is said so, and makes the status a failure.
        partial = tournament("--merge", *results[:-1], "--out", "partial", cwd=self.dir.name)
        self.assertEqual(partial.returncode, 1)
        self.assertIn("11 of the 12 matches", partial.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
