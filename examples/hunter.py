#!/usr/bin/env python3
"""An example contestant for duel rules: finds the foe, solves the flight, and fires.

Run it with: brakkenfel --rules duel --cannon "exec:exec python3 examples/hunter.py"

The foe's Distance is the square root of a whole number (the guns stand on whole pixels), so the
foe stands on one of the few whole-pixel points at exactly that distance that lie in the field.
The hunter keeps those points as candidates and sweeps its gun round; every move, InSight says
whether the foe lies within 4 angle steps of where the gun points, and every candidate that
disagrees is dropped. Once the candidates left share an angle that hits them all, it turns to the
angle with the least turn plus flight and fires every time it has reloaded.

With --speculate it also fires while it searches: when it has reloaded and a shot at the angle it
points at, over the candidates left, shortens the match more when it hits than it delays the sure
shot when it misses.

Standard library only. Protocol 2 and the method: docs/duel.md.
"""
import math
import struct
import sys

FIELD = (373, 285)      # bullets leave at x < 0, x >= 373, y >= 285
HALF = 8                # a gun's square is 16 x 16 around its centre
SHOT_SPEED = 2.0
DRAG = 1.003
GRAVITY = 0.00981
FULL_TURN = struct.unpack("f", struct.pack("f", 6.2831855))[0]
RELOAD = 59             # both guns under duel rules
SIGHT = 4               # InSight: within 4 angle steps either side
# A flight counts as a hit only this far inside the square's edge: our flights are in double
# precision, the arena's in float, and the two part by far less than this.
MARGIN = 0.4


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


# The arena's angle tables, bit for bit: float32 of the sine and cosine of a * 2pi / 256.
SIN = [f32(math.sin(a * FULL_TURN / 256.0)) for a in range(256)]
COS = [f32(math.cos(a * FULL_TURN / 256.0)) for a in range(256)]
EXACT_SIN = [0, 1, 1, 1, 0, -1, -1, -1]
EXACT_COS = [1, 1, 0, -1, -1, -1, 0, 1]


