"""The /i question and the error report on a terminal, answered by keys from standard input or
typed on it; line mode and echo come back."""

import os
import sys
import termios
import time

from harness import (ANY_KEY_PROMPT, CANNOT_OPEN, EOL, HEADER_READ_ONLY, TITLE, TITLE_ESCAPE,
                     YES_NO_PROMPT, Terminal, ToolTestCase, batch, build_line, file_error, header,
                     on_windows, question)

BEEP = b"\x07"  # a BEL to the controlling terminal
LINE_MODE_AND_ECHO = termios.ICANON | termios.ECHO
OLD_FILES = {"Tickwright.h": header(41), "Tickwright.bat": b"@SET OLD=1\r\n"}
# The header, arguments, the answer to the question and the report: a parse error, and a
# read-only header after the question changed the terminal's modes.
REPORTS = [(b"//7\n", [], b"", b'Error parsing file: "Tickwright.h"'),
           (header(41), ["/i"], b"y", HEADER_READ_ONLY)]

# Runs a command as a background job (TOSTOP set) of the terminal on standard input, its output
# and error to the files named first ("-": the terminal); a job the terminal stops is killed.
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


class KeysFromStandardInput(ToolTestCase):
    """A terminal as standard output only: the keys come from standard input."""

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

    def test_report_then_the_prompt(self):
        for before, args, answer, report in REPORTS:
            with self.subTest(args=args):
                self.setUp()
                self.write("Tickwright.h", before)
                self.make_read_only("Tickwright.h")
                result = self.run_on_console("/nologo", *args, stdin=answer + b"k")
                lines = question(41) + YES_NO_PROMPT + build_line(42) if answer else b""
                self.assertEqual((5, TITLE_ESCAPE + lines + report + EOL + ANY_KEY_PROMPT, b""),
                                 (result.code, result.out, result.err))
                self.assertEqual(before, self.read("Tickwright.h"))


class KeysTyped(ToolTestCase):
    """The terminal as the controlling one, in line mode with echo, as a shell leaves it."""

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
        for before, args, answer, report in REPORTS:
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

    def test_a_background_job_is_never_stopped_and_never_waits_for_a_key(self):
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
