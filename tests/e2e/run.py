"""What the headless end-to-end scripts share: the program under test, running it, and finding leftovers."""
import json
import os
import subprocess
import sys

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def run(*arguments, program=PROGRAM, timeout=120):
    return subprocess.run([program, *arguments], capture_output=True, timeout=timeout)


def processes_naming(marker):
    """Pids of live processes, other than this one, whose command line contains `marker`."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                if marker.encode() in cmdline.read() and int(pid) != os.getpid():
                    found.append(int(pid))
        except OSError:
            pass  # ended while we looked
    return found


def trace_lines(path):
    with open(path) as trace:
        return [json.loads(line) for line in trace]
