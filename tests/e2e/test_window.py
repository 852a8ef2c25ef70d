#!/usr/bin/python3
"""The real window on a private X server: size, caption, pixels, and closing by the window manager's message;
then the X server killed under the window, ten times over, each on a server of its own.

Usage: test_window.py PROGRAM. Starts its own Xvfb on a free display, runs PROGRAM there with SDL's x11
driver named explicitly (SDL would otherwise fall back to an invisible off-screen window), and exits 0
on success, 1 on failure, 77 when Xvfb is not installed. With BRAKKENFEL_SCREENSHOT=FILE.png it also
keeps the screenshot it checked (tools/screenshot.sh makes the README's picture that way).
"""
import math
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xserver import (Failure, caption_of, check, close_window, end, find_window, launch,  # noqa: E402
                     main, rgb_rows, screenshot, start_xvfb, x11_env)

LOST_DISPLAY_RUNS = 10
LOST_DISPLAY_DEADLINE = 10  # seconds: a hang check, not a speed claim

CLIENT = (601, 369)
FIELD_ORIGIN = (10, 10)          # the picture box's inner area within the client area
FIELD_SIZE = (373, 285)
GUNS = {"Cannon": (12, 12), "Helicopter": (32, 32)}  # frame 0's top left in the field
LABEL = (8, 304, 19)             # left, top, height
BACKGROUND = (0xF0, 0xF0, 0xF0)
CAPTION = re.compile(r"^FPS:  (\d+) \| MPS:  (\d+) \| (\d+):(\d\d)$")


def check_pixels(image, strip):
    check((len(image[0]), len(image)) == CLIENT, "screenshot is %dx%d" % (len(image[0]), len(image)))
    ox, oy = FIELD_ORIGIN
    gun_pixels = set()
    for name, (gx, gy) in GUNS.items():
        for y in range(16):
            for x in range(16):
                got = image[oy + gy + y][ox + gx + x]
                check(got == strip[y][x], "%s: pixel (%d, %d) of frame 0 is %s on screen, %s in the strip"
                      % (name, x, y, got, strip[y][x]))
                gun_pixels.add((gx + x, gy + y))
    black = 0
    for y in range(FIELD_SIZE[1]):
        for x in range(FIELD_SIZE[0]):
            pixel = image[oy + y][ox + x]
            if (x, y) not in gun_pixels:
                check(pixel in ((0, 0, 0), (255, 255, 255)),
                      "field pixel (%d, %d) is %s: neither the black field nor a white bullet" % (x, y, pixel))
                black += pixel == (0, 0, 0)
    check(black > 0.95 * FIELD_SIZE[0] * FIELD_SIZE[1], "the field is not black")
    left, top, height = LABEL
    ink = [x for y in range(top, top + height) for x in range(left, CLIENT[0]) if sum(image[y][x]) < 3 * 96]
    check(len(ink) > 50, "the label shows no text")
    check(max(ink) < left + 300, "the label reaches further than its text would")
    for y in list(range(top + height, CLIENT[1])) + list(range(FIELD_ORIGIN[1] + FIELD_SIZE[1] + 2, top)):
        for x in range(CLIENT[0]):
            check(image[y][x] == BACKGROUND, "stray pixel %s at (%d, %d) outside the controls" % (image[y][x], x, y))


