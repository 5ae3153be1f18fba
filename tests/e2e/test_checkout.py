"""/c against real SourceSafe databases of our server: each test makes its
own database (SSDIR) with the admin command and registers the server in a
registry of its own (XDG_CONFIG_HOME), then runs the tool on read-only
working copies. The admin command and the server library come from
TWSS_ADMIN and TWSS_SERVER."""

import os
import re
import subprocess
import unittest
from unittest import mock

from harness import BANNER, ToolTestCase, batch, build_line, header, on_windows

CHECKING_OUT = b"Build count file is read only. Trying to check it out...\r\n"
BATCH_CHECKING_OUT = b"Batch file is read only. Trying to check it out...\r\n"
NOT_IN_CURRENT = (b"Warning! Cannot find build count file in current VSS project.\n"
                  b"Continue with full VSS database search...\r\n")
OK = b"OK\r\n"
CANNOT_CHECK_OUT = b"Error! Cannot checkout file."
CANNOT_CONNECT = b"Error! Cannot connect to Visual Source Safe."


def current_project(path):
    return b"Current VSS project: %s\r\n" % path.encode()


def server_texts():
    """The server's own texts by name, read from its string table."""
    table = os.path.join(os.path.dirname(__file__), "..", "..", "server", "strings.inc")
    with open(table, encoding="utf-8") as f:
        entries = re.findall(r'^SS_STRING\(\d+, (\w+), "(.*)"\)$', f.read(), re.MULTILINE)
    return {name: text.encode().decode("unicode_escape") for name, text in entries}


