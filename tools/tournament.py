#!/usr/bin/env python3
"""Plays every pair of contestants twice, seats swapped, and prints a league table (standard library only).

Usage:
  tools/tournament.py CONTESTANTS [--moves N] [--move-budget MS] [--jobs N] [--out DIR] [--program PATH]
  tools/tournament.py CONTESTANTS --print-commands [...]   one shell command per match, nothing run
  tools/tournament.py CONTESTANTS --merge RESULT...         the table from result files already written

CONTESTANTS holds one contestant a line, a name and the kind the arena takes (`ai`, `human` or
`exec:COMMAND`), e.g. `aimer exec:exec build/examples/aimer`; blank lines and lines starting with
`#` are skipped. Each match runs headless and writes its own result file (match-NNN-CANNON-HELICOPTER.json)
and the arena's standard error (.log) into DIR. The table goes to standard output as Markdown and
to DIR/league.md and DIR/league.csv. See docs/tournaments.md.
"""
import argparse
import concurrent.futures
import csv
import io
import json
import os
import re
import shlex
import signal
import subprocess
import sys
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NAME = re.compile(r"^[A-Za-z0-9_.+-]+$")
# A match that outlives its deadline is asked to stop (its result then says "interrupted"), and
# killed if it has not ended this many seconds later.
STOP_GRACE_S = 10


class TournamentError(Exception):
    pass


def read_contestants(path):
    """[(name, kind)] in file order; names are unique, and so are kinds (results name kinds, not names)."""
    contestants = []
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, _, kind = line.partition(" ")
            kind = kind.strip()
            where = "%s:%d" % (path, number)
            if not NAME.match(name):
                raise TournamentError("%s: a name is letters, digits and _ . + - only: %r" % (where, name))
            if kind not in ("ai", "human") and not (kind.startswith("exec:") and kind[5:].strip()):
                raise TournamentError("%s: the kind is ai, human or exec:COMMAND, not %r" % (where, kind))
            if any(name == n or kind == k for n, k in contestants):
                raise TournamentError("%s: %s repeats a name or a kind already listed" % (where, name))
            contestants.append((name, kind))
    if len(contestants) < 2:
        raise TournamentError("%s: a tournament needs at least two contestants" % path)
    return contestants


def schedule(contestants):
    """Every ordered pair: each pair plays twice, once from either seat, as (number, cannon, helicopter)."""
    pairs = [(a, b) for i, a in enumerate(contestants) for j, b in enumerate(contestants) if i != j]
    return [(number, a, b) for number, (a, b) in enumerate(pairs, 1)]


def match_command(options, number, cannon, helicopter):
    """The arena's arguments and the result and log paths of one match."""
    stem = os.path.join(options.out, "match-%03d-%s-%s" % (number, cannon[0], helicopter[0]))
    arguments = [options.program, "--headless", "--moves", str(options.moves),
                 "--move-budget", str(options.move_budget), "--cannon", cannon[1],
                 "--helicopter", helicopter[1], "--result", stem + ".json"]
    return arguments, stem + ".json", stem + ".log"


# The arenas running now, so that an interrupted tournament can stop them.
RUNNING, RUNNING_LOCK = set(), threading.Lock()
STOPPING = threading.Event()


def run_match(arguments, log_path, timeout):
    """Runs one match; its exit status, or None when it had to be killed or never started."""
    with open(log_path, "wb") as log:
        # Its own session, so a terminal's Ctrl-C reaches the tournament alone, which then stops
        # every match itself: a stopped arena stops its programs and still writes its result.
        child = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                 start_new_session=True)
        with RUNNING_LOCK:
            RUNNING.add(child)
        try:
            if STOPPING.is_set():
                child.send_signal(signal.SIGTERM)
            return child.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            child.send_signal(signal.SIGTERM)
            try:
                return child.wait(timeout=STOP_GRACE_S)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
                return None
        finally:
            with RUNNING_LOCK:
                RUNNING.discard(child)


def stop_running():
    STOPPING.set()
    with RUNNING_LOCK:
        for child in RUNNING:
            child.send_signal(signal.SIGTERM)


class Progress:
    """One line on standard error: rewritten in place on a terminal, one line a match elsewhere."""

    def __init__(self, total):
        self.total, self.done, self.failed = total, 0, 0
        self.lock = threading.Lock()
        self.tty = sys.stderr.isatty()

    def finished(self, ok):
        with self.lock:
            self.done += 1
            self.failed += not ok
            text = "%d/%d matches played" % (self.done, self.total)
            if self.failed:
                text += ", %d failed" % self.failed
            sys.stderr.write(("\r" + text + "\033[K" if self.tty else text + "\n"))
            if self.tty and self.done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def play(options, contestants):
    """Runs every match, as many at once as asked; the result files written."""
    os.makedirs(options.out, exist_ok=True)
    matches = [match_command(options, *m) for m in schedule(contestants)]
    progress = Progress(len(matches))

    def one(match):
        arguments, result, log = match
        status = run_match(arguments, log, options.timeout)
        progress.finished(status == 0)
        if status != 0:
            sys.stderr.write("%s: %s, see %s\n" % (os.path.basename(result),
                                                   "killed after its deadline" if status is None
                                                   else "exit status %d" % status, log))
        return result

    with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
        futures = [pool.submit(one, match) for match in matches]
        try:
            return [future.result() for future in futures]
        except KeyboardInterrupt:
            for future in futures:
                future.cancel()
            stop_running()
            raise


