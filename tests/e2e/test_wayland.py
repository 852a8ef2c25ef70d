#!/usr/bin/python3
"""The window on Wayland without X: a nested Weston (its X11 backend, drawing with pixman) inside a
private Xvfb, the program started with only WAYLAND_DISPLAY and SDL's wayland driver. The field must
appear on Weston's output with both guns, and SIGTERM must end the program with status 0. With the
output at scale 2 the window asks for it: twice the size, each pixel a crisp 2 x 2 block.

Usage: test_wayland.py PROGRAM. Exits 0 on success, 1 on failure, 77 when Weston or Xvfb is missing.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_window import FIELD_ORIGIN, GUNS  # noqa: E402
from xserver import SKIP, Failure, check, end, main, ppm, rgb_rows  # noqa: E402


def screen_bytes(display_name):
    """The X server's whole screen as (width, rows of packed RGB bytes)."""
    xwd = subprocess.run(["xwd", "-display", display_name, "-root", "-silent"], check=True, capture_output=True).stdout
    width, height, data = ppm("xwd:-", xwd)
    return [data[y * width * 3:(y + 1) * width * 3] for y in range(height)]


def find_block(rows, block):
    """(x, y) of the first place where `block` (rows of packed bytes) shows, or None."""
    for y in range(len(rows) - len(block) + 1):
        start = rows[y].find(block[0])
        while start >= 0:
            if start % 3 == 0 and all(rows[y + i][start:start + len(line)] == line for i, line in enumerate(block)):
                return start // 3, y
            start = rows[y].find(block[0], start + 1)
    return None


def enlarged(block, factor):
    """`block` (rows of packed RGB bytes) with every pixel a factor x factor square."""
    return [b"".join(row[x:x + 3] * factor for x in range(0, len(row), 3)) for row in block for _ in range(factor)]


def run(program, work, name):
    show(program, work, name, 1)
    show(program, work, name, 2)


def show(program, work, name, scale):
    """Weston's output at `scale`: the field must show with each pixel a scale x scale block."""
    strip = rgb_rows(os.path.join(os.path.dirname(program), "cannon.bmp"))
    frame0 = enlarged([bytes(c for pixel in row[:16] for c in pixel) for row in strip[:16]], scale)
    runtime = tempfile.mkdtemp(prefix="brakkenfel-xdg-", dir=work)
    os.chmod(runtime, 0o700)
    socket = "brakkenfel-%d" % os.getpid()
    weston = child = None
    try:
        with open(os.path.join(work, "weston.log"), "w") as log:
            weston = subprocess.Popen(["weston", "--backend=x11-backend.so", "--use-pixman", "--no-config",
                                       "--socket=" + socket, "--scale=%d" % scale, "--width=%d" % (1024 * scale),
                                       "--height=%d" % (700 * scale)], env=dict(os.environ, DISPLAY=name,
                                                                        XDG_RUNTIME_DIR=runtime),
                                      stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        deadline = time.monotonic() + 15
        while not os.path.exists(os.path.join(runtime, socket)):
            check(weston.poll() is None and time.monotonic() < deadline, "Weston did not start: see weston.log")
            time.sleep(0.05)
        env = dict(os.environ, WAYLAND_DISPLAY=socket, XDG_RUNTIME_DIR=runtime, SDL_VIDEODRIVER="wayland")
        env.pop("DISPLAY", None)
        # libdecor loads its plugins and unloads them before exit, so LeakSanitizer finds their
        # allocations with no library left to name: nothing a suppression can match, nothing of ours.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        child_log = open(os.path.join(work, "program.log"), "w+")
        child = subprocess.Popen([program], env=env, stdin=subprocess.DEVNULL, stdout=child_log, stderr=child_log)
        # The window has no fixed place on Weston's output: look for the Cannon's picture anywhere.
        found = None
        # Generous: under sanitizers on a busy machine a nested compositor at scale 2 is slow to show.
        deadline = time.monotonic() + 45
        while found is None and child.poll() is None and time.monotonic() < deadline:
            rows = screen_bytes(name)
            found = find_block(rows, frame0)
            time.sleep(0.1)
        child_log.seek(0)
        check(found is not None, "the field never showed on Weston; the program said: " + child_log.read().strip())
        cannon, helicopter = GUNS["Cannon"], GUNS["Helicopter"]
        x = found[0] + (helicopter[0] - cannon[0]) * scale
        y = found[1] + (helicopter[1] - cannon[1]) * scale
        check(all(rows[y + i][x * 3:x * 3 + 48 * scale] == line for i, line in enumerate(frame0)),
              "the Helicopter is not where the Cannon's place says it should be")
        child.send_signal(signal.SIGTERM)
        try:
            status = child.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("the program kept running 5 s after SIGTERM")
        child_log.seek(0)
        check(status == 0, "exit status %d after SIGTERM; the program said: %s" % (status, child_log.read().strip()))
        print("ok: at output scale %d the field showed on Weston at (%d, %d) and SIGTERM ended the program with 0"
              % (scale, found[0] - (cannon[0] + FIELD_ORIGIN[0]) * scale, found[1] - (cannon[1] + FIELD_ORIGIN[1]) * scale))
    finally:
        end(child)
        if weston is not None and weston.poll() is None:
            weston.terminate()
            try:
                weston.wait(timeout=5)
            except subprocess.TimeoutExpired:
                end(weston)


if __name__ == "__main__":
    if shutil.which("weston") is None:
        print("skipped: Weston is not installed")
        sys.exit(SKIP)
    sys.exit(main(__doc__, run, "brakkenfel-wayland-", screen="2100x1450x24"))
