#!/usr/bin/python3
"""The window's keys, pressed and held through XTEST on a private X server: pause, step, the move rate,
the analysis view, Esc, a player at the keys whose match replays exactly, and a replay's jumps.

Usage: test_keys.py PROGRAM. Exits 0 on success, 1 on failure, 77 when Xvfb is not installed. With
BRAKKENFEL_ANALYSIS_SCREENSHOT=FILE.png it keeps the analysis view's screenshot (tools/screenshot.sh).
"""
import json
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xserver import caption_of, check, end, finish, launch, main, press_key as key, screenshot  # noqa: E402
from test_window import CAPTION, FIELD_ORIGIN, FIELD_SIZE, GUNS  # noqa: E402

CANNON_COLOR = (0xFF, 0x90, 0x20)      # the analysis view's colours, as the screen shows them
HELICOPTER_COLOR = (0x30, 0xC8, 0xFF)
WHITE = (255, 255, 255)


def captions_after(display, window, count, timeout=15):
    """Waits for `count` new captions and returns the last as (frames, moves): the first after a key
    may cover part of a second before it."""
    seen = caption_of(display, window)
    deadline = time.monotonic() + timeout
    while count > 0:
        check(time.monotonic() < deadline, "no new caption after %r" % seen)
        time.sleep(0.05)
        now = caption_of(display, window)
        if now != seen:
            seen, count = now, count - 1
    match = CAPTION.match(seen)
    check(match is not None, "caption %r" % seen)
    return int(match.group(1)), int(match.group(2))


def trace_lines(path):
    with open(path, "rb") as trace:
        return trace.read().splitlines()


def field(image):
    """The field's pixels outside the guns' pictures, by position."""
    ox, oy = FIELD_ORIGIN
    guns = {(gx + x, gy + y) for gx, gy in GUNS.values() for x in range(16) for y in range(16)}
    return {(x, y): image[oy + y][ox + x] for y in range(FIELD_SIZE[1]) for x in range(FIELD_SIZE[0])
            if (x, y) not in guns}


def start(program, work, name, *arguments):
    display, child, window, log = launch(program, work, name, *arguments)
    captions_after(display, window, 1)
    return display, child, window, log


def pause_step_rate_view(program, work, name):
    trace = os.path.join(work, "bench.jsonl")
    display, child, window, log = start(program, work, name, "--trace", trace)
    try:
        key(display, window, "p")
        frames, moves = captions_after(display, window, 2)
        check(moves == 0 and frames > 0, "paused: %d frames and %d moves in a second" % (frames, moves))

        # A move's trace line is written out at the latest by the first move half a second later.
        key(display, window, "period")
        time.sleep(0.8)
        before = trace_lines(trace)
        key(display, window, "period")
        time.sleep(0.8)
        after = trace_lines(trace)
        check(len(after) == len(before) + 1, "a step while paused ran %d moves" % (len(after) - len(before)))
        check(json.loads(after[-1])["move"] == json.loads(before[-1])["move"] + 1, "the step's move number")

        # Paused, the bullets stand still: the analysis view recolours exactly the plain view's bullets.
        plain = field(screenshot(name, window, os.path.join(work, "plain.png")))
        bullets = {at for at, pixel in plain.items() if pixel == WHITE}
        check(bullets, "no bullet in the field to look at")
        key(display, window, "v")
        time.sleep(0.3)
        analysis = field(screenshot(name, window, os.path.join(work, "analysis.png")))
        if os.environ.get("BRAKKENFEL_ANALYSIS_SCREENSHOT"):
            shutil.copyfile(os.path.join(work, "analysis.png"), os.environ["BRAKKENFEL_ANALYSIS_SCREENSHOT"])
        check(all(analysis[at] in (CANNON_COLOR, HELICOPTER_COLOR) for at in bullets),
              "a bullet is not in its owner's colour: %s" % {analysis[at] for at in bullets})
        check(WHITE not in analysis.values(), "a white pixel in the analysis view")
        for color in (CANNON_COLOR, HELICOPTER_COLOR):
            check(sum(pixel == color for pixel in analysis.values()) >= 10, "no aim line in %s" % (color,))
        key(display, window, "v")
        time.sleep(0.3)
        check(field(screenshot(name, window, os.path.join(work, "plain2.png"))) == plain,
              "the plain view differs after the analysis view")

        key(display, window, "p")
        for _ in range(2):
            key(display, window, "plus")
            time.sleep(0.2)  # two presses at once would look like the key's own repeat
        _, fast = captions_after(display, window, 2)
        # More than 90 a second can allow, never more than 360 allows: a busy machine runs fewer.
        check(91 < fast <= 361, "%d moves in a second at 360 a second" % fast)
        key(display, window, "0")
        _, normal = captions_after(display, window, 2)
        check(normal <= 91, "%d moves in a second after 0" % normal)
        key(display, window, "Escape")
        finish(child, log, "Esc")
        print("ok: paused, one step, %d then %d moves a second, %d bullets recoloured" % (fast, normal, len(bullets)))
    finally:
        end(child)