def print_commands(options, contestants):
    for number, cannon, helicopter in schedule(contestants):
        arguments, _, log = match_command(options, number, cannon, helicopter)
        print("mkdir -p %s && %s >%s 2>&1" % (shlex.quote(options.out), shlex.join(arguments), shlex.quote(log)))


def read_result(path, by_kind):
    """(cannon name, helicopter name, cannon hits, helicopter hits, winner seat) of one result file."""
    with open(path, encoding="utf-8", errors="replace") as file:
        result = json.load(file)
    if result.get("error") or result.get("interrupted"):
        raise TournamentError("%s: the match did not end normally (%s)" % (
            path, "interrupted" if result.get("interrupted") else result["error"].get("text")))
    names, hits = [], []
    for seat in ("Cannon", "Helicopter"):
        gun = next(g for g in result["guns"] if g["name"] == seat)
        kind = "exec:" + gun["command"] if gun["kind"] == "exec" else gun["kind"]
        if kind not in by_kind:
            raise TournamentError("%s: the %s's contestant %r is not in the contestants file" % (path, seat, kind))
        names.append(by_kind[kind])
        hits.append(int(gun["hits"]))
    return names[0], names[1], hits[0], hits[1], result["winner"]


def league(contestants, results):
    """The table's rows, best first: (name, played, won, drawn, lost, hits for, hits against)."""
    rows = {name: [0, 0, 0, 0, 0, 0] for name, _ in contestants}
    for cannon, helicopter, cannon_hits, helicopter_hits, winner in results:
        for me, mine, theirs, seat in ((cannon, cannon_hits, helicopter_hits, "Cannon"),
                                       (helicopter, helicopter_hits, cannon_hits, "Helicopter")):
            row = rows[me]
            row[0] += 1
            row[1 if winner == seat else 2 if winner == "draw" else 3] += 1
            row[4] += mine
            row[5] += theirs
    return sorted(((name, *row) for name, row in rows.items()),
                  key=lambda r: (-r[2], -r[3], -(r[5] - r[6]), -r[5], r[0]))


HEADER = ["rank", "contestant", "played", "won", "drawn", "lost", "hits_for", "hits_against"]


def markdown(rows):
    lines = ["| # | contestant | played | won | drawn | lost | hits for | hits against |",
             "|---:|---|---:|---:|---:|---:|---:|---:|"]
    lines += ["| %d | %s | %d | %d | %d | %d | %d | %d |" % (rank, *row) for rank, row in enumerate(rows, 1)]
    return "\n".join(lines) + "\n"


def csv_text(rows):
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(HEADER)
    writer.writerows((rank, *row) for rank, row in enumerate(rows, 1))
    return out.getvalue()


def report(options, contestants, paths, expected):
    """Reads the results, prints and writes the table; the exit status."""
    by_kind = {kind: name for name, kind in contestants}
    results, failed = [], 0
    for path in paths:
        try:
            results.append(read_result(path, by_kind))
        except (OSError, ValueError, KeyError, StopIteration, TournamentError) as error:
            sys.stderr.write("tournament: left out: %s\n" % error)
            failed += 1
    if len(results) != expected:
        sys.stderr.write("tournament: the table counts %d of the %d matches\n" % (len(results), expected))
    rows = league(contestants, results)
    os.makedirs(options.out, exist_ok=True)
    with open(os.path.join(options.out, "league.md"), "w", encoding="utf-8") as file:
        file.write(markdown(rows))
    with open(os.path.join(options.out, "league.csv"), "w", encoding="utf-8") as file:
        file.write(csv_text(rows))
    sys.stdout.write(markdown(rows))
    return 0 if failed == 0 and len(results) == expected else 1


def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more")
    return value


def interrupt(*_):
    raise KeyboardInterrupt


def main(argv):
    signal.signal(signal.SIGTERM, interrupt)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("contestants", help="file of contestants: NAME KIND per line")
    parser.add_argument("--moves", type=positive, default=10000, help="moves per match (default 10000)")
    parser.add_argument("--move-budget", type=int, default=5,
                        help="ms a program has per move (default 5; 0 waits without limit, for repeatable matches)")
    parser.add_argument("--jobs", type=positive, default=os.cpu_count() or 1,
                        help="matches at once (default: the number of cores)")
    parser.add_argument("--out", default="tournament", help="folder for result files and the table (default tournament)")
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "brakkenfel"), help="the arena program")
    parser.add_argument("--timeout", type=positive, default=3600, help="seconds a match may take (default 3600)")
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--print-commands", action="store_true", help="print one shell command per match and stop")
    action.add_argument("--merge", nargs="+", metavar="RESULT", help="build the table from these result files")
    options = parser.parse_args(argv)
    if options.move_budget < 0:
        parser.error("--move-budget must be 0 or more")
    try:
        contestants = read_contestants(options.contestants)
        expected = len(schedule(contestants))
        if options.print_commands:
            print_commands(options, contestants)
            return 0
        paths = options.merge if options.merge else play(options, contestants)
        return report(options, contestants, paths, expected)
    except (OSError, TournamentError) as error:
        sys.stderr.write("tournament: %s\n" % error)
        return 2
    except KeyboardInterrupt:
        sys.stderr.write("\ntournament: interrupted\n")
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
