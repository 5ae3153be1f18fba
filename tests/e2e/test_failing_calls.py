"""Each system call of a run failing in turn (the fault probe), and real limits of the machine."""

import os
import resource
import shutil
import subprocess
import unittest
from collections import namedtuple

from harness import (CANNOT_CONNECT, CANNOT_OPEN, NOBODY, WRITE_ERROR, ToolTestCase, as_user,
                     batch, build_line, file_error, header, on_windows)

# The kinds of call whose failure always fails the run; a run can do without some others.
KINDS = ("open", "read", "write", "rename", "flush")
NAMES = ("Tickwright.h", "Tickwright.bat")

Call = namedtuple("Call", "kind ordinal names")


def setUpModule():
    if on_windows():
        raise unittest.SkipTest("system calls and limits of the Linux layer")


class ProbeTestCase(ToolTestCase):
    """TICKWRIGHT_CALL_LOG logs the probe's calls; TICKWRIGHT_FAIL_CALL=kind:n[:errno] fails one."""

    def setUp(self):
        super().setUp()
        self.use_probe()

    def make_database(self):
        """A database with build 41's header and batch file in $/app (app/); returns its env."""
        admin, server = os.environ.get("TWSS_ADMIN"), os.environ.get("TWSS_SERVER")
        if not admin or not server:
            self.skipTest("TWSS_ADMIN and TWSS_SERVER name no admin command and server")
        env = {"SSDIR": self.path("db"), "SSUSER": "alice", "XDG_CONFIG_HOME": self.path("config")}
        self.write("app/Tickwright.h", header(41))
        self.write("app/Tickwright.bat", batch(41))
        for args in (["create", self.path("db")], ["register", "--server", server],
                     ["add-project", "$/app", self.path("app")], ["current", "$/app"],
                     ["add", "$/app", *NAMES]):
            done = subprocess.run([admin, *args], capture_output=True, cwd=self.path("app"),
                                  env=dict(os.environ, **env))
            self.assertEqual(0, done.returncode, done.stderr)
        return env


    def logged_run(self, args, folder, env):
        """A run with every call logged: its result and its calls."""
        log = self.folder + ".calls"
        result = self.run_tool(*args, cwd=self.path(folder), env=dict(env, TICKWRIGHT_CALL_LOG=log))
        with open(log, encoding="utf-8", errors="replace") as f:
            calls = [Call(kind, int(n), names)
                     for kind, n, *names in (line.rstrip("\n").split("\t") for line in f)]
        os.remove(log)
        return result, calls


