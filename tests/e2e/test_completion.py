#!/usr/bin/env python3
"""The generated bash completion, run in bash as readline would call it: every option --help lists,
the contestant kinds, files and folders where the option takes them, nothing for numbers."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
COMPLETION = os.path.join(os.path.dirname(PROGRAM), "packaging", "completion")
BASH = shutil.which("bash")

# Sets up what bash gives a completion function for the line before the cursor, splitting words at
# blanks and, as readline does by default, after '=' and ':'.
DRIVER = r'''
source "$1"
COMP_LINE=$2
COMP_POINT=${#COMP_LINE}
COMP_WORDS=()
rest=$COMP_LINE
while [[ $rest =~ ^[[:space:]]*([=:]|[^[:space:]=:]+) ]]; do
    COMP_WORDS+=("${BASH_REMATCH[1]}")
    rest=${rest:${#BASH_REMATCH[0]}}
done
[[ $COMP_LINE == *[[:space:]] ]] && COMP_WORDS+=("")
COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
"$(complete -p "$3" | sed 's/.*-F \([^ ]*\) .*/\1/')"
printf '%s\n' "${COMPREPLY[@]}"
'''


def complete(command, line, cwd):
    done = subprocess.run([BASH, "-c", DRIVER, "driver", os.path.join(COMPLETION, command), line, command],
                          cwd=cwd, capture_output=True, text=True, timeout=60)
    # Anything on standard error would be printed over the user's command line.
    if done.returncode != 0 or done.stderr:
        raise AssertionError(done.stderr)
    return sorted(filter(None, done.stdout.split("\n")))


@unittest.skipIf(BASH is None, "bash is not installed")
class CompletionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        os.makedirs(os.path.join(cls.dir.name, "runs"))
        for name in ("match.bm", "moves.json"):
            open(os.path.join(cls.dir.name, name), "w").close()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_every_option_of_the_help_is_offered_and_no_other(self):
        usage = subprocess.run([PROGRAM, "--help"], capture_output=True, text=True, timeout=60).stdout
        listed = sorted(set(re.findall(r"^  (?:-\w, )?(--[\w-]+)", usage, re.M)))
        self.assertGreater(len(listed), 10)
        self.assertEqual(complete("brakkenfel", "brakkenfel --", self.dir.name), listed)

    def test_values_are_completed_by_what_the_option_takes(self):
        cases = [
            # (command, line before the cursor, expected replies)
            ("brakkenfel", "brakkenfel --hel", ["--help", "--helicopter"]),
            ("brakkenfel", "brakkenfel --cannon ", ["ai", "exec:", "human", "keys"]),
            ("brakkenfel", "brakkenfel --headless --helicopter h", ["human"]),
            ("brakkenfel", "brakkenfel --cannon=k", ["keys"]),
            ("brakkenfel", "brakkenfel --trace m", ["match.bm", "moves.json"]),
            ("brakkenfel", "brakkenfel --replay=mat", ["match.bm"]),
            ("brakkenfel", "brakkenfel --moves ", []),
            ("brakkenfel", "brakkenfel ", []),
            ("brakkenfel-tournament", "brakkenfel-tournament ", ["match.bm", "moves.json", "runs"]),
            ("brakkenfel-tournament", "brakkenfel-tournament league.txt --out ", ["runs"]),
            ("brakkenfel-tournament", "brakkenfel-tournament league.txt --merge match.bm mo", ["moves.json"]),
            ("brakkenfel-tournament", "brakkenfel-tournament league.txt --jobs ", []),
            ("brakkenfel-tournament", "brakkenfel-tournament league.txt --pr", ["--print-commands", "--program"]),
        ]
        for command, line, expected in cases:
            with self.subTest(line=line):
                self.assertEqual(complete(command, line, self.dir.name), sorted(expected))

    def test_exec_completes_the_command_after_the_colon(self):
        # Readline has already taken "exec:" as typed: the replies are what follows it.
        replies = complete("brakkenfel", "brakkenfel --cannon exec:bas", self.dir.name)
        self.assertIn("bash", replies)
        self.assertTrue(all(r.startswith("bas") for r in replies), replies)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
