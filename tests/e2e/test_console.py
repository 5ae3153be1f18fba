"""The console dialogue with standard output on a console (a terminal) and
keys from redirected standard input: the /i question and the error report
with its "Hit any key" prompt. And where both go when standard output is no
console."""

import os

from harness import (ANY_KEY_PROMPT, HEADER_READ_ONLY, TITLE, TITLE_ESCAPE, YES_NO_PROMPT,
                     ToolTestCase, batch, build_line, header, on_windows, question)


class Question(ToolTestCase):
    def setUp(self):
        super().setUp()
        self.write("Tickwright.h", header(41))
        self.write("Tickwright.bat", b"@SET OLD=1\r\n")
        os.utime(self.path("Tickwright.h"), (1_000_000_000, 1_000_000_000))
        os.utime(self.path("Tickwright.bat"), (1_000_000_000, 1_000_000_000))

    def assertUntouched(self):
        self.assertEqual(header(41), self.read("Tickwright.h"))
        self.assertEqual(b"@SET OLD=1\r\n", self.read("Tickwright.bat"))
        for name in ("Tickwright.h", "Tickwright.bat"):
            self.assertEqual(1_000_000_000, os.stat(self.path(name)).st_mtime)

    def test_answers_from_standard_input(self):
        cases = [
            # keys, prompts shown, incremented
            (b"y", 1, True),
            (b"Y", 1, True),
            (b"", 1, True),  # end of input: the default answer, Yes
            (b"n", 1, False),
            (b"N\ny", 1, False),
            (b"x\ry", 3, True),  # keys outside the set ask again
            (b"o", 2, True),
            (b"\x00n", 1, True),  # a NUL byte is no key: the default answer
        ]
        for keys, prompts, incremented in cases:
            with self.subTest(keys=keys):
                self.setUp()
                result = self.run_on_console("/nologo", "/i", "/b", stdin=keys)
                expected = TITLE_ESCAPE + question(41) + YES_NO_PROMPT * prompts
                if incremented:
                    expected += build_line(42)
                self.assertEqual((0, expected, b""), (result.code, result.out, result.err))
                if incremented:
                    self.assertEqual(header(42), self.read("Tickwright.h"))
                    self.assertEqual(batch(42), self.read("Tickwright.bat"))
                else:
                    self.assertUntouched()

    def test_no_question_under_no_increment_or_without_a_number(self):
        result = self.run_on_console("/nologo", "/i", "/n", "/b", stdin=b"n")
        self.assertEqual((0, TITLE_ESCAPE + build_line(41)), (result.code, result.out))
        self.assertEqual(header(41), self.read("Tickwright.h"))
        self.assertEqual(batch(41), self.read("Tickwright.bat"))
        for before in (None, b""):
            with self.subTest(before=before):
                self.setUp()
                os.remove(self.path("Tickwright.h"))
                if before is not None:
                    self.write("Tickwright.h", before)
                result = self.run_on_console("/nologo", "/i", stdin=b"n")
                self.assertEqual((0, TITLE_ESCAPE + build_line(1)), (result.code, result.out))
                self.assertEqual(header(1), self.read("Tickwright.h"))

    def test_without_a_console_the_question_goes_to_a_window_box(self):
        if on_windows():
            self.skipTest("a real window box would wait for a click")
        # The box cannot be shown (no terminal at all): no answer, no increment.
        result = self.run_tool("/nologo", "/i", "/b", stdin=b"y")
        self.assertEqual((0, b""), (result.code, result.out))
        self.assertReported(result, question(41)[:-2], caption=TITLE.encode())
        self.assertUntouched()


class ErrorReport(ToolTestCase):
    def test_report_then_the_prompt_on_the_console(self):
        cases = [
            (b"//7\n", [], b"", b'Error parsing file: "Tickwright.h"'),
            (header(41), ["/i"], question(41) + YES_NO_PROMPT + build_line(42), HEADER_READ_ONLY),
        ]
        for before, args, lines, report in cases:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", before)
                self.make_read_only("Tickwright.h")
                result = self.run_on_console("/nologo", *args, stdin=b"yk")
                self.assertEqual((5, TITLE_ESCAPE + lines + report + b"\r\n" + ANY_KEY_PROMPT, b""),
                                 (result.code, result.out, result.err))
                self.assertEqual(before, self.read("Tickwright.h"))

    def test_without_a_console_only_the_lines_before_the_failure_are_on_standard_output(self):
        self.write("Tickwright.h", header(41))
        self.make_read_only("Tickwright.h")
        result = self.run_tool()
        self.assertEqual(5, result.code)
        self.assertTrue(result.out.endswith(b"\r\n\r\n" + build_line(42)), result.out)
        self.assertReported(result, HEADER_READ_ONLY)
