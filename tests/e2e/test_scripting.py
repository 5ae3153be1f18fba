"""What scripts and shells use: --help, --version and the bash completion."""

import os
import re
import shutil
import subprocess

from harness import BANNER, USAGE, ToolTestCase, on_windows

HELP = USAGE + (b"--help - print this text\r\n"
                b"--version - print the version banner\r\n")


class HelpAndVersion(ToolTestCase):
    def test_help_and_version_print_and_end_with_zero_writing_nothing(self):
        for args, code, out in [
                (["--help"], 0, HELP),
                (["--HELP", "/i"], 0, HELP),  # the first such switch ends the parsing
                (["-Help"], 0, HELP),
                (["-/help"], 0, HELP),
                (["/nologo/help"], 0, HELP),
                (["--version"], 0, BANNER),
                (["/nologo", "-VERSION", "--help"], 0, BANNER),  # the banner even under /nologo
                (["-x", "--version"], 0, b"Bad command line! Unknown key: x\r\n" + BANNER),
                (["--helpme"], 1, b"Bad command line! Unknown key: helpme\r\n")]:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((code, out), (result.code, result.out), result.err)
                self.assertEqual([], self.listing())


PACKAGING = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging")
COMPLETION = os.path.join(PACKAGING, "tickwright.bash")

# Completes each line of standard input as bash would at its end: what the
# completion offers, and the options it sets.
_COMPLETE = r"""
compopt() { options+=" $*"; }
source "$1" || exit 1
complete -p tickwright Tickwright || exit 1
while IFS= read -r COMP_LINE; do
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$COMP_LINE"
  COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
  COMPREPLY=() options=""
  _tickwright
  printf '%s|' "${options# }" "${COMPREPLY[@]}"; echo
done
"""


class BashCompletion(ToolTestCase):
    def test_switches_headers_and_values(self):
        if on_windows() or not shutil.which("bash"):
            self.skipTest("bash on Linux only")
        for name in ["ver.h", "my file.h", "notes.txt", "out.bat", "inc/a.h"]:
            self.write(name, b"")
        # The line typed so far, the options set, what is offered (in any order).
        rows = [
            ("tickwright ", "-o filenames", ["inc", "my file.h", "ver.h"]),
            ("Tickwright v", "-o filenames", ["ver.h"]),
            ("tickwright inc/", "-o filenames", ["inc/a.h"]),
            ("tickwright " + self.folder + "/i", "-o filenames", [self.folder + "/inc"]),
            ("tickwright -", "", ["-nologo", "-i", "-c", "-n", "-b", "-b:", "-?", "--help",
                                  "--version"]),
            ("tickwright --V", "", []),  # the tool's words are in lower case
            ("tickwright --v", "", ["--version"]),
            ("tickwright /nol", "", ["/nologo"]),
            ("tickwright -b", "", ["-b", "-b:"]),
            ("tickwright ver.h -b:", "-o filenames", ["inc", "out.bat"]),  # after the colon
            ("tickwright /B:o", "-o filenames", ["out.bat"]),
        ]
        done = subprocess.run(["bash", "--norc", "--noprofile", "-c", _COMPLETE, "bash",
                               COMPLETION], input="".join(r[0] + "\n" for r in rows).encode(),
                              capture_output=True, cwd=self.folder, timeout=60)
        self.assertEqual(0, done.returncode, done.stderr)
        lines = done.stdout.decode().splitlines()
        self.assertEqual(["complete -F _tickwright tickwright",
                          "complete -F _tickwright Tickwright"], lines[:2])
        for (line, options, offered), shown in zip(rows, lines[2:], strict=True):
            with self.subTest(line=line):
                got = shown.split("|")[:-1]
                self.assertEqual((options, sorted(offered)), (got[0], sorted(got[1:])))


class ManualPages(ToolTestCase):
    def test_render_without_warnings_and_document_every_switch_of_help(self):
        if not shutil.which("groff") or not shutil.which("man"):
            self.skipTest("groff and man-db render manual pages")
        for page in ("tickwright.1", "tw-ssadmin.1"):
            with self.subTest(page):
                path = os.path.join(PACKAGING, page)
                checked = subprocess.run(["groff", "-ww", "-man", "-z", path], capture_output=True)
                self.assertEqual((0, b""), (checked.returncode, checked.stderr))
                shown = subprocess.run(["man", "--warnings", "-l", path], capture_output=True,
                                       env=dict(os.environ, MANWIDTH="80"))
                self.assertEqual((0, b""), (shown.returncode, shown.stderr))
                if page == "tickwright.1":
                    switches = re.findall(rb"^(/\w+|--\w+)", HELP, re.MULTILINE)
                    self.assertGreater(len(switches), 6)
                    missing = [s for s in switches if not re.search(
                        rb"^ {7}" + re.escape(s) + rb"\b", shown.stdout, re.MULTILINE)]
                    self.assertEqual([], missing)
