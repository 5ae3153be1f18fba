"""The counter header: how its first line is read, what is written, and the
failures around it: malformed headers, missing folders, read-only files.

Standard output is a pipe here, so an error report reaches no console and
goes to the window box (standard error on Linux, see assertReported); only
the lines printed before it are on standard output."""

import os

from harness import (BATCH_READ_ONLY, CANNOT_OPEN, HEADER_READ_ONLY, ToolTestCase, batch,
                     build_line, file_error, header, separator)


class FirstLine(ToolTestCase):
    def test_numbers_read_from_the_first_line(self):
        cases = [
            (b"", 1),
            (b"// 41 and anything\n#define X 3\n", 42),
            (b"// 41\r\n", 42),
            (b"// 65540", 65541),
            (b"// 4294967295\n", 0),
            (b"//  7 (comment)\n", 8),
            (b"// \t12\t \n", 13),
            (b"// 9\r#define BUILD 100\r", 10),  # CR alone ends the line
            (b"// 123" + b" " * 300 + b"\n", 124),
            (b"// " + b" " * 250 + b"12345678", 124),  # only 256 bytes are read
        ]
        for text, number in cases:
            with self.subTest(text=text[:40]):
                self.setUp()
                self.write("Tickwright.h", text)
                result = self.run_tool("/nologo")
                self.assertEqual((0, build_line(number)), (result.code, result.out), result.err)
                self.assertEqual(header(number), self.read("Tickwright.h"))

    def test_malformed_first_lines_leave_the_header_alone(self):
        parse_error = b'Error parsing file: "Tickwright.h"'
        cases = [
            (b"//7\n", parse_error),
            (b"/* 7 */\n", parse_error),
            (b"\xef\xbb\xbf// 7\n", parse_error),  # a byte-order mark
            (b"\xff\xfe/\x00/\x00 \x007\x00", parse_error),  # UTF-16
            (b"\n// 7\n", parse_error),
            (b"//", parse_error),
            (b"// \n", b'Error! Bad build number: ""'),
            (b"// x\n", b'Error! Bad build number: "x"'),
            (b"//   x7  \n", b'Error! Bad build number: "x7"'),
            (b"// " + b" " * 260 + b"9", b'Error! Bad build number: ""'),
        ]
        for text, report in cases:
            with self.subTest(text=text[:40]):
                self.setUp()
                self.write("Tickwright.h", text)
                result = self.run_tool("/nologo", "/b")
                self.assertEqual((5, b""), (result.code, result.out))
                self.assertReported(result, report)
                self.assertEqual(["Tickwright.h"], self.listing())
                self.assertEqual(text, self.read("Tickwright.h"))

    def test_the_parse_error_names_the_completed_header_name(self):
        sep = separator()
        self.write(f"inc{sep}ver.h", b"#pragma once\n")
        result = self.run_tool(f"inc{sep}ver.txt")
        self.assertEqual(5, result.code)
        self.assertReported(result, f'Error parsing file: "inc{sep}ver.h"'.encode())


class Writing(ToolTestCase):
    def test_no_increment(self):
        cases = [(None, 0), (header(41), 41), (b"// 7 old text", 7)]
        for before, number in cases:
            with self.subTest(before=before):
                self.setUp()
                if before is not None:
                    self.write("Tickwright.h", before)
                result = self.run_tool("/nologo", "/n")
                self.assertEqual((0, build_line(number)), (result.code, result.out))
                self.assertEqual(header(number), self.read("Tickwright.h"))

    def test_header_in_a_missing_folder(self):
        name = f"nodir{separator()}ver.h"
        result = self.run_tool("/nologo", name)
        self.assertEqual((5, build_line(1)), (result.code, result.out))
        self.assertReported(result, file_error(CANNOT_OPEN, name, 3))
        self.assertEqual([], self.listing())

    def test_header_is_a_folder(self):
        os.mkdir(self.path("Tickwright.h"))
        result = self.run_tool("/nologo")
        self.assertEqual((5, b""), (result.code, result.out))
        self.assertReported(result, file_error(CANNOT_OPEN, "Tickwright.h", 5))
        self.assertTrue(os.path.isdir(self.path("Tickwright.h")))


class ReadOnly(ToolTestCase):
    def test_read_only_header(self):
        for args, out, report in [
            ([], build_line(42), HEADER_READ_ONLY),
            # Without the question of string 20, the write itself is refused.
            (["/n"], build_line(41), file_error(CANNOT_OPEN, "Tickwright.h", 5)),
            (["/b"], build_line(42), HEADER_READ_ONLY),
        ]:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", header(41))
                self.make_read_only("Tickwright.h")
                result = self.run_tool("/nologo", *args)
                self.assertEqual((5, out), (result.code, result.out))
                self.assertReported(result, report)
                self.assertEqual(["Tickwright.h"], self.listing())
                self.assertEqual(header(41), self.read("Tickwright.h"))
                self.assertEqual(0o444, os.stat(self.path("Tickwright.h")).st_mode & 0o777)

    def test_read_only_batch_file_after_the_header_was_written(self):
        self.write("Tickwright.h", header(41))
        self.write("Tickwright.bat", b"@SET OLD=1\r\n")
        self.make_read_only("Tickwright.bat")
        for args in ([], ["/n"]):
            with self.subTest(args=args):
                result = self.run_tool("/nologo", "/b", *args)
                self.assertEqual((5, build_line(42)), (result.code, result.out))
                self.assertReported(result, BATCH_READ_ONLY)
                self.assertEqual(header(42), self.read("Tickwright.h"))
                self.assertEqual(b"@SET OLD=1\r\n", self.read("Tickwright.bat"))