def player_at_the_keys(program, work, name):
    match, trace = os.path.join(work, "keys.match"), os.path.join(work, "keys.jsonl")
    display, child, window, log = start(program, work, name, "--cannon", "keys", "--helicopter", "human",
                                        "--record", match, "--trace", trace, "--moves", "540")
    try:
        key(display, window, "Right", release=False)
        key(display, window, "space", release=False)
        time.sleep(3)
        key(display, window, "space", press=False)
        key(display, window, "Right", press=False)
        finish(child, log, "--moves 540 in the window")
    finally:
        end(child)
    lines = trace_lines(trace)
    check(len(lines) == 540, "the window ran %d moves, not 540" % len(lines))
    cannon = [json.loads(line)["guns"][0] for line in lines]
    shots = [i for i, gun in enumerate(cannon) if gun["reload"] == 89]
    check(len(shots) >= 2, "%d shots while Space was held" % len(shots))
    # Held, Space fires the move the gun has reloaded: never a move with the gun ready and unfired.
    idle = [i for i in range(shots[0], shots[-1]) if cannon[i]["reload"] == 0]
    check(not idle, "moves %s: reloaded and not fired while Space was held" % idle[:5])
    turns = [(cannon[i]["angle"] - cannon[i - 1]["angle"]) % 256 for i in range(1, len(cannon))]
    check(set(turns) <= {0, 1} and sum(turns) > 90, "the gun turned %s steps a move" % sorted(set(turns)))
    replayed = os.path.join(work, "keys-replay.jsonl")
    subprocess.run([program, "--headless", "--replay", match, "--trace", replayed], check=True,
                   capture_output=True, timeout=60)
    with open(trace, "rb") as live, open(replayed, "rb") as again:
        check(live.read() == again.read(), "the match played at the keys replays to a different trace")
    print("ok: %d shots, every reload fired; %d steps turned; replayed byte for byte" % (len(shots), sum(turns)))


def replay_jumps(program, work, name):
    match = os.path.join(work, "jumps.match")
    subprocess.run([program, "--headless", "--moves", "2000", "--seed", "7", "--record", match],
                   check=True, capture_output=True, timeout=60)
    trace = os.path.join(work, "jumps.jsonl")
    display, child, window, log = start(program, work, name, "--replay", match, "--trace", trace)
    try:
        for name_ in ("Next", "Home", "Prior", "Next", "Next", "Prior"):  # PageDown, Home, PageUp
            key(display, window, name_)
            time.sleep(0.3)
        key(display, window, "Escape")
        said = finish(child, log, "jumps in a replay")
    finally:
        end(child)
    check("diverges" not in said, said)
    # Every move a jump ran was checked against the recorded hash; the trace lists them in the order run.
    check(len(trace_lines(trace)) >= 2 * 900, "the jumps ran only %d moves" % len(trace_lines(trace)))
    print("ok: jumps forward, home and back replayed without divergence")


def run(program, work, name):
    pause_step_rate_view(program, work, name)
    player_at_the_keys(program, work, name)
    replay_jumps(program, work, name)


if __name__ == "__main__":
    sys.exit(main(__doc__, run, "brakkenfel-keys-"))
