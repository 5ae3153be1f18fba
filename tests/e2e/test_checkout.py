"""/c against databases of our SourceSafe server (TWSS_ADMIN, TWSS_SERVER), also under Wine."""

import fcntl
import os
import re
import subprocess
import unittest
from unittest import mock

import wine
from harness import (BANNER, CANNOT_CONNECT, CANNOT_OPEN, NOBODY, ToolTestCase, as_user, batch,
                     build_line, file_error, header, launcher, on_windows, shown)

CHECKING_OUT = shown(b"Build count file is read only. Trying to check it out...\r\n")
BATCH_CHECKING_OUT = shown(b"Batch file is read only. Trying to check it out...\r\n")
ENV_CHECKING_OUT = shown(b"Env file is read only. Trying to check it out...\r\n")
ENV_NOT_IN_CURRENT = shown(b"Warning! Cannot find env file in current VSS project.\n"
                           b"Continue with full VSS database search...\r\n")
NOT_IN_CURRENT = shown(b"Warning! Cannot find build count file in current VSS project.\n"
                       b"Continue with full VSS database search...\r\n")
BATCH_NOT_IN_CURRENT = shown(b"Warning! Cannot find batch file in current VSS project.\n"
                             b"Continue with full VSS database search...\r\n")
OK = shown(b"OK\r\n")


def current_project(path):
    return shown(b"Current VSS project: %s\r\n" % path.encode())


