#!/usr/bin/env python3
"""The example outputs of the docs, made by real runs of the program: checks them, or rewrites them.

Usage: tools/doc_examples.py [--update] [PROGRAM]   (PROGRAM: build/brakkenfel by default)

Each example is a fenced block after a line `<!-- example NAME -->` in the doc EXAMPLES names for it.
Without --update, exit status 1 and a diff when a block differs from what the program prints now.
Times the program measures (the protocol log's microseconds) are compared as digits of any value.
"""
import difflib
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOCS = os.path.join(ROOT, "docs")

# A contestant that answers every move with a shot and exits with status 3 at move 50.
QUITTER = 'exec:read g; echo ready; while read w n rest; do [ "$n" = 50 ] && exit 3; echo "$n shoot"; done'
# A contestant that errs on moves 2 to 5: two spaces, a repeat of move 1, an angle above 255, and
# the next move's reply written with this one (one printf, one write).
BLUNDERER = ("exec:read g; echo ready; while read w n rest; do case $n in 2) echo '2  shoot';; "
             "3) echo 1; echo 3 rotate 140;; 4) echo 4 rotate 300;; 5) printf '5\\n6 shoot\\n';; *) echo $n;; esac; done")


class Runner:
    """Runs the program in a folder where build/examples/aimer and examples/ are where the docs say."""

    def __init__(self, program, folder):
        self.program = program
        self.folder = folder
        os.makedirs(os.path.join(folder, "build", "examples"))
        os.symlink(os.path.join(os.path.dirname(program), "examples", "aimer"),
                   os.path.join(folder, "build", "examples", "aimer"))
        os.symlink(os.path.join(ROOT, "examples"), os.path.join(folder, "examples"))
        self.cache = {}

    def run(self, *arguments):
        if arguments not in self.cache:
            done = subprocess.run([self.program, *arguments], cwd=self.folder, capture_output=True, text=True,
                                  timeout=120)
            if done.returncode != 0:
                raise RuntimeError("%s ended with %d:\n%s" % (arguments, done.returncode, done.stderr))
            self.cache[arguments] = done.stderr
        return self.cache[arguments]

    def read(self, name):
        with open(os.path.join(self.folder, name)) as file:
            return file.read()

    def league_run(self):
        """The Cannon's aimer against a Helicopter program that exits at move 50."""
        return self.run("--headless", "--moves", "2000", "--move-budget", "0", "--cannon", "exec:exec build/examples/aimer",
                        "--helicopter", QUITTER, "--result", "result.json")

    def aimer_run(self):
        return self.run("--headless", "--moves", "300", "--move-budget", "0", "--cannon", "exec:exec build/examples/aimer",
                        "--protocol-log", "aimer.log", "--trace", "aimer.jsonl")


def out_line(runner):
    return "".join(line + "\n" for line in runner.league_run().splitlines() if " is out at move " in line)


def summary(runner):
    return "".join(line + "\n" for line in runner.league_run().splitlines() if " contestant: " in line)


def result(runner):
    runner.league_run()
    return json.dumps(json.loads(runner.read("result.json")), indent=1) + "\n"


def protocol_log(runner):
    runner.run("--headless", "--moves", "6", "--move-budget", "0", "--cannon", BLUNDERER,
               "--protocol-log", "blunders.log")
    return runner.read("blunders.log")


def trace_line(runner):
    runner.run("--headless", "--moves", "1", "--trace", "one.jsonl")
    return runner.read("one.jsonl")


# Orders "rotate 40 shoot" at move 1, nothing at move 2, and exits with status 3 at move 3.
MATCH_BOT = """import sys
for line in sys.stdin:
    words = line.split()
    if words[0] == "brakkenfel": print("ready", flush=True)
    elif words[1] == "1": print("1 rotate 40 shoot", flush=True)
    elif words[1] == "2": print("2", flush=True)
    else: sys.exit(3)
"""


def match_file(runner):
    with open(os.path.join(runner.folder, "bot.py"), "w") as file:
        file.write(MATCH_BOT)
    runner.run("--headless", "--moves", "4", "--seed", "7", "--cannon", "exec:python3 bot.py", "--move-budget", "0",
               "--record", "m.txt")
    return runner.read("m.txt")


def worked_session(runner):
    runner.aimer_run()
    # What the text under the example says: the Cannon fires at moves 151 and 240.
    fired = [json.loads(line)["move"] for line in runner.read("aimer.jsonl").splitlines()
             if json.loads(line)["guns"][0]["reload"] == 89]
    if fired != [151, 240]:
        raise RuntimeError("the aimer's Cannon fired at moves %s, not 151 and 240 as the docs say" % fired)
    shown = {0, 1, 2, 150, 151, 152, 162, 300}
    text, last = "", 0
    for entry in runner.read("aimer.log").splitlines()[1:]:
        move, _, direction, _, line = entry.split(" ", 4)
        if int(move) not in shown:
            continue
        if int(move) > last + 1:
            text += "  ...\n"
        last = int(move)
        text += "%s %s\n" % (direction, line)
    return text


