#!/usr/bin/python3
"""The real window on a private X server: size, caption, pixels, and closing by the window manager's message.

Usage: test_window.py PROGRAM. Starts its own Xvfb on a free display, runs PROGRAM there with SDL's x11
driver named explicitly (SDL would otherwise fall back to an invisible off-screen window), and exits 0
on success, 1 on failure, 77 when Xvfb is not installed. With BRAKKENFEL_SCREENSHOT=FILE.png it also
keeps the screenshot it checked (tools/screenshot.sh makes the README's picture that way).
"""
import math
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77

CLIENT = (601, 369)
FIELD_ORIGIN = (10, 10)          # the picture box's inner area within the client area
FIELD_SIZE = (373, 285)
GUNS = {"Cannon": (12, 12), "Helicopter": (32, 32)}  # frame 0's top left in the field
LABEL = (8, 304, 19)             # left, top, height
BACKGROUND = (0xF0, 0xF0, 0xF0)
CAPTION = re.compile(r"^FPS:  (\d+) \| MPS:  (\d+) \| (\d+):(\d\d)$")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def start_xvfb(log):
    """Starts Xvfb on a display number it picks itself; returns (process, ':n')."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
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


def screenshot(display_name, window, png_path):
    """The window's client area as rows of (r, g, b); also written to `png_path`."""
    xwd = subprocess.run(["xwd", "-display", display_name, "-id", str(window.id), "-silent"],
                         check=True, capture_output=True).stdout
    subprocess.run(["convert", "xwd:-", png_path], input=xwd, check=True)
    ppm = subprocess.run(["convert", "xwd:-", "-depth", "8", "ppm:-"], input=xwd, check=True,
                         capture_output=True).stdout
    # The header may carry comments (ImageMagick copies the window's name into one).
    fields = re.match(rb"P6(?:\s+|#[^\n]*\n)*(\d+)(?:\s+|#[^\n]*\n)*(\d+)(?:\s+|#[^\n]*\n)*(\d+)\s", ppm)
    check(fields is not None, "cannot read the screenshot")
    width, height = int(fields.group(1)), int(fields.group(2))
    data = ppm[fields.end():]
    return [[tuple(data[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)] for y in range(height)]


def gun_frame(bmp_path):
    """Frame 0 (the leftmost 16 x 16 block) of the picture strip, as rows of (r, g, b)."""
    data = open(bmp_path, "rb").read()
    check(data[:2] == b"BM", bmp_path + " is not a bitmap file")
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    bits = int.from_bytes(data[28:30], "little")
    check(bits in (24, 32) and int.from_bytes(data[30:34], "little") in (0, 3), "unexpected bitmap layout")
    stride = (width * bits // 8 + 3) // 4 * 4
    rows = []
    for y in range(16):
        source_row = (abs(height) - 1 - y) if height > 0 else y
        start = offset + source_row * stride
        rows.append([tuple(reversed(data[start + x * bits // 8:start + x * bits // 8 + 3])) for x in range(16)])
    return rows


def check_pixels(image, frame):
    check((len(image[0]), len(image)) == CLIENT, "screenshot is %dx%d" % (len(image[0]), len(image)))
    ox, oy = FIELD_ORIGIN
    gun_pixels = set()
    for name, (gx, gy) in GUNS.items():
        for y in range(16):
            for x in range(16):
                got = image[oy + gy + y][ox + gx + x]
                check(got == frame[y][x], "%s: pixel (%d, %d) of frame 0 is %s on screen, %s in the strip"
                      % (name, x, y, got, frame[y][x]))
                gun_pixels.add((gx + x, gy + y))
    black = 0
    for y in range(FIELD_SIZE[1]):
        for x in range(FIELD_SIZE[0]):
            if (x, y) in gun_pixels:
                continue
            pixel = image[oy + y][ox + x]
            check(pixel in ((0, 0, 0), (255, 255, 255)),
                  "field pixel (%d, %d) is %s: neither the black field nor a white bullet" % (x, y, pixel))
            black += pixel == (0, 0, 0)
    check(black > 0.95 * FIELD_SIZE[0] * FIELD_SIZE[1], "the field is not black")
    # The sunken border: darker above and left of the field, lighter below and right.
    top_left, bottom_right = image[oy - 2][ox + 100], image[oy + FIELD_SIZE[1] + 1][ox + 100]
    check(sum(top_left) < sum(BACKGROUND) < sum(bottom_right) + 1,
          "no sunken border around the field (%s above, %s below)" % (top_left, bottom_right))
    left, top, height = LABEL
    ink = [x for y in range(top, top + height) for x in range(left, CLIENT[0])
           if sum(image[y][x]) < 3 * 96]
    check(len(ink) > 50, "the label shows no text")
    check(max(ink) < left + 300, "the label reaches further than its text would")
    for y in list(range(top + height, CLIENT[1])) + list(range(FIELD_ORIGIN[1] + FIELD_SIZE[1] + 2, top)):
        for x in range(CLIENT[0]):
            check(image[y][x] == BACKGROUND, "stray pixel %s at (%d, %d) outside the controls" % (image[y][x], x, y))


def close_window(display, window):
    """Sends WM_DELETE_WINDOW as a window manager does when the close button is clicked."""
    from Xlib import X, protocol
    wm_protocols = display.intern_atom("WM_PROTOCOLS")
    wm_delete = display.intern_atom("WM_DELETE_WINDOW")
    check(wm_delete in (window.get_wm_protocols() or []), "the window does not accept WM_DELETE_WINDOW")
    message = protocol.event.ClientMessage(window=window, client_type=wm_protocols,
                                           data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(message, event_mask=X.NoEventMask)
    display.flush()


def run(program, work):
    from Xlib import display as xdisplay
    server_log = open(os.path.join(work, "xvfb.log"), "w")
    server, name = start_xvfb(server_log)
    child = None
    try:
        env = dict(os.environ, DISPLAY=name, SDL_VIDEODRIVER="x11")
        env.pop("WAYLAND_DISPLAY", None)
        child_log = open(os.path.join(work, "program.log"), "w+")
        display = xdisplay.Display(name)
        started = time.monotonic()
        child = subprocess.Popen([program], env=env, stdin=subprocess.DEVNULL, stdout=child_log, stderr=child_log)
        try:
            window = find_window(display, child.pid, timeout=15)
        except Failure:
            child_log.seek(0)
            raise Failure("no window appeared; the program said: " + child_log.read().strip())
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
        check(abs(frames - 30) <= 1, "frame rate %d in %r" % (frames, caption))
        check(abs(moves - 90) <= 1, "move rate %d in %r" % (moves, caption))
        # The first caption comes at once and counts 0:01, so after t seconds it reads floor(t) + 1;
        # the run started between our launching it and its window appearing.
        earliest = math.floor(read_at - found - 0.1) + 1
        latest = math.floor(read_at - started) + 1
        check(earliest <= seconds <= latest,
              "elapsed %d s in %r, expected %d to %d" % (seconds, caption, earliest, latest))

        png = os.path.join(work, "window.png")
        check_pixels(screenshot(name, window, png), gun_frame(os.path.join(os.path.dirname(program), "cannon.bmp")))
        keep = os.environ.get("BRAKKENFEL_SCREENSHOT")
        if keep:
            shutil.copyfile(png, keep)

        close_window(display, window)
        closed = time.monotonic()
        try:
            status = child.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            raise Failure("the program was still running a second after WM_DELETE_WINDOW")
        check(status == 0, "exit status %d after closing" % status)
        print("ok: %r, closed in %.0f ms" % (caption, (time.monotonic() - closed) * 1000))
    finally:
        if child is not None and child.poll() is None:
            child.kill()
            child.wait()
        server.terminate()
        try:
            server.wait(timeout=5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if shutil.which("Xvfb") is None:
        print("skipped: Xvfb is not installed")
        return SKIP
    with tempfile.TemporaryDirectory(prefix="brakkenfel-window-") as work:
        try:
            run(os.path.abspath(sys.argv[1]), work)
        except Failure as failure:
            print("FAIL:", failure)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