class EachCallFails(ProbeTestCase):
    def check_each_call(self, args, prepare, new, folder="", env=None, planted=()):
        """After a failure each file is as `prepare` left it or `new`, and the report names it.
        Folders `planted` where the claim files go make every write go in place."""
        env = env or {}
        old = prepare()
        clean, calls = self.logged_run(args, folder, env)
        self.assertEqual(0, clean.code, clean.err)
        self.assertEqual(new, tuple(self.read(os.path.join(folder, n)) for n in NAMES))
        # Only a header that is there is read.
        self.assertEqual(set(KINDS) - ({"read"} if old[0] is None else set())
                         - ({"rename"} if planted else set()),
                         {c.kind for c in calls} & set(KINDS), calls)
        # Each new file is flushed before it takes the old one's place, and its folder after.
        for at, rename in ((i, c) for i, c in enumerate(calls) if c.kind == "rename"):
            self.assertTrue(any(c.kind == "flush" and c.names[0].endswith("/" + rename.names[0])
                                for c in calls[:at]), f"{rename} before its file's flush")
            place = os.path.dirname(os.path.realpath(os.path.join(self.path(folder),
                                                                  rename.names[-1])))
            self.assertTrue(any(c.kind == "flush" and c.names[0] == place
                                for c in calls[at + 1:]), f"{rename}: its folder not flushed")
        # The file a call works on: the one it names, else that of the nearest call before it
        # that names one (a folder opened and flushed for a rename, say).
        owners, owner = [], NAMES[0]
        for call in calls:
            named = [n for n in NAMES for x in call.names if os.path.basename(x).startswith(n)]
            owner = named[0] if named else owner
            owners.append(owner)
        # Under /c: the COM registration and the server it names are no files of the user's.
        com_files = ((env["XDG_CONFIG_HOME"], os.path.realpath(os.environ["TWSS_SERVER"]))
                     if env else ())
        for index, call in enumerate(calls):
            with self.subTest(call=call):
                old = prepare()
                result = self.run_tool(*args, cwd=self.path(folder), env=dict(
                    env, TICKWRIGHT_FAIL_CALL=f"{call.kind}:{call.ordinal}"))
                now = tuple(self.read(os.path.join(folder, n))
                            if self.exists(os.path.join(folder, n)) else None for n in NAMES)
                self.assertEqual(sorted([n for n, text in zip(NAMES, now) if text is not None]
                                        + list(planted)),
                                 sorted(os.listdir(self.path(folder))), "a file left behind")
                # A line to the console that fails goes to the window fallback: the build stands.
                # Without the mount table or the folder open, a file is rewritten in place.
                if (call.names[0].startswith(("pipe:", "socket:", "/dev/"))
                        or (result.code == 0 and (call.kind not in KINDS
                                                  or call.names[0].endswith("/mountinfo")
                                                  or call.names[0] == "."))):
                    self.assertEqual((0, new), (result.code, now), result.err)
                    continue
                self.assertEqual(5, result.code, result.err)
                self.assertIn(now[0], (old[0], new[0]))
                self.assertIn(now[1], (old[1], new[1]))
                if now[0] == old[0]:
                    self.assertEqual(old[1], now[1], "the batch file went first")
                if call.names[0].startswith(com_files):
                    self.assertIn(CANNOT_CONNECT, result.err)
                    continue
                failing = owners[index]
                other = NAMES[1 - NAMES.index(failing)]
                self.assertIn(failing.encode(), result.err)
                self.assertNotIn(other.encode(), result.err)
                self.assertIn(b"System reports:\nInput/output error\n", result.err)

    def test_a_run_with_b_on_build_41_and_on_no_files_by_rename_and_in_place(self):
        def prepare(texts):
            for name, text in zip(NAMES, texts):
                if self.exists(name):
                    os.remove(self.path(name))
                if text is not None:
                    self.write(name, text)
            return texts

        # Then rewritten in place: folders stand where the claim files would go.
        for planted in ((), tuple(name + ".TMP" for name in NAMES)):
            for name in planted:
                os.mkdir(self.path(name))
            for old, new in [((header(41), batch(41)), (header(42), batch(42))),
                             ((None, None), (header(1), batch(1)))]:
                self.check_each_call(["/nologo", "/b"], lambda old=old: prepare(old), new,
                                     planted=planted)

    def test_a_kill_at_any_call_leaves_each_file_whole_and_the_next_run_counts_on(self):
        # Old texts longer than the new ones: in place, the new text is padded to the old
        # length before the cut, so a kill there leaves it followed by blank lines.
        old = (header(41, name="A_LONGER_BUILD_NUMBER"), batch(41, name="A_LONGER_BUILD_NUMBER"))
        new = (header(42), batch(42))
        for planted in ((), tuple(name + ".TMP" for name in NAMES)):
            with self.subTest(in_place=bool(planted)):
                self.setUp()
                for name in planted:
                    os.mkdir(self.path(name))
                for name, text in zip(NAMES, old):
                    self.write(name, text)
                _, calls = self.logged_run(["/nologo", "/b"], "", {})
                for call in calls:
                    for name, text in zip(NAMES, old):
                        self.write(name, text)
                    result = self.run_tool("/nologo", "/b", env={
                        "TICKWRIGHT_FAIL_CALL": f"{call.kind}:{call.ordinal}:KILL"})
                    self.assertEqual(-9, result.code, call)
                    now = [self.read(name) for name in NAMES]
                    for text, was, will in zip(now, old, new):
                        self.assertIn(text, (was, will, will.ljust(len(was), b"\n")), call)
                    # The next run counts on from whatever the kill left; no claim file stays.
                    counted = 42 if now[0] == old[0] else 43
                    result = self.run_tool("/nologo", "/b", "Tickwright.h", "A_LONGER_BUILD_NUMBER")
                    self.assertEqual((0, build_line(counted)), (result.code, result.out), call)
                    self.assertEqual(sorted(NAMES + planted), self.listing(), call)

    def test_a_run_with_c_and_b_against_a_database(self):
        env = self.make_database()
        shutil.copytree(self.path("db"), self.path("pristine"))

        def prepare():
            shutil.rmtree(self.path("db"))
            shutil.copytree(self.path("pristine"), self.path("db"))
            for name, text in zip(NAMES, (header(41), batch(41))):
                os.chmod(self.path("app/" + name), 0o644)
                self.write("app/" + name, text)
                self.make_read_only("app/" + name)
            return header(41), batch(41)

        self.check_each_call(["/nologo", "/c", "/b"], prepare, (header(42), batch(42)),
                             folder="app", env=env)

    def test_the_header_is_let_go_before_the_check_out_begins(self):
        env = self.make_database()
        self.make_read_only("app/Tickwright.h")
        result, calls = self.logged_run(["/nologo", "/c"], "app", env)
        self.assertEqual(0, result.code, result.err)
        let_go = next(i for i, c in enumerate(calls)
                      if c.kind == "close" and c.names[0] == self.path("app/Tickwright.h"))
        connected = next(i for i, c in enumerate(calls)
                         if c.names[0].startswith(env["XDG_CONFIG_HOME"]))
        self.assertLess(let_go, connected, calls)

    def test_runs_that_end_well_though_a_call_fails(self):
        # A rename across file systems becomes a rewrite in place; the tool itself fails no call.
        for exe, failure in [(self.exe, "rename:1:EXDEV"), (self.tool, "open:1")]:
            with self.subTest(failure=failure):
                self.exe = exe
                self.write("Tickwright.h", header(41))
                result = self.run_tool("/nologo", env={"TICKWRIGHT_FAIL_CALL": failure})
                self.assertEqual((0, build_line(42)), (result.code, result.out), result.err)
                self.assertEqual((header(42), ["Tickwright.h"]),
                                 (self.read("Tickwright.h"), self.listing()))


