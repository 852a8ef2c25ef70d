#!/usr/bin/env python3
"""The league's arithmetic on made-up data: a known order recovered, an even pair not separated,
equal records sharing a rank, reply times read from a protocol log."""
import collections
import os
import random
import sys
import tempfile
import unittest

SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
sys.path.insert(0, os.path.join(SOURCE, "tools"))
from league import ratings, replies, tables  # noqa: E402


def simulate(strengths, rounds, seed):
    """Matches of a round-robin, both seats each round, won by the Elo model's odds (no draws)."""
    generator = random.Random(seed)
    names = list(strengths)
    matches = []
    for round_ in range(1, rounds + 1):
        for a in names:
            for b in names:
                if a != b:
                    won = generator.random() < ratings.win_probability(strengths[a] - strengths[b])
                    matches.append(tables.Match(len(matches) + 1, round_, round_, a, b, (1, 0) if won else (0, 1),
                                                "Cannon" if won else "Helicopter", {}, "", ""))
    return names, matches


def by_name(rows):
    return {row["contestant"]: row for row in rows}


class RatingsTest(unittest.TestCase):
    def test_a_known_order_is_recovered_and_told_apart(self):
        # Three contestants 200 Elo points apart in turn, in a deliberately misleading name order.
        names, matches = simulate({"c-weak": -200.0, "a-strong": 200.0, "b-middle": 0.0}, rounds=40, seed=7)
        rows = tables.standings(names, matches, samples=300)
        self.assertEqual([row["contestant"] for row in rows], ["a-strong", "b-middle", "c-weak"])
        self.assertEqual([row["rank"] for row in rows], [1, 2, 3])
        self.assertEqual([row["overlaps_next"] for row in rows], [False, False, None])
        for row in rows:
            self.assertLessEqual(row["low"], row["rating"])
            self.assertLessEqual(row["rating"], row["high"])
        # The differences come out near the truth (160 games per pair, so well within 100 points).
        table = by_name(rows)
        self.assertAlmostEqual(table["a-strong"]["rating"] - table["c-weak"]["rating"], 400.0, delta=100.0)

    def test_an_even_pair_is_not_separated(self):
        for seed in (1, 2, 3):
            names, matches = simulate({"left": 0.0, "right": 0.0}, rounds=30, seed=seed)
            first, second = tables.standings(names, matches, samples=300)
            self.assertTrue(first["overlaps_next"], seed)
            self.assertLessEqual(second["low"], first["high"])

    def test_equal_records_share_a_rank(self):
        # A beats B, B beats C, C beats A, every time, from both seats: nobody is ahead.
        beats = {("ann", "bob"), ("bob", "cy"), ("cy", "ann")}
        matches = []
        for cannon, helicopter in [(a, b) for a in ("ann", "bob", "cy") for b in ("ann", "bob", "cy") if a != b]:
            won = (cannon, helicopter) in beats
            matches.append(tables.Match(len(matches) + 1, 1, 1, cannon, helicopter, (1, 0) if won else (0, 1),
                                        "Cannon" if won else "Helicopter", {}, "", ""))
        rows = tables.standings(["cy", "bob", "ann"], matches, samples=0)
        self.assertEqual([row["rank"] for row in rows], [1, 1, 1])
        self.assertIn("| =1 | ann |", tables.markdown(rows))
        # One more win for bob breaks the tie, and the others still share second place.
        matches.append(tables.Match(7, 2, 2, "bob", "cy", (1, 0), "Cannon", {}, "", ""))
        self.assertEqual([(r["contestant"], r["rank"]) for r in tables.standings(["ann", "bob", "cy"], matches, 0)][0],
                         ("bob", 1))

    def test_the_intervals_repeat_and_stay_finite_for_a_clean_sweep(self):
        names, matches = simulate({"always": 5000.0, "never": -5000.0}, rounds=5, seed=1)
        once = tables.standings(names, matches, samples=200)
        again = tables.standings(names, list(matches), samples=200)
        self.assertEqual(once, again)
        self.assertTrue(all(abs(row["rating"]) < 2000 for row in once))


class RepliesTest(unittest.TestCase):
    def test_each_moves_first_reply_counts_and_greetings_do_not(self):
        log = (b"# move gun direction microseconds text\n"
               b"0 Cannon > 0 brakkenfel 1 Cannon\n0 Cannon < 90000 ready\n"
               b"1 Cannon > 0 move 1 128 20 20 0\n1 Cannon < 40 1 shoot\n1 Cannon < 70 1 rotate 3\n"
               b"1 Helicopter < 15 1 shoot\n2 Cannon ! 5003 no reply in time\n2 Cannon < 20 2 shoot\n"
               b"3 Cannon < 9 3 \xff\xfe\n")
        with tempfile.NamedTemporaryFile() as file:
            file.write(log)
            file.flush()
            times = replies.reply_times(file.name)
        self.assertEqual(times, {"Cannon": collections.Counter({40: 1, 20: 1, 9: 1}),
                                 "Helicopter": collections.Counter({15: 1})})

    def test_median(self):
        for values, expected in (([], None), ([7], 7), ([4, 1, 3, 2], 2.5), ([5, 5, 5, 1], 5), ([1, 9, 2], 2)):
            self.assertEqual(replies.median(collections.Counter(values)), expected, values)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
