#!/usr/bin/python3
"""The error report on a display without the X core fonts, where SDL's message box cannot be shown: a
program without its picture strip shows the error in a window of its own, writes it to stderr, and
ends with status 1 once the window is closed by Enter, Escape, its button, its close box or a stop
signal; no game window ever appears.

Usage: test_error_report.py PROGRAM. Exits 0 on success, 1 on failure, 77 when Xvfb is not installed.
"""
import os
import shutil
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_window import CLIENT  # noqa: E402
from xserver import (Failure, caption_of, check, click, close_window, end, find_window, main,  # noqa: E402
                     press_key, screenshot, x11_env)

BUTTON_FACE = (0xE1, 0xE1, 0xE1)


def close_by_button(display, window, image):
    face = [(x, y) for y, row in enumerate(image) for x, pixel in enumerate(row) if pixel == BUTTON_FACE]
    check(face, "the report shows no button")
    xs, ys = [x for x, _ in face], [y for _, y in face]
    click(display, window, (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2)


WAYS_TO_CLOSE = {
    "Enter": lambda display, window, image, child: press_key(display, window, "Return"),
    "Escape": lambda display, window, image, child: press_key(display, window, "Escape"),
    "its button": lambda display, window, image, child: close_by_button(display, window, image),
    "the close box": lambda display, window, image, child: close_window(display, window),
    "SIGTERM": lambda display, window, image, child: child.send_signal(signal.SIGTERM),
}


def run(program, work, name):
    from Xlib import display as xdisplay
    # The program alone, without cannon.bmp beside it.
    lonely = os.path.join(work, "brakkenfel")
    shutil.copyfile(program, lonely)
    os.chmod(lonely, 0o755)
    display = xdisplay.Display(name)
    expected = "Error 53: File not found: " + os.path.join(work, "cannon.bmp")
    for way, close in WAYS_TO_CLOSE.items():
        child = None
        try:
            child = subprocess.Popen([lonely], env=x11_env(name), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            report = find_window(display, child.pid, timeout=15)
            size = report.get_geometry()
            check((size.width, size.height) != CLIENT, "the game window appeared although set-up failed")
            check(caption_of(display, report) == "Brakkenfel", "report titled %r" % caption_of(display, report))
            image = screenshot(name, report, os.path.join(work, "report.png"))
            ink = sum(1 for row in image for pixel in row if sum(pixel) < 3 * 96)
            check(ink > 200, "the report window shows no text (%d dark pixels)" % ink)
            check(child.poll() is None, "the program ended without waiting for its report to be read")
            close(display, report, image, child)
            try:
                _, stderr = child.communicate(timeout=5)
            except subprocess.TimeoutExpired:
                raise Failure("closing the report by %s did not end the program" % way)
            stderr = stderr.decode()
            check(expected in stderr, "stderr %r lacks %r" % (stderr, expected))
            check(child.returncode == 1, "exit status %d after closing by %s" % (child.returncode, way))
        finally:
            end(child)
    print("ok: the report closed by each of", ", ".join(WAYS_TO_CLOSE))


if __name__ == "__main__":
    sys.exit(main(__doc__, run, "brakkenfel-error-", core_fonts=False))