class CheckOut(ToolTestCase):
    """Projects $/app and $/other (folders app/ and other/); alice's current project is $/app."""

    def setUp(self):
        super().setUp()
        self.admin, self.server = os.environ.get("TWSS_ADMIN"), os.environ.get("TWSS_SERVER")
        if not self.admin or not self.server:
            self.skipTest("TWSS_ADMIN and TWSS_SERVER name no admin command and server")
        if on_windows() and not launcher():
            self.skipTest("the Windows build runs here under Wine only")
        environment = mock.patch.dict(os.environ, {
            "SSDIR": self.native(self.path("db")), "SSUSER": "alice",
            "XDG_CONFIG_HOME": self.path("config")})
        environment.start()
        self.addCleanup(environment.stop)
        self.ssadmin("create", self.path("db"))
        if on_windows():
            self.regsvr32()
        else:
            self.ssadmin("register", "--server", self.server)
        for project in ("app", "other"):
            os.makedirs(self.path(project))
            self.ssadmin("add-project", "$/" + project, self.path(project))
        self.ssadmin("current", "$/app")

    @staticmethod
    def native(path):
        return wine.windows_path(path) if on_windows() else path

    def ssadmin(self, *args):
        args = [self.native(a) if a.startswith("/") else a for a in args]
        done = subprocess.run(launcher() + [self.admin, *args], capture_output=True)
        self.assertEqual(0, done.returncode, done.stderr)

    def regsvr32(self, *switches, server=None):
        """Registers the server in the Wine prefix as an installer would (/u: removes it)."""
        done = wine.run_program("regsvr32", "/s", *switches, wine.windows_path(server or self.server))
        self.assertEqual(0, done.code, done.err)

    def report(self, result, *args, cwd):
        """A failure's report: Linux's window box text, or what a rerun shows on a Wine console."""
        if not on_windows():
            return result.err
        shown = wine.run_on_console(self.command(*args), cwd)
        self.assertEqual(5, shown.code, shown.out)
        return shown.out

    def add_header(self, project):
        """A header of build 41 in the project's working folder, added (so read-only)."""
        self.write(f"{project}/Tickwright.h", header(41))
        self.ssadmin("add", "$/" + project, "Tickwright.h")
        self.assertEqual(0, os.stat(self.path(f"{project}/Tickwright.h")).st_mode & 0o222)

    def journal(self, action):
        with open(self.path("db/journal.log"), encoding="utf-8") as f:
            return [line for line in f if line.split("\t")[2] == action]

    def failing_run(self, folder, *parts, switches=()):
        """A /c run in `folder` that fails; its report holds `parts` in this order."""
        args = ("/nologo", "/c") + tuple(switches)
        result = self.run_tool(*args, cwd=self.path(folder))
        self.assertEqual(5, result.code, result.out)
        report, position = self.report(result, *args, cwd=self.path(folder)), 0
        for part in parts:
            found = report.find(part, position)
            self.assertNotEqual(-1, found, f"{part!r} missing after {position} in {report!r}")
            position = found + len(part)
        self.assertEqual(header(41), self.read(folder + "/Tickwright.h"))
        return result.out, report

    def test_files_outside_the_current_project_are_found_in_the_whole_database(self):
        self.write("other/Tickwright.bat", batch(41))
        self.write("other/Tickwright.env", b"BUILD_NUMBER=41\n")
        self.ssadmin("add", "$/other", "Tickwright.bat", "Tickwright.env")
        self.add_header("other")
        result = self.run_tool("/c", "/b", "/e", cwd=self.path("other"))
        self.assertEqual(0, result.code, result.err)
        # Each warning names the kind of file sought.
        self.assertEqual(BANNER + build_line(42) + CHECKING_OUT + current_project("$/app")
                         + NOT_IN_CURRENT + OK + BATCH_CHECKING_OUT + current_project("$/app")
                         + BATCH_NOT_IN_CURRENT + OK + ENV_CHECKING_OUT
                         + current_project("$/app") + ENV_NOT_IN_CURRENT + OK, result.out)
        self.assertEqual((header(42), batch(42), b"BUILD_NUMBER=42\n"),
                         (self.read("other/Tickwright.h"), self.read("other/Tickwright.bat"),
                          self.read("other/Tickwright.env")))

    def test_header_and_batch_file_of_the_current_project_over_one_connection(self):
        self.write("app/Tickwright.bat", batch(41))
        self.ssadmin("add", "$/app", "Tickwright.bat")
        self.add_header("app")
        result = self.run_tool("/nologo", "/c", "/b", cwd=self.path("app"))
        self.assertEqual(0, result.code, result.err)
        self.assertEqual(build_line(42) + CHECKING_OUT + current_project("$/app") + OK
                         + BATCH_CHECKING_OUT + current_project("$/app") + OK, result.out)
        self.assertEqual((header(42), batch(42)),
                         (self.read("app/Tickwright.h"), self.read("app/Tickwright.bat")))
        self.assertEqual((1, 2), (len(self.journal("open")), len(self.journal("checkout"))))

    def test_a_file_in_no_project_cannot_be_checked_out(self):
        # A working folder that items.txt could not hold is refused; the database stays readable.
        refused = subprocess.run(launcher() + [self.admin, "add-project", "$/bad", "a\tb"],
                                 capture_output=True)
        self.assertEqual(2, refused.returncode)
        self.assertIn(b"tab or a line break", refused.stderr)
        self.write("loose/Tickwright.h", header(41))
        self.make_read_only("loose/Tickwright.h")
        out, _ = self.failing_run("loose", b"Error! Cannot checkout file.")
        self.assertEqual(build_line(42) + CHECKING_OUT + current_project("$/app") + NOT_IN_CURRENT,
                         out)
        # A side file that is in no project says which file it is; the header stays as it was.
        self.add_header("app")
        for switch, name, text in [("/b", "Tickwright.bat", batch(41)),
                                   ("/e", "Tickwright.env", b"BUILD_NUMBER=41\n")]:
            with self.subTest(switch=switch):
                self.write("app/" + name, text)
                self.make_read_only("app/" + name)
                kind = b"batch" if switch == "/b" else b"env"
                self.failing_run("app", b"Error! Cannot checkout " + kind + b" file.",
                                 switches=[switch])
                os.remove(self.path("app/" + name))

    def test_without_ssdir_the_tool_cannot_connect_and_says_why(self):
        self.add_header("app")
        del os.environ["SSDIR"]
        table = os.path.join(os.path.dirname(__file__), "..", "..", "server", "strings.inc")
        with open(table, encoding="utf-8") as f:
            no_ssdir = re.search(r'^SS_STRING\(\d+, SS_NO_SSDIR, "(.*)"\)$', f.read(), re.M)[1]
        out, _ = self.failing_run("app", CANNOT_CONNECT, no_ssdir.encode(), b"Component Error",
                                  b"0x8004D74B")
        self.assertEqual(build_line(42) + CHECKING_OUT, out)

    def test_a_run_waiting_for_its_check_out_keeps_every_other_run_out(self):
        # nobody's runs, the header read-only to them and no claim file possible: while the
        # first waits for the database in its check-out, its number printed, a second run is
        # refused before it reads, so that no two runs count the same number.
        if on_windows() or os.geteuid() != 0:
            self.skipTest("another user's runs: Linux, as root")
        self.add_header("app")
        os.mkdir(self.path("app/Tickwright.h.TMP"))
        self.give_away(NOBODY)
        nobody = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
        with open(self.path("db/lock"), "rb") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            first = subprocess.Popen(nobody + self.command("/nologo", "/c"), cwd=self.path("app"),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
            out = b""
            while not out.endswith(CHECKING_OUT):
                chunk = first.stdout.read1(4096)
                if not chunk:
                    self.fail(out + first.communicate()[1])
                out += chunk
            second = self.run_tool("/nologo", cwd=self.path("app"),
                                   preexec_fn=as_user(NOBODY))
        out += first.communicate(timeout=30)[0]
        self.assertEqual((5, b""), (second.code, second.out))
        self.assertReported(second, file_error(CANNOT_OPEN, "Tickwright.h", 32))
        self.assertEqual((0, build_line(42) + CHECKING_OUT + current_project("$/app") + OK),
                         (first.returncode, out))
        self.assertEqual(header(42), self.read("app/Tickwright.h"))

    def test_a_writable_header_under_c_never_contacts_the_server(self):
        self.add_header("app")
        os.chmod(self.path("app/Tickwright.h"), 0o644)
        os.environ.pop("SSDIR")
        os.environ["XDG_CONFIG_HOME"] = self.path("nothing-registered")
        result = self.run_tool("/nologo", "/c", cwd=self.path("app"))
        self.assertEqual((0, build_line(42)), (result.code, result.out), result.err)
        self.assertEqual(header(42), self.read("app/Tickwright.h"))
        self.assertEqual([], self.journal("open"))

    def test_without_a_server_of_its_bitness_the_report_names_the_systems_reason(self):
        self.add_header("app")
        if on_windows():
            self.regsvr32("/u")
            self.addCleanup(self.regsvr32)
            # Wine has no text for CO_E_CLASSSTRING (Windows: "Invalid class string").
            system_text = b"Windows error code: 0x800401F3\r\n"
        else:
            os.environ["XDG_CONFIG_HOME"] = self.path("nothing-registered")
            system_text = (b"System reports:\r\n"
                           b"Invalid class string: no class is registered under this name.\r\n")
        out, report = self.failing_run("app", shown(CANNOT_CONNECT + b"\r\n\r\n" + system_text))
        self.assertEqual(build_line(42) + CHECKING_OUT, out)
        self.assertNotIn(b"Component Error", report)

        with self.subTest("only a server of the other bitness"):
            other = self.other_bitness_server()
            self.regsvr32(server=other)
            self.addCleanup(self.regsvr32, "/u", server=other)
            out, report = self.failing_run("app", shown(CANNOT_CONNECT + b"\r\n\r\n"))
            self.assertEqual(build_line(42) + CHECKING_OUT, out)
            # A 64-bit process loads no 32-bit server, nor the reverse: the system says why
            # (Wine: REGDB_E_KEYMISSING, with no text), and the server is never reached.
            self.assertRegex(report, rb"Cannot connect to Visual Source Safe\.\r\n\r\n(System "
                                     rb"reports:\r\n[^\r\n]+|Windows error code: 0x8[0-9A-F]{7})\r\n")
            self.assertNotIn(b"Component Error", report)

    def test_files_planted_in_the_database_and_the_registry_are_not_followed_or_written(self):
        if on_windows():
            self.skipTest("owners, modes, links and FIFOs of Linux")
        self.need_root()

        def plant(name, how):
            if how == "fifo":
                os.mkfifo(self.path(name))
            elif how == "read-only":
                os.chmod(self.path(name), 0o444)
            else:  # a link to `how`
                os.remove(self.path(name))
                os.symlink(self.path(how), self.path(name))

        registry = "config/tickwright/com/{00000000-0000-0000-0000-000000000000}"
        # (a name, what is planted there, the run's user, vault/file's mode, whether /c works)
        for name, how, user, vault_mode, works in [
                ("db/journal.log", "read-only", 0, 0o444, True),
                ("db/journal.log", "vault/file", 0, 0o444, True),
                ("db/journal.log", "vault/file", NOBODY, 0o644, True),
                ("db/lock", "vault/new", 0, 0o444, False), (registry, "fifo", 0, 0o444, True)]:
            with self.subTest(name=name, how=how, user=user):
                self.setUp()
                self.add_header("app")
                self.write("vault/file", b"root's own text\n")
                os.chmod(self.path("vault/file"), vault_mode)
                plant(name, how)
                if user:
                    self.give_away(user)
                before = (self.state(name), self.state("vault/file"),
                          os.listdir(self.path("vault")))
                result = self.run_tool("/nologo", "/c", cwd=self.path("app"), timeout=20,
                                       preexec_fn=as_user(user) if user else None)
                self.assertEqual((0, header(42)) if works else (5, header(41)),
                                 (result.code, self.read("app/Tickwright.h")), result.err)
                self.assertEqual(before, (self.state(name), self.state("vault/file"),
                                          os.listdir(self.path("vault"))))

    def other_bitness_server(self):
        """The server of the other Windows build beside this one; skips where there is none."""
        if not on_windows():
            self.skipTest("a Windows build only")
        other = wine.other_windows_build(self.server)
        if not os.path.exists(other):
            self.skipTest(f"the other Windows build is not built ({other})")
        if wine.run_program(wine.other_windows_build(self.exe), "/?").code != 0:
            self.skipTest("the other Windows build's programs do not run here")
        return other

if __name__ == "__main__":
    unittest.main()
