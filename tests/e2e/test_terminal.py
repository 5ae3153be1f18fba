"""A real terminal: keys answer the question and the report; line mode and echo come back."""

import os
import sys
import termios
import time

from harness import (ANY_KEY_PROMPT, CANNOT_OPEN, EOL, HEADER_READ_ONLY, TITLE_ESCAPE,
                     YES_NO_PROMPT, Terminal, ToolTestCase, build_line, file_error, header,
                     on_windows, question)

BEEP = b"\x07"  # a BEL to the controlling terminal
LINE_MODE_AND_ECHO = termios.ICANON | termios.ECHO

# Runs a command as a background job of the terminal on standard input: the job gets a process
# group of its own while this one keeps the foreground, and background output is to stop the
# job (TOSTOP). Standard output and error go to the files named first ("-": the terminal). A
# job that the terminal stops is named and killed.
BACKGROUND_JOB = r"""
import os, signal, sys, termios
out, err, command = sys.argv[1], sys.argv[2], sys.argv[3:]
modes = termios.tcgetattr(0)
modes[3] |= termios.TOSTOP
termios.tcsetattr(0, termios.TCSANOW, modes)
pid = os.fork()
if pid == 0:
    os.setpgid(0, 0)
    for fd, name in ((1, out), (2, err)):
        if name != "-":
            os.dup2(os.open(name, os.O_WRONLY), fd)
    os.execv(command[0], command)
try:
    os.setpgid(pid, pid)
except PermissionError:  # the child has set it and gone on to exec
    pass
_, status = os.waitpid(pid, os.WUNTRACED)
if os.WIFSTOPPED(status):
    os.write(1, b"[stopped by %s]" % signal.Signals(os.WSTOPSIG(status)).name.encode())
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    sys.exit(99)
sys.exit(os.waitstatus_to_exitcode(status))
"""


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


class BackgroundJob(ToolTestCase):
    def test_is_never_stopped_and_never_waits_for_a_key(self):
        if on_windows():
            self.skipTest("job control of a Unix terminal")
        # The header, arguments, standard output and error, then the exit code, what the
        # terminal shows and the header after: no box, no bell, no wait, no change of modes.
        for before, args, out, err, code, shown, after in [
                # The box for the unwritable line has nowhere to go: the run goes on.
                (header(41), [], "/dev/full", "/dev/full", 0, b"", header(42)),
                # The report goes to standard error, the terminal, instead of a box.
                (None, [], "/dev/null", "-", 5,
                 b"Error\n" + file_error(CANNOT_OPEN, "Tickwright.h", 222), None),
                # No key comes from the terminal: the question takes its default answer...
                (header(41), ["/i"], "-", "-", 0,
                 TITLE_ESCAPE + question(41) + YES_NO_PROMPT + build_line(42), header(42)),
                # ... and the report ends the run at once.
                (b"//7\n", [], "-", "-", 5,
                 TITLE_ESCAPE + b'Error parsing file: "Tickwright.h"' + EOL + ANY_KEY_PROMPT,
                 b"//7\n")]:
            with self.subTest(args=args, out=out, err=err):
                self.setUp()
                if before is None:
                    os.mkfifo(self.path("Tickwright.h"))
                else:
                    self.write("Tickwright.h", before)
                term = Terminal([sys.executable, "-c", BACKGROUND_JOB, out, err,
                                 *self.command("/nologo", *args)], self.folder)
                self.addCleanup(term.close)
                self.assertEqual((code, shown), (term.finish(), term.output))
                if after is not None:
                    self.assertEqual(after, self.read("Tickwright.h"))
                self.assertEqual(LINE_MODE_AND_ECHO, term.modes() & LINE_MODE_AND_ECHO)
