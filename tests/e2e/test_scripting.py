"""--help, --version, /e's environment file, the batch file in cmd.exe, completion, manuals."""

import os
import re
import shutil
import subprocess

import wine
from harness import (BANNER, CANNOT_OPEN, USAGE, ToolTestCase, batch, build_line, file_error,
                     header, launcher, on_windows, patience, separator, shown)
from test_command_line import rows as command_lines

HELP = USAGE + shown(b"/e[:envfile[.env]] - create .env file (NAME=N, for sh, make and CI)\r\n"
                     b"--help - print this text\r\n"
                     b"--version - print the version banner\r\n")
ENV_READ_ONLY = shown(b"Error! Cannot update env file because it is read only.\r\n"
                      b"Probably, it is protected by SourceSafe.\r\nUse /c flag to check out file.")


def env(number, name="BUILD_NUMBER"):
    return b"%s=%d\n" % (name.encode(), number)


class HelpAndVersion(ToolTestCase):
    def test_help_and_version_print_and_end_with_zero_writing_nothing(self):
        for args, code, out in [
                (["--help"], 0, HELP),
                (["--HELP", "/i"], 0, HELP),  # the first such switch ends the parsing
                (["-Help"], 0, HELP),
                (["-/help"], 0, HELP),
                (["//HELP"], 0, HELP),
                (["/nologo/help"], 0, HELP),
                (["--version"], 0, BANNER),
                (["/nologo", "-VERSION", "--help"], 0, BANNER),  # the banner even under /nologo
                (["-x", "--version"], 0, shown(b"Bad command line! Unknown key: x\r\n") + BANNER),
                (["--helpme"], 1, shown(b"Bad command line! Unknown key: helpme\r\n"))]:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((code, out), (result.code, result.out), result.err)
                self.assertEqual([], self.listing())


class EnvFile(ToolTestCase):
    def test_names_and_text(self):
        sep = separator()
        header_file = f"inc{sep}ver.h"
        # args, the header and the environment file written, the macro and the number
        for args, written, env_file, macro, number in [
                (["/e"], "Tickwright.h", "Tickwright.env", "BUILD_NUMBER", 1),
                (["-E:"], "Tickwright.h", "Tickwright.env", "BUILD_NUMBER", 1),
                (["/e:ci", "", "APP_BUILD"], "Tickwright.h", "ci.env", "APP_BUILD", 1),
                (["/e:out.txt", "/n"], "Tickwright.h", "out.env", "BUILD_NUMBER", 0),
                # Never the header or the batch file (written too); the later /e decides.
                (["/e:Tickwright.h", "/b:Tickwright.env"], "Tickwright.h", "Tickwright.env",
                 "BUILD_NUMBER", 1),
                (["/e:x", "/e"], "Tickwright.h", "Tickwright.env", "BUILD_NUMBER", 1),
                ([header_file, "/e"], header_file, f"inc{sep}ver.env", "BUILD_NUMBER", 1),
                ([f"/e:inc{sep}.env"], "Tickwright.h", f"inc{sep}.env", "BUILD_NUMBER", 1)]:
            with self.subTest(args=args):
                self.setUp()
                os.makedirs(self.path("inc"))
                result = self.run_tool("/nologo", *args)
                self.assertEqual((0, build_line(number)), (result.code, result.out), result.err)
                self.assertEqual((header(number, macro, written.split(sep)[-1]), env(number, macro)),
                                 (self.read(written), self.read(env_file)))
                if "/b:Tickwright.env" in args:
                    self.assertEqual(batch(number), self.read("Tickwright.bat"))

    def test_sh_sources_it_and_make_includes_it(self):
        if on_windows():
            self.skipTest("sh and make of Linux")
        self.write("Tickwright.h", header(65540, "APP_BUILD"))
        self.assertEqual(0, self.run_tool("/nologo", "", "APP_BUILD", "/e").code)
        self.write("Makefile", b"include Tickwright.env\nshow:\n\t@echo [$(APP_BUILD)]\n")
        for command in (["sh", "-c", '. ./Tickwright.env && echo "[$APP_BUILD]"'],
                        # set -a exports what the file sets, to every child
                        ["sh", "-c", "set -a && . ./Tickwright.env && sh -c 'echo [$APP_BUILD]'"],
                        ["make", "-s", "show"]):
            with self.subTest(command=command[0]):
                if not shutil.which(command[0]):
                    self.skipTest(f"no {command[0]}")
                done = subprocess.run(command, cwd=self.folder, capture_output=True,
                                      env={k: v for k, v in os.environ.items() if k != "APP_BUILD"})
                self.assertEqual((0, b"[65541]\n"), (done.returncode, done.stdout), done.stderr)

    def test_what_stands_in_its_place_is_refused_before_the_header_moves(self):
        if on_windows():
            self.skipTest("modes, links and folders of Linux")

        # (what stands there, extra arguments, the report)
        for plant, args, report in [
                ("read-only", [], ENV_READ_ONLY),
                ("read-only", ["/n"], ENV_READ_ONLY),  # /n lets no read-only side file through
                ("link to the header", [], file_error(CANNOT_OPEN, "Tickwright.env", 32)),
                ("folder", [], file_error(CANNOT_OPEN, "Tickwright.env", 5))]:
            with self.subTest(plant=plant, args=args):
                self.setUp()
                self.write("Tickwright.h", header(41))
                if plant == "read-only":
                    self.write("Tickwright.env", env(9))
                    self.make_read_only("Tickwright.env")
                elif plant == "folder":
                    os.mkdir(self.path("Tickwright.env"))
                else:
                    os.symlink("Tickwright.h", self.path("Tickwright.env"))
                before = self.listing()
                result = self.run_tool("/nologo", "/e", *args)
                self.assertEqual((5, build_line(41 if args else 42)), (result.code, result.out))
                self.assertReported(result, report)
                self.assertEqual((before, header(41)), (self.listing(), self.read("Tickwright.h")))
                if plant == "read-only":
                    self.assertEqual(env(9), self.read("Tickwright.env"))


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


