"""The /i question and the error report on a console, with keys from standard input."""

import os

from harness import (ANY_KEY_PROMPT, EOL, HEADER_READ_ONLY, TITLE, TITLE_ESCAPE, YES_NO_PROMPT,
                     ToolTestCase, batch, build_line, header, on_windows, question)


OLD_FILES = {"Tickwright.h": header(41), "Tickwright.bat": b"@SET OLD=1\r\n"}


class Question(ToolTestCase):
    def setUp(self):
        super().setUp()
        for name, text in OLD_FILES.items():
            self.write(name, text)
            os.utime(self.path(name), (1_000_000_000, 1_000_000_000))

    def assertUntouched(self):
        for name, text in OLD_FILES.items():
            self.assertEqual((text, 1_000_000_000),
                             (self.read(name), os.stat(self.path(name)).st_mtime))

    def test_answers_from_standard_input(self):
        # keys, prompts shown, incremented
        for keys, prompts, incremented in [
                (b"y", 1, True),
                (b"", 1, True),  # end of input: the default answer, Yes
                (b"n", 1, False),
                (b"N\ny", 1, False),
                (b"x\ry", 3, True),  # keys outside the set ask again
                (b"\x00n", 1, True)]:  # a NUL byte is no key: the default answer
            with self.subTest(keys=keys):
                self.setUp()
                result = self.run_on_console("/nologo", "/i", "/b", stdin=keys)
                expected = TITLE_ESCAPE + question(41) + YES_NO_PROMPT * prompts
                if incremented:
                    expected += build_line(42)
                self.assertEqual((0, expected, b""), (result.code, result.out, result.err))
                if incremented:
                    self.assertEqual((header(42), batch(42)),
                                     (self.read("Tickwright.h"), self.read("Tickwright.bat")))
                else:
                    self.assertUntouched()

    def test_no_question_under_no_increment_or_without_a_number(self):
        for before, args, number in [(header(41), ["/n"], 41), (None, [], 1), (b"", [], 1)]:
            with self.subTest(before=before, args=args):
                self.setUp()
                os.remove(self.path("Tickwright.h"))
                if before is not None:
                    self.write("Tickwright.h", before)
                result = self.run_on_console("/nologo", "/i", "/b", *args, stdin=b"n")
                self.assertEqual((0, TITLE_ESCAPE + build_line(number)), (result.code, result.out))
                self.assertEqual((header(number), batch(number)),
                                 (self.read("Tickwright.h"), self.read("Tickwright.bat")))

    def test_without_a_console_the_question_goes_to_a_window_box(self):
        if on_windows():
            self.skipTest("a real window box would wait for a click")
        # The box cannot be shown (no terminal at all): no answer, no increment.
        result = self.run_tool("/nologo", "/i", "/b", stdin=b"y")
        self.assertEqual((0, b""), (result.code, result.out))
        self.assertReported(result, question(41)[:-len(EOL)], caption=TITLE.encode())
        self.assertUntouched()


class ErrorReport(ToolTestCase):
    def test_report_then_the_prompt_on_the_console(self):
        for before, args, lines, report in [
                (b"//7\n", [], b"", b'Error parsing file: "Tickwright.h"'),
                (header(41), ["/i"], question(41) + YES_NO_PROMPT + build_line(42),
                 HEADER_READ_ONLY)]:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", before)
                self.make_read_only("Tickwright.h")
                result = self.run_on_console("/nologo", *args, stdin=b"yk")
                self.assertEqual((5, TITLE_ESCAPE + lines + report + EOL + ANY_KEY_PROMPT, b""),
                                 (result.code, result.out, result.err))
                self.assertEqual(before, self.read("Tickwright.h"))
