"""A processor fault ends a run like any other failure: exit code 5 and a
report that names the fault and the module it happened in. The faults are
made by the fault probe, the tool built with a test-only hook that makes
the fault named by TICKWRIGHT_FAULT before the run flow starts; its path
comes from TICKWRIGHT_PROBE."""

import os
import unittest
from unittest import mock

from harness import USAGE, ToolTestCase


# Fault, its name in the report, and whether the faulting instruction lies
# in the probe itself (a call through a null pointer faults where no module
# is).
FAULTS = [
    ("divide-by-zero", b"Divide by zero", True),
    ("null-read", b"Access violation", True),
    ("null-write", b"Access violation", True),
    ("write-read-only-page", b"Access violation", True),
    ("call-null", b"Access violation", False),
    ("stack-overflow", b"Stack overflow", True),
    ("illegal-instruction", b"Invalid instruction", True),
    ("breakpoint", b"Debug break", True),
]


class Faults(ToolTestCase):
    def setUp(self):
        super().setUp()
        probe = os.environ.get("TICKWRIGHT_PROBE")
        if not probe:
            self.skipTest("TICKWRIGHT_PROBE names no fault probe")
        self.tool = self.exe
        self.exe = os.path.abspath(probe)

    def run_with_fault(self, fault, *args):
        with mock.patch.dict(os.environ, {"TICKWRIGHT_FAULT": fault}):
            return self.run_tool(*args)

    def test_each_fault_ends_the_run_with_its_report(self):
        probe = os.path.realpath(self.exe).encode()
        for fault, name, in_probe in FAULTS:
            with self.subTest(fault=fault):
                result = self.run_with_fault(fault)
                # Exactly 5: a run that a signal ended has no exit code of its own.
                self.assertEqual(5, result.code, result.err)
                self.assertEqual(b"", result.out)
                module = probe if in_probe else b"<unknown>"
                self.assertReported(result, name + b" in module:\r\n" + module)
                self.assertEqual([], [n for n in self.listing() if n.startswith("core")])
                self.assertFalse(self.exists("Tickwright.h"))

    def test_the_tool_itself_has_no_fault_hook(self):
        self.assertEqual(5, self.run_with_fault("null-read", "?").code)
        self.exe = self.tool
        result = self.run_with_fault("null-read", "?")
        self.assertEqual((0, USAGE), (result.code, result.out), result.err)


if __name__ == "__main__":
    unittest.main()
