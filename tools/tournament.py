#!/usr/bin/env python3
"""Plays a league of contestants over rounds, both seats each, and reports ratings, tables and a page (standard library only).

Usage:
  tools/tournament.py CONTESTANTS [--rounds N] [--seed S] [--moves N] [--move-budget MS] [--jobs N] [--out DIR]
                      [--web DIR] [ARENA OPTION...] [-- ARENA OPTION...]
  tools/tournament.py CONTESTANTS --print-commands [...]   one shell command per match, nothing run
  tools/tournament.py CONTESTANTS --merge RESULT... [...]  the report from result files already written

CONTESTANTS holds one contestant a line, a name and the kind the arena takes (`ai`, `human` or
`exec:COMMAND`), e.g. `aimer exec:exec build/examples/aimer`; blank lines and lines starting with
`#` are skipped. Each round plays every pair from both seats with the round's seed. Every match runs
headless, writes its result (match-NNN-CANNON-HELICOPTER.json), its match file (.match) and the
arena's standard error (.log) into DIR, and with --reply-times its protocol log (.protocol). Options the tournament does not know (`--rules duel`) go to
every match unchanged. The table goes to standard output as Markdown, and to DIR/league.md,
DIR/league.csv and the page DIR/index.html. See docs/tournaments.md.
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The real file's folder: installed, this runner is reached through a link on the PATH.
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
from league import replies  # noqa: E402
from league import report as page  # noqa: E402
from league import tables  # noqa: E402

NAME = re.compile(r"^[A-Za-z0-9_.+-]+$")
# Bytes below space other than tab, and DEL: nothing a command line or a name needs.
CONTROL = re.compile(r"[\x00-\x08\x0a-\x1f\x7f]")
# A match that outlives its deadline is asked to stop (its result then says "interrupted"), and
# killed if it has not ended this many seconds later.
STOP_GRACE_S = 10
# Arena options the tournament sets itself for every match, or that would make matches share a file.
MANAGED = ("--headless", "--moves", "--move-budget", "--seed", "--cannon", "--helicopter", "--result", "--record",
           "--replay", "--from-move", "--trace", "--snapshot", "--protocol-log")
MAX_HEADER = 4096
# The arena's exit status, and the start of its last line, when it refused to play a match at all
# (--sandbox require where the sandbox does not wholly hold): the machine's shortcoming, never a result.
REFUSED = 3
REFUSAL = "brakkenfel: --sandbox require refuses the run: "
MAX_CONTESTANTS_FILE = 1 << 20


class TournamentError(Exception):
    pass


class MatchRefused(TournamentError):
    """The arena refused a match: the league stops, since every match after it would be refused too."""


def read_contestants(path):
    """[(name, kind)] in file order; names are unique, and so are kinds (results name kinds, not names)."""
    with open(path, "rb") as file:
        data = file.read(MAX_CONTESTANTS_FILE + 1)
    if len(data) > MAX_CONTESTANTS_FILE:
        raise TournamentError("%s: longer than %d bytes" % (path, MAX_CONTESTANTS_FILE))
    contestants = []
    for number, raw in enumerate(data.split(b"\n"), 1):
        where = "%s:%d" % (path, number)
        try:
            line = raw.decode("utf-8")
        except UnicodeDecodeError as error:
            raise TournamentError("%s: not UTF-8 text (byte 0x%02x at column %d)" % (
                where, raw[error.start], error.start + 1)) from None
        line = line.removesuffix("\r")
        control = CONTROL.search(line)
        if control:
            raise TournamentError("%s: a control character (%r) at column %d" % (
                where, control.group(), control.start() + 1))
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        name, _, kind = line.partition(" ")
        kind = kind.strip()
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


def round_seeds(seed, rounds):
    """Each round's seed, 0 to 2^32 - 1, unrelated between rounds and never repeated: a result's seed
    tells its round."""
    seeds = []
    for round_ in range(1, rounds + 1):
        attempt = 0
        while True:
            text = b"brakkenfel league %d round %d" % (seed, round_) + (b" again %d" % attempt if attempt else b"")
            value = int.from_bytes(hashlib.sha256(text).digest()[:4], "big")
            if value not in seeds:
                break
            attempt += 1
        seeds.append(value)
    return seeds


class Scheduled:
    def __init__(self, number, round_, seed, cannon, helicopter):
        self.number, self.round, self.seed = number, round_, seed
        self.cannon, self.helicopter = cannon, helicopter


def schedule(contestants, rounds, seed):
    """Round by round, every ordered pair: each pair plays once from either seat each round."""
    pairs = [(a, b) for i, a in enumerate(contestants) for j, b in enumerate(contestants) if i != j]
    seeds = round_seeds(seed, rounds)
    return [Scheduled(len(pairs) * (r - 1) + k, r, seeds[r - 1], a, b)
            for r in range(1, rounds + 1) for k, (a, b) in enumerate(pairs, 1)]


def stem(options, match, total):
    digits = max(3, len(str(total)))
    return os.path.join(options.out, "match-%0*d-%s-%s" % (digits, match.number, match.cannon[0], match.helicopter[0]))


def match_command(options, match, total):
    """The arena's arguments and the result, match and log paths of one match."""
    base = stem(options, match, total)
    arguments = [options.program, "--headless", "--moves", str(options.moves), "--move-budget",
                 str(options.move_budget), "--seed", str(match.seed), *options.arena, "--cannon", match.cannon[1],
                 "--helicopter", match.helicopter[1], "--result", base + ".json", "--record", base + ".match"]
    if options.reply_times:
        arguments += ["--protocol-log", base + ".protocol"]
    return arguments, base + ".json", base + ".log"


