#!/usr/bin/python3
"""Closing the program at any moment: by the window manager's close message, SIGINT or SIGTERM.

Usage: test_close_anytime.py PROGRAM. On a private Xvfb (SDL's x11 driver named explicitly) the
program is started and stopped after a random delay of 0 to 2 seconds; every run must exit with
status 0 and print nothing on stderr (a sanitizer build reports leaks and bad accesses there).
A close message can only reach a window that exists, and a signal can only be handled once the
program has installed its handlers: a delay that ends before that waits for it.

Without BRAKKENFEL_LONG_TESTS=1 it makes four runs, one of each kind and one more close. With it,
the long test: 50 closes, 10 SIGINTs and 10 SIGTERMs, and one close under valgrind, which must find
no invalid access and no leak outside the display libraries (tests/e2e/valgrind.supp).
BRAKKENFEL_CLOSE_SEED picks other delays. Exits 77 (skipped) when Xvfb is missing.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xserver  # noqa: E402
from xserver import Failure  # noqa: E402

HANG = 20          # seconds after which a start-up or a close counts as hung
VALGRIND_HANG = 180
SIGNAL_BITS = (1 << (signal.SIGINT - 1)) | (1 << (signal.SIGTERM - 1))


def handlers_installed(pid):
    """True once the process catches both SIGINT and SIGTERM (its SigCgt mask in /proc)."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("SigCgt:"):
                    return int(line.split()[1], 16) & SIGNAL_BITS == SIGNAL_BITS
    except FileNotFoundError:
        pass
    return False


class Runner:
    def __init__(self, program, display_name, work):
        from Xlib import display as xdisplay
        self.program = program
        self.work = work
        self.display = xdisplay.Display(display_name)
        self.env = xserver.x11_env(display_name)
        self.waited = 0  # stops that had to wait for the window or the handlers

    def run(self, kind, delay, wrapper=(), hang=HANG):
        """Starts the program, stops it by `kind` after `delay` seconds; returns its stderr."""
        log_path = os.path.join(self.work, "stderr.log")
        with open(log_path, "w+") as log:
            started = time.monotonic()
            child = subprocess.Popen([*wrapper, self.program], env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=log)
            try:
                time.sleep(max(0.0, started + delay - time.monotonic()))
                if kind == "close":
                    window = xserver.find_window(self.display, child.pid, timeout=hang)
                    xserver.close_window(self.display, window)
                else:
                    while not handlers_installed(child.pid):
                        if child.poll() is not None:
                            raise Failure("exited with status %d before it was stopped" % child.returncode)
                        time.sleep(0.001)
                    os.kill(child.pid, kind)
                stopped = time.monotonic()
                self.waited += stopped - started > delay + 0.05
                try:
                    status = child.wait(timeout=hang)
                except subprocess.TimeoutExpired:
                    raise Failure("still running %d s after it was stopped" % hang)
            finally:
                xserver.end(child)
            log.seek(0)
            stderr = log.read()
        if status != 0:
            raise Failure("exit status %d; stderr: %s" % (status, stderr.strip()[-2000:]))
        return stderr


def close_runs(program, work, name):
    """Every planned stop on the private display; all failures are gathered before one is raised."""
    long_run = os.environ.get("BRAKKENFEL_LONG_TESTS") == "1"
    seed = int(os.environ.get("BRAKKENFEL_CLOSE_SEED", "8"))
    chooser = random.Random(seed)
    plan = ["close"] * 50 + [signal.SIGINT] * 10 + [signal.SIGTERM] * 10 if long_run else \
        ["close", signal.SIGINT, signal.SIGTERM, "close"]
    chooser.shuffle(plan)

    failures = []
    runner = Runner(program, name, work)
    started = time.monotonic()
    for number, kind in enumerate(plan, 1):
        delay = chooser.uniform(0.0, 2.0)
        label = kind if kind == "close" else signal.Signals(kind).name
        try:
            stderr = runner.run(kind, delay)
            if stderr.strip():
                raise Failure("printed on stderr: " + stderr.strip()[-2000:])
        except Failure as failure:
            failures.append("run %d (%s after %.3f s): %s" % (number, label, delay, failure))
    print("%d runs in %.0f s (seed %d); %d stops waited for the window or the signal handlers"
          % (len(plan), time.monotonic() - started, seed, runner.waited))

    if long_run:
        valgrind = shutil.which("valgrind")
        if valgrind is None:
            failures.append("valgrind is not installed")
        else:
            suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "valgrind.supp")
            wrapper = (valgrind, "--error-exitcode=99", "--leak-check=full",
                       "--errors-for-leak-kinds=definite", "--child-silent-after-fork=yes",
                       "--suppressions=" + suppressions)
            try:
                runner.run("close", 2.0, wrapper=wrapper, hang=VALGRIND_HANG)
                print("valgrind: no invalid access, no leak of ours")
            except Failure as failure:
                failures.append("under valgrind: %s" % failure)
    if failures:
        raise Failure("\n".join(failures))


if __name__ == "__main__":
    sys.exit(xserver.main(__doc__, close_runs, "brakkenfel-close-"))
