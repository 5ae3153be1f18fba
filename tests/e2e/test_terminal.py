"""A real terminal: keys answer the question and the report; line mode and echo come back."""

import termios
import time

from harness import (ANY_KEY_PROMPT, EOL, HEADER_READ_ONLY, TITLE_ESCAPE, YES_NO_PROMPT, ToolTestCase,
                     build_line, header, question)

BEEP = b"\x07"  # a BEL to the controlling terminal
LINE_MODE_AND_ECHO = termios.ICANON | termios.ECHO


class Keys(ToolTestCase):
    def assertModesRestored(self, term):
        self.assertEqual(LINE_MODE_AND_ECHO, term.modes() & LINE_MODE_AND_ECHO)
        self.assertEqual(term.initial_modes[3], term.modes())

    def test_a_wrong_key_then_yes_without_echo(self):
        self.write("Tickwright.h", header(41))
        term = self.terminal("/nologo", "/i")
        shown = TITLE_ESCAPE + question(41) + BEEP + YES_NO_PROMPT
        term.read_until(shown)
        term.wait_for_key_read()
        term.type(b"x")
        shown += BEEP + YES_NO_PROMPT  # a key outside the set: a beep, the prompt again
        term.read_until(shown)
        term.type(b"y")
        self.assertEqual(0, term.finish())
        self.assertEqual(shown + build_line(42), term.output)
        self.assertEqual(header(42), self.read("Tickwright.h"))
        self.assertModesRestored(term)

    def test_error_report_waits_for_one_key(self):
        cases = [
            (b"//7\n", [], b"", b'Error parsing file: "Tickwright.h"'),
            # The question changed the terminal's modes before the failure.
            (header(41), ["/i"], b"y", HEADER_READ_ONLY),
        ]
        for before, args, answer, report in cases:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", before)
                self.make_read_only("Tickwright.h")
                term = self.terminal("/nologo", *args)
                if answer:
                    term.read_until(YES_NO_PROMPT)
                    term.wait_for_key_read()
                    term.type(answer)
                shown = term.read_until(report + EOL + BEEP + ANY_KEY_PROMPT)
                time.sleep(0.3)
                self.assertIsNone(term.proc.poll(), "the report did not wait for a key")
                term.wait_for_key_read()
                term.type(b"q")
                self.assertEqual(5, term.finish())
                self.assertEqual(shown, term.output)  # no echo of the key, nothing after it
                self.assertEqual(before, self.read("Tickwright.h"))
                self.assertModesRestored(term)
