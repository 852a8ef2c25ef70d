"""A private X server for the end-to-end tests: start it, find and close windows, read captions.

Not a test itself; the window scripts use it.
"""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def start_xvfb(log, core_fonts=True, screen="1024x768x24"):
    """Starts Xvfb on a display number it picks itself; returns (process, ':n'). Without `core_fonts`
    the server has only its two built-in fonts, as on a machine where no X font package is installed.
    `screen` is the screen's size and depth."""
    read_end, write_end = os.pipe()
    fonts = [] if core_fonts else ["-fp", "built-ins"]
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-nolisten", "tcp", *fonts],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 15
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            server.kill()
            server.wait()
            os.close(read_end)
            raise Failure("Xvfb did not report a display number")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


def x11_env(display_name):
    """The environment that sends SDL to `display_name`, with its x11 driver named (it would otherwise
    fall back to an invisible off-screen window)."""
    env = dict(os.environ, DISPLAY=display_name, SDL_VIDEODRIVER="x11")
    env.pop("WAYLAND_DISPLAY", None)
    return env


def find_window(display, pid, timeout):
    """The viewable top-level window whose _NET_WM_PID is `pid`."""
    from Xlib import X, Xatom, error
    wm_pid = display.intern_atom("_NET_WM_PID")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for window in display.screen().root.query_tree().children:
            try:
                prop = window.get_full_property(wm_pid, Xatom.CARDINAL)
                viewable = window.get_attributes().map_state == X.IsViewable
            except error.XError:
                continue
            if prop is not None and prop.value[0] == pid and viewable:
                return window
        time.sleep(0.02)
    raise Failure("no window of the program appeared")


def caption_of(display, window):
    prop = window.get_full_property(display.intern_atom("_NET_WM_NAME"), display.intern_atom("UTF8_STRING"))
    if prop is not None:
        return prop.value.decode("utf-8")
    return window.get_wm_name() or ""


def close_window(display, window):
    """Sends WM_DELETE_WINDOW as a window manager does when the close button is clicked."""
    from Xlib import X, protocol
    wm_protocols = display.intern_atom("WM_PROTOCOLS")
    wm_delete = display.intern_atom("WM_DELETE_WINDOW")
    check(wm_delete in (window.get_wm_protocols() or []), "the window does not accept WM_DELETE_WINDOW")
    message = protocol.event.ClientMessage(window=window, client_type=wm_protocols,
                                           data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(message, event_mask=X.NoEventMask)
    # A round trip, not a flush: python-xlib may still hold the request when the caller closes the
    # connection right after, and the message is then lost.
    display.sync()


def ppm(source, data=None):
    """The picture `source` (a file, or "xwd:-" reading `data`) as (width, height, packed RGB bytes),
    through ImageMagick."""
    out = subprocess.run(["convert", source, "-depth", "8", "ppm:-"], input=data, check=True,
                         capture_output=True).stdout
    # The header may carry comments (ImageMagick copies the window's name into one).
    fields = re.match(rb"P6(?:\s+|#[^\n]*\n)*(\d+)(?:\s+|#[^\n]*\n)*(\d+)(?:\s+|#[^\n]*\n)*(\d+)\s", out)
    check(fields is not None, "cannot read " + source)
    return int(fields.group(1)), int(fields.group(2)), out[fields.end():]


def rgb_rows(source, data=None):
    """The picture `source` (as for ppm) as rows of (r, g, b)."""
    width, height, data = ppm(source, data)
    return [[tuple(data[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)] for y in range(height)]


def screenshot(display_name, window, png_path):
    """The window's client area as rows of (r, g, b); also written to `png_path`."""
    xwd = subprocess.run(["xwd", "-display", display_name, "-id", str(window.id), "-silent"],
                         check=True, capture_output=True).stdout
    subprocess.run(["convert", "xwd:-", png_path], input=xwd, check=True)
    return rgb_rows("xwd:-", xwd)


def launch(program, work, name, *arguments, stdout=None):
    """Starts `program` on display `name`, its output to work/program.log (stderr too unless `stdout` is
    given), and waits for its window: returns (connection, process, window, log)."""
    from Xlib import display as xdisplay
    connection = xdisplay.Display(name)
    log = open(os.path.join(work, "program.log"), "w+")
    child = subprocess.Popen([program, *arguments], env=x11_env(name), stdin=subprocess.DEVNULL,
                             stdout=log if stdout is None else stdout, stderr=log)
    try:
        window = find_window(connection, child.pid, timeout=15)
    except Failure:
        end(child)
        log.seek(0)
        raise Failure("no window appeared; the program said: " + log.read().strip())
    return connection, child, window, log


def finish(child, log, what):
    """Waits for `child` to end by itself with status 0; returns what it wrote to `log`."""
    try:
        status = child.wait(timeout=10)
    except subprocess.TimeoutExpired:
        raise Failure(what + ": still running 10 s later")
    log.seek(0)
    said = log.read()
    check(status == 0, "%s: exit status %d: %s" % (what, status, said))
    return said


def end(process):
    """Kills `process` if it still runs, and reaps it."""
    if process is not None and process.poll() is None:
        process.kill()
        process.wait()


def press_key(display, window, name, press=True, release=True):
    """Gives `window` the keyboard focus and presses and/or releases the key `name` ("Return") through XTEST."""
    from Xlib import XK, X
    from Xlib.ext import xtest
    window.set_input_focus(X.RevertToParent, X.CurrentTime)
    display.sync()
    code = display.keysym_to_keycode(XK.string_to_keysym(name))
    if press:
        xtest.fake_input(display, X.KeyPress, code)
    if release:
        xtest.fake_input(display, X.KeyRelease, code)
    display.sync()


def click(display, window, x, y):
    """A left click at (x, y) inside `window`, through XTEST."""
    from Xlib import X
    from Xlib.ext import xtest
    at = display.screen().root.translate_coords(window, x, y)
    xtest.fake_input(display, X.MotionNotify, x=at.x, y=at.y)
    xtest.fake_input(display, X.ButtonPress, 1)
    xtest.fake_input(display, X.ButtonRelease, 1)
    display.sync()


def main(doc, run, prefix, core_fonts=True, screen="1024x768x24"):
    """A test script's entry: `run(program, work, display_name)` with PROGRAM from the command line, a
    scratch folder and a private Xvfb; it raises Failure to fail. Returns the exit status (77: skipped)."""
    if len(sys.argv) != 2:
        print(doc)
        return 2
    if shutil.which("Xvfb") is None:
        print("skipped: Xvfb is not installed")
        return SKIP
    with tempfile.TemporaryDirectory(prefix=prefix) as work:
        with open(os.path.join(work, "xvfb.log"), "w") as server_log:
            server, name = start_xvfb(server_log, core_fonts, screen)
        try:
            run(os.path.abspath(sys.argv[1]), work, name)
        except Failure as failure:
            print("FAIL:", failure)
            return 1
        finally:
            server.terminate()
            try:
                server.wait(timeout=5)
            except subprocess.TimeoutExpired:
                end(server)
    return 0
