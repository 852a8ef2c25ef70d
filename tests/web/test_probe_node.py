#!/usr/bin/env python3
"""The angle tables (all 512 floats) and the duel fields of seeds 0 to 999 (both guns' places and
angles, and the draw counts) are the same in the native build and in the WebAssembly module run
under Node.js.

Usage: test_probe_node.py NATIVE_PROBE MODULE.js"""
import os
import shutil
import subprocess
import sys

native = subprocess.run([sys.argv[1]], capture_output=True, text=True, timeout=60, check=True).stdout
node = shutil.which("node") or shutil.which("nodejs")
if node is None:
    print("no node on PATH: the module cannot run outside a browser", file=sys.stderr)
    sys.exit(77)
script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "probe.js")
web = subprocess.run([node, script, sys.argv[2]], capture_output=True, text=True, timeout=120)
if web.returncode != 0:
    sys.exit("the module failed under Node.js:\n" + web.stderr)

native_lines, web_lines = native.splitlines(), web.stdout.splitlines()
differ = [(n, w) for n, w in zip(native_lines, web_lines) if n != w]
for n, w in differ[:20]:
    print("native %s\n   web %s" % (n, w))
# 256 table lines, then one per seed: a probe that lost either part proves nothing.
tables = sum(1 for line in native_lines if not line.startswith("seed "))
seeds = sum(1 for line in native_lines if line.startswith("seed "))
if tables != 256 or seeds != 1000 or len(web_lines) != len(native_lines) or differ:
    sys.exit("native and WebAssembly differ: %d lines against %d, %d differing"
             % (len(native_lines), len(web_lines), len(differ)))
print("%d lines identical (%d angle steps, %d seeds)" % (len(native_lines), tables, seeds))
