#!/usr/bin/env python3
"""Hostile contestants against the sandbox, run as the tester and as a plain user; runtimes under the default limits."""
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import PROGRAM, SOURCE, processes_naming, trace_lines  # noqa: E402

AIMER_CPP = os.path.join(os.path.dirname(PROGRAM), "examples", "aimer")
AIMER_PY = os.path.join(SOURCE, "examples", "aimer.py")
NOBODY = 65534

# Says ready, then answers every move with nothing until "quit".
POLITE = r"""sys.stdin.readline()
print("ready", flush=True)
for line in sys.stdin:
    if line.startswith("quit"):
        break
    print(line.split()[1], flush=True)
"""

# Tries each hostile act once before "ready" and reports on standard error; then does nothing, politely.
PROBER = r"""import json, os, socket, sys, time
port, home, strip, granted, program, forks = sys.argv[1:7]
out = {}
def attempt(name, action):
    try:
        action()
        out[name] = "allowed"
    except Exception as error:
        out[name] = "refused " + type(error).__name__
def pids_naming(text):
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                if text.encode() in cmdline.read() and int(pid) != os.getpid():
                    found.append(pid)
        except OSError:
            pass
    if not found:
        raise LookupError("not visible")
    return found
def arena_proc():
    for pid in pids_naming(program):
        open("/proc/%s/environ" % pid, "rb").read()
        os.listdir("/proc/%s/fd" % pid)
def other_pipe():
    for pid in pids_naming("victim"):
        with open("/proc/%s/fd/1" % pid, "w") as pipe:
            pipe.write("1 rotate 200\n")
def fork_loop():
    made = 0
    while made < 10000:
        try:
            child = os.fork()
        except OSError:
            break
        if child == 0:
            time.sleep(60)
            os._exit(0)
        made += 1
    out["forks"] = made
attempt("tcp", lambda: socket.create_connection(("127.0.0.1", int(port)), timeout=2).sendall(b"hello"))
attempt("home", lambda: open(os.path.join(home, "planted"), "w").write("x"))
attempt("workdir", lambda: open("planted", "w").write("x"))
attempt("picture", lambda: open(strip, "r+b").close())
attempt("arena_proc", arena_proc)
attempt("other_pipe", other_pipe)
attempt("own_files", lambda: open(sys.argv[0]).read())
attempt("scratch", lambda: [open(os.path.join(os.environ[v], "s"), "w").write("x") for v in ("HOME", "TMPDIR")])
attempt("granted", lambda: open(os.path.join(granted, "kept"), "w").write("x"))
if forks == "fork":
    fork_loop()
print("PROBES " + json.dumps(out, sort_keys=True), file=sys.stderr, flush=True)
""" + POLITE

VICTIM = "import sys\n" + POLITE

# Four busy processes: three children, then itself once ready.
SPINNERS = ("import os, sys\nsys.stdin.readline()\nfor _ in range(3):\n    if os.fork() == 0:\n        break\n"
            "else:\n    print('ready', flush=True)\nwhile True:\n    pass\n")

# Asks for 4 GB at its third move; Python fills it with zeros, so every page is touched.
HOG = "import sys\n" + POLITE.replace('    print(line.split()[1], flush=True)', """    if line.split()[1] == "3":
        hog = bytearray(4 << 30)
    print(line.split()[1], flush=True)""")

# Forks until refused, then ends with status 3.
FORKER = """import os, sys, time
sys.stdin.readline()
for _ in range(10000):
    try:
        if os.fork() == 0:
            time.sleep(60)
            os._exit(0)
    except OSError:
        sys.exit(3)
"""

NODE_BOT = r"""const lines = require("readline").createInterface({input: process.stdin});
let greeted = false;
lines.on("line", (line) => {
  if (!greeted) { greeted = true; console.log("ready"); return; }
  if (line.startsWith("quit")) process.exit(0);
  console.log(line.split(" ")[1] + " rotate 100 shoot");
});
"""

JAVA_BOT = r"""import java.io.*;
public class Bot {
    public static void main(String[] arguments) throws IOException {
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
        in.readLine();
        System.out.println("ready");
        System.out.flush();
        for (String line; (line = in.readLine()) != null && !line.startsWith("quit");) {
            System.out.println(line.split(" ")[1] + " rotate 100 shoot");
            System.out.flush();
        }
    }
}
"""

# Runs a command as a user on what looks like a machine without user namespaces.
WITHOUT_USER_NAMESPACES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "without_user_namespaces.py")

SUMMARY = re.compile(r"^brakkenfel: (\w+) contestant: (\d+) moves, (\d+) replies in time, .*?, "
                     r"(not out|out at move \d+ \((.*?)\))(?:, not contained: [^,]*)?(?:, (sandbox: .*))?$", re.M)