def ray_side(ray, dx, dy):
    """The sign of dx * cos - dy * sin for the ray at angle `ray`, as the arena decides it."""
    if ray % 32 == 0:
        side = dx * EXACT_COS[ray // 32] - dy * EXACT_SIN[ray // 32]
    else:
        side = dx * COS[ray] - dy * SIN[ray]
    return (side > 0) - (side < 0)


def in_sight(angle, dx, dy):
    return ray_side((angle - SIGHT) % 256, dx, dy) >= 0 and ray_side((angle + SIGHT) % 256, dx, dy) <= 0


def trajectories(x0, y0):
    """Every angle's flight from (x0, y0): the positions after each move until it leaves the field."""
    paths = []
    for angle in range(256):
        x, y = float(x0), float(y0)
        vx, vy = SHOT_SPEED * SIN[angle], SHOT_SPEED * COS[angle]
        path = []
        while True:
            vx = vx / DRAG
            vy = vy / DRAG + GRAVITY
            x += vx
            y += vy
            if x < 0 or x >= FIELD[0] or y >= FIELD[1]:
                break
            path.append((x, y))
        paths.append(path)
    return paths


def flights_to(paths, cx, cy):
    """For each angle, the moves of flight until it surely hits the square centred on (cx, cy), or None."""
    # A pixel rounds into [cx - 8, cx + 7] when the position lies in [cx - 8.5, cx + 7.5).
    left, right = cx - HALF - 0.5 + MARGIN, cx + HALF - 0.5 - MARGIN
    top, bottom = cy - HALF - 0.5 + MARGIN, cy + HALF - 0.5 - MARGIN
    result = []
    for path in paths:
        found = None
        for step, (x, y) in enumerate(path, 1):
            if left <= x <= right and top <= y <= bottom:
                found = step
                break
        result.append(found)
    return result


def candidates(x0, y0, distance):
    """The whole-pixel offsets at exactly `distance` whose square lies in the field."""
    n = round(distance * distance)
    found = []
    for dx in range(-FIELD[0], FIELD[0] + 1):
        rest = n - dx * dx
        if rest < 0:
            continue
        dy = math.isqrt(rest)
        if dy * dy != rest:
            continue
        for sy in {dy, -dy}:
            fx, fy = x0 + dx, y0 + sy
            if HALF <= fx <= FIELD[0] - HALF and HALF <= fy <= FIELD[1] - HALF:
                found.append((dx, sy))
    return found


class Hunter:
    def __init__(self, speculate):
        self.speculate = speculate
        self.paths = None
        self.alive = None
        self.flights = {}   # offset -> flights of every angle

    def flights_of(self, offset):
        if offset not in self.flights:
            self.flights[offset] = flights_to(self.paths, self.x + offset[0], self.y + offset[1])
        return self.flights[offset]

    def best_shot(self, angle, offsets):
        """The angle hitting every offset with the least turn plus flight, and that total; (None, None) if none."""
        tables = [self.flights_of(offset) for offset in offsets]
        best, best_time = None, None
        for aim in range(256):
            times = [table[aim] for table in tables]
            if any(time is None for time in times):
                continue
            total = (aim - angle) % 256 + max(times)
            if best_time is None or total < best_time:
                best, best_time = aim, total
        return best, best_time

    def move(self, angle, x, y, reload, distance, in_sight_now):
        if self.paths is None:
            self.x, self.y = x, y
            self.paths = trajectories(x, y)
            self.alive = candidates(x, y, distance)
        kept = [c for c in self.alive if in_sight(angle, c[0], c[1]) == in_sight_now]
        # Nothing fits (a rounding we did not foresee): start again from the distance alone.
        self.alive = kept or candidates(x, y, distance)
        aim, _ = self.best_shot(angle, self.alive)
        orders = []
        if aim is not None:
            if aim != angle:
                orders.append("rotate %d" % aim)
            if all(self.flights_of(c)[angle] is not None for c in self.alive):
                orders.append("shoot")
            return orders
        # Still searching: sweep on round, one step a move.
        orders.append("rotate %d" % ((angle + 255) % 256))
        if self.speculate and reload == 0 and self.worth_a_shot(angle):
            orders.append("shoot")
        return orders

    def sure_time(self, angle, offset):
        """Moves until a sure shot at `offset` could go, were the foe there: the sweep goes on until
        the foe comes into sight (which drops every candidate outside that sight), then the gun
        turns on to its best angle."""
        search = 0
        while search < 256 and not in_sight((angle + search) % 256, offset[0], offset[1]):
            search += 1
        found_at = (angle + search) % 256
        aim, _ = self.best_shot(found_at, [offset])
        return 2 * 256 if aim is None else search + (aim - found_at) % 256

    def worth_a_shot(self, angle):
        """Whether a shot now, which costs a reload, shortens the match on average over the candidates.

        For a candidate c, t is when a sure shot at c could go. If the shot hits, the race to
        destroy the foe is min(t, RELOAD) moves shorter; if it misses, the sure shot waits for the
        reload, max(0, RELOAD - t) moves longer.
        """
        gain = 0
        for offset in self.alive:
            soonest = self.sure_time(angle, offset)
            if self.flights_of(offset)[angle] is not None:
                gain += min(soonest, RELOAD)
            else:
                gain -= max(0, RELOAD - soonest)
        return gain > 0


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main(speculate=False):
    speculate = speculate or "--speculate" in sys.argv[1:]
    greeting = sys.stdin.readline().split()
    if len(greeting) != 3 or greeting[:2] != ["brakkenfel", "2"]:
        sys.stderr.write("hunter: needs duel rules (protocol 2), got %r\n" % greeting)
        return 1
    hunter = Hunter(speculate)
    say("ready")
    for line in sys.stdin:
        words = line.split()
        if words == ["quit"]:
            break
        if len(words) != 15 or words[0] != "move":
            continue
        move, angle, x, y = (int(word) for word in words[1:5])
        reload = int(words[7])
        distance = float(words[8])
        seen = words[11] == "1"
        say(" ".join([str(move)] + hunter.move(angle, x, y, reload, distance, seen)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
