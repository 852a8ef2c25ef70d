#!/usr/bin/python3
"""The error report on a display: a program without its picture strip shows the error in a message box,
writes it to stderr, and ends with status 1 once the box is closed; no game window ever appears.

Usage: test_error_report.py PROGRAM. Exits 0 on success, 1 on failure, 77 when Xvfb is not installed.
"""
import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xserver import Failure, caption_of, check, close_window, end, main, x11_env  # noqa: E402


def find_dialog(display, timeout):
    """The viewable top-level dialog window; the program shows nothing else when set-up fails."""
    from Xlib import X, Xatom, error
    window_type = display.intern_atom("_NET_WM_WINDOW_TYPE")
    dialog = display.intern_atom("_NET_WM_WINDOW_TYPE_DIALOG")
    wm_pid = display.intern_atom("_NET_WM_PID")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for window in display.screen().root.query_tree().children:
            try:
                if window.get_attributes().map_state != X.IsViewable:
                    continue
                kind = window.get_full_property(window_type, Xatom.ATOM)
                check(window.get_full_property(wm_pid, Xatom.CARDINAL) is None,
                      "a game window appeared although set-up failed")
            except error.XError:
                continue
            if kind is not None and dialog in kind.value:
                return window
        time.sleep(0.02)
    raise Failure("no message box appeared")


def run(program, work, name):
    from Xlib import display as xdisplay
    # The program alone, without cannon.bmp beside it.
    lonely = os.path.join(work, "brakkenfel")
    shutil.copyfile(program, lonely)
    os.chmod(lonely, 0o755)
    child = None
    try:
        display = xdisplay.Display(name)
        child = subprocess.Popen([lonely], env=x11_env(name), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        box = find_dialog(display, timeout=15)
        check(caption_of(display, box) == "Brakkenfel", "message box titled %r" % caption_of(display, box))
        check(child.poll() is None, "the program ended without waiting for the message box")
        close_window(display, box)
        try:
            _, stderr = child.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            raise Failure("the program kept running after its message box was closed")
        stderr = stderr.decode()
        expected = "Error 53: File not found: " + os.path.join(work, "cannon.bmp")
        check(expected in stderr, "stderr %r lacks %r" % (stderr, expected))
        check(child.returncode == 1, "exit status %d after an error" % child.returncode)
        print("ok:", stderr.strip())
    finally:
        end(child)


if __name__ == "__main__":
    sys.exit(main(__doc__, run, "brakkenfel-error-"))