def run(program, work, name):
    child = None
    try:
        started = time.monotonic()
        display, child, window, _ = launch(program, work, name)
        found = time.monotonic()

        geometry = window.get_geometry()
        check((geometry.width, geometry.height) == CLIENT,
              "client area is %dx%d, not %dx%d" % ((geometry.width, geometry.height) + CLIENT))

        time.sleep(max(0.0, found + 3.5 - time.monotonic()))
        read_at = time.monotonic()
        caption = caption_of(display, window)
        match = CAPTION.match(caption)
        check(match is not None, "caption %r is not 'FPS:  n | MPS:  n | m:ss'" % caption)
        frames, moves = int(match.group(1)), int(match.group(2))
        seconds = int(match.group(3)) * 60 + int(match.group(4))
        # A busy machine may run fewer frames and moves than asked, never more: the scheduler does
        # not catch up in bursts. Exact rates are the scheduler tests' business, on a scripted clock.
        check(0 < frames <= 31, "frame rate %d in %r" % (frames, caption))
        check(0 < moves <= 91, "move rate %d in %r" % (moves, caption))
        # The first caption comes at once and counts 0:01, so after t seconds it reads at most floor(t) + 1.
        latest = math.floor(read_at - started) + 1
        check(1 <= seconds <= latest, "elapsed %d s in %r, expected 1 to %d" % (seconds, caption, latest))

        png = os.path.join(work, "window.png")
        check_pixels(screenshot(name, window, png), rgb_rows(os.path.join(os.path.dirname(program), "cannon.bmp")))
        if os.environ.get("BRAKKENFEL_SCREENSHOT"):
            shutil.copyfile(png, os.environ["BRAKKENFEL_SCREENSHOT"])

        close_window(display, window)
        closed = time.monotonic()
        try:
            status = child.wait(timeout=10.0)
        except subprocess.TimeoutExpired:
            raise Failure("the program was still running 10 s after WM_DELETE_WINDOW")
        check(status == 0, "exit status %d after closing" % status)
        print("ok: %r, closed in %.0f ms" % (caption, (time.monotonic() - closed) * 1000))
    finally:
        end(child)
    lose_the_display(program, work)


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as listing:
            return [int(child) for child in listing.read().split()]
    except OSError:
        return []


def gone(pid, deadline):
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return True
        time.sleep(0.02)
    return False


def lose_the_display(program, work):
    """Kills the X server under the running window, with a contestant program attached: the arena must
    end with status 1 and its own line naming the display, and leave no process behind."""
    from Xlib import display as xdisplay
    aimer = os.path.join(os.path.dirname(program), "examples", "aimer")
    check(os.access(aimer, os.X_OK), "the example contestant %s is not built" % aimer)
    took = []
    for attempt in range(LOST_DISPLAY_RUNS):
        server = child = None
        try:
            with open(os.path.join(work, "lost-xvfb.log"), "w") as log:
                server, name = start_xvfb(log)
            display = xdisplay.Display(name)
            trace = os.path.join(work, "lost-trace.jsonl")
            child = subprocess.Popen([program, "--cannon", "exec:exec " + aimer, "--move-budget", "0",
                                      "--trace", trace],
                                     env=x11_env(name), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
            window = find_window(display, child.pid, timeout=15)
            # The first caption comes once moves have run, so the trace has lines to lose.
            deadline = time.monotonic() + 15
            while caption_of(display, window) == "Brakkenfel" and time.monotonic() < deadline:
                time.sleep(0.05)
            contestants = children_of(child.pid)
            check(contestants, "run %d: the contestant program did not start" % attempt)
            server.kill()
            killed = time.monotonic()
            try:
                _, stderr = child.communicate(timeout=LOST_DISPLAY_DEADLINE)
            except subprocess.TimeoutExpired:
                raise Failure("run %d: still running %d s after the X server was killed"
                              % (attempt, LOST_DISPLAY_DEADLINE))
            took.append(time.monotonic() - killed)
            stderr = stderr.decode()
            check(child.returncode == 1, "run %d: exit status %d, stderr %r" % (attempt, child.returncode, stderr))
            check("brakkenfel: lost the connection to display %s\n" % name in stderr,
                  "run %d: no line naming the lost display in %r" % (attempt, stderr))
            check("XIO" not in stderr, "run %d: Xlib's own fatal error text in %r" % (attempt, stderr))
            with open(trace, "rb") as kept:
                lines = kept.read()
            check(lines.endswith(b"\n") and b'"move":1,' in lines,
                  "run %d: the trace was not written out before the exit (%d bytes)" % (attempt, len(lines)))
            deadline = time.monotonic() + LOST_DISPLAY_DEADLINE
            left = [pid for pid in contestants if not gone(pid, deadline)]
            check(not left, "run %d: contestant processes %s outlived the arena" % (attempt, left))
        finally:
            end(child)
            end(server)
    print("ok: lost display %d times, ended %.0f to %.0f ms after the X server was killed"
          % (len(took), min(took) * 1000, max(took) * 1000))


if __name__ == "__main__":
    sys.exit(main(__doc__, run, "brakkenfel-window-"))
