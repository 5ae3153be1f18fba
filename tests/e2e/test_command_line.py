"""The command line: one table of command lines, the same result from the Linux and the Windows
build but for the few rows that differ on purpose (README.md lists them)."""

import os

from harness import (BANNER, USAGE, ToolTestCase, batch, build_line, header, on_windows,
                     separator, shown)

def bad(*messages):
    return shown(b"".join(b"Bad command line! " + m + b"\r\n" for m in messages))


def quote(argument):
    return b"An argument cannot hold a double quote: " + argument


def rows():
    """(arguments, the result[, Linux's where it differs]); a result is the exit code, what the
    tool prints and the files it writes. Before each row Tickwright.h holds build 5 and the
    folder inc is there."""
    sep = separator()
    bumped, kept = {"Tickwright.h": header(6)}, {"Tickwright.h": header(5)}
    with_bat = {**bumped, "Tickwright.bat": batch(6)}

    def made(name, number=1, macro="BUILD_NUMBER", own_name=None):
        return {name: header(number, macro, own_name or name.split(sep)[-1])}

    return [
        # Switches: "/" or "-", any letter case, joined; a value of a switch but /b is ignored.
        ([], (0, BANNER + build_line(6), bumped)),
        (["/NOLOGO"], (0, build_line(6), bumped)),
        (["-nologo"], (0, build_line(6), bumped)),
        (["/nologo/c/n"], (0, build_line(5), kept)),
        (["//NOLOGO"], (0, build_line(6), bumped)),
        (["-n:yes"], (0, BANNER + build_line(5), kept)),
        # The header, the macro and the batch file.
        (["/nologo", "ver.txt", "MY_BUILD"], (0, build_line(1), made("ver.h", macro="MY_BUILD"))),
        (["/nologo", "ver"], (0, build_line(1), made("ver.h"))),
        (["/nologo", "a.b.c"], (0, build_line(1), made("a.b.h"))),
        (["/nologo", f"inc{sep}ver.txt"], (0, build_line(1), made(f"inc{sep}ver.h"))),
        (["/nologo", "/b"], (0, build_line(6), with_bat)),
        (["/nologo", "/b:"], (0, build_line(6), with_bat)),
        (["/nologo", "/b:out.cmd"], (0, build_line(6), {**bumped, "out.bat": batch(6)})),
        # Never the header itself; the later /b decides; without a colon no value.
        (["/nologo", "/b:Tickwright.h"], (0, build_line(6), with_bat)),
        (["/nologo", "/b:x.bat", "/b"], (0, build_line(6), with_bat)),
        (["/nologo", "/b", "out.bat"], (0, build_line(1), {**made("out.h"), "out.bat": batch(1)})),
        (["/nologo", "-B:vars", "", "_x9"],
         (0, build_line(6), {"Tickwright.h": header(6, "_x9"), "vars.bat": batch(6, "_x9")})),
        (["/nologo", f"/b:inc{sep}vars.txt"],
         (0, build_line(6), {**bumped, f"inc{sep}vars.bat": batch(6)})),
        # Across words: a prefix takes its name from the next word, a colon or an empty value
        # its value; a prefix at the end names nothing.
        (["-", "nologo"], (0, build_line(6), bumped)),
        (["/nologo", "-", "foo"], (1, bad(b"Unknown key: foo"), {})),
        (["/nologo", "x.h", "-", "y.h"], (1, bad(b"Unknown key: y.h"), {})),
        (["/nologo/", "b:vars"], (0, build_line(6), {**bumped, "vars.bat": batch(6)})),
        (["/nologo", "/b", ":", "out.bat"], (0, build_line(6), {**bumped, "out.bat": batch(6)})),
        (["/nologo", "/b:", "out.bat"], (0, build_line(6), {**bumped, "out.bat": batch(6)})),
        (["/nologo", "/b:", "-n"], (0, build_line(5), {**kept, "Tickwright.bat": batch(5)})),
        (["/nologo", "x.h", "-"], (0, build_line(1), made("x.h"))),
        (["/nologo", "x.h", ":", "Y"],
         (1, bad(b"Invalid build name: :", b"Unexpected argument: Y"), {})),
        # "?" anywhere prints the usage text, after the bad items before it, and ends the run.
        (["?"], (0, USAGE, {})),
        (["-?"], (0, USAGE, {})),
        (["/nologo/?"], (0, USAGE, {})),
        (["a.h", "B", "?"], (0, USAGE, {})),  # in the place of a surplus argument
        (["-x", "?", "-y"], (0, bad(b"Unknown key: x") + USAGE, {})),
        (["a.h", "9B", "?"], (0, bad(b"Invalid build name: 9B") + USAGE, {})),
        # Every bad item is reported, and nothing is written.
        (["-x", "-bx", "-no", "/nologo"],
         (1, bad(b"Unknown key: x", b"Unknown key: bx", b"Unknown key: no"), {})),
        (["a.h", "B", "c", "-q", "d"],
         (1, bad(b"Unexpected argument: c", b"Unknown key: q", b"Unexpected argument: d"), {})),
        (["x.h", "9LIVES"], (1, bad(b"Invalid build name: 9LIVES"), {})),
        (["x.h", "MY BUILD"], (1, bad(b"Invalid build name: MY BUILD"), {})),
        (["a\x01b.h"], (1, bad(b"Invalid file name: a\x01b.h"), {})),
        (["/b:x\x02y"], (1, bad(b"Invalid file name: x\x02y"), {})),
        (["a\x7fb", "9X"], (1, bad(b"Invalid file name: a\x7fb", b"Invalid build name: 9X"), {})),
        # A mistyped switch, never a file at the root; a word of the preprocessor.
        (["/nolgo", "x.h", "defined"],
         (1, bad(b"Unknown key: nolgo", b"Invalid build name: defined"), {})),
        # Differ on purpose: on Linux a hyphen or a "/" inside a name, or a value, is part of
        # it; a word that starts with "/" and names no switches is a path (here in no folder);
        # an argument cannot hold a double quote (Windows reads the line as typed; not run
        # there).
        (["/nologo", "my-file.h"], (1, bad(b"Unknown key: file.h"), {}),
         (0, build_line(1), made("my-file.h"))),
        (["/nologo", "/b:my-file.bat"], (1, bad(b"Unknown key: file.bat"), {}),
         (0, build_line(6), {**bumped, "my-file.bat": batch(6)})),
        (["/nologo", "/nologo/x.h"], (1, bad(b"Unknown key: x.h"), {}), (5, build_line(1), {})),
        (["/nologo", "inc/ver.h"], (1, bad(b"Unknown key: ver.h"), {}),
         (0, build_line(1), made("inc/ver.h", own_name="ver.h"))),
        (['a"b', "/nologo", '"'], None, (1, bad(quote(b'a"b'), quote(b'"')), {})),
        (["-x", 'a"b', "?", 'c"d'], None, (0, bad(b"Unknown key: x", quote(b'a"b')) + USAGE, {})),
    ]


class CommandLines(ToolTestCase):
    def test_each_command_line_gives_its_result(self):
        for args, result, *linux in rows():
            with self.subTest(args=args):
                expected = result if on_windows() or not linux else linux[0]
                if expected is None:
                    self.skipTest("a row of Linux only")
                self.setUp()
                self.write("Tickwright.h", header(5))
                os.makedirs(self.path("inc"))
                code, out, files = expected
                done = self.run_tool(*args)
                self.assertEqual((code, out), (done.code, done.out), done.err)
                files = {"Tickwright.h": header(5), **files}
                top = {name.replace("\\", "/").split("/")[0] for name in files}
                self.assertEqual(sorted(top | {"inc"}), self.listing())
                self.assertEqual(files, {name: self.read(name) for name in files})
