#!/usr/bin/python3
"""A long headless run: 100 million moves (about 13 days of play at 90 a second) keep memory and the bullet pool flat.

Usage: test_long_run.py PROGRAM. A long test: it runs only when BRAKKENFEL_LONG_TESTS=1 (CI sets it
for one of its passes) and otherwise exits 77, which the suite reports as skipped. It compares the
peak resident memory of a 100-million-move run with a 1,000-move run (within 1 MB) and the bullet
pool's peak with that of a 3-million-move run, which already spans two whole cycles of the guns'
sweep (256 angles, reloads of 89 and 59 moves: the contest repeats every 1,344,256 moves).
"""
import os
import re
import subprocess
import sys

SKIP = 77
SUMMARY = re.compile(r"brakkenfel: (\d+) moves, (\d+) bullets in flight, pool peak (\d+),")


def run(program, moves):
    """(peak resident KB, bullets in flight, pool peak) of a headless run of `moves` moves."""
    child = subprocess.Popen([program, "--headless", "--moves", str(moves)], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    stderr = child.stderr.read().decode()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise AssertionError("%d moves: exit status %d: %s" % (moves, child.returncode, stderr.strip()))
    summary = SUMMARY.search(stderr)
    if summary is None or int(summary.group(1)) != moves:
        raise AssertionError("%d moves: no summary of that many moves in %r" % (moves, stderr))
    return usage.ru_maxrss, int(summary.group(2)), int(summary.group(3))


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if os.environ.get("BRAKKENFEL_LONG_TESTS") != "1":
        print("skipped: a long test; set BRAKKENFEL_LONG_TESTS=1 to run it")
        return SKIP
    program = os.path.abspath(sys.argv[1])
    short_rss, _, _ = run(program, 1000)
    _, _, cycle_peak = run(program, 3_000_000)
    long_rss, in_flight, long_peak = run(program, 100_000_000)
    print("peak memory: %d KB after 1,000 moves, %d KB after 100,000,000; bullet pool peak %d slots after "
          "3,000,000 moves, %d after 100,000,000, %d bullets in flight at the end"
          % (short_rss, long_rss, cycle_peak, long_peak, in_flight))
    failures = []
    if abs(long_rss - short_rss) > 1024:
        failures.append("peak memory differs by %d KB" % (long_rss - short_rss))
    if long_peak != cycle_peak:
        failures.append("the bullet pool grew from %d to %d slots" % (cycle_peak, long_peak))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
