"""A processor fault made by the fault probe (TICKWRIGHT_FAULT) ends a run with 5 and its report."""

import os
import unittest

from harness import USAGE, ToolTestCase, on_windows


# Fault, its name in the report, and where it lies: in the probe, nowhere (a call through
# null) or in a library, whose frames a thrown exception may not pass.
FAULTS = [
    ("divide-by-zero", b"Divide by zero", "probe"),
    ("null-read", b"Access violation", "probe"),
    ("null-read-in-library", b"Access violation", "library"),
    ("call-null", b"Access violation", "nowhere"),
    ("stack-overflow", b"Stack overflow", "probe"),
    ("illegal-instruction", b"Invalid instruction", "probe"),
    ("breakpoint", b"Debug break", "probe"),
]


class Faults(ToolTestCase):
    def setUp(self):
        super().setUp()
        if not os.environ.get("TICKWRIGHT_PROBE"):
            self.skipTest("TICKWRIGHT_PROBE names no fault probe")
        self.tool, self.exe = self.exe, os.path.abspath(os.environ["TICKWRIGHT_PROBE"])

    def test_each_fault_ends_the_run_with_its_report(self):
        probe = os.path.realpath(self.exe).encode()
        for fault, name, where in FAULTS:
            with self.subTest(fault=fault):
                result = self.run_tool(env={"TICKWRIGHT_FAULT": fault})
                self.assertEqual((5, b""), (result.code, result.out), result.err)
                if where != "library":
                    module = probe if where == "probe" else b"<unknown>"
                    self.assertReported(result, name + b" in module:\r\n" + module)
                elif not on_windows():  # the library's path differs from machine to machine
                    self.assertTrue(result.err.startswith(b"Error\n" + name + b" in module:\r\n"),
                                    result.err)
                    self.assertNotIn(probe, result.err)
                self.assertEqual([], [n for n in self.listing() if n.startswith("core")])
                self.assertFalse(self.exists("Tickwright.h"))

    def test_the_tool_itself_has_no_fault_hook(self):
        self.assertEqual(5, self.run_tool("?", env={"TICKWRIGHT_FAULT": "null-read"}).code)
        self.exe = self.tool
        result = self.run_tool("?", env={"TICKWRIGHT_FAULT": "null-read"})
        self.assertEqual((0, USAGE), (result.code, result.out), result.err)


if __name__ == "__main__":
    unittest.main()