def summaries(stderr):
    """By gun: (moves, replies in time, out reason or None, sandbox line)."""
    return {m[0]: (int(m[1]), int(m[2]), m[4] or None, m[5]) for m in SUMMARY.findall(stderr)}


def digest(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


class SandboxTest(unittest.TestCase):
    """Each hostile act is refused or capped, as root and as a plain user; the run around it is unaffected."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="brakkenfel-sandbox-")
        # Everything is open to everyone, so that only the sandbox can be what refuses a write.
        os.chmod(self.dir, 0o1777)
        self.program = shutil.copy(PROGRAM, self.dir)
        self.strip = shutil.copy(os.path.join(os.path.dirname(PROGRAM), "cannon.bmp"), self.dir)
        os.chmod(self.strip, 0o666)
        self.home = self.folder("home")
        self.granted = self.folder("granted")
        for name, text in (("prober.py", PROBER), ("victim.py", VICTIM), ("spinners.py", SPINNERS), ("hog.py", HOG),
                           ("forker.py", FORKER)):
            with open(os.path.join(self.dir, name), "w") as file:
                file.write(text)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen()
        self.listener.settimeout(0)

    def tearDown(self):
        self.listener.close()
        self.assertEqual(processes_naming(self.dir), [], "a contestant process outlived the arena")
        shutil.rmtree(self.dir)

    def folder(self, name):
        path = os.path.join(self.dir, name)
        os.mkdir(path)
        os.chmod(path, 0o1777)
        return path

    def run_as(self, user, command, namespaces=True):
        """Runs `command` in the test's folder as `user` (None: as the tester), with or without user
        namespaces left to it; the completed process."""
        if not namespaces:
            command = [sys.executable, WITHOUT_USER_NAMESPACES, str(user)] + command
        elif user is not None:
            command = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups", "--"] + command
        env = dict(os.environ, HOME=self.home)
        return subprocess.run(command, cwd=self.dir, env=env, capture_output=True, timeout=120)

    def arena(self, user, *arguments, moves=60):
        """Runs the copied arena in the test's folder as `user` (None: as the tester); (status, stderr, trace)."""
        trace = os.path.join(self.dir, "trace.jsonl")
        result = self.run_as(user, [self.program, "--headless", "--moves", str(moves), "--move-budget", "0",
                                    "--trace", trace, *arguments])
        lines = trace_lines(trace) if os.path.exists(trace) else []
        os.unlink(trace) if os.path.exists(trace) else None
        return result.returncode, result.stderr.decode(), lines

    def hostile_table(self, user):
        before = digest(self.strip)
        prober = "exec:exec python3 %s/prober.py %d %s %s %s %s fork" % (
            self.dir, self.listener.getsockname()[1], self.home, self.strip, self.granted, self.program)
        status, stderr, lines = self.arena(user, "--cannon", prober, "--helicopter",
                                           "exec:exec python3 %s/victim.py" % self.dir,
                                           "--contestant-write", self.granted, "--contestant-processes", "64")
        self.assertEqual(status, 0, stderr)
        self.assertEqual(len(lines), 60, stderr)
        probes = json.loads(re.search(r"^Cannon: PROBES (.*)$", stderr, re.M)[1])
        found = summaries(stderr)
        sandbox = found["Cannon"][3]
        # Memory is tried by a contestant of its own (see limits): a cgroup's OOM kill takes the whole program.
        table = {"tcp": "refused", "home": "refused", "workdir": "refused", "picture": "refused",
                 "arena_proc": "refused", "other_pipe": "refused",
                 "own_files": "allowed", "scratch": "allowed", "granted": "allowed"}
        self.assertEqual({name: probes[name].split()[0] for name in table}, table, probes)
        self.assertTrue(0 < probes["forks"] < 64, probes)
        # Nothing reached the listener, nothing was planted, the picture is whole, the other gun
        # took no order it did not give.
        with self.assertRaises(BlockingIOError):
            self.listener.accept()
        self.assertEqual(sorted(os.listdir(self.home)), [])
        self.assertFalse(os.path.exists(os.path.join(self.dir, "planted")))
        self.assertEqual(digest(self.strip), before)
        self.assertEqual({line["guns"][1]["target"] for line in lines}, {lines[0]["guns"][1]["target"]})
        self.assertEqual(os.listdir(self.granted), ["kept"])
        self.assertEqual([found[name][:3] for name in ("Cannon", "Helicopter")], [(60, 60, None)] * 2, stderr)
        for held in ("no network", "read-only files but " + os.path.realpath(self.granted), "unprivileged user",
                     "memory 2048 MB", "CPU 300 s", "64 processes"):
            self.assertIn(held, sandbox)
        # Other processes are either out of sight or, without a PID namespace, out of reach, and then
        # the line says which.
        if "own processes" not in sandbox:
            self.assertIn("other processes out of reach", sandbox)
            self.assertIn("other processes visible: no PID namespace", sandbox)
        return sandbox

    def limits(self, user, sandbox):
        """4 GB, a fork loop and four spinners: capped, and named where a cgroup holds."""
        whole = "a process" not in sandbox
        status, stderr, lines = self.arena(user, "--cannon", "exec:exec python3 %s/hog.py" % self.dir,
                                           "--helicopter", "exec:exec python3 %s/forker.py" % self.dir,
                                           "--contestant-processes", "32", moves=30)
        self.assertEqual((status, len(lines)), (0, 30), stderr)
        found = summaries(stderr)
        if whole:
            self.assertEqual(found["Cannon"][2], "was killed by signal 9: its memory limit of 2048 MB", stderr)
            self.assertEqual(found["Helicopter"][2],
                             'did not answer "ready": exited with status 3 after reaching its limit of 32 processes')
        else:
            # A process's own limit refuses the allocation, which the program reports its own way.
            self.assertEqual(found["Cannon"][2], "exited with status 1", stderr)
            self.assertEqual(found["Helicopter"][2], 'did not answer "ready": exited with status 3', stderr)
        status, stderr, lines = self.arena(user, "--cannon", "exec:exec python3 %s/spinners.py" % self.dir,
                                           "--contestant-cpu", "1", moves=30)
        self.assertEqual((status, len(lines)), (0, 30), stderr)
        # The group's CPU time is the arena's to watch (SIGKILL); a process's own limit sends SIGXCPU.
        self.assertEqual(summaries(stderr)["Cannon"][2],
                         "was killed by signal %d: its CPU limit of 1 s" % (9 if whole else 24), stderr)

    def plain_user(self):
        """Skips the test with the reason when the arena cannot be run as nobody here."""
        reason = self.plain_user_missing()
        if reason:
            self.skipTest(reason)

    def plain_user_missing(self):
        """Why the arena cannot be run as nobody here, or None."""
        if os.geteuid() != 0:
            return "only root can run the arena as another user here"
        if shutil.which("setpriv") is None:
            return "setpriv is missing (util-linux)"
        probe = subprocess.run(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups", "--",
                                self.program, "--version"], capture_output=True)
        if probe.returncode != 0:
            return "the plain user cannot run %s: %s" % (self.program, probe.stderr.decode().strip())
        return None

    def require(self, user):
        """--sandbox require plays exactly when the default mode's line shows nothing missing, and
        otherwise refuses the whole run."""
        victim = "exec:exec python3 %s/victim.py" % self.dir
        _, stderr, _ = self.arena(user, "--cannon", victim, moves=5)
        complete = ";" not in summaries(stderr)["Cannon"][3]
        status, stderr, lines = self.arena(user, "--cannon", victim, "--sandbox", "require", moves=5)
        if complete:
            self.assertEqual((status, len(lines)), (0, 5), stderr)
            self.assertIsNone(summaries(stderr)["Cannon"][2], stderr)
        else:
            self.assertEqual((status, lines), (3, []), stderr)
            self.assertIn("brakkenfel: --sandbox require refuses the run: Cannon contestant: not everything held", stderr)

    def test_require_refuses_the_run_where_user_namespaces_are_refused(self):
        """No PID namespace for a plain user there: the run is refused, every file left as it was."""
        self.plain_user()
        victim = "exec:exec python3 %s/victim.py" % self.dir
        granted = self.folder("granted\x1b[31m")  # an escape sequence must not reach the terminal
        arena = [self.program, "--headless", "--moves", "5", "--move-budget", "0", "--cannon", victim,
                 "--helicopter", victim, "--contestant-write", granted]
        result = self.run_as(NOBODY, arena, namespaces=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        played = summaries(result.stderr.decode())["Cannon"][3]
        self.assertIn("other processes visible: no PID namespace", played)
        outputs = []
        for option, name in (("--trace", "t"), ("--snapshot", "s.bmp"), ("--result", "r.json"),
                             ("--record", "k.match"), ("--protocol-log", "p.log")):
            path = os.path.join(self.dir, name)
            with open(path, "w") as file:
                file.write("kept " + name)
            os.chmod(path, 0o666)
            outputs += [option, path]
        before = {name: digest(os.path.join(self.dir, name)) for name in sorted(os.listdir(self.dir))
                  if os.path.isfile(os.path.join(self.dir, name))}
        result = self.run_as(NOBODY, arena + outputs + ["--sandbox", "require"], namespaces=False)
        stderr = result.stderr.decode()
        self.assertEqual(result.returncode, 3, stderr)
        # One line naming the gun and what did not hold, as the default mode's summary said it.
        self.assertEqual(stderr, "brakkenfel: --sandbox require refuses the run: Cannon contestant: not "
                                 "everything held (%s)\n" % played.replace("\x1b", "\\x1b"))
        self.assertNotIn("\x1b", stderr)
        self.assertEqual({name: digest(os.path.join(self.dir, name)) for name in before}, before)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(list(before) + ["home", "granted", "granted\x1b[31m"]))

    def test_hostile_contestants_as_the_tester(self):
        sandbox = self.hostile_table(None)
        print("as uid %d: %s" % (os.geteuid(), sandbox), file=sys.stderr)
        self.limits(None, sandbox)
        self.require(None)

    def test_hostile_contestants_as_a_plain_user(self):
        self.plain_user()
        sandbox = self.hostile_table(NOBODY)
        print("as uid %d: %s" % (NOBODY, sandbox), file=sys.stderr)
        self.assertIn("; no limits on the program as a whole: cgroups refused (Permission denied)", sandbox)
        self.limits(NOBODY, sandbox)
        self.require(NOBODY)

    def test_a_grant_the_programs_cannot_use_refuses_the_run(self):
        """--contestant-write naming no folder, or one the programs could not write, is a bad command line."""
        shut = os.path.join(self.dir, "shut")
        os.mkdir(shut, 0o755)
        cases = [(os.path.join(self.dir, "missing"), None, "not a folder (No such file or directory)"),
                 (self.strip, None, "not a folder (Not a directory)")]
        if os.geteuid() == 0:
            # As root the programs are a uid of their own: root's folder is not theirs.
            cases.append((shut, None, "which cannot write there"))
        if self.plain_user_missing() is None:
            cases.append((shut, NOBODY, "not writable (Permission denied)"))
        for folder, user, why in cases:
            status, stderr, lines = self.arena(user, "--cannon", "exec:exec python3 %s/victim.py" % self.dir,
                                               "--contestant-write", folder, moves=5)
            self.assertEqual((status, lines), (2, []), (folder, user, stderr))
            self.assertIn("brakkenfel: --contestant-write %s: " % folder, stderr)
            self.assertIn(why, stderr)
        # Without a program to grant it to, the folder is not looked at.
        status, stderr, lines = self.arena(None, "--contestant-write", cases[0][0], moves=5)
        self.assertEqual((status, len(lines)), (0, 5), stderr)

    def test_sandbox_off_is_the_arenas_own_rights(self):
        status, stderr, _ = self.arena(None, "--cannon", "exec:exec python3 %s/prober.py %d %s %s %s %s -" % (
            self.dir, self.listener.getsockname()[1], self.home, self.strip, self.granted, self.program),
            "--sandbox", "off", moves=5)
        self.assertEqual(status, 0, stderr)
        self.assertNotIn("sandbox:", stderr)
        probes = json.loads(re.search(r"^Cannon: PROBES (.*)$", stderr, re.M)[1])
        self.assertEqual((probes["tcp"], probes["workdir"]), ("allowed", "allowed"), probes)


