#!/usr/bin/env python3
"""An example contestant for duel rules: the hunter, firing speculative shots while it searches.

Run it with: brakkenfel --rules duel --cannon "exec:exec python3 examples/gambler.py"

Its method is examples/hunter.py's, with one difference: while the foe is not yet found, a
reloaded gun fires when the angle it points at hits at least half the places the foe may stand,
or when no sure shot could come before it reloads again anyway (docs/duel.md).
"""
import sys

import hunter

if __name__ == "__main__":
    sys.exit(hunter.main(speculate=True))