# The arenas running now, so that an interrupted tournament can stop them.
RUNNING, RUNNING_LOCK = set(), threading.Lock()
STOPPING = threading.Event()


def refusal(log_path):
    """Why the arena refused the match whose standard error is in `log_path`, or None if it did not."""
    try:
        with open(log_path, "rb") as log:
            log.seek(max(0, os.fstat(log.fileno()).st_size - 65536))
            lines = log.read().decode("utf-8", errors="replace").splitlines()
    except OSError:
        return None
    if not lines or not lines[-1].startswith(REFUSAL):
        return None
    # The arena escapes what it prints; escaped again here, the log cannot have been edited into a terminal's control.
    return CONTROL.sub(lambda m: "\\x%02x" % ord(m.group()), lines[-1][len("brakkenfel: "):])


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


def play(options, planned):
    """Runs every match, as many at once as asked; the result files written."""
    os.makedirs(options.out, exist_ok=True)
    matches = [match_command(options, match, len(planned)) for match in planned]
    progress = Progress(len(matches))
    started = time.monotonic()
    refused = threading.Event()

    def one(match):
        arguments, result, log = match
        if refused.is_set():
            return result  # the league is stopped: not started
        status = run_match(arguments, log, options.timeout)
        if status == REFUSED and refusal(log):
            refused.set()
            stop_running()
            raise MatchRefused("%s: the arena refused to play it: %s; the league is stopped, see %s" % (
                os.path.basename(result)[:-len(".json")], refusal(log), log))
        if refused.is_set():
            return result  # stopped because another match was refused
        progress.finished(status == 0)
        if status != 0:
            sys.stderr.write("%s: %s, see %s\n" % (os.path.basename(result),
                                                   "killed after its deadline" if status is None
                                                   else "exit status %d" % status, log))
        return result

    with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
        futures = [pool.submit(one, match) for match in matches]
        try:
            paths = [future.result() for future in futures]
        except (KeyboardInterrupt, MatchRefused):
            for future in futures:
                future.cancel()
            stop_running()
            raise
    elapsed = time.monotonic() - started
    sys.stderr.write("tournament: %d matches in %.1f s, %.2f matches a second with %d at once\n" % (
        len(matches), elapsed, len(matches) / elapsed if elapsed > 0 else 0.0, options.jobs))
    return paths


