#!/usr/bin/env python3
"""`cmake --install` into a user's ~/.local: the layout, the installed arena and tournament runner
working from the PATH and after the prefix moved, and the web player's install hook."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/brakkenfel")
BUILD = os.path.dirname(PROGRAM)
SOURCE = os.environ.get("BRAKKENFEL_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
CMAKE = shutil.which("cmake")


def configured_bindir():
    """Where the build installs its commands: bin, unless configured otherwise (games in the package)."""
    with open(os.path.join(BUILD, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith("CMAKE_INSTALL_BINDIR:"):
                return line.split("=", 1)[1].strip()
    return "bin"


BIN = configured_bindir()

LAYOUT = [
    BIN + "/brakkenfel", BIN + "/brakkenfel-tournament",
    "lib/brakkenfel/brakkenfel", "lib/brakkenfel/cannon.bmp", "lib/brakkenfel/brakkenfel-tournament",
    "lib/brakkenfel/league/tables.py",
    "share/man/man6/brakkenfel.6", "share/man/man6/brakkenfel-tournament.6",
    "share/bash-completion/completions/brakkenfel", "share/bash-completion/completions/brakkenfel-tournament",
    "share/applications/org.brakkenfel.brakkenfel.desktop", "share/metainfo/org.brakkenfel.brakkenfel.metainfo.xml",
    "share/icons/hicolor/scalable/apps/brakkenfel.svg",
    "share/doc/brakkenfel/README.md", "share/doc/brakkenfel/docs/contestants.md",
    "share/doc/brakkenfel/examples/aimer.py", "share/doc/brakkenfel/examples/aimer.cpp",
] + ["share/icons/hicolor/%dx%d/apps/brakkenfel.png" % (n, n) for n in (16, 22, 24, 32, 48, 64, 128, 256)]


def run(arguments, home, cwd=None, path=None):
    env = {"HOME": home, "PATH": path or os.environ["PATH"]}
    return subprocess.run(arguments, cwd=cwd or home, env=env, capture_output=True, text=True, timeout=120)


@unittest.skipIf(CMAKE is None, "cmake is not on the PATH")
class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home_dir = tempfile.TemporaryDirectory()
        cls.home = cls.home_dir.name
        cls.prefix = os.path.join(cls.home, ".local")
        cls.installed = run([CMAKE, "--install", BUILD, "--prefix", cls.prefix], cls.home)

    @classmethod
    def tearDownClass(cls):
        cls.home_dir.cleanup()

    def test_the_layout_is_complete_and_the_commands_are_relative_links(self):
        self.assertEqual(self.installed.returncode, 0, self.installed.stderr)
        missing = [p for p in LAYOUT if not os.path.lexists(os.path.join(self.prefix, p))]
        self.assertEqual(missing, [])
        for name in ("brakkenfel", "brakkenfel-tournament"):
            link = os.path.join(self.prefix, BIN, name)
            self.assertTrue(os.path.islink(link))
            self.assertEqual(os.readlink(link), "../lib/brakkenfel/" + name)

    def test_the_arena_runs_from_the_path_in_another_folder_and_after_the_prefix_moved(self):
        self.assertEqual(self.installed.returncode, 0, self.installed.stderr)
        elsewhere = tempfile.mkdtemp(dir=self.home)
        path = os.path.join(self.prefix, BIN) + ":/usr/bin:/bin"
        for command in ([os.path.join(self.prefix, BIN, "brakkenfel")], ["brakkenfel"]):
            done = run(command + ["--headless", "--moves", "10"], self.home, cwd=elsewhere, path=path)
            self.assertEqual(done.returncode, 0, done.stderr)
        moved = os.path.join(self.home, "moved")
        shutil.copytree(self.prefix, moved, symlinks=True)
        done = run([os.path.join(moved, BIN, "brakkenfel"), "--headless", "--moves", "10", "--snapshot", "field.bmp"],
                   self.home, cwd=elsewhere)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(os.path.getsize(os.path.join(elsewhere, "field.bmp")) > 0)

    def test_the_tournament_runner_plays_the_arena_installed_beside_it(self):
        self.assertEqual(self.installed.returncode, 0, self.installed.stderr)
        with open(os.path.join(self.home, "contestants.txt"), "w") as file:
            file.write("gunner ai\nidle human\n")
        done = run([os.path.join(self.prefix, BIN, "brakkenfel-tournament"), "contestants.txt", "--moves", "50",
                    "--move-budget", "0", "--jobs", "1", "--out", "league"], self.home)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("2/2 matches played", done.stderr)
        commands = run([os.path.join(self.prefix, BIN, "brakkenfel-tournament"), "contestants.txt",
                        "--print-commands"], self.home)
        self.assertIn(os.path.join(self.prefix, "lib", "brakkenfel", "brakkenfel"), commands.stdout)


@unittest.skipIf(CMAKE is None, "cmake is not on the PATH")
class WebPlayerHookTest(unittest.TestCase):
    """The hook the package uses for a built web player, in a project of its own."""

    def configure(self, folder, work):
        with open(os.path.join(work, "CMakeLists.txt"), "w") as file:
            file.write("cmake_minimum_required(VERSION 3.25)\nproject(hook NONE)\nset(CMAKE_INSTALL_DATAROOTDIR share)\n"
                       "include(%s/packaging/WebPlayer.cmake)\nbrakkenfel_install_web_player(%s)\n" % (SOURCE, folder))
        return subprocess.run([CMAKE, "-S", work, "-B", os.path.join(work, "build")],
                              capture_output=True, text=True, timeout=120)

    def test_a_player_is_installed_whole_and_a_folder_without_a_page_is_refused(self):
        with tempfile.TemporaryDirectory() as work:
            player = os.path.join(work, "player")
            os.makedirs(os.path.join(player, "assets"))
            for name in ("player.html", "assets/arena.wasm"):
                with open(os.path.join(player, name), "w") as file:
                    file.write(name)
            self.assertEqual(self.configure(player, work).returncode, 0)
            prefix = os.path.join(work, "prefix")
            done = subprocess.run([CMAKE, "--install", os.path.join(work, "build"), "--prefix", prefix],
                                  capture_output=True, text=True, timeout=120)
            self.assertEqual(done.returncode, 0, done.stderr)
            for name in ("player.html", "assets/arena.wasm"):
                self.assertTrue(os.path.isfile(os.path.join(prefix, "share", "brakkenfel", "web", name)), name)
            os.remove(os.path.join(player, "player.html"))
            shutil.rmtree(os.path.join(work, "build"))
            refused = self.configure(player, work)
            self.assertNotEqual(refused.returncode, 0)
            self.assertIn("no HTML page", refused.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
