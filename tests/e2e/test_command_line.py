"""The command line: switches, usage, bad items."""

import os

from harness import (BANNER, USAGE, ToolTestCase, batch, build_line, header, on_windows,
                     separator, shown)


class Defaults(ToolTestCase):
    def test_counts_from_one_then_two_with_the_banner_after_the_command_line(self):
        for number in (1, 2):
            result = self.run_tool()
            self.assertEqual((0, BANNER + build_line(number)), (result.code, result.out),
                             result.err)
            self.assertEqual(header(number), self.read("Tickwright.h"))

    def test_switch_spellings(self):
        for args, banner in [(["/NOLOGO"], b""),
                             (["-nologo"], b""),
                             (["/nologo/i/c"], b""),  # three switches; /i asks nothing here
                             (["//NOLOGO"], b""),  # an empty name between prefixes is skipped
                             (["-i:yes"], BANNER)]:  # a value of a switch other than /b: ignored
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((0, banner + build_line(1)), (result.code, result.out))
                self.assertEqual(["Tickwright.h"], self.listing())

    def test_names_of_header_batch_file_and_macro(self):
        sep = separator()
        # args, header written, its #include name, batch file written (None: none), macro
        for args, written, own_name, bat, macro in [
                (["ver.txt", "MY_BUILD"], "ver.h", "ver.h", None, "MY_BUILD"),
                (["ver"], "ver.h", "ver.h", None, "BUILD_NUMBER"),
                (["a.b.c"], "a.b.h", "a.b.h", None, "BUILD_NUMBER"),
                ([f"inc{sep}ver.txt"], f"inc{sep}ver.h", "ver.h", None, "BUILD_NUMBER"),
                (["/b"], "Tickwright.h", "Tickwright.h", "Tickwright.bat", "BUILD_NUMBER"),
                (["/b:"], "Tickwright.h", "Tickwright.h", "Tickwright.bat", "BUILD_NUMBER"),
                (["/b:out.cmd"], "Tickwright.h", "Tickwright.h", "out.bat", "BUILD_NUMBER"),
                # Never the header itself; the later /b decides; without a colon no value.
                (["/b:Tickwright.h"], "Tickwright.h", "Tickwright.h", "Tickwright.bat",
                 "BUILD_NUMBER"),
                (["/b:x.bat", "/b"], "Tickwright.h", "Tickwright.h", "Tickwright.bat",
                 "BUILD_NUMBER"),
                (["/b", "out.bat"], "out.h", "out.h", "out.bat", "BUILD_NUMBER"),
                (["-B:vars", "", "_x9"], "Tickwright.h", "Tickwright.h", "vars.bat", "_x9"),
                ([f"/b:inc{sep}vars.txt"], "Tickwright.h", "Tickwright.h", f"inc{sep}vars.bat",
                 "BUILD_NUMBER")]:
            with self.subTest(args=args):
                self.setUp()
                os.makedirs(self.path("inc"))
                result = self.run_tool("/nologo", *args)
                self.assertEqual((0, build_line(1)), (result.code, result.out), result.err)
                made = {written.split(sep)[0], "inc"} | ({bat.split(sep)[0]} if bat else set())
                self.assertEqual(sorted(made), self.listing())
                self.assertEqual(header(1, macro, own_name), self.read(written))
                if bat:
                    self.assertEqual(batch(1, macro), self.read(bat))

    def test_what_windows_and_linux_split_differently(self):
        # Windows parses one line: a quoted "/" is no separator, "-" ends a value, ":" is apart.
        win = on_windows()
        self.write("my inc/ver.h", header(6))
        result = self.run_tool("/nologo", "my inc/ver.txt")
        self.assertEqual((0, build_line(7)), (result.code, result.out))
        self.assertEqual(header(7, file_name="my inc/ver.h" if win else "ver.h"),
                         self.read("my inc/ver.h"))
        result = self.run_tool("/nologo", "/b:my-file.bat")
        self.assertEqual((1, shown(b"Bad command line! Unknown key: file.bat\r\n")) if win
                         else (0, build_line(1)), (result.code, result.out))
        result = self.run_tool("/nologo", "/b", ":", "out.bat")
        self.assertEqual((0, build_line(1)) if win
                         else (1, shown(b"Bad command line! Invalid build name: out.bat\r\n")),
                         (result.code, result.out))
        batch_file = "out.bat" if win else "my-file.bat"
        self.assertEqual(sorted(["Tickwright.h", "my inc", batch_file]), self.listing())
        self.assertEqual(batch(1), self.read(batch_file))


class UsageAndBadItems(ToolTestCase):
    def test_question_mark_anywhere_prints_the_usage_and_nothing_else_happens(self):
        for args, before in [
                (["?"], b""),
                (["-?"], b""),
                (["/nologo/?"], b""),
                (["a.h", "B", "?"], b""),  # in the place of a surplus argument
                (["-x", "?", "-y"], shown(b"Bad command line! Unknown key: x\r\n")),
                (["a.h", "9B", "?"], shown(b"Bad command line! Invalid build name: 9B\r\n"))]:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((0, before + USAGE), (result.code, result.out))
                self.assertEqual([], self.listing())

    def test_bad_items_are_each_reported_and_nothing_is_written(self):
        for args, messages in [
                (["-x", "-bx", "-no", "/nologo"],
                 [b"Unknown key: x", b"Unknown key: bx", b"Unknown key: no"]),
                (["a.h", "B", "c", "-q", "d"],
                 [b"Unexpected argument: c", b"Unknown key: q", b"Unexpected argument: d"]),
                (["x.h", "9LIVES"], [b"Invalid build name: 9LIVES"]),
                (["x.h", "MY BUILD"], [b"Invalid build name: MY BUILD"]),
                (["a\x01b.h"], [b"Invalid file name: a\x01b.h"]),
                (["/b:x\x02y"], [b"Invalid file name: x\x02y"]),
                (["a\x7fb", "9X"], [b"Invalid file name: a\x7fb", b"Invalid build name: 9X"]),
                # A mistyped switch, never a file at the root; a word of the preprocessor.
                (["/nolgo", "x.h", "defined"],
                 [b"Unknown key: nolgo", b"Invalid build name: defined"])]:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", header(5))
                result = self.run_tool(*args)
                expected = shown(b"".join(b"Bad command line! " + m + b"\r\n" for m in messages))
                self.assertEqual((1, expected), (result.code, result.out))
                self.assertEqual((["Tickwright.h"], header(5)),
                                 (self.listing(), self.read("Tickwright.h")))

    def test_an_argument_with_a_double_quote_is_refused(self):
        if on_windows():
            self.skipTest("Windows reads the command line as typed")
        # No Windows command line can carry it: it would swallow the arguments after it.
        result = self.run_tool('a"b', "/nologo", '"')
        self.assertEqual((1, b'Bad command line! An argument cannot hold a double quote: a"b\n'
                          b'Bad command line! An argument cannot hold a double quote: "\n'),
                         (result.code, result.out))
        self.assertEqual([], self.listing())
