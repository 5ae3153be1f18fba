"""Under Wine only: the batch file in a real cmd.exe; a window box while other programs run."""

import os
import subprocess
import unittest

import wine
from harness import ToolTestCase, build_line, header, launcher, on_windows, patience


class UnderWine(ToolTestCase):
    def setUp(self):
        super().setUp()
        if not on_windows() or not launcher():
            self.skipTest("the Windows build under Wine only")

    def test_calling_the_batch_file_sets_the_variable(self):
        self.write("Tickwright.h", header(65535, "APP_BUILD"))
        os.makedirs(self.path("out"))
        result = self.run_tool("/nologo", "", "APP_BUILD", "/b:out\\vars")
        self.assertEqual((0, build_line(65536)), (result.code, result.out), result.err)
        # A script of its own: a one-line cmd /c would expand the variable before the call.
        self.write("show.bat", b"@call out\\vars.bat\r\n@echo [%APP_BUILD%]\r\n")
        env = {k: v for k, v in os.environ.items() if k != "APP_BUILD"}
        shown = wine.run_program("cmd", "/c", "show.bat", env=env, cwd=self.folder)
        self.assertEqual((0, b"[65536]\r\n"), (shown.code, shown.out), shown.err)

    def test_a_run_with_a_window_box_ends_while_another_program_runs(self):
        # The run's box starts the desktop, which keeps the run's standard error open for
        # as long as any other Wine program runs: here one that waits for its input.
        other = subprocess.Popen(launcher() + ["cmd", "/c", "echo up& pause"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        self.addCleanup(other.wait, patience(60))
        self.addCleanup(other.stdout.close)
        self.addCleanup(other.stdin.close)
        self.assertEqual(b"up\r\n", other.stdout.readline())
        result = self.run_tool("/nologo", preexec_fn=lambda: os.close(1), timeout=30)
        self.assertEqual((0, b""), (result.code, result.out), result.err)
        self.assertEqual(header(1), self.read("Tickwright.h"))


if __name__ == "__main__":
    unittest.main()
