#!/usr/bin/python3
"""What a watcher sees on a private X server: the analysis view's panel (its counts against the result
file and the trace), a held end, --scale and a resized window drawn at whole factors, a short key tap,
outputs written while paused, and --from-move past a match's end.

Usage: test_watch.py PROGRAM. Exits 0 on success, 1 on failure, 77 when Xvfb is not installed. With
BRAKKENFEL_PANEL_SCREENSHOT=FILE.png and BRAKKENFEL_SCALED_SCREENSHOT=FILE.png it keeps the panel's
and the scaled window's screenshots (tools/screenshot.sh).
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xserver import check, close_window, end, finish, launch, main, ppm, press_key as key  # noqa: E402

WIDTH, HEIGHT = 601, 369


def panel(display, window):
    """The panel's lines as the window last drew them."""
    prop = window.get_full_property(display.intern_atom("_BRAKKENFEL_PANEL"), display.intern_atom("UTF8_STRING"))
    return prop.value.decode("utf-8").splitlines() if prop is not None else []


def panel_until(display, window, pattern, timeout=20):
    """Waits until a panel line matches `pattern`; returns the lines."""
    deadline = time.monotonic() + timeout
    while True:
        lines = panel(display, window)
        if any(re.fullmatch(pattern, line) for line in lines):
            return lines
        check(time.monotonic() < deadline, "the panel never showed %r: %r" % (pattern, lines))
        time.sleep(0.05)


def panel_value(lines, pattern):
    for line in lines:
        match = re.fullmatch(pattern, line)
        if match:
            return match.groups()
    raise AssertionError("no panel line %r in %r" % (pattern, lines))


def line_count(path):
    with open(path, "rb") as trace:
        return trace.read().count(b"\n")


def grab(name, window, png=None):
    """The window's client area as (width, height, packed RGB)."""
    xwd = subprocess.run(["xwd", "-display", name, "-id", str(window.id), "-silent"],
                         check=True, capture_output=True).stdout
    if png:
        subprocess.run(["convert", "xwd:-", png], input=xwd, check=True)
    return ppm("xwd:-", xwd)


