"""Under Wine only: the generated batch file called from a real cmd.exe sets its variable."""

import os
import unittest

import wine
from harness import ToolTestCase, build_line, header, launcher, on_windows


class BatchFileInCmd(ToolTestCase):
    def test_calling_the_batch_file_sets_the_variable(self):
        if not on_windows() or not launcher():
            self.skipTest("the Windows build under Wine only")
        self.write("Tickwright.h", header(65535, "APP_BUILD"))
        os.makedirs(self.path("out"))
        result = self.run_tool("/nologo", "", "APP_BUILD", "/b:out\\vars")
        self.assertEqual((0, build_line(65536)), (result.code, result.out), result.err)
        # A script of its own: a one-line cmd /c would expand the variable before the call.
        self.write("show.bat", b"@call out\\vars.bat\r\n@echo [%APP_BUILD%]\r\n")
        env = {k: v for k, v in os.environ.items() if k != "APP_BUILD"}
        shown = wine.run_program("cmd", "/c", "show.bat", env=env, cwd=self.folder)
        self.assertEqual((0, b"[65536]\r\n"), (shown.returncode, shown.stdout), shown.stderr)


if __name__ == "__main__":
    unittest.main()
