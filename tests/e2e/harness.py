"""Drives the built Tickwright as a user does: one fresh folder per test case,
exact bytes compared. The executable and an optional launcher (for example
"wine") come from the environment, so the same suite runs natively and
under Wine:

    TICKWRIGHT_EXE=build/linux/Tickwright python3 -m unittest discover tests/e2e
    TICKWRIGHT_EXE=build/mingw-x86_64/Tickwright.exe TICKWRIGHT_LAUNCHER=wine ...

Where the Windows build legitimately differs (the path separator, the
system's error texts, window boxes instead of text on standard error, no
Unix terminal), the difference is spelled out here or in the test.
"""

import errno
import fcntl
import os
import pty
import select
import shlex
import shutil
import stat
import subprocess
import tempfile
import termios
import time
import unittest
from dataclasses import dataclass


def tool_path():
    exe = os.environ.get("TICKWRIGHT_EXE")
    if not exe:
        raise unittest.SkipTest("TICKWRIGHT_EXE names no executable")
    return os.path.abspath(exe)


def launcher():
    return shlex.split(os.environ.get("TICKWRIGHT_LAUNCHER", ""))


def _start_wine():
    """Under Wine the first run starts the wine server and its helper
    programs, which keep that run's output pipes open until they quit,
    seconds later: start them here, without the pipes, and keep them a
    while."""
    if not launcher() or not os.path.basename(launcher()[0]).startswith("wine"):
        return
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, check=False)
    if shutil.which("wineserver"):
        subprocess.run(["wineserver", "-p60"], **quiet)
    subprocess.run(launcher() + [tool_path(), "/?"], **quiet)


if os.environ.get("TICKWRIGHT_EXE"):
    _start_wine()


def on_windows():
    """True when the tool under test is the Windows build."""
    return tool_path().lower().endswith(".exe")


def separator():
    """The path separator of the build under test: only it splits a path."""
    return "\\" if on_windows() else "/"


# The system's texts for the error codes that the reports show, CR LF ended
# as FormatMessageA gives them. Linux gives the text of the errno behind a
# code, and its own text for a sharing violation.
_SYSTEM_TEXTS = {
    "linux": {
        3: "No such file or directory",
        5: "Permission denied",
        32: "The file is in use by another process.",
        223: "File too large",
    },
    "windows": {
        3: "The system cannot find the path specified.",
        5: "Access is denied.",
        32: "The process cannot access the file because it is being used by another process.",
        223: "The file size exceeds the limit allowed and cannot be saved.",
    },
}


def system_text(code):
    return _SYSTEM_TEXTS["windows" if on_windows() else "linux"][code].encode() + b"\r\n"


def file_error(heading, name, code):
    """The report of a failed file operation on `name` with system error `code`."""
    return (heading + b'\r\nFile/folder name:\r\n"' + name.encode() + b'"\r\n\r\nSystem reports:\r\n'
            + system_text(code))


CANNOT_OPEN = b"ERROR!   Cannot open file."
WRITE_ERROR = b"ERROR writing file"
TITLE = "Automaitc Tickwright"
# What a terminal receives when the tool sets its title.
TITLE_ESCAPE = b"\x1b]0;" + TITLE.encode() + b"\x07"

USAGE = (
    b"Project Tickwright utility.\r\n"
    b"Usage: Tickwright [/nologo] [/i] [/c] [/n] [file[.h]] [build name] [/b[:batfile[.bat]]]\r\n"
    b"/nologo - suppress startup banner.\r\n"
    b"/i - interactive. Ask user if build number should be incremented.\r\n"
    b"/b - create .bat file\r\n"
    b"/c - check out (if file is read only)\r\n"
    b"/n - no build count increment (may be used for check out only)\r\n"
    b"\r\n"
)

BANNER = (
    b"C++ Project Tickwright 2.0\r\n"
    b"Copyright (c) 2026 the Tickwright authors\r\n"
    b"https://tickwright.example.org\r\n\r\n"
)