class Limits(ToolTestCase):
    """Real limits of the machine, run by the tool itself."""

    def test_a_folder_that_takes_no_new_file(self):
        self.need_root()  # the folder is given away to nobody
        # (files there, arguments, report (none: success), files after the run)
        for existing, args, report, after in [
                ([], [], file_error(CANNOT_OPEN, "Tickwright.h", 5), {}),
                # The batch file is refused before the header is written.
                (NAMES[:1], ["/b"], file_error(CANNOT_OPEN, "Tickwright.bat", 5),
                 {"Tickwright.h": header(41)}),
                # Where no temporary file fits, each file is rewritten in place.
                (NAMES, ["/b"], None, {"Tickwright.h": header(42), "Tickwright.bat": batch(42)})]:
            with self.subTest(args=args, existing=existing):
                self.setUp()
                for name in existing:
                    self.write(name, header(41))
                    os.chmod(self.path(name), 0o666)
                os.chown(self.folder, NOBODY, NOBODY)
                os.chmod(self.folder, 0o555)
                result = self.run_tool("/nologo", *args, preexec_fn=as_user(NOBODY))
                self.assertEqual(5 if report else 0, result.code, result.err)
                if report:
                    self.assertReported(result, report)
                self.assertEqual(after, {name: self.read(name) for name in self.listing()})

    def test_a_full_disk_takes_a_rewrite_in_place_or_leaves_the_header_whole(self):
        os.makedirs(self.path("full"))
        # Where no tmpfs can be mounted, test_environment's RLIMIT_FSIZE case stands in.
        self.mount("-t", "tmpfs", "-o", "size=64k", "tw-full", self.path("full"))
        self.write("full/Tickwright.h", header(41))
        with open(self.path("full/filler"), "wb", buffering=0) as f, self.assertRaises(OSError):
            while True:
                f.write(b"\0" * 4096)
        self.write("Tickwright.h", header(41))
        # No room for a second copy: the same length fits in place; a text that needs
        # another page fails before any byte changes, and a batch file that does not fit
        # fails before the header elsewhere moves.
        for args, failed, code, number in [
                (["full/Tickwright.h", "BUILD_NUMBER"], None, 0, 42),
                (["full/Tickwright.h", "N" * 800], "full/Tickwright.h", 5, 43),
                (["Tickwright.h", "N" * 3000, "/b:full/x"], "full/x.bat", 5, 42)]:
            with self.subTest(failed=failed):
                result = self.run_tool("/nologo", *args)
                self.assertEqual((code, build_line(number)), (result.code, result.out))
                if failed:
                    self.assertReported(result, file_error(WRITE_ERROR, failed, 112))
                self.assertEqual(header(42), self.read("full/Tickwright.h"))
                self.assertEqual(header(41), self.read("Tickwright.h"))
                self.assertEqual(["Tickwright.h", "filler"], sorted(os.listdir(self.path("full"))))

    def test_a_linked_header_stays_a_link_and_its_target_gets_the_text(self):
        # (links: name -> where it points, the target's text before the run)
        for links, text in [({"Tickwright.h": "sub/real.h"}, header(41)),
                            ({"Tickwright.h": "middle.h", "middle.h": "sub/real.h"}, header(41)),
                            ({"Tickwright.h": "sub/real.h"}, None)]:  # leading nowhere yet
            with self.subTest(links=links, target_exists=text is not None):
                self.setUp()
                os.makedirs(self.path("sub"))
                if text is not None:
                    self.write("sub/real.h", text)
                for name, points_to in links.items():
                    os.symlink(points_to, self.path(name))
                number = 42 if text is not None else 1
                result = self.run_tool("/nologo")
                self.assertEqual((0, build_line(number)), (result.code, result.out), result.err)
                self.assertEqual(links, {name: os.readlink(self.path(name)) for name in links})
                self.assertEqual(header(number), self.read("sub/real.h"))
                self.assertEqual((sorted(links), ["real.h"]), (
                    [n for n in self.listing() if n != "sub"], os.listdir(self.path("sub"))))

    def test_memory_that_runs_out_before_the_run_begins_ends_in_its_report(self):
        if os.environ.get("TICKWRIGHT_SANITIZED"):
            self.skipTest("the sanitizers need more address space than the limits below")
        # Twelve arguments of 131 KB under ever smaller address-space limits, from enough for
        # the whole command line down to too little to start the program at all (the loader
        # fails, 127): never a death by a signal, even where no exception can be made.
        self.write("Tickwright.h", header(41))
        arguments, reported = ["x" * 131000] * 12, 0

        def run(kib):
            return self.run_tool("/nologo", *arguments, preexec_fn=lambda: (
                resource.setrlimit(resource.RLIMIT_AS, (kib * 1024, kib * 1024))))

        lowest = next(kib for kib in range(12000, 0, -500) if run(kib).code == 127)
        # Finely over the last steps above the loader's own limit.
        for kib in range(lowest + 1000, lowest, -20):
            result = run(kib)
            with self.subTest(kib=kib):
                self.assertIn(result.code, (1, 5, 127), result.err)
                if result.code == 5:
                    self.assertEqual(b"Error\nNot enough memory\n", result.err)
                    reported += 1
        self.assertTrue(reported, "no limit made the command line run out of memory")
        self.assertEqual(header(41), self.read("Tickwright.h"))

    def test_a_header_of_4_gib_is_too_large(self):
        size = 4 * 2**30 + 10
        with open(self.path("Tickwright.h"), "wb") as f:
            f.write(header(41))
            f.truncate(size)  # sparse: no disk is used
        result = self.run_tool("/nologo", "/b")
        self.assertEqual((5, b""), (result.code, result.out))
        self.assertReported(result, b'ERROR! File too large! File name:\n\n"Tickwright.h"')
        self.assertEqual(size, os.path.getsize(self.path("Tickwright.h")))
        self.assertEqual(["Tickwright.h"], self.listing())

    def test_header_names_of_300_characters(self):
        # One name longer than a folder entry can be: nothing is made.
        name = "x" * 298 + ".h"
        result = self.run_tool("/nologo", name)
        self.assertEqual((5, b""), (result.code, result.out))
        self.assertReported(result, file_error(CANNOT_OPEN, name, 206))
        self.assertEqual([], self.listing())
        # A path of over 300 characters through folders is an ordinary header.
        path = "/".join(["d" * 99] * 3) + "/Tickwright.h"
        self.write(path, header(41))
        result = self.run_tool("/nologo", "/b", path)
        self.assertEqual((0, build_line(42)), (result.code, result.out), result.err)
        self.assertEqual((header(42), batch(42)), (self.read(path), self.read(path[:-1] + "bat")))
        self.assertEqual(list(NAMES[::-1]), sorted(os.listdir(os.path.dirname(self.path(path)))))


class LeakCheck(ProbeTestCase):
    """Whole runs under valgrind's memcheck; the sanitized build checks every run already."""

    def command(self, *args):
        return ["valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                "--errors-for-leak-kinds=definite,indirect,possible",
                "--show-leak-kinds=definite,indirect,possible", self.tool, *args]

    def test_a_full_run_an_error_run_and_a_check_out_lose_nothing(self):
        if os.environ.get("TICKWRIGHT_SANITIZED") or not shutil.which("valgrind"):
            self.skipTest("valgrind is not installed, or the run is sanitized")
        env = self.make_database()
        self.write("app/bad.h", b"no number\n")
        for args, code in [(["/c", "/b"], 0), (["/b"], 0), (["bad.h"], 5)]:
            with self.subTest(args=args):
                result = self.run_tool("/nologo", *args, cwd=self.path("app"), env=env, timeout=120)
                self.assertEqual(code, result.code, result.err)
        self.assertEqual(header(43), self.read("app/Tickwright.h"))


if __name__ == "__main__":
    unittest.main()
