"""Reply times from a match's protocol log: how long each program took to answer each move, and medians of them."""
import collections

MAX_LINE = 8192
# The marks of lines received that answer the move being asked (taken, refused, written ahead);
# `<late` and `<ignored` lines name other moves.
ANSWERS = (b"<", b"<refused", b"<ahead")


def reply_times(path):
    """{gun name: Counter of microseconds}: each move's first reply, timed from its request (greetings left out)."""
    times = collections.defaultdict(collections.Counter)
    seen = set()
    with open(path, "rb") as file:
        while True:
            line = file.readline(MAX_LINE)
            if not line:
                break
            words = line.split(b" ", 4)
            if len(words) < 4 or words[2] not in ANSWERS or not words[0].isdigit() or words[0] == b"0":
                continue
            key = (words[0], words[1])
            if key in seen or not words[3].isdigit():
                continue
            seen.add(key)
            times[words[1].decode("ascii", errors="replace")][int(words[3])] += 1
    return times


def median(counter):
    """The median of the values counted (the mean of the two middle ones for an even count), or None."""
    total = sum(counter.values())
    if not total:
        return None
    wanted = [(total - 1) // 2, total // 2]
    found, seen = [], 0
    for value in sorted(counter):
        seen += counter[value]
        while wanted and wanted[0] < seen:
            found.append(value)
            wanted.pop(0)
    return (found[0] + found[1]) / 2.0