def print_commands(options, planned):
    for match in planned:
        arguments, _, log = match_command(options, match, len(planned))
        # coreutils' timeout stops the arena as the local run does: SIGTERM (its result says
        # "interrupted"), then SIGKILL if it has not ended after the grace.
        limit = ["timeout", "-k", str(STOP_GRACE_S), str(options.timeout)]
        print("mkdir -p %s && %s >%s 2>&1" % (shlex.quote(options.out), shlex.join(limit + arguments),
                                              shlex.quote(log)))


def read_header(path):
    """{key: value} of a match file's first line (seed, budget, ...)."""
    with open(path, "rb") as file:
        line = file.readline(MAX_HEADER)
    words = line.decode("ascii", errors="replace").split()
    if len(words) < 3 or words[0] != "brakkenfel-match":
        raise TournamentError("%s: not a match file" % path)
    return dict(word.split("=", 1) for word in words[3:] if "=" in word)


def arena_option(arena, name):
    """The value of an arena option given through, or None."""
    for i, word in enumerate(arena):
        if word == name and i + 1 < len(arena):
            return arena[i + 1]
        if word.startswith(name + "="):
            return word[len(name) + 1:]
    return None


def collect(options, contestants, planned, paths):
    """(accepted matches in schedule order, problems): each result checked against the league planned."""
    by_kind = {kind: name for name, kind in contestants}
    by_seed = {match.seed: match.round for match in planned}
    expected = {(m.round, m.cannon[0], m.helicopter[0]): m for m in planned}
    rules = arena_option(options.arena, "--rules") or "plain"
    accepted, problems, offered = {}, [], set()
    # Sorted, so the same files give the same report (and the same duplicate is refused) in any order.
    for path in sorted(set(os.path.normpath(p) for p in paths), key=lambda p: (os.path.basename(p), p)):
        try:
            with open(path, "rb") as file:
                result = json.loads(file.read(1 << 20).decode("utf-8", errors="replace"))
            if result.get("error") or result.get("interrupted"):
                problems.append("left out: %s: the match did not end normally (%s)" % (
                    path, "interrupted" if result.get("interrupted") else result["error"].get("text")))
                continue
            names, hits, programs = [], [], {}
            for seat in ("Cannon", "Helicopter"):
                gun = next(g for g in result["guns"] if g["name"] == seat)
                kind = "exec:" + gun["command"] if gun["kind"] == "exec" else gun["kind"]
                if kind not in by_kind:
                    raise TournamentError("the %s's contestant %r is not in the contestants file" % (seat, kind))
                names.append(by_kind[kind])
                hits.append(int(gun["hits"]))
                programs[seat] = gun.get("program")
            record = path[:-len(".json")] + ".match" if path.endswith(".json") else path + ".match"
            header = read_header(record)
            seed = int(result["seed"]) if result.get("seed") is not None else int(header.get("seed", -1))
            if seed not in by_seed:
                raise TournamentError("seed %d is no round's seed (--seed %d, --rounds %d)" % (
                    seed, options.seed, options.rounds))
            key = (by_seed[seed], names[0], names[1])
            if key not in expected:
                raise TournamentError("%s against %s is no match of this league" % (names[0], names[1]))
            offered.add(key)
            found_rules = result.get("rules") or "plain"
            moves = int(result["moves"])
            if found_rules != rules:
                raise TournamentError("played under %s rules, the league under %s" % (found_rules, rules))
            # Under other rules a match may end early, when a gun is destroyed.
            if moves > options.moves or (rules == "plain" and moves != options.moves):
                raise TournamentError("%d moves, the league plays %d" % (moves, options.moves))
            if int(header.get("budget", -1)) != options.move_budget:
                raise TournamentError("a move budget of %s ms, the league has %d" % (
                    header.get("budget"), options.move_budget))
            if key in accepted:
                problems.append("extra: %s: round %d, %s against %s, already in %s" % (
                    path, key[0], key[1], key[2], accepted[key].result))
                continue
            times = {}
            if options.reply_times:
                logged = replies.reply_times(record[:-len(".match")] + ".protocol")
                times = {seat: logged.get(seat, {}) for seat in ("Cannon", "Helicopter")}
            planned_match = expected[key]
            accepted[key] = tables.Match(planned_match.number, key[0], seed, names[0], names[1], hits,
                                         result["winner"], programs, path, record, times)
        except (OSError, ValueError, KeyError, TypeError, StopIteration, TournamentError) as error:
            problems.append("mismatched: %s: %s" % (path, error))
    for key, match in expected.items():
        if key not in offered:
            # A refused match wrote no result, only its log: say why it is missing.
            why = refusal(stem(options, match, len(planned)) + ".log")
            problems.append("missing: round %d, %s against %s (match %d)%s" % (
                key[0], key[1], key[2], match.number, ": the arena refused to play it: " + why if why else ""))
    return [accepted[key] for key in sorted(accepted, key=lambda k: expected[k].number)], problems


