#!/usr/bin/env python3
"""Every marked example output of the docs is what the program prints now (tools/doc_examples.py --update remakes them)."""
import contextlib
import io
import os
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import PROGRAM, SOURCE  # noqa: E402

sys.path.insert(0, os.path.join(SOURCE, "tools"))
import doc_examples  # noqa: E402


class DocExamplesTest(unittest.TestCase):
    def test_every_example_is_what_a_run_gives(self):
        diff = io.StringIO()
        with contextlib.redirect_stdout(diff):
            status = doc_examples.main([PROGRAM])
        self.assertEqual(status, 0, "the docs differ from the program (tools/doc_examples.py --update):\n"
                         + diff.getvalue())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
