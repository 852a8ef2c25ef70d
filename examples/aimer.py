#!/usr/bin/env python3
"""An example contestant: aims ballistic shots at the other gun's start position.

Run it with: brakkenfel --cannon "exec:exec python3 examples/aimer.py"

Before answering "ready" it flies one shot at every angle in its head, with the arena's drag and
gravity, and notes how close each passes to the other gun. Then, move by move, it turns toward the
angle that passes closest and fires whenever the angle it holds passes within HIT_RADIUS pixels,
so shots taken on the way there count too. The gun only turns by increasing angle, one step a
move, so the way there is whatever lies between the start angle and the best one.

Under duel rules (protocol 2, docs/duel.md) the guns stand elsewhere and the move lines carry more
fields: it reads only the first ones and still aims at where the other gun stands under plain
rules, so it plays, poorly.

Standard library only. Protocol: docs/contestants.md.
"""
import math
import sys

FIELD = (373, 285)                                    # bullets leave at x < 0, x >= 373, y >= 285
START = {"Cannon": (20, 20), "Helicopter": (40, 40)}  # where each gun stands
SHOT_SPEED = 2.0                                      # pixels a move as a bullet leaves the gun
DRAG = 1.003                                          # the speed is divided by this each move
GRAVITY = 0.00981                                     # pixels a move added downward each move
HIT_RADIUS = 8.0                                      # half a gun picture's side
MAX_FLIGHT = 3000                                     # moves; every bullet has left the field by then
FIELDS = {"1": 6, "2": 15}                            # words of a move line, by protocol version


def distance(dx, dy):
    """Written out rather than math.hypot, whose last bit differs between versions of Python."""
    return math.sqrt(dx * dx + dy * dy)


def closest_pass(origin, target, angle):
    """How near a shot at `angle` from `origin` comes to `target`, in pixels."""
    theta = angle * 2.0 * math.pi / 256.0
    x, y = origin
    vx, vy = SHOT_SPEED * math.sin(theta), SHOT_SPEED * math.cos(theta)
    best = distance(x - target[0], y - target[1])
    for _ in range(MAX_FLIGHT):
        vx = vx / DRAG
        vy = vy / DRAG + GRAVITY
        x += vx
        y += vy
        if x < 0 or x >= FIELD[0] or y >= FIELD[1]:
            break
        best = min(best, distance(x - target[0], y - target[1]))
    return best


def plan(origin, target):
    """The closest pass of every angle, and the angle with the closest of all (the lowest on a tie)."""
    passes = [closest_pass(origin, target, angle) for angle in range(256)]
    return passes, min(range(256), key=lambda angle: passes[angle])


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()  # a reply sitting in a buffer arrives too late


def main():
    greeting = sys.stdin.readline().split()
    if len(greeting) != 3 or greeting[0] != "brakkenfel" or greeting[1] not in FIELDS or greeting[2] not in START:
        sys.stderr.write("aimer: unexpected greeting %r\n" % greeting)
        return 1
    fields = FIELDS[greeting[1]]
    name = greeting[2]
    origin = START[name]
    target = next(position for gun, position in START.items() if gun != name)
    passes, best = plan(origin, target)
    say("ready")

    for line in sys.stdin:
        words = line.split()
        if words == ["quit"]:
            break
        if len(words) != fields or words[0] != "move":
            continue
        move, angle, x, y = (int(word) for word in words[1:5])
        if (x, y) != origin:
            # Someone moved the gun: aim again from where it stands.
            origin = (x, y)
            passes, best = plan(origin, target)
        orders = [move]
        if angle != best:
            orders.append("rotate %d" % best)
        if passes[angle] <= HIT_RADIUS:
            orders.append("shoot")
        say(" ".join(str(order) for order in orders))
    return 0


if __name__ == "__main__":
    sys.exit(main())