PACKAGING = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging")
COMPLETION = os.path.join(PACKAGING, "tickwright.bash")

# Completes each line of standard input as bash would at its end: what it offers, options set.
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
        for name in ["ver.h", "my file.h", "notes.txt", "out.bat", "ci.env", "inc/a.h"]:
            self.write(name, b"")
        # The line typed so far, the options set, what is offered (in any order).
        rows = [
            ("tickwright ", "-o filenames", ["inc", "my file.h", "ver.h"]),
            ("Tickwright v", "-o filenames", ["ver.h"]),
            ("tickwright inc/", "-o filenames", ["inc/a.h"]),
            ("tickwright " + self.folder + "/i", "-o filenames", [self.folder + "/inc"]),
            ("tickwright -", "", ["-nologo", "-i", "-c", "-n", "-b", "-b:", "-e", "-e:", "-?",
                                  "--help", "--version"]),
            ("tickwright --V", "", []),  # the tool's words are in lower case
            ("tickwright --v", "", ["--version"]),
            ("tickwright /nol", "", ["/nologo"]),
            ("tickwright -b", "", ["-b", "-b:"]),
            ("tickwright ver.h -b:", "-o filenames", ["inc", "out.bat"]),  # after the colon
            ("tickwright /B:o", "-o filenames", ["out.bat"]),
            ("tickwright /nologo -E:", "-o filenames", ["ci.env", "inc"]),
            # A switch, or a path at the root.
            ("tickwright /e", "", ["/e", "/e:"] + [
                f"/{n}/" if os.path.isdir("/" + n) else f"/{n}" for n in os.listdir("/")
                if n.startswith("e") and (os.path.isdir("/" + n) or n.endswith(".h"))]),
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


# What tickwright(1) states, as it reads rendered, and the arguments of the row of the
# command-line table that shows it holds on both systems...
PAGE_STATES_IN_TABLE = [
    ("in any letter case (/NOLOGO", ["/NOLOGO"]),
    ("Several may be joined (/nologo/i)", ["/nologo/c/n"]),
    ("(- nologo is /nologo)", ["-", "nologo"]),
    ("with or without blanks around it", ["/nologo", "/b", ":", "out.bat"]),
    ("it keeps any - or / it holds", ["/nologo", "/b:my-file.bat"]),
    ("so /usr/include/ver.h is a file", ["/nologo", "/nologo/x.h"]),
    ("and /nolgo an unknown switch", ["/nolgo", "x.h", "defined"]),
    ("my-file.h is one name", ["/nologo", "my-file.h"]),
    ("A file name may hold no control character", ["a\x01b.h"]),
    ("and no argument a double quote", ['a"b', "/nologo", '"']),
    ("The macro name must be a C identifier", ["x.h", "9LIVES"]),
    ("no word of the preprocessor (defined)", ["/nolgo", "x.h", "defined"]),
    ("ver.txt names ver.h", ["/nologo", "ver.txt", "MY_BUILD"]),
    ("/n Leave the number unchanged, but rewrite the header", ["/nologo/c/n"]),
    ('"@SET NAME=N" ended by CR LF. The default name is the header\'s with .bat',
     ["/nologo", "/b"]),
    ("a name given has its extension made .bat", ["/nologo", "/b:out.cmd"]),
    ("A writable target never contacts SourceSafe", ["/nologo/c/n"]),
    ("/?, ? Print the usage text and exit", ["?"]),
    ("each bad one is reported and the run ends with 1 before anything is written",
     ["-x", "-bx", "-no", "/nologo"]),
]
# ... or that another test runs: HelpAndVersion, EnvFile, test_header's FirstLine, ReadOnly.
PAGE_STATES_ELSEWHERE = [
    "--help are switches too",
    "or is empty, counts as 0, so the first run creates it with build 1",
    '"NAME=N" ended by a line feed. The default name is the header\'s with .env',
    "a name given has its extension made .env",
    "Without /c, a read-only target is refused with a hint to use it",
    "--version Print the banner with the version and exit",
    "5 Any other failure (a header that cannot be parsed",
]

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

    def test_what_the_page_of_the_tool_states_holds(self):
        if not shutil.which("man"):
            self.skipTest("man-db renders manual pages")
        shown = subprocess.run(["man", "-l", os.path.join(PACKAGING, "tickwright.1")],
                               capture_output=True, env=dict(os.environ, MANWIDTH="1000"))
        page = " ".join(shown.stdout.decode().replace("\u2010", "-").replace("\u2212", "-").split())
        table = [args for args, *_ in command_lines()]
        for states, args in PAGE_STATES_IN_TABLE:
            with self.subTest(states):
                self.assertTrue(states in page, "tickwright(1) no longer states it")
                self.assertIn(args, table)
        for states in PAGE_STATES_ELSEWHERE:
            self.assertTrue(states in page, f"tickwright(1) no longer states {states!r}")