def check_enlarged(small, big, factor, origin, what):
    """Every factor x factor block of `big` from `origin` is the one pixel of `small` it stands for."""
    sw, sh, sp = small
    bw, bh, bp = big
    ox, oy = origin
    check(bw >= ox + sw * factor and bh >= oy + sh * factor, "%s: %d x %d is too small" % (what, bw, bh))
    for y in range(sh * factor):
        row = bp[((oy + y) * bw + ox) * 3:((oy + y) * bw + ox + sw * factor) * 3]
        source = sp[(y // factor) * sw * 3:(y // factor + 1) * sw * 3]
        want = b"".join(source[x * 3:x * 3 + 3] * factor for x in range(sw))
        if row != want:
            x = next(i for i in range(len(row)) if row[i] != want[i]) // 3
            raise AssertionError("%s: pixel (%d, %d) is not the scale-1 pixel (%d, %d)"
                                 % (what, ox + x, oy + y, x // factor, y // factor))


def held_end(program, work, name):
    """A --moves run with --hold keeps its last frame; the panel's counts are the result file's."""
    result, trace = os.path.join(work, "held.json"), os.path.join(work, "held.jsonl")
    display, child, window, log = launch(program, work, name, "--seed", "4", "--moves", "700", "--hold",
                                         "--view", "analysis", "--result", result, "--trace", trace)
    try:
        panel_until(display, window, "running  x1")
        for _ in range(3):
            key(display, window, "plus")  # x8: the end comes in a second
            time.sleep(0.1)  # presses closer than this read as the key's repeat
        lines = panel_until(display, window, r"ENDED  x8")
        time.sleep(0.5)
        check(child.poll() is None, "the window closed at the end despite --hold")
        check(panel(display, window) == lines, "the held panel changed: %r" % panel(display, window))
        check("move 700" in lines, "held panel: %r" % lines)
        shown = [panel_value(lines[i:i + 3], r"  shots (\d+)   hits (\d+)") for i in (0, 4)]
        shot = os.environ.get("BRAKKENFEL_PANEL_SCREENSHOT")
        w, h, pixels = grab(name, window, shot)
        check((w, h) == (WIDTH, HEIGHT), "window %d x %d" % (w, h))
        # The panel's dark ground right of the field, where the plain view leaves the window's grey.
        check(pixels[(300 * w + 590) * 3:(300 * w + 590) * 3 + 3] == bytes((0x20, 0x20, 0x20)), "no panel drawn")
        close_window(display, window)
        finish(child, log, "the held run")
    finally:
        end(child)
    with open(result) as f:
        guns = json.load(f)["guns"]
    for (shots, hits), gun in zip(shown, guns):
        check((int(shots), int(hits)) == (gun["shots"], gun["hits"]),
              "the panel showed %s shots and %s hits for %s, the result file %r" % (shots, hits, gun["name"], gun))
    check(line_count(trace) == 700, "the held run traced %d moves" % line_count(trace))


def replay_jump_and_flush(program, work, name, match):
    """PageDown in a paused replay: the panel's move number is the trace's, on disk within half a second;
    SIGTERM then leaves the trace ending at the last move run."""
    trace = os.path.join(work, "jump.jsonl")
    display, child, window, log = launch(program, work, name, "--replay", match, "--view", "analysis",
                                         "--paused", "--trace", trace)
    try:
        panel_until(display, window, r"REPLAY  PAUSED  x1")
        check("move 0 of 2000" in panel(display, window), "panel: %r" % panel(display, window))
        key(display, window, "Next")
        lines = panel_until(display, window, r"move 900 of 2000")
        for _ in range(3):
            key(display, window, "period")
            time.sleep(0.1)
        lines = panel_until(display, window, r"move 903 of 2000")
        time.sleep(0.5)
        check(line_count(trace) == 903, "paused at move 903, the trace holds %d lines" % line_count(trace))
        child.send_signal(signal.SIGTERM)
        child.wait(timeout=10)
    finally:
        end(child)
    with open(trace, "rb") as f:
        last = json.loads(f.read().splitlines()[-1])
    check(last["move"] == 903, "after SIGTERM the trace ends at move %d, not 903" % last["move"])


def replay_from_fifo(program, work, name, match):
    """A match file that comes through a FIFO is read once, by the replay: no total, the whole match."""
    fifo = os.path.join(work, "m.fifo")
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", 'cat "$1" > "$2"', "sh", match, fifo])
    display, child, window, log = launch(program, work, name, "--replay", fifo, "--view", "analysis", "--hold")
    try:
        key(display, window, "plus")
        time.sleep(0.1)
        key(display, window, "plus")
        lines = panel_until(display, window, r"REPLAY  ENDED  x4", timeout=40)
        check("move 2000" in lines, "the FIFO's replay ended at %r" % lines)
        close_window(display, window)
        finish(child, log, "the FIFO's replay")
    finally:
        end(child)
        end(writer)


def past_the_end(program, work, name, match):
    env = dict(os.environ, DISPLAY=name, SDL_VIDEODRIVER="x11")
    for extra in ([], ["--headless"]):
        run = subprocess.run([program, "--replay", match, "--from-move", "2001", *extra], env=env,
                             capture_output=True, text=True, timeout=20)
        check(run.returncode == 1 and "ends at move 2000" in run.stderr,
              "--from-move past the end%s: status %d, %r" % (" headless" if extra else "", run.returncode, run.stderr))


def scaled(program, work, name, match):
    """--scale 3, and a window resized by hand, draw the very frame of scale 1 in whole blocks."""
    frames = {}
    for scale in ("1", "3"):
        display, child, window, log = launch(program, work, name, "--replay", match, "--from-move", "300",
                                             "--paused", "--view", "analysis", "--scale", scale)
        try:
            panel_until(display, window, r"move 300 of 2000")
            time.sleep(0.3)
            shot = os.environ.get("BRAKKENFEL_SCALED_SCREENSHOT") if scale == "3" else None
            frames[scale] = grab(name, window, shot)
            if scale == "1":
                window.configure(width=1300, height=800)
                display.sync()
                deadline = time.monotonic() + 10
                while grab(name, window)[:2] != (1300, 800) and time.monotonic() < deadline:
                    time.sleep(0.1)
                time.sleep(0.5)
                frames["resized"] = grab(name, window)
            close_window(display, window)
            finish(child, log, "--scale " + scale)
        finally:
            end(child)
    check(frames["3"][:2] == (1803, 1107), "--scale 3 gives %d x %d" % frames["3"][:2])
    check_enlarged(frames["1"], frames["3"], 3, (0, 0), "--scale 3")
    check_enlarged(frames["1"], frames["resized"], 2, ((1300 - 1202) // 2, (800 - 738) // 2), "1300 x 800")


def short_taps(program, work, name):
    """Taps of 40 ms at x1/8 (a move every 89 ms) each turn the gun at the keys one step."""
    trace = os.path.join(work, "taps.jsonl")
    display, child, window, log = launch(program, work, name, "--cannon", "keys", "--view", "analysis",
                                         "--trace", trace)
    try:
        for _ in range(3):
            key(display, window, "minus")
            time.sleep(0.1)
        panel_until(display, window, r"running  x1/8")
        time.sleep(0.3)
        long_taps = 0
        for _ in range(4):
            pressed = time.monotonic()
            key(display, window, "Right", release=False)
            time.sleep(0.04)
            key(display, window, "Right", press=False)
            # A busy machine may hold the key past a move (89 ms): then it rightly turns twice.
            long_taps += time.monotonic() - pressed > 0.08
            time.sleep(0.3)
        time.sleep(0.3)
        close_window(display, window)
        finish(child, log, "the taps")
    finally:
        end(child)
    with open(trace, "rb") as f:
        angles = [json.loads(line)["guns"][0]["angle"] for line in f.read().splitlines()]
    steps = angles[-1] - angles[0]
    check(4 <= steps <= 4 + long_taps, "4 taps (%d held long) turned the gun %d steps" % (long_taps, steps))


def run(program, work, name):
    match = os.path.join(work, "m.match")
    subprocess.run([program, "--headless", "--moves", "2000", "--seed", "9", "--record", match],
                   check=True, capture_output=True, timeout=60)
    held_end(program, work, name)
    replay_jump_and_flush(program, work, name, match)
    past_the_end(program, work, name, match)
    replay_from_fifo(program, work, name, match)
    scaled(program, work, name, match)
    short_taps(program, work, name)


if __name__ == "__main__":
    sys.exit(main(__doc__, run, "brakkenfel-watch-", screen="2048x1536x24"))
