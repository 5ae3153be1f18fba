"""The CMake example with the tool taken in each way, natively and cross-built, and the Meson and
make examples; the tool is installed from the native build folder (TICKWRIGHT_BUILD_DIR)."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import ToolTestCase, header, on_windows

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
EXAMPLES = os.path.join(SOURCE_DIR, "examples")
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
MINGW_TOOLCHAIN = os.path.join(SOURCE_DIR, "cmake", "mingw-x86_64.cmake")

# How the example takes Tickwright in: its own find_package() line, or what replaces it.
FIND_PACKAGE = "find_package(Tickwright 2.0 REQUIRED)"
TAKE = {
    "package": FIND_PACKAGE,
    "FetchContent": "include(FetchContent)\n"
                    'FetchContent_Declare(tickwright SOURCE_DIR "{source}")\n'
                    "FetchContent_MakeAvailable(tickwright)",
    "add_subdirectory": 'add_subdirectory("{source}" tickwright)',
}
# The in-tree rows build the tool themselves (Ninja Multi-Config: for each configuration).
CONSUMERS = [("package", "Ninja"), ("add_subdirectory", "Unix Makefiles"),
             ("FetchContent", "Ninja Multi-Config")]
# After a configuration's first build: the file touched before a build (or None), and how
# many more hello_rebuilt shows after it (hello counts every build): a source that does not
# include the counter header, and a header that the sources include.
STEPS = [(None, 0), ("greeting.c", 1), ("greeting.h", 1), (None, 0)]


def touch_past(path, folder):
    """Gives `path` a time stamp past every file of `folder`, by the clock, however coarse."""
    limit = max((os.lstat(os.path.join(root, name)).st_mtime_ns
                 for root, _, names in os.walk(folder) for name in names), default=0)
    while True:
        with open(path, "ab"):
            pass
        os.utime(path)
        if os.stat(path).st_mtime_ns > limit:
            return


def stamp(path):
    return os.stat(path).st_mtime_ns if os.path.exists(path) else None


class Builds(ToolTestCase):
    @classmethod
    def setUpClass(cls):
        build_dir = os.environ.get("TICKWRIGHT_BUILD_DIR")
        if not build_dir or on_windows():
            raise unittest.SkipTest("needs the native build folder (TICKWRIGHT_BUILD_DIR)")
        cls.installed = tempfile.mkdtemp(prefix="tw-installed-")
        done = subprocess.run([CMAKE, "--install", build_dir, "--prefix", cls.installed],
                              capture_output=True, timeout=120)
        if done.returncode != 0:
            shutil.rmtree(cls.installed)
            raise AssertionError(done.stdout + done.stderr)
        # Where a Tickwright for this machine is found by name, as an installed one is.
        cls.path_with_tool = os.path.join(cls.installed, "bin") + os.pathsep + os.environ["PATH"]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.installed, ignore_errors=True)

    def run_ok(self, *args, cwd=None, env=None, timeout=600):
        done = subprocess.run(args, capture_output=True, cwd=cwd or self.folder, timeout=timeout,
                              env=dict(os.environ, **(env or {})))
        self.assertEqual(0, done.returncode, (done.stdout + done.stderr).decode(errors="replace"))
        return done.stdout

    def needs(self, *programs):
        missing = [p for p in programs if not shutil.which(p)]
        if missing:
            self.skipTest(f"{', '.join(missing)} not installed")

    def example(self, name, take="package"):
        """A copy of the example (builds touch its files) whose CMake project takes the tool."""
        copy = self.path(name)
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(os.path.join(EXAMPLES, name), copy)
        lists = os.path.join(copy, "CMakeLists.txt")
        if os.path.exists(lists):
            with open(lists) as f:
                text = f.read()
            self.assertIn(FIND_PACKAGE, text)
            with open(lists, "w") as f:
                f.write(text.replace(FIND_PACKAGE, TAKE[take].format(source=SOURCE_DIR)))
        return copy

    def build(self, build, config=None, env=None):
        """A build that starts after the clock has passed everything the last one wrote."""
        touch_past(self.path("clock"), build)
        self.run_ok(CMAKE, "--build", build, "--parallel", "2",
                    *(["--config", config] if config else []), env=env)

    def test_each_build_of_the_example_counts_and_with_the_option_only_one_that_compiles(self):
        for take, generator in CONSUMERS:
            with self.subTest(take=take, generator=generator):
                self.needs("ninja" if "Ninja" in generator else "make")
                if take != "package" and os.environ.get("TICKWRIGHT_SANITIZED"):
                    self.skipTest("built from source, the same as in the plain run")
                project = self.example("build-number", take)
                build = self.path(f"build-{take}-{generator}".replace(" ", "-"))
                prefix = [f"-DCMAKE_PREFIX_PATH={self.installed}"] if take == "package" else []
                self.run_ok(CMAKE, "-G", generator, "-S", project, "-B", build, *prefix)
                configs = ["Debug", "Release"] if "Multi-Config" in generator else [None]
                hello = rebuilt = 0
                for config in configs:
                    programs = os.path.join(build, config or "")
                    stamps = lambda: [stamp(os.path.join(programs, "hello_rebuilt")),
                                      stamp(os.path.join(build, "rebuilt", "hello_build.h"))]
                    # Another configuration's first build compiles, but counts nothing new.
                    for touched, counts in [(None, 1 if rebuilt == 0 else 0)] + STEPS:
                        before = stamps()
                        if touched:
                            touch_past(os.path.join(project, touched), build)
                        self.build(build, config)
                        hello, rebuilt = hello + 1, rebuilt + counts
                        shown = (self.run_ok(os.path.join(programs, "hello")),
                                 self.run_ok(os.path.join(programs, "hello_rebuilt")))
                        self.assertEqual((b"hello, build %d\n" % hello,
                                          b"hello, build %d\n" % rebuilt), shown,
                                         f"{config} after touching {touched}")
                        if not counts and before[0]:
                            self.assertEqual(before, stamps(), f"{config}: nothing to do")
                # Of Tickwright's own only the tool: no tests, no server, nothing to install.
                if take != "package":
                    self.assertEqual([], [n for _, _, names in os.walk(build) for n in names
                                          if n.startswith(("tickwright_tests", "tw-ssadmin"))])
                    self.run_ok(CMAKE, "--install", build, "--prefix", self.path("installed"),
                                *(["--config", "Debug"] if config else []))
                    self.assertFalse(os.path.exists(self.path("installed")))

    def test_a_cross_build_counts_with_a_tickwright_of_this_machine_never_its_own(self):
        self.needs("x86_64-w64-mingw32-gcc-posix", "ninja")
        project = self.example("build-number", "add_subdirectory")
        named = "-DTICKWRIGHT_HOST_EXECUTABLE=" + os.path.join(self.installed, "bin", "tickwright")
        for tool, path, args in [("on PATH", self.path_with_tool, []),
                                 ("named", os.environ["PATH"], [named]),
                                 (None, os.environ["PATH"], [])]:
            with self.subTest(tool=tool):
                build = self.path(f"cross-{tool}")
                if tool != "on PATH" and (shutil.which("tickwright", path=path)
                                          or shutil.which("Tickwright", path=path)):
                    self.skipTest("this machine has a Tickwright on PATH")
                configure = subprocess.run(
                    [CMAKE, "-G", "Ninja", "-S", project, "-B", build,
                     f"--toolchain={MINGW_TOOLCHAIN}", *args],
                    capture_output=True, timeout=600, env=dict(os.environ, PATH=path))
                if tool is None:
                    self.assertNotEqual(0, configure.returncode)
                    said = b" ".join(configure.stderr.split())
                    self.assertIn(b"this build makes programs for Windows, so the build number "
                                  b"must be counted by a Tickwright that runs on this machine "
                                  b"(Linux), and there is none on PATH. Install Tickwright for "
                                  b"Linux", said)
                    self.assertIn(b"-DTICKWRIGHT_HOST_EXECUTABLE=<path>", said)
                    continue
                self.assertEqual(0, configure.returncode, configure.stderr)
                for number in (1, 2):
                    program = stamp(os.path.join(build, "hello_rebuilt.exe"))
                    self.build(build, env={"PATH": path})
                    self.assertEqual(header(number, "HELLO_BUILD", "hello_build.h"),
                                     self.read(f"cross-{tool}/hello_build.h"))
                    self.assertEqual(header(1, "HELLO_BUILD", "hello_build.h"),
                                     self.read(f"cross-{tool}/rebuilt/hello_build.h"))
                self.assertEqual(program, stamp(os.path.join(build, "hello_rebuilt.exe")))
                self.assertEqual([], [n for _, _, names in os.walk(build) for n in names
                                      if n.lower() == "tickwright.exe"])

    def test_the_meson_and_make_examples_count_each_build(self):
        rows = [
            # example, what it needs, its setup, one build, its program's line
            ("meson", ["meson", "ninja"], ["meson", "setup", "build"],
             ["meson", "compile", "-C", "build"], "build/hello", "hello, build %d\n"),
            # The manual page's command line.
            ("make", ["make", "cc", "tar"], None,
             ["sh", "-c", "tickwright /nologo app_build.h APP_BUILD /e && make dist"], "app",
             "app, build %d\n"),
        ]
        env = {"PATH": self.path_with_tool}
        for name, needs, setup, build, program, line in rows:
            with self.subTest(name):
                self.needs(*needs)
                example = self.example(name)
                if setup:
                    self.run_ok(*setup, cwd=example, env=env)
                for number in (1, 2):
                    touch_past(self.path("clock"), example)
                    self.run_ok(*build, cwd=example, env=env)
                    self.assertEqual((line % number).encode(),
                                     self.run_ok(os.path.join(example, program)))
                if name == "make":
                    self.assertEqual(b"app\n", self.run_ok("tar", "tzf", "app-2.tar.gz",
                                                           cwd=example))