class RuntimeTest(unittest.TestCase):
    """Ordinary contestants in four runtimes start and play under the default limits."""

    def play(self, command):
        with tempfile.TemporaryDirectory() as folder:
            os.chmod(folder, 0o755)
            result = subprocess.run([PROGRAM, "--headless", "--moves", "200", "--move-budget", "0",
                                     "--cannon", "exec:" + command(folder)],
                                    capture_output=True, timeout=120)
        stderr = result.stderr.decode()
        self.assertEqual(result.returncode, 0, stderr)
        self.assertEqual(summaries(stderr)["Cannon"][:3], (200, 200, None), stderr)

    def write(self, folder, name, text):
        path = os.path.join(folder, name)
        with open(path, "w") as file:
            file.write(text)
        return path

    def test_python(self):
        self.play(lambda folder: "exec python3 " + shutil.copy(AIMER_PY, folder))

    def test_cpp(self):
        self.play(lambda folder: "exec " + shutil.copy(AIMER_CPP, folder))

    def test_node(self):
        if shutil.which("node") is None:
            self.skipTest("no node (tools/install-deps.sh --test installs nodejs)")
        self.play(lambda folder: "exec node " + self.write(folder, "bot.js", NODE_BOT))

    def test_jvm(self):
        if shutil.which("java") is None:
            self.skipTest("no java (tools/install-deps.sh --test installs default-jre-headless)")
        self.play(lambda folder: "exec java " + self.write(folder, "Bot.java", JAVA_BOT))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