def never_ready(contestants, matches):
    """{name: reason} for each program that went out at the start of every match it played."""
    broken = {}
    for name, kind in contestants:
        if not kind.startswith("exec:"):
            continue
        mine = [m.programs.get(seat) for m in matches for seat, who in (("Cannon", m.cannon), ("Helicopter", m.helicopter))
                if who == name]
        if mine and all(p and p.get("out") and p.get("out_at_move") == 0 for p in mine):
            broken[name] = mine[0].get("out_reason") or "out at the start"
    return broken


def write(path, text):
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def report(options, contestants, planned, paths):
    """Checks and reads the results, prints and writes the tables and the page; the exit status."""
    matches, problems = collect(options, contestants, planned, paths)
    for problem in problems:
        sys.stderr.write("tournament: %s\n" % problem)
    if len(matches) != len(planned):
        sys.stderr.write("tournament: the table counts %d of the %d matches\n" % (len(matches), len(planned)))
    broken = never_ready(contestants, matches)
    for name, reason in broken.items():
        sys.stderr.write("tournament: %s never became ready in any match: %s\n" % (name, reason))
    names = [name for name, _ in contestants]
    rows = tables.standings(names, matches, options.bootstrap)
    os.makedirs(options.out, exist_ok=True)
    folder = options.web or options.out
    os.makedirs(folder, exist_ok=True)
    if options.web:
        copy_player(options.player, folder)
    info = "%d contestants, %d rounds (seed %d), %d of %d matches counted, %d moves each, move budget %d ms, %s rules%s" % (
        len(names), options.rounds, options.seed, len(matches), len(planned), options.moves, options.move_budget,
        arena_option(options.arena, "--rules") or "plain",
        ", arena options: " + shlex.join(options.arena) if options.arena else "")
    overall, each = tables.seats(names, matches)
    written = [os.path.join(options.out, "league.md"), os.path.join(options.out, "league.csv"),
               os.path.join(folder, "index.html")]
    write(written[0], tables.markdown(rows))
    write(written[1], tables.csv_text(rows))
    write(written[2], page.page(info, rows, names, tables.cross_table(names, matches), overall, each, matches,
                                folder, bool(options.web)))
    sys.stdout.write(tables.markdown(rows))
    sys.stderr.write("tournament: wrote %s\n" % ", ".join(written))
    return 0 if not problems and not broken and len(matches) == len(planned) else 1


def copy_player(source, folder):
    """Puts the built web player's files beside the report."""
    if not os.path.isfile(os.path.join(source, "player.html")):
        raise TournamentError("the web player is not built (no %s): run tools/build-web.sh" % (
            os.path.join(source, "player.html")))
    for entry in sorted(os.listdir(source)):
        if os.path.isfile(os.path.join(source, entry)):
            shutil.copyfile(os.path.join(source, entry), os.path.join(folder, entry))


def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more")
    return value


def installed():
    """Whether this runner is installed (PREFIX/lib/brakkenfel/brakkenfel-tournament, the arena beside it)."""
    return os.access(os.path.join(os.path.dirname(os.path.realpath(__file__)), "brakkenfel"), os.X_OK)


def default_program():
    """The arena installed beside this runner (as brakkenfel-tournament, through a link), else the build's."""
    if installed():
        return os.path.join(os.path.dirname(os.path.realpath(__file__)), "brakkenfel")
    return os.path.join(ROOT, "build", "brakkenfel")