class CheckOut(ToolTestCase):
    """A database whose projects $/app and $/other have the working folders
    app/ and other/ of the test's folder; alice's current project is $/app."""

    def setUp(self):
        super().setUp()
        if on_windows():
            self.skipTest("the SourceSafe server is built for Linux only")
        self.admin = os.environ.get("TWSS_ADMIN")
        self.server = os.environ.get("TWSS_SERVER")
        if not self.admin or not self.server:
            self.skipTest("TWSS_ADMIN and TWSS_SERVER name no admin command and server")
        environment = mock.patch.dict(os.environ, {
            "SSDIR": self.path("db"),
            "SSUSER": "alice",
            "XDG_CONFIG_HOME": self.path("config"),
        })
        environment.start()
        self.addCleanup(environment.stop)
        self.ssadmin("create", self.path("db"))
        self.ssadmin("register", "--server", self.server)
        for project in ("app", "other"):
            os.makedirs(self.path(project))
            self.ssadmin("add-project", "$/" + project, self.path(project))
        self.ssadmin("current", "$/app")

    def ssadmin(self, *args, user="alice"):
        completed = subprocess.run([self.admin, *args], capture_output=True,
                                   env=dict(os.environ, SSUSER=user))
        self.assertEqual(0, completed.returncode, completed.stderr)

    def add_header(self, project, number=41, name="Tickwright.h"):
        """A header in the project's working folder, added (so read-only)."""
        self.write(f"{project}/{name}", header(number, file_name=name))
        self.ssadmin("add", "$/" + project, name)
        self.assertEqual(0, os.stat(self.path(f"{project}/{name}")).st_mode & 0o222)

    def journal(self, action):
        with open(self.path("db/journal.log"), encoding="utf-8") as f:
            return [line for line in f if line.split("\t")[2] == action]

    def test_a_header_of_the_current_project(self):
        self.add_header("app")
        result = self.run_tool("/nologo", "/c", cwd=self.path("app"))
        self.assertEqual(0, result.code, result.err)
        self.assertEqual(build_line(42) + CHECKING_OUT + current_project("$/app") + OK, result.out)
        self.assertEqual(header(42), self.read("app/Tickwright.h"))
        self.assertEqual(1, len(self.journal("checkout")))

    def test_a_header_outside_the_current_project_is_found_in_the_whole_database(self):
        self.add_header("other")
        result = self.run_tool("/c", cwd=self.path("other"))
        self.assertEqual(0, result.code, result.err)
        self.assertEqual(BANNER + build_line(42) + CHECKING_OUT + current_project("$/app")
                         + NOT_IN_CURRENT + OK, result.out)
        self.assertEqual(header(42), self.read("other/Tickwright.h"))

    def test_header_and_batch_file_are_checked_out_over_one_connection(self):
        self.write("app/Tickwright.bat", batch(41))
        self.ssadmin("add", "$/app", "Tickwright.bat")
        self.add_header("app")
        result = self.run_tool("/nologo", "/c", "/b", cwd=self.path("app"))
        self.assertEqual(0, result.code, result.err)
        self.assertEqual(build_line(42) + CHECKING_OUT + current_project("$/app") + OK
                         + BATCH_CHECKING_OUT + current_project("$/app") + OK, result.out)
        self.assertEqual(batch(42), self.read("app/Tickwright.bat"))
        self.assertEqual(1, len(self.journal("open")))
        self.assertEqual(2, len(self.journal("checkout")))

    def test_a_header_in_no_project_cannot_be_checked_out(self):
        self.write("loose/Tickwright.h", header(41))
        self.make_read_only("loose/Tickwright.h")
        result = self.run_tool("/nologo", "/c", cwd=self.path("loose"))
        self.assertEqual(5, result.code)
        self.assertEqual(build_line(42) + CHECKING_OUT + current_project("$/app") + NOT_IN_CURRENT,
                         result.out)
        self.assertReported(result, CANNOT_CHECK_OUT)
        self.assertEqual(header(41), self.read("loose/Tickwright.h"))

    def test_a_header_checked_out_by_another_user_is_refused_with_the_servers_reason(self):
        self.add_header("app")
        self.ssadmin("checkout", "$/app/Tickwright.h", user="bob")
        self.make_read_only("app/Tickwright.h")
        result = self.run_tool("/nologo", "/c", cwd=self.path("app"))
        self.assertEqual(5, result.code)
        reason = server_texts()["SS_CHECKED_OUT_BY_OTHER"].replace("%s", "{}").format(
            "$/app/Tickwright.h", "bob", "bob")
        # Newest message first: the server's reason was added after string 13.
        self.assert_report_holds(result, reason.encode(), CANNOT_CHECK_OUT, b"0x8004D75B")
        self.assertEqual(header(41), self.read("app/Tickwright.h"))

    def test_without_ssdir_the_tool_cannot_connect_and_says_why(self):
        self.add_header("app")
        del os.environ["SSDIR"]
        result = self.run_tool("/nologo", "/c", cwd=self.path("app"))
        self.assertEqual(5, result.code)
        self.assertEqual(build_line(42) + CHECKING_OUT, result.out)
        self.assert_report_holds(result, CANNOT_CONNECT, server_texts()["SS_NO_SSDIR"].encode(),
                                 b"Component Error", b"0x8004D74B")

    def test_a_writable_header_under_c_never_contacts_the_server(self):
        self.add_header("app")
        os.chmod(self.path("app/Tickwright.h"), 0o644)
        os.environ.pop("SSDIR")
        os.environ["XDG_CONFIG_HOME"] = self.path("nothing-registered")
        result = self.run_tool("/nologo", "/c", cwd=self.path("app"))
        self.assertEqual((0, build_line(42)), (result.code, result.out), result.err)
        self.assertEqual(header(42), self.read("app/Tickwright.h"))
        self.assertEqual([], self.journal("open"))

    def assert_report_holds(self, result, *parts):
        """The error report on standard error holds `parts` in this order."""
        position = 0
        for part in parts:
            found = result.err.find(part, position)
            self.assertNotEqual(-1, found, f"{part!r} missing after {position} in {result.err!r}")
            position = found + len(part)


if __name__ == "__main__":
    unittest.main()
