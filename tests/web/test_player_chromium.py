#!/usr/bin/python3
"""The web player in headless Chromium: a recorded 20,000-move match jumped to moves 1, 500 and
20,000, and a duel-rules match (a program against the built-in gunner) jumped to moves 1, 500 and
its last, show the native snapshot's pixels and the recorded state hash; an edited hash stops the
page at its move with the divergence shown; P pauses and resumes.

Usage: test_player_chromium.py PROGRAM PLAYER_DIR (Debian's /usr/bin/python3: selenium)."""
import functools
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "e2e"))
import bmp  # noqa: E402

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("python3-selenium is not installed (tools/install-deps.sh --web-test)", file=sys.stderr)
    sys.exit(77)
for needed in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
    if not os.path.exists(needed):
        print(needed + " is missing (tools/install-deps.sh --web-test)", file=sys.stderr)
        sys.exit(77)

PROGRAM = os.path.abspath(sys.argv[1])
PLAYER = os.path.abspath(sys.argv[2])
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MOVES = 20000
# The hunter finds and destroys the built-in gunner: the file ends at the destroying move.
DUEL = ["--rules", "duel", "--seed", "9", "--health", "10", "--moves", str(MOVES), "--move-budget", "0",
        "--cannon", "ai", "--helicopter", "exec:exec python3 -u " + os.path.join(SOURCE, "examples", "hunter.py")]
# Generous: a busy CI machine loads and jumps slowly; nothing here measures speed.
WAIT = 120


def frame_hash(path):
    """FNV-1a 64 over the picture's R, G, B bytes, rows top to bottom: what data-frame-hash holds."""
    value = 0xcbf29ce484222325
    for row in bmp.read(path):
        for pixel in row:
            for byte in pixel:
                value = ((value ^ byte) * 0x100000001b3) & 0xffffffffffffffff
    return "%016x" % value


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass


class PlayerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.site = os.path.join(cls.dir.name, "site")
        shutil.copytree(PLAYER, cls.site)
        cls.match = os.path.join(cls.site, "match.txt")
        cls.lines = cls.record(cls.match, ["--moves", str(MOVES), "--seed", "11"])
        cls.duel = os.path.join(cls.site, "duel.txt")
        result = os.path.join(cls.dir.name, "duel.json")
        cls.duel_lines = cls.record(cls.duel, DUEL + ["--result", result])
        with open(result) as outcome:
            cls.duel_result = json.load(outcome)
        handler = functools.partial(QuietHandler, directory=cls.site)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.base = "http://127.0.0.1:%d/" % cls.server.server_address[1]
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--user-data-dir=" + os.path.join(cls.dir.name, "profile")):
            options.add_argument(argument)
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    @classmethod
    def record(cls, path, arguments):
        recorded = subprocess.run([PROGRAM, "--headless", "--record", path] + arguments,
                                  capture_output=True, timeout=300)
        assert recorded.returncode == 0, recorded.stderr
        with open(path) as match:
            return match.read().splitlines(keepends=True)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.server.shutdown()
        cls.server.server_close()
        cls.dir.cleanup()

    def attribute(self, name):
        return self.browser.find_element("id", "player").get_attribute("data-" + name)

    def wait_for(self, what, why):
        WebDriverWait(self.browser, WAIT).until(lambda _: what(), why)

    def open(self, query):
        self.browser.get(self.base + "player.html?" + query)

    def jumps_show_the_native_snapshots(self, name, lines, moves):
        for move in moves:
            with self.subTest(match=name, move=move):
                self.open("match=%s&move=%d" % (name, move))
                self.wait_for(lambda: self.attribute("move") == str(move) and self.attribute("frame-hash"),
                              "the page never reached move %d" % move)
                snapshot = os.path.join(self.dir.name, "%s-move%d.bmp" % (name, move))
                native = subprocess.run([PROGRAM, "--replay", os.path.join(self.site, name), "--headless",
                                         "--moves", str(move), "--snapshot", snapshot],
                                        capture_output=True, timeout=120)
                self.assertEqual(native.returncode, 0, native.stderr)
                self.assertEqual(self.attribute("frame-hash"), frame_hash(snapshot))
                self.assertEqual(self.attribute("state-hash"), lines[move].split()[-1])
                self.assertIn(self.attribute("state"), ("playing", "ended"))

    def test_jumps_show_the_native_snapshot_of_the_same_move(self):
        self.jumps_show_the_native_snapshots("match.txt", self.lines, (1, 500, MOVES))

    def test_a_duel_shows_the_native_snapshots_and_the_guns_health(self):
        last = len(self.duel_lines) - 1
        self.assertGreater(last, 500, "the duel ended too soon to reach move 500")
        self.jumps_show_the_native_snapshots("duel.txt", self.duel_lines, (1, 500, last))
        # The page ends at the file's last move; the panel shows each gun's health as the run ended.
        self.assertEqual(self.attribute("state"), "ended")
        self.browser.find_element("id", "player").send_keys("v")
        self.wait_for(lambda: self.browser.find_element("id", "panel").is_displayed(), "V showed no panel")
        self.assertEqual(self.browser.find_element("id", "health-head").text, "health")
        shown = {cells[0].text: cells[-1].text for cells in
                 (row.find_elements("tag name", "td")
                  for row in self.browser.find_elements("css selector", "#guns tbody tr"))}
        expected = {gun["name"]: str(gun["final_health"]) for gun in self.duel_result["guns"]}
        self.assertEqual(shown, expected)

    def test_an_edited_hash_stops_the_page_at_its_move(self):
        lines = list(self.lines)
        words = lines[301].split()
        words[-1] = "%016x" % (int(words[-1], 16) ^ 1)
        lines[301] = " ".join(words) + "\n"
        with open(os.path.join(self.site, "edited.txt"), "w") as edited:
            edited.writelines(lines)
        self.open("match=edited.txt&move=1000")
        self.wait_for(lambda: self.attribute("state") == "failed", "the edited match was not refused")
        self.assertEqual(self.attribute("move"), "301")
        shown = self.browser.find_element("id", "status").text
        self.assertIn("diverges at move 301", shown)
        self.assertIn("edited.txt line 302", shown)

    def test_p_pauses_and_resumes_the_moves(self):
        self.open("match=match.txt")
        self.wait_for(lambda: int(self.attribute("move") or 0) > 0, "the match did not start")
        player = self.browser.find_element("id", "player")
        player.send_keys("p")
        self.wait_for(lambda: self.browser.find_element("id", "pause").text == "play", "P did not pause")
        paused_at = self.attribute("move")
        frames = int(self.attribute("frames"))
        # Frames go on while the moves stand still: ten of them show the pause holds.
        self.wait_for(lambda: int(self.attribute("frames")) >= frames + 10, "frames stopped while paused")
        self.assertEqual(self.attribute("move"), paused_at)
        player.send_keys("p")
        self.wait_for(lambda: int(self.attribute("move")) > int(paused_at), "P did not resume")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
