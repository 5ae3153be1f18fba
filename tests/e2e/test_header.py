"""The counter header: its first line, what is written, and the failures around it."""

import os

from harness import (BATCH_READ_ONLY, CANNOT_OPEN, HEADER_READ_ONLY, ToolTestCase, batch,
                     build_line, file_error, header, separator)


class FirstLine(ToolTestCase):
    """The header as read and written; header_format_test.cpp parses each kind of first line."""

    def test_numbers_read_from_the_first_line(self):
        for text, number in [
                (b"", 1),
                (b"// 41 and anything\n#define X 3\n", 42),
                (b"// 4294967295\n", 0),
                (b"// " + b" " * 250 + b"12345678", 124)]:  # only 256 bytes are read
            with self.subTest(text=text[:40]):
                self.setUp()
                self.write("Tickwright.h", text)
                result = self.run_tool("/nologo")
                self.assertEqual((0, build_line(number)), (result.code, result.out), result.err)
                self.assertEqual(header(number), self.read("Tickwright.h"))

    def test_malformed_first_lines_leave_the_header_alone(self):
        for text, report in [
                (b"//7\n", b'Error parsing file: "Tickwright.h"'),
                (b"// " + b" " * 260 + b"9", b'Error! Bad build number: ""'),
                # A terminal would act on these: they are shown, not sent.
                (b"// \x1b]0;pwned\x07\x1b[2J\x7f\n",
                 b'Error! Bad build number: "^[]0;pwned^G^[[2J^?"')]:
            with self.subTest(text=text[:40]):
                self.setUp()
                self.write("Tickwright.h", text)
                result = self.run_tool("/nologo", "/b")
                self.assertEqual((5, b""), (result.code, result.out))
                self.assertReported(result, report)
                self.assertEqual((["Tickwright.h"], text),
                                 (self.listing(), self.read("Tickwright.h")))

    def test_the_parse_error_names_the_completed_header_name(self):
        sep = separator()
        self.write(f"inc{sep}ver.h", b"#pragma once\n")
        result = self.run_tool(f"inc{sep}ver.txt")
        self.assertEqual(5, result.code)
        self.assertReported(result, f'Error parsing file: "inc{sep}ver.h"'.encode())


class Writing(ToolTestCase):
    def test_no_increment_writes_the_number_read(self):
        for before, number in [(None, 0), (header(41), 41), (b"// 7 old text", 7)]:
            with self.subTest(before=before):
                self.setUp()
                if before is not None:
                    self.write("Tickwright.h", before)
                result = self.run_tool("/nologo", "/n", "/b")
                self.assertEqual((0, build_line(number)), (result.code, result.out))
                self.assertEqual((header(number), batch(number)),
                                 (self.read("Tickwright.h"), self.read("Tickwright.bat")))

    def test_header_in_a_missing_folder(self):
        name = f"nodir{separator()}ver.h"
        result = self.run_tool("/nologo", name)
        self.assertEqual((5, build_line(1)), (result.code, result.out))
        self.assertReported(result, file_error(CANNOT_OPEN, name, 3))
        self.assertEqual([], self.listing())


class ReadOnly(ToolTestCase):
    def test_read_only_header(self):
        # Under /n there is no question of string 20: the write itself is refused.
        for args, out, report in [
                ([], build_line(42), HEADER_READ_ONLY),
                (["/n"], build_line(41), file_error(CANNOT_OPEN, "Tickwright.h", 5))]:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", header(41))
                self.make_read_only("Tickwright.h")
                result = self.run_tool("/nologo", *args)
                self.assertEqual((5, out), (result.code, result.out))
                self.assertReported(result, report)
                self.assertEqual((["Tickwright.h"], header(41), 0o444),
                                 (self.listing(), self.read("Tickwright.h"),
                                  os.stat(self.path("Tickwright.h")).st_mode & 0o777))

    def test_a_read_only_batch_file_is_refused_before_the_header_moves(self):
        self.write("Tickwright.h", header(41))
        self.write("Tickwright.bat", b"@SET OLD=1\r\n")
        self.make_read_only("Tickwright.bat")
        for _ in range(3):
            result = self.run_tool("/nologo", "/b")
            self.assertEqual((5, build_line(42)), (result.code, result.out))
            self.assertReported(result, BATCH_READ_ONLY)
            self.assertEqual((header(41), b"@SET OLD=1\r\n", ["Tickwright.bat", "Tickwright.h"]),
                             (self.read("Tickwright.h"), self.read("Tickwright.bat"),
                              self.listing()))
