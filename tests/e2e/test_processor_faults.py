"""A processor fault made by the fault probe (TICKWRIGHT_FAULT) ends a run with 5 and its report."""

import os
import unittest
from unittest import mock

import wine
from harness import USAGE, ToolTestCase, emulated, on_windows

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
# Unhandled, raised in software by RaiseException (a system library) with a code of no fault.
WINDOWS_FAULTS = [("raise", b"Unknown error", "library")]


class Faults(ToolTestCase):
    def setUp(self):
        super().setUp()
        self.use_probe()

    def report(self, fault, result):
        """The report's first two lines: Linux's window box text, or a rerun's on a Wine console."""
        if not on_windows():
            lines = result.err.removeprefix(b"Error\n").removesuffix(b"\n").split(b"\n")
            self.assertEqual((b"Error\n", 2), (result.err[:6], len(lines)), result.err)
            return lines
        with mock.patch.dict(os.environ, {"TICKWRIGHT_FAULT": fault}):
            shown = wine.run_on_console(self.command(), self.folder)
        self.assertEqual(5, shown.code, shown.out)
        return shown.out.split(b"\r\n")[:2]

    def test_each_fault_ends_the_run_with_its_report(self):
        probe = os.path.realpath(self.exe)
        probe = (wine.windows_path(probe) if on_windows() else probe).encode()
        # Under emulation a processor fault is the emulator's: only the raised exception runs.
        for fault, name, where in ([] if emulated() else FAULTS) + (
                WINDOWS_FAULTS if on_windows() else []):
            with self.subTest(fault=fault):
                result = self.run_tool(env={"TICKWRIGHT_FAULT": fault})
                self.assertEqual((5, b""), (result.code, result.out), result.err)
                self.assertEqual([], [n for n in self.listing() if n.startswith("core")])
                self.assertFalse(self.exists("Tickwright.h"))
                heading, module = self.report(fault, result)
                self.assertEqual(name + b" in module:", heading)
                if where != "library":
                    self.assertEqual(probe if where == "probe" else b"<unknown>", module)
                else:  # the library's path differs from machine to machine
                    self.assertNotIn(module, (b"", probe, b"<unknown>"))

    def test_the_tool_itself_has_no_fault_hook(self):
        if emulated():
            self.skipTest("a processor fault under emulation is the emulator's")
        self.assertEqual(5, self.run_tool("?", env={"TICKWRIGHT_FAULT": "null-read"}).code)
        self.exe = self.tool
        result = self.run_tool("?", env={"TICKWRIGHT_FAULT": "null-read"})
        self.assertEqual((0, USAGE), (result.code, result.out), result.err)


if __name__ == "__main__":
    unittest.main()