def flight_vectors(runner):
    """The docs' own Python recipe run for the Cannon's shots; the C++ tests check the same rows against the arena."""
    del runner
    code = block(read_doc("contestants.md"), "flight-python")[1]
    recipe = {}
    exec(compile(code, "docs/contestants.md: flight-python", "exec"), recipe)  # noqa: S102 - our own docs' code

    def cell(value):
        return "%s %s" % (struct.pack(">f", value).hex(), ("%.9g" % value))

    rows = ["%-5s %-4s %-22s %-22s %-24s %s" % ("angle", "move", "x", "y", "vx", "vy")]
    for angle in (33, 64, 128, 200):
        state = recipe["fire"](20.0, 20.0, angle)
        for move in range(4):
            if move > 0:
                state = recipe["step"](*state)
            x, y, vx, vy = (cell(value) for value in state)
            rows.append("%-5d %-4d %-22s %-22s %-24s %s" % (angle, move, x, y, vx, vy))
    return "".join(row + "\n" for row in rows)


def league_table(runner):
    """The tournament guide's standings: its contestants file, two rounds, every match repeatable."""
    contestants = block(read_doc("tournaments.md"), "league-contestants")[1]
    with open(os.path.join(runner.folder, "contestants.txt"), "w") as file:
        file.write(contestants)
    done = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "tournament.py"), "contestants.txt",
                           "--rounds", "2", "--moves", "10000", "--move-budget", "0", "--reply-times",
                           "--program", runner.program, "--out", "league"],
                          cwd=runner.folder, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise RuntimeError("the tournament ended with %d:\n%s" % (done.returncode, done.stderr))
    return done.stdout


EXAMPLES = {
    "out-line": ("contestants.md", out_line, None),
    "summary": ("contestants.md", summary, None),
    "result": ("contestants.md", result, None),
    "protocol-log": ("contestants.md", protocol_log, re.compile(r"^(\d+ \w+ \S+ )\d+ ", re.M)),
    "worked-session": ("contestants.md", worked_session, None),
    "flight-vectors": ("contestants.md", flight_vectors, None),
    "trace-line": ("headless.md", trace_line, None),
    "match-file": ("replays.md", match_file, None),
    # The median reply time is measured: compared as digits of any value.
    "league-table": ("tournaments.md", league_table, re.compile(r"^(\| .*\| )\d+\.\d+ (?=\|$)", re.M)),
}


def read_doc(name):
    with open(os.path.join(DOCS, name)) as file:
        return file.read()


def block(text, name):
    """(start, body, end) of the fenced block after the example's marker: body without its indentation."""
    marker = re.search(r"^( *)<!-- example %s -->\n\1```[^\n]*\n" % re.escape(name), text, re.M)
    if not marker:
        raise RuntimeError("no example block %r" % name)
    indent = marker.group(1)
    end = text.index("\n" + indent + "```", marker.end() - 1) + 1
    body = "".join(line[len(indent):] + "\n" for line in text[marker.end():end].splitlines())
    return marker.end(), body, end, indent


def main(argv):
    update = "--update" in argv
    arguments = [argument for argument in argv if argument != "--update"]
    program = os.path.abspath(arguments[0] if arguments else os.path.join(ROOT, "build", "brakkenfel"))
    texts = {doc: read_doc(doc) for doc, _, _ in EXAMPLES.values()}
    differ = False
    with tempfile.TemporaryDirectory(prefix="brakkenfel-doc-") as folder:
        # Run as root, the sandboxed contestants are an unprivileged uid that must reach their programs.
        os.chmod(folder, 0o755)
        runner = Runner(program, folder)
        for name, (doc, make, varying) in EXAMPLES.items():
            text = texts[doc]
            start, body, end, indent = block(text, name)
            fresh = make(runner)
            same = (varying.sub(r"\1N ", body) == varying.sub(r"\1N ", fresh)) if varying else body == fresh
            if same:
                continue
            if update:
                texts[doc] = text[:start] + "".join(indent + line if line.strip() else line
                                                    for line in fresh.splitlines(True)) + text[end:]
            else:
                differ = True
                sys.stdout.writelines(difflib.unified_diff(body.splitlines(True), fresh.splitlines(True),
                                                           "docs/%s: %s" % (doc, name), "program: " + name))
    if update:
        for doc, text in texts.items():
            with open(os.path.join(DOCS, doc), "w") as file:
                file.write(text)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
