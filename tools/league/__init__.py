"""The league's arithmetic and pages: ratings, tables and the HTML report of tools/tournament.py."""