HEADER_READ_ONLY = (
    b"Error! Cannot update file because it is read only.\r\n"
    b"Probably, it is protected by SourceSafe.\r\nUse /c flag to check out file."
)
BATCH_READ_ONLY = (
    b"Error! Cannot update bat file because it is read only.\r\n"
    b"Probably, it is protected by SourceSafe.\r\nUse /c flag to check out file."
)
YES_NO_PROMPT = b"\tYes, No (Y,N)\r\n"
ANY_KEY_PROMPT = b"\tHit any key to continue...\r\n"


def build_line(number):
    return b"Build N: %d\r\n" % number


def question(number, name="BUILD_NUMBER", header_file="Tickwright.h"):
    """The /i question as the console shows it, its line break included."""
    return (b"Current %s value is %d.\n(File: %s)\nIncrease it?\r\n"
            % (name.encode(), number, header_file.encode()))


def header(number, name="BUILD_NUMBER", file_name="Tickwright.h"):
    """The exact bytes the tool writes for `number`."""
    low, high = number & 0xFFFF, number >> 16
    return (
        f"// {number}\n// This file is generated automatically.\n\n"
        f'//\t#include "{file_name}"\n\n'
        f"#define {name} {number}\n"
        f'#define {name}_STR "{number}"\n'
        f"#define {name}_LOW {low}\n"
        f"#define {name}_HIGH {high}\n"
        f'#define {name}_LOW_STR "{low}"\n'
        f'#define {name}_HIGH_STR "{high}"\n'
    ).encode()


def batch(number, name="BUILD_NUMBER"):
    return b"@SET %s=%d\r\n" % (name.encode(), number)


@dataclass
class Result:
    code: int
    out: bytes
    err: bytes


def _raw_output(fd):
    """Output bytes reach the pty unchanged (no LF -> CR LF), so they compare
    exactly; input keeps the terminal's usual line mode and echo."""
    attrs = termios.tcgetattr(fd)
    attrs[1] &= ~termios.OPOST
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def _read_available(fd, timeout):
    """Bytes that arrive on `fd` within `timeout`; None once the other side
    is gone (a pty master reads EIO then)."""
    ready, _, _ = select.select([fd], [], [], timeout)
    if not ready:
        return b""
    try:
        data = os.read(fd, 4096)
    except OSError as e:
        if e.errno == errno.EIO:
            return None
        raise
    return data if data else None


