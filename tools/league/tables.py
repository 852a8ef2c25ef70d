"""The league's tables from its accepted matches: standings, head to head, seats, and their Markdown and CSV."""
import csv
import io
import collections

from . import ratings, replies

# Ratings this close are equal: the fit converges far tighter, and equal records fit equal ratings.
TIE = 1e-6


class Match:
    """One accepted result: who sat where, the round, the hits, the winner and each seat's program counts."""

    def __init__(self, number, round_, seed, cannon, helicopter, hits, winner, programs, result, record, times=None):
        self.number, self.round, self.seed = number, round_, seed
        # {seat: Counter of reply microseconds}, from the protocol log when one was kept.
        self.times = times or {}
        self.cannon, self.helicopter = cannon, helicopter
        self.hits, self.winner, self.programs = hits, winner, programs
        self.result, self.record = result, record

    def score(self):
        """The Cannon's score: 1 for a win, 0.5 for a draw, 0 for a loss."""
        return {"Cannon": 1.0, "draw": 0.5}.get(self.winner, 0.0)


def standings(names, matches, samples):
    """Rows best first, each a dict; `matches` in schedule order (the intervals depend on it)."""
    rows = {name: {"contestant": name, "played": 0, "won": 0, "drawn": 0, "lost": 0, "hits_for": 0,
                   "hits_against": 0, "out": 0, "late": 0, "malformed": 0, "never_ready": 0, "programs": 0,
                   "replies": collections.Counter()} for name in names}
    for match in matches:
        for seat, me, mine, theirs in (("Cannon", match.cannon, match.hits[0], match.hits[1]),
                                       ("Helicopter", match.helicopter, match.hits[1], match.hits[0])):
            row = rows[me]
            row["played"] += 1
            row["won" if match.winner == seat else "drawn" if match.winner == "draw" else "lost"] += 1
            row["hits_for"] += mine
            row["hits_against"] += theirs
            program = match.programs.get(seat)
            if program:
                row["programs"] += 1
                row["out"] += bool(program.get("out"))
                row["late"] += int(program.get("late") or 0)
                row["malformed"] += int(program.get("malformed") or 0)
                row["never_ready"] += bool(program.get("out")) and program.get("out_at_move") == 0
            row["replies"].update(match.times.get(seat, {}))
    outcomes = [(m.cannon, m.helicopter, m.score()) for m in matches]
    rating = ratings.fit(names, outcomes)
    interval = ratings.bootstrap(names, outcomes, samples) if samples else {n: (rating[n], rating[n]) for n in names}
    for name, row in rows.items():
        row["rating"] = rating[name]
        row["low"], row["high"] = interval[name]
        row["points"] = row["won"] + row["drawn"] / 2.0
        middle = replies.median(row["replies"])
        row["reply_ms"] = None if middle is None else middle / 1000.0
    ordered = sorted(rows.values(), key=lambda r: (-r["rating"], r["contestant"]))
    for place, row in enumerate(ordered):
        previous = ordered[place - 1] if place else None
        tied = previous is not None and previous["rating"] - row["rating"] < TIE
        row["rank"] = previous["rank"] if tied else place + 1
        row["tied"] = tied or (place + 1 < len(ordered) and row["rating"] - ordered[place + 1]["rating"] < TIE)
        following = ordered[place + 1] if place + 1 < len(ordered) else None
        row["overlaps_next"] = None if following is None else following["high"] >= row["low"]
    return ordered


def cross_table(names, matches):
    """{(a, b): [won, drawn, lost]} of a against b, from both seats."""
    table = {(a, b): [0, 0, 0] for a in names for b in names if a != b}
    for match in matches:
        score = match.score()
        column = 0 if score == 1.0 else 1 if score == 0.5 else 2
        table[(match.cannon, match.helicopter)][column] += 1
        table[(match.helicopter, match.cannon)][2 - column] += 1
    return table


def seats(names, matches):
    """({"Cannon": wins, "Helicopter": wins, "draw": n}, {name: {seat: [won, played]}})."""
    overall = {"Cannon": 0, "Helicopter": 0, "draw": 0}
    each = {name: {"Cannon": [0, 0], "Helicopter": [0, 0]} for name in names}
    for match in matches:
        overall[match.winner] = overall.get(match.winner, 0) + 1
        for seat, name in (("Cannon", match.cannon), ("Helicopter", match.helicopter)):
            each[name][seat][1] += 1
            each[name][seat][0] += match.winner == seat
    return overall, each


def whole(value):
    """A rating as a whole number, never "-0"."""
    return "%d" % round(value)


def rank_text(row):
    return ("=%d" if row["tied"] else "%d") % row["rank"]


def reply_text(row):
    return "" if row["reply_ms"] is None else "%.3f" % row["reply_ms"]


HEADER = ["rank", "contestant", "rating", "low", "high", "played", "won", "drawn", "lost", "hits_for",
          "hits_against", "out", "late", "malformed", "reply_ms", "overlaps_next"]


def markdown(rows):
    lines = ["| # | contestant | rating | 95% interval | next | played | won | drawn | lost | hits for | hits against"
             " | out | late | malformed | reply ms |",
             "|---:|---|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for row in rows:
        following = {None: "", True: "overlaps", False: "apart"}[row["overlaps_next"]]
        lines.append("| %s | %s | %s | %s to %s | %s | %d | %d | %d | %d | %d | %d | %d | %d | %d | %s |" % (
            rank_text(row), row["contestant"], whole(row["rating"]), whole(row["low"]), whole(row["high"]), following,
            row["played"],
            row["won"], row["drawn"], row["lost"], row["hits_for"], row["hits_against"], row["out"], row["late"],
            row["malformed"], reply_text(row)))
    return "\n".join(lines) + "\n"


def csv_text(rows):
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(HEADER)
    for row in rows:
        writer.writerow([row["rank"], row["contestant"], "%.1f" % row["rating"], "%.1f" % row["low"],
                         "%.1f" % row["high"], row["played"], row["won"], row["drawn"], row["lost"], row["hits_for"],
                         row["hits_against"], row["out"], row["late"], row["malformed"], reply_text(row),
                         {None: "", True: "yes", False: "no"}[row["overlaps_next"]]])
    return out.getvalue()
