#!/usr/bin/env python3
"""The tournament runner end to end: rounds of every pair from both seats, the same report from
--print-commands run through sh and --merge in any order, what --merge refuses, broken contestants
and files, the page parsed and drawn in headless Chromium."""
import csv
import glob
import html.parser
import itertools
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
TOURNAMENT = os.path.join(SOURCE, "tools", "tournament.py")
WITHOUT_USER_NAMESPACES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "without_user_namespaces.py")
CONTESTANTS = {
    "gunner": "ai",
    "idle": "human",
    "aimer-cpp": "exec:exec " + os.path.join(os.path.dirname(PROGRAM), "examples", "aimer"),
    "aimer-py": "exec:exec python3 " + os.path.join(SOURCE, "examples", "aimer.py"),
}
ROUNDS = 2
MATCHES = ROUNDS * 12
LEAGUE = ["--moves", "1000", "--move-budget", "0", "--rounds", str(ROUNDS), "--bootstrap", "200",
          "--reply-times"]


def tournament(*arguments, cwd, contestants="contestants.txt", league=LEAGUE):
    return subprocess.run([sys.executable, TOURNAMENT, contestants, "--program", PROGRAM, *league, *arguments],
                          cwd=cwd, capture_output=True, text=True, timeout=240)


def table(folder):
    with open(os.path.join(folder, "league.csv")) as file:
        return list(csv.DictReader(file))


def without(row, key):
    return {k: v for k, v in row.items() if k != key}


def without_reply_times(markdown):
    return [line.rsplit("|", 2)[0] for line in markdown.splitlines()]


def read(path, mode="r"):
    with open(path, mode) as file:
        return file.read()


class Page(html.parser.HTMLParser):
    """Checks that every element closes in order and gathers the title, table rows and links."""
    VOID = {"meta", "link", "br", "img", "input", "hr", "circle", "rect", "line"}

    def __init__(self):
        super().__init__()
        self.open, self.links, self.rows, self.problems, self.table = [], [], {}, [], None
        self.title, self.cells = "", None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table":
            self.table = attrs.get("id")
        if tag == "tr":
            self.cells = []
        if tag == "a":
            self.links.append(attrs["href"])
        if tag not in self.VOID:
            self.open.append(tag)

    def handle_startendtag(self, tag, attrs):
        pass

    def handle_endtag(self, tag):
        if tag in self.VOID:
            return
        if not self.open or self.open[-1] != tag:
            self.problems.append("</%s> closes %s" % (tag, self.open[-1:] or "nothing"))
            return
        self.open.pop()
        if tag == "tr" and self.table:
            self.rows.setdefault(self.table, []).append(self.cells)

    def handle_data(self, data):
        if self.open and self.open[-1] == "title" and "svg" not in self.open:
            self.title += data
        if self.cells is not None and self.open and self.open[-1] in ("td", "th"):
            self.cells.append(data.strip())


def parse_page(path):
    page = Page()
    page.feed(read(path))
    page.close()
    return page


def chromium(*arguments, profile):
    return subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                           "--disable-background-networking", "--disable-component-update", "--disable-sync",
                           "--disable-dev-shm-usage",
                           "--user-data-dir=" + profile, *arguments], capture_output=True, text=True, timeout=120)


class TournamentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        with open(os.path.join(cls.dir.name, "contestants.txt"), "w") as file:
            file.write("# four seats\n\n" + "".join("%s %s\n" % item for item in CONTESTANTS.items()))
        cls.played = tournament("--jobs", "2", "--out", "played", cwd=cls.dir.name)
        cls.results = sorted(glob.glob(os.path.join(cls.dir.name, "played", "*.json")))

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir.name, *parts)

    def test_every_pair_plays_each_round_from_both_seats_and_the_table_adds_up(self):
        self.assertEqual(self.played.returncode, 0, self.played.stderr)
        self.assertIn("%d/%d matches played" % (MATCHES, MATCHES), self.played.stderr)
        seats, seeds = [], {}
        for path in self.results:
            guns = json.loads(read(path))["guns"]
            pair = tuple("exec:" + g["command"] if g["command"] else g["kind"] for g in guns)
            seats.append(pair)
            # Recorded beside its result, with the round's seed: the same for both seats of a pair.
            header = read(path[:-5] + ".match").split("\n", 1)[0]
            seed = [word for word in header.split() if word.startswith("seed=")][0]
            seeds.setdefault(seed, []).append(pair)
        self.assertEqual(sorted(seats), sorted(list(itertools.permutations(CONTESTANTS.values(), 2)) * ROUNDS))
        self.assertEqual(len(seeds), ROUNDS)
        for pairs in seeds.values():
            self.assertEqual(sorted(pairs), sorted(itertools.permutations(CONTESTANTS.values(), 2)))

        rows = {row["contestant"]: row for row in table(self.path("played"))}
        self.assertEqual(set(rows), set(CONTESTANTS))
        count = {name: {k: int(row[k]) for k in ("played", "won", "drawn", "lost", "hits_for", "hits_against")}
                 for name, row in rows.items()}
        for name, row in count.items():
            self.assertEqual((row["played"], row["won"] + row["drawn"] + row["lost"]), (6 * ROUNDS,) * 2, name)
        total = {key: sum(row[key] for row in count.values()) for key in ("won", "lost", "hits_for", "hits_against")}
        self.assertEqual(total["won"], total["lost"])
        self.assertEqual(total["hits_for"], total["hits_against"])
        # The idle seat never fires, so it never scores and rates last; the aimers do score.
        self.assertEqual((count["idle"]["hits_for"], count["idle"]["won"]), (0, 0))
        self.assertEqual(table(self.path("played"))[-1]["contestant"], "idle")
        self.assertGreater(count["aimer-cpp"]["hits_for"], 0)
        # Reply times come from the protocol logs, for programs only.
        self.assertEqual({name: bool(row["reply_ms"]) for name, row in rows.items()},
                         {name: kind.startswith("exec:") for name, kind in CONTESTANTS.items()})
        self.assertEqual(self.played.stdout, read(self.path("played", "league.md")))

    def test_the_page_is_well_formed_and_holds_every_contestant_and_match(self):
        page = parse_page(self.path("played", "index.html"))
        self.assertEqual((page.problems, page.open), ([], []))
        self.assertEqual(sorted(row[1] for row in page.rows["standings"][1:]), sorted(CONTESTANTS))
        self.assertEqual(len(page.rows["matches"]) - 1, MATCHES)
        for path in self.results:
            for name in (os.path.basename(path), os.path.basename(path)[:-5] + ".match"):
                self.assertIn(name, page.links)
        # Nothing is fetched from anywhere: the page stands alone.
        self.assertNotRegex(read(self.path("played", "index.html")), r"(src|href)=\"(https?:)?//")

    def test_printed_commands_run_by_sh_then_merged_in_any_order_give_the_same_report(self):
        commands = tournament("--print-commands", "--out", "spread", cwd=self.dir.name)
        self.assertEqual(commands.returncode, 0, commands.stderr)
        self.assertEqual(len(commands.stdout.splitlines()), MATCHES)
        ran = subprocess.run(["sh"], input=commands.stdout, cwd=self.dir.name, text=True, timeout=240)
        self.assertEqual(ran.returncode, 0)
        results = sorted(glob.glob(self.path("spread", "*.json")))
        outputs = []
        for order in (results, results[::-1], results[1::2] + results[::2]):
            merged = tournament("--merge", *order, "--out", "merged", cwd=self.dir.name)
            self.assertEqual(merged.returncode, 0, merged.stderr)
            # The same matches played again: the same table, but for the reply times measured.
            self.assertEqual(without_reply_times(merged.stdout), without_reply_times(self.played.stdout))
            outputs.append([read(self.path("merged", name), "rb") for name in ("index.html", "league.md", "league.csv")])
        self.assertEqual(outputs[0], outputs[1])
        self.assertEqual(outputs[0], outputs[2])
        self.assertEqual([without(row, "reply_ms") for row in table(self.path("merged"))],
                         [without(row, "reply_ms") for row in table(self.path("played"))])

    def test_merge_names_what_is_missing_extra_or_mismatched(self):
        results = self.results
        cases = [
            ("missing and repeated", results[1:] + [self.path("played", "again", "x.json")], ["missing: round 1"]),
            ("passed twice", results + results[:1], []),
            ("another length", results, ["mismatched", "1000 moves, the league plays 999"]),
            ("another budget", results, ["mismatched", "move budget of 0 ms, the league has 5"]),
            ("another round count", results, ["mismatched", "no round's seed"]),
        ]
        os.makedirs(self.path("played", "again"), exist_ok=True)
        shutil.copyfile(results[5], self.path("played", "again", "x.json"))
        shutil.copyfile(results[5][:-5] + ".match", self.path("played", "again", "x.match"))
        league = {"another length": ["--moves", "999"], "another budget": ["--move-budget", "5"],
                  "another round count": ["--rounds", "1", "--seed", "2"]}
        for name, paths, said in cases:
            options = LEAGUE + league.get(name, [])
            merged = tournament("--merge", *paths, "--out", "strict", cwd=self.dir.name, league=options)
            if name == "passed twice":
                # The same file twice is the same match once.
                self.assertEqual(merged.returncode, 0, merged.stderr)
                continue
            self.assertEqual(merged.returncode, 1, name)
            for text in said:
                self.assertIn(text, merged.stderr, name)
        merged = tournament("--merge", *(results[1:] + [self.path("played", "again", "x.json")]), "--out", "strict",
                            cwd=self.dir.name)
        self.assertIn("extra: ", merged.stderr)
        self.assertIn("the table counts %d of the %d" % (MATCHES - 1, MATCHES), merged.stderr)
        # Without --out the tables go beside the results, and it says so.
        beside = tournament("--merge", *results, cwd=self.dir.name)
        self.assertEqual(beside.returncode, 0, beside.stderr)
        self.assertIn("wrote %s" % self.path("played", "league.md"), beside.stderr)

    def test_a_printed_command_carries_the_time_limit(self):
        # Without a budget the arena waits for ever for a program that never answers; the limit ends it.
        with open(self.path("hang.txt"), "w") as file:
            file.write("gunner ai\nsleeper exec:exec sleep 600\n")
        commands = tournament("--print-commands", "--out", "hang", "--timeout", "1", "--rounds", "1", cwd=self.dir.name,
                              contestants="hang.txt")
        first = commands.stdout.splitlines()[0]
        ran = subprocess.run(["sh", "-c", first], cwd=self.dir.name, timeout=120)
        self.assertEqual(ran.returncode, 124)
        result = json.loads(read(glob.glob(self.path("hang", "*.json"))[0]))
        self.assertTrue(result["interrupted"])

    def test_bad_contestants_files_and_broken_contestants_are_named(self):
        cases = [
            (b"gunner ai\nbad exec:echo \xff\xfe\n", 2, "contestants.bad:2: not UTF-8"),
            (b"gunner ai\nbell exec:echo \x07\n", 2, "contestants.bad:2: a control character"),
            (b"gunner ai\nnobody exec:exec ./no-such-bot\n", 1, "nobody never became ready in any match"),
        ]
        for content, status, said in cases:
            with open(self.path("contestants.bad"), "wb") as file:
                file.write(content)
            run = tournament("--out", "bad", "--rounds", "1", cwd=self.dir.name, contestants="contestants.bad")
            self.assertEqual(run.returncode, status, run.stderr)
            self.assertIn(said, run.stderr)
            self.assertNotIn("Traceback", run.stderr)

    def test_a_match_the_arena_refuses_stops_the_league_and_is_never_a_result(self):
        """Under --sandbox require on a machine without user namespaces every match with a program is
        refused: the league stops at the first, and --merge calls such a match missing, saying why."""
        if os.geteuid() != 0:
            self.skipTest("only root can run the arena as another user here")
        # As nobody, from a folder nobody may use, beside its own picture strip.
        os.chmod(self.path(), 0o755)
        folder = self.path("refusing")
        os.mkdir(folder)
        os.chmod(folder, 0o1777)
        for outputs in ("played", "spread"):
            os.mkdir(os.path.join(folder, outputs))
            os.chmod(os.path.join(folder, outputs), 0o1777)
        arena = shutil.copy(PROGRAM, folder)
        shutil.copy(os.path.join(os.path.dirname(PROGRAM), "cannon.bmp"), folder)
        wrapper = os.path.join(folder, "arena.sh")
        with open(wrapper, "w") as file:
            file.write("#!/bin/sh\nexec %s %s 65534 %s \"$@\"\n" % (sys.executable, WITHOUT_USER_NAMESPACES, arena))
        os.chmod(wrapper, 0o755)
        with open(os.path.join(folder, "three.txt"), "w") as file:
            file.write("gunner ai\nbot exec:exec sleep 60\nidle human\n")
        league = ["--program", wrapper, "--moves", "20", "--move-budget", "0", "--rounds", "1", "--sandbox", "require"]
        run = subprocess.run([sys.executable, TOURNAMENT, "three.txt", *league, "--jobs", "1", "--out", "played"],
                             cwd=folder, capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 3, run.stderr)
        self.assertRegex(run.stderr, r"tournament: match-001-gunner-bot: the arena refused to play it: --sandbox "
                                     r"require refuses the run: Helicopter contestant: not everything held \(sandbox: "
                                     r".*other processes visible: no PID namespace.*; the league is stopped, see ")
        self.assertEqual(sorted(os.listdir(os.path.join(folder, "played"))), ["match-001-gunner-bot.log"])
        # Spread over machines: the refused commands end with 3 and write no result; the others play.
        printed = subprocess.run([sys.executable, TOURNAMENT, "three.txt", *league, "--out", "spread",
                                  "--print-commands"], cwd=folder, capture_output=True, text=True, timeout=60)
        statuses = [subprocess.run(["sh", "-c", line], cwd=folder, timeout=60).returncode
                    for line in printed.stdout.splitlines()]
        self.assertEqual(statuses, [3, 0, 3, 3, 0, 3])
        results = glob.glob(os.path.join(folder, "spread", "*.json"))
        self.assertEqual(len(results), 2)
        merged = subprocess.run([sys.executable, TOURNAMENT, "three.txt", *league, "--merge", *results], cwd=folder,
                                capture_output=True, text=True, timeout=60)
        self.assertEqual(merged.returncode, 1, merged.stderr)
        self.assertIn("the table counts 2 of the 6 matches", merged.stderr)
        self.assertEqual(merged.stderr.count(": the arena refused to play it: --sandbox require refuses the run: "), 4)

    def test_arena_options_go_to_every_match_and_managed_ones_are_refused(self):
        printed = tournament("--print-commands", "--no-such-option", "x", "--", "--another", cwd=self.dir.name)
        self.assertEqual(printed.returncode, 0, printed.stderr)
        for line in printed.stdout.splitlines():
            self.assertIn("--no-such-option x --another", line)
        refused = tournament("--trace", "t.jsonl", cwd=self.dir.name)
        self.assertEqual(refused.returncode, 2)
        self.assertIn("--trace is set by the tournament", refused.stderr)

    def test_web_puts_the_player_beside_the_page_and_links_every_match_to_it(self):
        missing = tournament("--merge", *self.results, "--web", "site", "--player", self.path("nowhere"),
                             cwd=self.dir.name)
        self.assertEqual(missing.returncode, 2)
        self.assertIn("the web player is not built", missing.stderr)
        os.makedirs(self.path("player"), exist_ok=True)
        for name in ("player.html", "player.js"):
            with open(self.path("player", name), "w") as file:
                file.write(name)
        built = tournament("--merge", *self.results, "--web", "site", "--player", self.path("player"),
                           cwd=self.dir.name)
        self.assertEqual(built.returncode, 0, built.stderr)
        self.assertEqual(read(self.path("site", "player.js")), "player.js")
        watched = [urllib.parse.unquote(link.split("=", 1)[1]) for link in parse_page(self.path("site", "index.html")).links
                   if link.startswith("player.html?match=")]
        self.assertEqual(sorted(os.path.normpath(self.path("site", w)) for w in watched),
                         sorted(path[:-5] + ".match" for path in self.results))

    # CI installs it (tools/install-deps.sh --test), so there a missing browser fails instead.
    @unittest.skipUnless(shutil.which("chromium") or os.environ.get("CI"), "needs chromium: tools/install-deps.sh --test")
    def test_the_page_draws_in_headless_chromium(self):
        page = "file://" + self.path("played", "index.html")
        dumped = chromium("--dump-dom", page, profile=self.path("profile-dom"))
        self.assertEqual(dumped.returncode, 0, dumped.stderr)
        self.assertIn("<title>League report: 4 contestants, %d matches (drawn)</title>" % MATCHES, dumped.stdout)
        shot = chromium("--window-size=1000,1400", "--screenshot=" + self.path("page.png"), page,
                        profile=self.path("profile-shot"))
        self.assertEqual(shot.returncode, 0, shot.stderr)
        self.assertEqual(read(self.path("page.png"), "rb")[:8], b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
