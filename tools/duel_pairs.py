#!/usr/bin/env python3
"""Plays duel matches over many seeds, each seed from both seats, and scores them as pairs.

Usage: tools/duel_pairs.py BRAKKENFEL FIRST SECOND [--seeds N] [--jobs J] [--moves M]

FIRST and SECOND are contestant kinds as the arena takes them (ai, or exec:COMMAND). For each seed
FIRST plays once as the Cannon and once as the Helicopter; a pair is FIRST's when it scores more
than one point of the two games (a win 1, a draw 1/2), SECOND's when less, split otherwise. Runs
are headless with --move-budget 0, so the figures do not depend on the machine's speed.
"""
import argparse
import concurrent.futures
import json
import os
import statistics
import subprocess
import tempfile


def play(program, cannon, helicopter, seed, moves):
    with tempfile.TemporaryDirectory() as folder:
        result = os.path.join(folder, "result.json")
        subprocess.run([program, "--headless", "--rules", "duel", "--seed", str(seed), "--moves", str(moves),
                        "--move-budget", "0", "--cannon", cannon, "--helicopter", helicopter, "--result", result],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(result, encoding="utf-8") as file:
            return json.load(file)


def points(outcome, seat):
    if outcome["winner"] == "draw":
        return 0.5
    return 1.0 if outcome["winner"] == seat else 0.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("first")
    parser.add_argument("second")
    parser.add_argument("--seeds", type=int, default=200)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--moves", type=int, default=20000)
    options = parser.parse_args()
    seeds = range(1, options.seeds + 1)
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        as_cannon = {seed: pool.submit(play, options.program, options.first, options.second, seed, options.moves)
                     for seed in seeds}
        as_helicopter = {seed: pool.submit(play, options.program, options.second, options.first, seed,
                                           options.moves) for seed in seeds}
        games = {seed: (as_cannon[seed].result(), as_helicopter[seed].result()) for seed in seeds}
    first_pairs = second_pairs = split = 0
    seat_wins = {"Cannon": 0, "Helicopter": 0, "draw": 0}
    lengths, destroyed, at_limit = [], 0, 0
    for seed, (one, two) in games.items():
        score = points(one, "Cannon") + points(two, "Helicopter")
        first_pairs += score > 1
        second_pairs += score < 1
        split += score == 1
        for game in (one, two):
            seat_wins[game["winner"]] += 1
            lengths.append(game["moves"])
            if any(gun["destroyed_at"] is not None for gun in game["guns"]):
                destroyed += 1
            elif game["moves"] >= options.moves:
                at_limit += 1
    count = len(games)
    print(f"{options.first} vs {options.second}, {count} seeds, both seats:")
    print(f"  pairs: first {first_pairs} ({100 * first_pairs / count:.1f}%), second {second_pairs} "
          f"({100 * second_pairs / count:.1f}%), split {split} ({100 * split / count:.1f}%)")
    print(f"  games won by seat: Cannon {seat_wins['Cannon']}, Helicopter {seat_wins['Helicopter']}, "
          f"draw {seat_wins['draw']}")
    print(f"  match length in moves: median {statistics.median(lengths):.0f}, min {min(lengths)}, "
          f"max {max(lengths)}; ended by destruction {destroyed} of {2 * count}, at the limit {at_limit}")


if __name__ == "__main__":
    main()