class ToolTestCase(unittest.TestCase):
    """A test case with its own working folder and ways to run the tool."""

    maxDiff = None

    def setUp(self):
        self.exe = tool_path()
        self.folder = tempfile.mkdtemp(prefix="tw-e2e-")
        self.addCleanup(self._remove_folder)

    def _remove_folder(self):
        for root, dirs, files in os.walk(self.folder):
            for name in dirs + files:
                path = os.path.join(root, name)
                if not os.path.islink(path):
                    os.chmod(path, 0o755)
        shutil.rmtree(self.folder, ignore_errors=True)

    def command(self, *args):
        return launcher() + [self.exe, *args]

    def run_tool(self, *args, stdin=b"", env=None, timeout=60, cwd=None, preexec_fn=None):
        """Runs the tool with `args` in the test's folder; standard input is
        the given bytes (empty: at its end at once). The tool runs in a
        session of its own, without a controlling terminal, so that a window
        box (a text box on the terminal on Linux) goes to standard error
        instead of waiting on the developer's terminal."""
        full_env = dict(os.environ)
        full_env.update(env or {})
        completed = subprocess.run(
            self.command(*args),
            input=stdin,
            env=full_env,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            cwd=cwd or self.folder,
            timeout=timeout,
            start_new_session=True,
            preexec_fn=preexec_fn,
        )
        return Result(completed.returncode, completed.stdout, completed.stderr)

    def run_on_console(self, *args, stdin=b"", timeout=30):
        """Runs the tool with a terminal as its standard output (a console),
        standard input from the given bytes and standard error a pipe. The
        terminal is not the tool's controlling one, so a beep makes no sound
        and a window box goes to standard error."""
        if on_windows():
            self.skipTest("Wine does not make a Unix terminal a Windows console")
        master, slave = pty.openpty()
        _raw_output(slave)
        try:
            proc = subprocess.Popen(
                self.command(*args), stdin=subprocess.PIPE, stdout=slave,
                stderr=subprocess.PIPE, cwd=self.folder, start_new_session=True)
        finally:
            os.close(slave)
        try:
            proc.stdin.write(stdin)
            proc.stdin.close()
            out = b""
            deadline = time.monotonic() + timeout
            while (data := _read_available(master, 0.1)) is not None:
                out += data
                if time.monotonic() > deadline:
                    proc.kill()
                    self.fail(f"the run did not end; it printed {out!r}")
            err = proc.stderr.read()
            return Result(proc.wait(timeout), out, err)
        finally:
            os.close(master)
            proc.stderr.close()

    def terminal(self, *args):
        """Starts the tool on a terminal of its own (its controlling
        terminal, standard input, output and error): see Terminal."""
        if on_windows():
            self.skipTest("Wine does not make a Unix terminal a Windows console")
        term = Terminal(self.command(*args), self.folder)
        self.addCleanup(term.close)
        return term

    def assertReported(self, result, report, caption=b"Error"):
        """A report that no console took: on Linux the window box's text
        on standard error (caption, text, a final line break); Windows shows
        a real window, which this suite does not see."""
        if on_windows():
            return
        box = caption + b"\n" + report
        if not box.endswith(b"\n"):
            box += b"\n"
        self.assertEqual(box, result.err)

    # Files of the test's folder, named as the tool under test names them.
    def path(self, name):
        if on_windows():
            name = name.replace("\\", "/")
        return os.path.join(self.folder, name)

    def write(self, name, data):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.lexists(self.path(name))

    def listing(self):
        return sorted(os.listdir(self.folder))

    def make_read_only(self, name):
        os.chmod(self.path(name), stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


class Terminal:
    """The tool running on a pseudo-terminal that is its controlling
    terminal. Its output is collected as it comes; keys are typed into it.
    Output bytes arrive unchanged (no LF -> CR LF); the terminal starts in
    line mode with echo, as a shell leaves it."""

    def __init__(self, command, cwd):
        self.master, slave = pty.openpty()
        _raw_output(slave)
        self.initial_modes = termios.tcgetattr(slave)
        try:
            self.proc = subprocess.Popen(
                command, stdin=slave, stdout=slave, stderr=slave, cwd=cwd,
                start_new_session=True,
                preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        finally:
            os.close(slave)
        self.output = b""
        self.closed = False

    def _pump(self, timeout):
        data = _read_available(self.master, timeout)
        if data is None:
            self.closed = True
        else:
            self.output += data

    def read_until(self, expected, timeout=10):
        """Waits until the output so far ends with `expected`; returns it."""
        deadline = time.monotonic() + timeout
        while not self.output.endswith(expected):
            if self.closed or time.monotonic() > deadline:
                raise AssertionError(f"waited for {expected!r}; the terminal shows {self.output!r}")
            self._pump(0.05)
        return self.output

    def modes(self):
        """The terminal's local modes (ICANON, ECHO, ...)."""
        return termios.tcgetattr(self.master)[3]

    def wait_for_key_read(self, timeout=10):
        """Waits until the tool reads single keys without echo, so that a key
        typed now is neither echoed nor held back for a line."""
        deadline = time.monotonic() + timeout
        while self.modes() & (termios.ICANON | termios.ECHO):
            if time.monotonic() > deadline:
                raise AssertionError("the terminal stayed in line mode with echo")
            time.sleep(0.01)

    def type(self, keys):
        os.write(self.master, keys)

    def still_running_after(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            self._pump(0.05)
        return True

    def finish(self, timeout=10):
        """Collects the rest of the output; returns the exit code."""
        deadline = time.monotonic() + timeout
        while not self.closed and time.monotonic() < deadline:
            self._pump(0.05)
        return self.proc.wait(max(0.1, deadline - time.monotonic()))

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        os.close(self.master)
