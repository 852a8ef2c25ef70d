"""Bradley-Terry ratings on the Elo scale, with intervals from a seeded bootstrap over matches."""
import math
import random

# Elo's scale: a 400-point lead means ten-to-one odds.
SCALE = 400.0 / math.log(10.0)
# The bootstrap's generator always starts here, so the same matches give the same intervals.
BOOTSTRAP_SEED = 20211
# Every contestant is credited one draw with an average player: it keeps the ratings of a
# contestant that won (or lost) everything finite, and weighs little once it has played a few rounds.
PRIOR_GAMES = 1.0
TOLERANCE = 1e-10
MAX_ITERATIONS = 100


def fit(names, outcomes):
    """{name: rating}, mean 0, from outcomes [(a, b, score of a)] with score 1, 0.5 or 0.

    Newton's method on the log-likelihood of the natural-log strengths: with the prior's draw
    against a fixed player it is strictly concave, so it converges in a few steps from zero."""
    index = {name: i for i, name in enumerate(names)}
    n = len(names)
    games = [[0.0] * n for _ in range(n)]
    won = [PRIOR_GAMES / 2.0] * n
    for a, b, score in outcomes:
        i, j = index[a], index[b]
        games[i][j] += 1.0
        games[j][i] += 1.0
        won[i] += score
        won[j] += 1.0 - score
    pairs = [[(j, games[i][j]) for j in range(n) if games[i][j]] for i in range(n)]
    theta = [0.0] * n
    for _ in range(MAX_ITERATIONS):
        # The negated Hessian (positive definite) and the gradient.
        matrix = [[0.0] * n for _ in range(n)]
        gradient = won[:]
        for i in range(n):
            p = 1.0 / (1.0 + math.exp(-theta[i]))
            gradient[i] -= PRIOR_GAMES * p
            matrix[i][i] += PRIOR_GAMES * p * (1.0 - p)
            for j, count in pairs[i]:
                p = 1.0 / (1.0 + math.exp(theta[j] - theta[i]))
                gradient[i] -= count * p
                weight = count * p * (1.0 - p)
                matrix[i][i] += weight
                matrix[i][j] -= weight
        step = solve(matrix, gradient)
        theta = [t + d for t, d in zip(theta, step)]
        if max(abs(d) for d in step) < TOLERANCE:
            break
    logs = [t * SCALE for t in theta]
    mean = sum(logs) / n
    return {name: logs[index[name]] - mean for name in names}


def solve(matrix, vector):
    """x with matrix x = vector, by Gaussian elimination (the matrix is symmetric positive definite)."""
    n = len(vector)
    a = [row[:] + [v] for row, v in zip(matrix, vector)]
    for k in range(n):
        pivot = a[k][k]
        for i in range(k + 1, n):
            factor = a[i][k] / pivot
            if factor:
                row, top = a[i], a[k]
                for j in range(k, n + 1):
                    row[j] -= factor * top[j]
    x = [0.0] * n
    for k in range(n - 1, -1, -1):
        x[k] = (a[k][n] - sum(a[k][j] * x[j] for j in range(k + 1, n))) / a[k][k]
    return x


def bootstrap(names, outcomes, samples, level=0.95):
    """{name: (low, high)}: the central `level` of ratings fitted to `samples` resamplings of the
    outcomes with replacement. Outcomes must come in a fixed order for the intervals to repeat."""
    generator = random.Random(BOOTSTRAP_SEED)
    fitted = {name: [] for name in names}
    count = len(outcomes)
    for _ in range(samples):
        drawn = [outcomes[generator.randrange(count)] for _ in range(count)] if count else []
        for name, rating in fit(names, drawn).items():
            fitted[name].append(rating)
    tail = (1.0 - level) / 2.0
    return {name: (quantile(values, tail), quantile(values, 1.0 - tail)) for name, values in fitted.items()}


def quantile(values, q):
    """Linear interpolation between the order statistics, as most statistics packages do."""
    ordered = sorted(values)
    if not ordered:
        return 0.0
    position = q * (len(ordered) - 1)
    low = math.floor(position)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (position - low)


def win_probability(difference):
    """How often the stronger of two contestants `difference` rating points apart wins, draws aside."""
    return 1.0 / (1.0 + 10.0 ** (-difference / 400.0))
