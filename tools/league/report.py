"""The league's page: one self-contained HTML file whose pictures are SVG written here, and whose own script checks it drew."""
import html
import os
import urllib.parse

from .tables import rank_text, reply_text, whole

STYLE = """
body{font:14px/1.4 sans-serif;margin:24px;color:#1d2329;background:#fbfbf8;max-width:1100px}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:28px 0 8px;border-bottom:1px solid #d5d8dc}
table{border-collapse:collapse;margin:6px 0;font-size:13px}th,td{padding:3px 8px;white-space:nowrap;border-bottom:1px solid #e3e5e8;text-align:right}
th{background:#eef0f2}td.name,th.name{text-align:left}.note{color:#5b6570}
svg text{font:12px sans-serif;fill:#1d2329}.apart{color:#1a7f37}.overlaps{color:#9a6700}
"""


def esc(text):
    return html.escape(str(text), quote=True)


def colour(fraction):
    """Red for 0, a pale grey for one half, green for 1: a score's colour in the head-to-head grid."""
    low, middle, high = (214, 96, 77), (236, 236, 232), (77, 172, 106)
    start, end, t = (low, middle, fraction * 2) if fraction < 0.5 else (middle, high, fraction * 2 - 1)
    return "#%02x%02x%02x" % tuple(round(a + (b - a) * t) for a, b in zip(start, end))


def nice_step(span):
    """A tick spacing of 1, 2 or 5 times a power of ten giving four to ten ticks over `span`."""
    step = 1.0
    while span / step > 10:
        for factor in (2, 2.5, 2):
            step *= factor
            if span / step <= 10:
                break
    return step


def rating_chart(rows):
    """Each rating as a dot on its interval's bar, on one shared axis."""
    label, width, row_height, top = 150, 720, 26, 10
    low = min(min(r["low"] for r in rows), 0.0)
    high = max(max(r["high"] for r in rows), 0.0)
    span = max(high - low, 1.0)
    low, high = low - span * 0.05, high + span * 0.05
    plot = width - label - 20

    def x(value):
        return label + (value - low) / (high - low) * plot

    height = top + row_height * len(rows) + 30
    parts = ['<svg id="ratings" xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d"'
             ' role="img" aria-label="ratings with 95%% intervals">' % (width, height, width, height)]
    step = nice_step(high - low)
    tick = -(-low // step) * step
    while tick <= high:
        parts.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#dde1e5"/>' % (
            x(tick), top, x(tick), height - 24))
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x(tick), height - 8, whole(tick)))
        tick += step
    for place, row in enumerate(rows):
        y = top + row_height * place + row_height / 2
        parts.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (label - 10, y + 4, esc(row["contestant"])))
        parts.append('<rect x="%.1f" y="%.1f" width="%.1f" height="8" rx="3" fill="#9ec5e8"/>' % (
            x(row["low"]), y - 4, max(x(row["high"]) - x(row["low"]), 1.0)))
        parts.append('<circle cx="%.1f" cy="%.1f" r="5" fill="#1f5f99"><title>%s: %s (%s to %s)</title></circle>' % (
            x(row["rating"]), y, esc(row["contestant"]), whole(row["rating"]), whole(row["low"]), whole(row["high"])))
    parts.append("</svg>")
    return "".join(parts)


