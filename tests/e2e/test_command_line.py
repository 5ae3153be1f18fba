"""The command line: defaults, switches, the usage text, bad items and the
names that would break the generated files.

Unknown switches are written with "-": on Linux an element that begins with
"/" and is no switch of the tool is a path (/x would name a header in the
root folder)."""

import os

from harness import (BANNER, USAGE, ToolTestCase, batch, build_line, header, on_windows,
                     separator)


class Defaults(ToolTestCase):
    def test_counts_from_one_then_two_with_the_banner_after_the_command_line(self):
        for number in (1, 2):
            result = self.run_tool()
            self.assertEqual((0, BANNER + build_line(number)), (result.code, result.out), result.err)
            self.assertEqual(header(number), self.read("Tickwright.h"))

    def test_switch_spellings(self):
        cases = [
            (["/nologo"], b""),
            (["/NOLOGO"], b""),
            (["-nologo"], b""),
            (["/nologo/i/c"], b""),  # three switches; /i asks nothing of an absent header
            (["-I", "/c"], BANNER),
            (["-i:yes"], BANNER),  # a value after a switch other than /b is ignored
        ]
        for args, banner in cases:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((0, banner + build_line(1)), (result.code, result.out))
                self.assertEqual(["Tickwright.h"], self.listing())

    def test_names_of_header_and_macro(self):
        sep = separator()
        cases = [
            # args, header written, its #include name, macro
            (["ver.txt", "MY_BUILD"], "ver.h", "ver.h", "MY_BUILD"),
            (["ver"], "ver.h", "ver.h", "BUILD_NUMBER"),
            (["ver."], "ver.h", "ver.h", "BUILD_NUMBER"),
            (["a.b.c"], "a.b.h", "a.b.h", "BUILD_NUMBER"),
            (["", "_x9"], "Tickwright.h", "Tickwright.h", "_x9"),
            ([f"inc{sep}ver.txt"], f"inc{sep}ver.h", "ver.h", "BUILD_NUMBER"),
        ]
        for args, written, own_name, macro in cases:
            with self.subTest(args=args):
                self.setUp()
                os.makedirs(self.path("inc"))
                result = self.run_tool("/nologo", *args)
                self.assertEqual((0, build_line(1)), (result.code, result.out), result.err)
                self.assertEqual(header(1, macro, own_name), self.read(written))

    def test_a_forward_slash_in_a_windows_name_is_no_separator(self):
        if not on_windows():
            self.skipTest("on Linux the forward slash is the separator")
        # The blank makes the launcher quote the name; unquoted, "/" would
        # start a switch.
        self.write("my inc/ver.h", header(6))
        result = self.run_tool("/nologo", "my inc/ver.txt")
        self.assertEqual((0, build_line(7)), (result.code, result.out))
        self.assertEqual(header(7, file_name="my inc/ver.h"), self.read("my inc/ver.h"))


