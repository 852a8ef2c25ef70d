#!/usr/bin/env python3
"""The man pages built beside the program list exactly the options --help does, each with the value
--help gives it, and the arena's parser agrees on every one: known, and wanting a value or not."""
import os
import re
import shutil
import subprocess
import sys
import unittest

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
PAGES = os.path.join(os.path.dirname(PROGRAM), "packaging")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
TOURNAMENT = os.path.join(SOURCE, "tools", "tournament.py")
MAN = shutil.which("man")


def page_options(path):
    """{option: value name or ""} from the .TP headings of a man page's OPTIONS section."""
    with open(path, encoding="utf-8") as file:
        roff = file.read()
    section = roff.split(".SH OPTIONS\n", 1)[1].split("\n.SH ", 1)[0]
    found = {}
    for heading in re.findall(r"^\.TP\n(.*)$", section, re.M):
        text = heading.replace("\\-", "-")
        value = re.search(r"\\fI([^\\]+)\\fR", text)
        for name in re.findall(r"\\fB(-[^\\]+)\\fR", text):
            found[name] = value.group(1) if value else ""
    return found


def help_options(text, value_pattern):
    """{option: value name or ""} from the option lines of a --help text."""
    found = {}
    for line in text.splitlines():
        match = re.match(r"^  ((?:-\w, )?--[\w-]+)(?: (%s))?(?:\s|$)" % value_pattern, line)
        if match:
            for name in match.group(1).split(", "):
                found[name] = match.group(2) or ""
    return found


class ManPageTest(unittest.TestCase):
    def test_the_arena_page_and_help_list_the_same_options_and_values(self):
        usage = subprocess.run([PROGRAM, "--help"], capture_output=True, text=True, timeout=60).stdout
        listed = help_options(usage, r"[A-Z][A-Z0-9_:]*")
        self.assertIn("--moves", listed)
        self.assertEqual(page_options(os.path.join(PAGES, "brakkenfel.6")), listed)

    def test_the_parser_knows_every_option_of_the_page_and_which_want_a_value(self):
        for name, value in page_options(os.path.join(PAGES, "brakkenfel.6")).items():
            with self.subTest(option=name):
                # Last on the line: a valued option finds no value; a flag is taken and the help printed.
                done = subprocess.run([PROGRAM, "--help", name], capture_output=True, text=True, timeout=60)
                self.assertNotIn("unknown option", done.stderr)
                self.assertEqual("needs a value" in done.stderr, bool(value), done.stderr)

    def test_the_tournament_page_and_its_help_list_the_same_options(self):
        usage = subprocess.run([sys.executable, TOURNAMENT, "--help"], capture_output=True, text=True,
                               timeout=60).stdout
        # argparse prints "  --merge RESULT [RESULT ...]" and "  -h, --help".
        listed = help_options(usage, r"[A-Z][A-Z0-9_]*")
        self.assertIn("--jobs", listed)
        self.assertEqual(page_options(os.path.join(PAGES, "brakkenfel-tournament.6")), listed)

    @unittest.skipIf(MAN is None, "man is not installed")
    def test_man_reads_the_pages_without_complaint(self):
        for page in ("brakkenfel.6", "brakkenfel-tournament.6"):
            with self.subTest(page=page):
                done = subprocess.run([MAN, "--warnings", "-l", "-E", "UTF-8", os.path.join(PAGES, page)],
                                      capture_output=True, text=True, timeout=60, env=dict(os.environ, MANWIDTH="80"))
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stderr.strip(), "")
                self.assertIn("OPTIONS", re.sub(".\b", "", done.stdout))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