def cross_chart(names, table):
    """The head-to-head grid: row against column, won-drawn-lost, coloured by the row's score."""
    # Column names are written slanted at 40 degrees, about 7 pixels a character.
    cell, label = 64, 150
    top = 24 + round(4.5 * max(len(name) for name in names))
    size = label + cell * len(names) + round(5.5 * max(len(name) for name in names))
    height = top + cell * len(names) + 10
    parts = ['<svg id="cross" xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d"'
             ' role="img" aria-label="head to head">' % (size, height, size, height)]
    for column, name in enumerate(names):
        cx = label + cell * column + cell / 2
        parts.append('<text transform="translate(%.1f %d) rotate(-40)">%s</text>' % (cx, top - 8, esc(name)))
    for line, a in enumerate(names):
        y = top + cell * line
        parts.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (label - 8, y + cell / 2 + 4, esc(a)))
        for column, b in enumerate(names):
            x = label + cell * column
            if a == b:
                parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="#d5d8dc" stroke="#fff"/>' % (
                    x, y, cell, cell))
                continue
            won, drawn, lost = table[(a, b)]
            played = won + drawn + lost
            fraction = (won + drawn / 2.0) / played if played else 0.5
            parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="%s" stroke="#fff">'
                         '<title>%s against %s: %d won, %d drawn, %d lost</title></rect>' % (
                             x, y, cell, cell, colour(fraction), esc(a), esc(b), won, drawn, lost))
            parts.append('<text x="%.1f" y="%.1f" text-anchor="middle">%d-%d-%d</text>' % (
                x + cell / 2, y + cell / 2 + 4, won, drawn, lost))
    parts.append("</svg>")
    return "".join(parts)


def seat_chart(overall):
    """One bar split into the Cannon's wins, draws and the Helicopter's wins."""
    width, bar = 720, 28
    total = sum(overall.values()) or 1
    parts = ['<svg id="seats" xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d"'
             ' role="img" aria-label="seat balance">' % (width, bar + 24, width, bar + 24)]
    x = 0.0
    for key, fill, name in (("Cannon", "#4d8fcc", "Cannon wins"), ("draw", "#c9ccd1", "draws"),
                            ("Helicopter", "#e0a340", "Helicopter wins")):
        share = overall.get(key, 0) / total * width
        if share > 0:
            parts.append('<rect x="%.1f" y="0" width="%.1f" height="%d" fill="%s"><title>%s: %d</title></rect>' % (
                x, share, bar, fill, name, overall.get(key, 0)))
            if share > 90:
                parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s %.0f%%</text>' % (
                    x + share / 2, bar + 16, name, 100.0 * overall.get(key, 0) / total))
        x += share
    parts.append("</svg>")
    return "".join(parts)


def link(path, folder):
    return urllib.parse.quote(os.path.relpath(path, folder).replace(os.sep, "/"))