class BatchSwitch(ToolTestCase):
    def test_batch_file_names(self):
        sep = separator()
        cases = [
            # args, the batch file written, macro
            (["/b"], "Tickwright.bat", "BUILD_NUMBER"),
            (["/b:"], "Tickwright.bat", "BUILD_NUMBER"),
            (["/b:out.cmd"], "out.bat", "BUILD_NUMBER"),
            (["/b:Tickwright.h"], "Tickwright.bat", "BUILD_NUMBER"),  # never the header itself
            (["/b:x.bat", "/b"], "Tickwright.bat", "BUILD_NUMBER"),  # the later /b decides
            (["-B:vars", "", "V"], "vars.bat", "V"),
            ([f"/b:out{sep}vars.txt"], f"out{sep}vars.bat", "BUILD_NUMBER"),
        ]
        for args, written, macro in cases:
            with self.subTest(args=args):
                self.setUp()
                os.makedirs(self.path("out"))
                result = self.run_tool("/nologo", *args)
                self.assertEqual((0, build_line(1)), (result.code, result.out), result.err)
                self.assertEqual(sorted({"Tickwright.h", "out", written.split(sep)[0]}),
                                 self.listing())
                self.assertEqual(header(1, macro), self.read("Tickwright.h"))
                self.assertEqual(batch(1, macro), self.read(written))

    def test_batch_without_colon_takes_the_next_word_as_the_header(self):
        result = self.run_tool("/nologo", "/b", "out.bat")
        self.assertEqual((0, build_line(1)), (result.code, result.out))
        self.assertEqual(["out.bat", "out.h"], self.listing())
        self.assertEqual(header(1, file_name="out.h"), self.read("out.h"))
        self.assertEqual(batch(1), self.read("out.bat"))

    def test_blanks_around_the_colon(self):
        result = self.run_tool("/nologo", "/b", ":", "out.bat")
        if on_windows():
            # One command line: "/b : out.bat" is /b with the value out.bat.
            self.assertEqual((0, build_line(1)), (result.code, result.out))
            self.assertEqual(batch(1), self.read("out.bat"))
        else:
            # Three arguments: ":" names the header and out.bat the macro.
            self.assertEqual((1, b"Bad command line! Invalid build name: out.bat\r\n"),
                             (result.code, result.out))
            self.assertEqual([], self.listing())

    def test_hyphen_in_the_batch_name(self):
        result = self.run_tool("/nologo", "/b:my-file.bat")
        if on_windows():
            # The hyphen ends the value and starts a switch.
            self.assertEqual((1, b"Bad command line! Unknown key: file.bat\r\n"),
                             (result.code, result.out))
            self.assertEqual([], self.listing())
        else:
            # Linux hands the value over whole.
            self.assertEqual((0, build_line(1)), (result.code, result.out))
            self.assertEqual(batch(1), self.read("my-file.bat"))

    def test_no_increment_writes_the_unchanged_number(self):
        self.write("Tickwright.h", header(41))
        result = self.run_tool("/nologo", "/n", "/b")
        self.assertEqual((0, build_line(41)), (result.code, result.out))
        self.assertEqual(header(41), self.read("Tickwright.h"))
        self.assertEqual(batch(41), self.read("Tickwright.bat"))


class UsageAndBadItems(ToolTestCase):
    def test_question_mark_prints_the_usage_and_nothing_else_happens(self):
        cases = [
            (["?"], b""),
            (["/?"], b""),
            (["-?"], b""),
            (["/b", "/nologo", "?"], b""),
            (["/nologo/?"], b""),
            (["a.h", "B", "?"], b""),  # in the place of a surplus argument
            (["-x", "?", "-y"], b"Bad command line! Unknown key: x\r\n"),
            (["a.h", "B", "extra", "?"], b"Bad command line! Unexpected argument: extra\r\n"),
            (["a.h", "9B", "?"], b"Bad command line! Invalid build name: 9B\r\n"),
        ]
        for args, before in cases:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((0, before + USAGE), (result.code, result.out))
                self.assertEqual([], self.listing())

    def test_bad_items_are_each_reported_and_nothing_is_written(self):
        cases = [
            (["-x", "-yy"], [b"Unknown key: x", b"Unknown key: yy"]),
            (["-no", "-bx", "/nologo"], [b"Unknown key: no", b"Unknown key: bx"]),
            (["a.h", "B", "extra", "-q"], [b"Unexpected argument: extra", b"Unknown key: q"]),
            (["a.h", "B", "c", "d"], [b"Unexpected argument: c", b"Unexpected argument: d"]),
        ]
        for args, messages in cases:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                expected = b"".join(b"Bad command line! " + m + b"\r\n" for m in messages)
                self.assertEqual((1, expected), (result.code, result.out))
                self.assertEqual([], self.listing())

    def test_names_that_would_break_the_generated_files_are_refused(self):
        cases = [
            (["x.h", "9LIVES"], b"Invalid build name: 9LIVES"),
            (["x.h", "BUILD.N"], b"Invalid build name: BUILD.N"),
            (["x.h", "MY BUILD"], b"Invalid build name: MY BUILD"),
            (["a\x01b.h"], b"Invalid file name: a\x01b.h"),
            (["a\tb.h"], b"Invalid file name: a\tb.h"),
            (["/b:x\x02y"], b"Invalid file name: x\x02y"),
            (["a\x7fb", "9X"], b"Invalid file name: a\x7fb\r\nBad command line! "
                               b"Invalid build name: 9X"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", header(5))
                result = self.run_tool(*args)
                self.assertEqual((1, b"Bad command line! " + message + b"\r\n"),
                                 (result.code, result.out))
                self.assertEqual(["Tickwright.h"], self.listing())
                self.assertEqual(header(5), self.read("Tickwright.h"))
