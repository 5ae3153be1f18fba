"""What a run inherits from whoever starts it: closed or broken standard handles, a size limit."""

import os
import resource
import unittest

from harness import (EOL, TITLE, WRITE_ERROR, ToolTestCase, build_line, file_error, header,
                     on_windows)


def umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


class StandardHandles(ToolTestCase):
    def run_with(self, *args, closed=(), broken=()):
        """The tool with descriptors `closed` closed and `broken` a pipe that nobody reads."""
        read_end, write_end = os.pipe()
        os.close(read_end)

        def prepare():
            for fd in broken:
                os.dup2(write_end, fd)
            for fd in closed:
                os.close(fd)

        try:
            return self.run_tool(*args, preexec_fn=prepare)
        finally:
            os.close(write_end)

    def test_no_file_takes_the_place_of_a_missing_output_and_no_signal_ends_the_run(self):
        # closed, broken, header before, exit code, text of the box, also under Wine
        for closed, broken, before, code, box, wine in [
                ((1,), (), None, 0, build_line(1)[:-len(EOL)], True),
                ((1,), (), header(41), 0, build_line(42)[:-len(EOL)], True),
                ((2,), (1,), None, 0, None, True),  # no output takes the box either
                # Wine without descriptors 0 and 1 hands its own file as standard output.
                ((0, 1, 2), (), header(41), 0, None, False),
                ((), (1, 2), None, 0, None, True),
                ((), (1, 2), b"//7\n", 5, None, True)]:  # the report has nowhere to go
            with self.subTest(closed=closed, broken=broken, before=before):
                if on_windows() and not wine:
                    continue
                self.setUp()
                if before is not None:
                    self.write("Tickwright.h", before)
                    os.chmod(self.path("Tickwright.h"), 0o640)
                result = self.run_with("/nologo", closed=closed, broken=broken)
                self.assertEqual((code, b""), (result.code, result.out), result.err)
                if box is None:
                    self.assertEqual(b"", result.err)
                else:
                    self.assertReported(result, box, caption=TITLE.encode())
                if code == 0:
                    self.assertEqual(header(42 if before else 1), self.read("Tickwright.h"))
                else:
                    self.assertEqual(before, self.read("Tickwright.h"))
                self.assertEqual(["Tickwright.h"], self.listing())
                if not on_windows():
                    status = os.stat(self.path("Tickwright.h"))
                    mode = 0o640 if before is not None else 0o666 & ~umask()
                    self.assertEqual((mode, os.getuid()), (status.st_mode & 0o777, status.st_uid))


class FileSizeLimit(ToolTestCase):
    def test_a_header_beyond_the_limit_is_a_write_error_not_a_signal(self):
        if on_windows():
            self.skipTest("a file size limit is a Unix process limit")
        self.write("Tickwright.h", header(41))
        os.chmod(self.path("Tickwright.h"), 0o640)
        # SIGXFSZ keeps its default action, which would end the run.
        result = self.run_tool("/nologo", "/b", preexec_fn=lambda: resource.setrlimit(
            resource.RLIMIT_FSIZE, (0, 0)))
        self.assertEqual((5, build_line(42)), (result.code, result.out))
        self.assertReported(result, file_error(WRITE_ERROR, "Tickwright.h", 223))
        self.assertEqual((["Tickwright.h"], header(41)), (self.listing(), self.read("Tickwright.h")))
        status = os.stat(self.path("Tickwright.h"))
        self.assertEqual((0o640, os.getuid()), (status.st_mode & 0o777, status.st_uid))


if __name__ == "__main__":
    unittest.main()
