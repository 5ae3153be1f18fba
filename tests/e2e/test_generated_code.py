"""What the tool generates, used as a C program uses it (builds that run it: test_build_systems)."""

import shutil
import subprocess

from harness import ToolTestCase, header


class GeneratedHeader(ToolTestCase):
    def test_a_c_program_sees_every_form_of_the_number(self):
        compiler = shutil.which("gcc") or shutil.which("cc")
        if not compiler:
            self.skipTest("no C compiler")
        self.write("ver.h", header(65540, "APP_BUILD", "ver.h"))
        self.assertEqual(0, self.run_tool("/nologo", "ver", "APP_BUILD").code)
        self.write("main.c", b"""#include <stdio.h>
#include "ver.h"
#include "ver.h" /* the same definitions twice are no error */
int main(void) {
  printf("%s %lu %lu %lu %s %s\\n", APP_BUILD_STR, (unsigned long)APP_BUILD,
         (unsigned long)APP_BUILD_LOW, (unsigned long)APP_BUILD_HIGH, APP_BUILD_LOW_STR,
         APP_BUILD_HIGH_STR);
}
""")
        subprocess.run([compiler, "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror",
                        "-o", "main", "main.c"], cwd=self.folder, check=True)
        shown = subprocess.run([self.path("main")], capture_output=True, check=True).stdout
        self.assertEqual(b"65541 65541 5 1 5 1\n", shown)

