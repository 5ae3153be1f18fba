"""What the tool generates, used as builds use it: a C program and the installed CMake package."""

import os
import shutil
import subprocess

from harness import ToolTestCase, header, on_windows


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


class InstalledPackage(ToolTestCase):
    def test_each_build_of_the_example_counts_once(self):
        build_dir = os.environ.get("TICKWRIGHT_BUILD_DIR")
        if not build_dir or on_windows():
            self.skipTest("needs the native build folder (TICKWRIGHT_BUILD_DIR)")
        cmake = os.environ.get("CMAKE_COMMAND", "cmake")

        def run(*args):
            done = subprocess.run(args, capture_output=True, cwd=self.folder, timeout=240)
            self.assertEqual(0, done.returncode, done.stdout + done.stderr)
            return done.stdout

        prefix = self.path("prefix")
        run(cmake, "--install", build_dir, "--prefix", prefix)
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                               "build-number")
        # Ninja must learn from the step itself that the header is made there.
        for generator in ["Unix Makefiles"] + (["Ninja"] if shutil.which("ninja") else []):
            with self.subTest(generator=generator):
                build = self.path(generator)
                run(cmake, "-G", generator, "-S", example, "-B", build,
                    f"-DCMAKE_PREFIX_PATH={prefix}")
                for number in (1, 2, 3):
                    run(cmake, "--build", build)
                    self.assertEqual(b"hello, build %d\n" % number,
                                     run(os.path.join(build, "hello")))
                self.assertEqual(header(3, "HELLO_BUILD", "hello_build.h"),
                                 self.read(f"{generator}/hello_build.h"))