def default_player():
    """The web player installed under PREFIX/share/brakkenfel/web, else the build's."""
    if installed():
        prefix = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
        return os.path.join(prefix, "share", "brakkenfel", "web")
    return os.path.join(ROOT, "build-web", "player")


def interrupt(*_):
    raise KeyboardInterrupt


def parse(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0], allow_abbrev=False,
                                     epilog="Any other option, and all after --, goes to every match unchanged.")
    parser.add_argument("contestants", help="file of contestants: NAME KIND per line")
    parser.add_argument("--rounds", type=positive, default=1, help="times each pair plays from each seat (default 1)")
    parser.add_argument("--seed", type=int, default=1, help="the league's seed; each round's is drawn from it (default 1)")
    parser.add_argument("--moves", type=positive, default=10000, help="moves per match (default 10000)")
    parser.add_argument("--move-budget", type=int, default=5,
                        help="ms a program has per move (default 5; 0 waits without limit, for repeatable matches)")
    parser.add_argument("--jobs", type=positive, default=os.cpu_count() or 1,
                        help="matches at once (default: the number of cores)")
    parser.add_argument("--out", help="folder for the matches' files and the tables (default tournament; "
                                      "with --merge, the results' folder)")
    parser.add_argument("--web", metavar="DIR", help="write the page into DIR with the web player beside it")
    parser.add_argument("--player", default=default_player(),
                        help="the built web player's folder (default build-web/player; installed, share/brakkenfel/web)")
    parser.add_argument("--program", default=default_program(), help="the arena program")
    parser.add_argument("--timeout", type=positive, default=3600, help="seconds a match may take (default 3600)")
    parser.add_argument("--reply-times", action="store_true",
                        help="keep each match's protocol log (.protocol) and report each program's median reply time")
    parser.add_argument("--bootstrap", type=int, default=1000,
                        help="resamplings for the rating intervals (default 1000; 0 for none)")
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--print-commands", action="store_true", help="print one shell command per match and stop")
    action.add_argument("--merge", nargs="+", metavar="RESULT", help="build the report from these result files")
    after = argv.index("--") if "--" in argv else len(argv)
    options, unknown = parser.parse_known_args(argv[:after])
    options.arena = unknown + argv[after + 1:]
    if options.move_budget < 0:
        parser.error("--move-budget must be 0 or more")
    if options.bootstrap < 0:
        parser.error("--bootstrap must be 0 or more")
    if not 0 <= options.seed <= 0xFFFFFFFF:
        parser.error("--seed must be 0 to 4294967295")
    for word in options.arena:
        if word.split("=", 1)[0] in MANAGED:
            parser.error("%s is set by the tournament for each match" % word.split("=", 1)[0])
    if options.out is None:
        options.out = (os.path.commonpath([os.path.dirname(os.path.abspath(p)) for p in options.merge])
                       if options.merge else "tournament")
    return options


def main(argv):
    signal.signal(signal.SIGTERM, interrupt)
    options = parse(argv)
    try:
        contestants = read_contestants(options.contestants)
        planned = schedule(contestants, options.rounds, options.seed)
        if options.print_commands:
            print_commands(options, planned)
            return 0
        # Before a night of matches, not after it.
        if options.web:
            if not os.path.isfile(os.path.join(options.player, "player.html")):
                raise TournamentError("the web player is not built (no %s): run tools/build-web.sh" % (
                    os.path.join(options.player, "player.html")))
        paths = options.merge if options.merge else play(options, planned)
        return report(options, contestants, planned, paths)
    except MatchRefused as error:
        sys.stderr.write("tournament: %s\n" % error)
        return REFUSED
    except (OSError, TournamentError) as error:
        sys.stderr.write("tournament: %s\n" % error)
        return 2
    except UnicodeDecodeError as error:  # only the contestants file is read strictly
        sys.stderr.write("tournament: %s: not UTF-8 text (byte %d is 0x%02x)\n" % (
            options.contestants, error.start, error.object[error.start]))
        return 2
    except KeyboardInterrupt:
        sys.stderr.write("\ntournament: interrupted\n")
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