def page(info, rows, names, table, overall, each, matches, folder, player):
    """The whole page as text. `folder` is where it will be written (links are relative to it);
    `player` says whether the web player sits beside it."""
    contestants, played = len(rows), len(matches)
    title = "League report: %d contestants, %d matches" % (contestants, played)
    out = ['<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n',
           '<meta name="viewport" content="width=device-width, initial-scale=1">\n',
           "<title>%s (drawing)</title>\n<style>%s</style>\n</head>\n<body>\n" % (esc(title), STYLE),
           "<h1>League report</h1>\n<p class=\"note\">%s</p>\n" % esc(info)]

    out.append('<h2>Standings</h2>\n<p class="note">Bradley-Terry ratings on the Elo scale (mean 0), with 95%'
               ' intervals from a bootstrap over matches. Rows go by rating; equal ratings share a rank (=).'
               ' "next" says whether a row\'s interval overlaps the one below.</p>\n')
    out.append(rating_chart(rows))
    out.append('\n<table id="standings">\n<thead><tr><th>#</th><th class="name">contestant</th><th>rating</th>'
               "<th>95% interval</th><th>next</th><th>played</th><th>won</th><th>drawn</th><th>lost</th>"
               "<th>hits for</th><th>hits against</th><th>out</th><th>late</th><th>malformed</th>"
               "<th>reply ms</th></tr></thead>\n<tbody>\n")
    for row in rows:
        following = {None: "", True: '<span class="overlaps">overlaps</span>',
                     False: '<span class="apart">apart</span>'}[row["overlaps_next"]]
        out.append('<tr><td>%s</td><td class="name">%s</td><td>%s</td><td>%s to %s</td><td>%s</td>'
                   "<td>%d</td><td>%d</td><td>%d</td><td>%d</td><td>%d</td><td>%d</td><td>%d</td><td>%d</td>"
                   "<td>%d</td><td>%s</td></tr>\n" % (
                       rank_text(row), esc(row["contestant"]), whole(row["rating"]), whole(row["low"]), whole(row["high"]), following,
                       row["played"], row["won"], row["drawn"], row["lost"], row["hits_for"], row["hits_against"],
                       row["out"], row["late"], row["malformed"], reply_text(row)))
    out.append("</tbody>\n</table>\n")

    out.append('<h2>Head to head</h2>\n<p class="note">Each cell: the row\'s wins-draws-losses against the'
               " column, both seats together; green where the row scored more.</p>\n")
    out.append(cross_chart(names, table))

    out.append('\n<h2>Seats</h2>\n<p class="note">The two guns differ in place and reload: %d Cannon wins,'
               " %d draws, %d Helicopter wins.</p>\n" % (overall.get("Cannon", 0), overall.get("draw", 0),
                                                         overall.get("Helicopter", 0)))
    out.append(seat_chart(overall))
    out.append('\n<table id="seat-rates">\n<thead><tr><th class="name">contestant</th><th>won as Cannon</th>'
               "<th>won as Helicopter</th></tr></thead>\n<tbody>\n")
    for name in names:
        cells = "".join("<td>%d of %d</td>" % tuple(each[name][seat]) for seat in ("Cannon", "Helicopter"))
        out.append('<tr><td class="name">%s</td>%s</tr>\n' % (esc(name), cells))
    out.append("</tbody>\n</table>\n")

    out.append('<h2>Matches</h2>\n<table id="matches">\n<thead><tr><th>match</th><th>round</th><th>seed</th>'
               '<th class="name">Cannon</th><th class="name">Helicopter</th><th>hits</th><th>winner</th>'
               '<th class="name">files</th></tr></thead>\n<tbody>\n')
    for match in matches:
        files = '<a href="%s">result</a> <a href="%s">match</a>' % (link(match.result, folder),
                                                                    link(match.record, folder))
        if player:
            files += ' <a href="player.html?match=%s">watch</a>' % urllib.parse.quote(
                os.path.relpath(match.record, folder).replace(os.sep, "/"), safe="")
        out.append('<tr><td>%d</td><td>%d</td><td>%d</td><td class="name">%s</td><td class="name">%s</td>'
                   '<td>%d-%d</td><td>%s</td><td class="name">%s</td></tr>\n' % (
                       match.number, match.round, match.seed, esc(match.cannon), esc(match.helicopter),
                       match.hits[0], match.hits[1], esc(match.winner), files))
    out.append("</tbody>\n</table>\n")
    # The page checks itself: every picture laid out with a size, every row there; only then does the
    # title say so, which a headless browser can read back.
    out.append("<script>\n(function () {\n"
               "  var expected = {standings: %d, matches: %d, svgs: 3};\n"
               "  var problems = [];\n"
               "  var svgs = document.querySelectorAll('svg');\n"
               "  if (svgs.length !== expected.svgs) problems.push(svgs.length + ' pictures');\n"
               "  svgs.forEach(function (svg) {\n"
               "    var box = svg.getBoundingClientRect();\n"
               "    if (!(box.width > 0 && box.height > 0) || svg.childElementCount === 0) problems.push(svg.id + ' not drawn');\n"
               "  });\n"
               "  ['standings', 'matches'].forEach(function (id) {\n"
               "    var rows = document.querySelectorAll('#' + id + ' tbody tr').length;\n"
               "    if (rows !== expected[id]) problems.push(id + ': ' + rows + ' rows');\n"
               "  });\n"
               "  document.title = %s + (problems.length ? ' (NOT drawn: ' + problems.join(', ') + ')' : ' (drawn)');\n"
               "})();\n</script>\n</body>\n</html>\n" % (contestants, played, js_string(title)))
    return "".join(out)


def js_string(text):
    """A JavaScript string literal that cannot close the script element."""
    return '"' + "".join(c if c.isalnum() or c in " :,.-" else "\\u%04x" % ord(c) for c in text) + '"'
