"""Drives the built tool as a user does (TICKWRIGHT_EXE, TICKWRIGHT_LAUNCHER); exact bytes."""

import ctypes
import errno
import fcntl
import os
import pty
import re
import select
import selectors
import shlex
import shutil
import stat
import subprocess
import tempfile
import termios
import time
import unittest
from dataclasses import dataclass


CLONE_NEWNS = 0x00020000
own_mount_table = False


def tool_path():
    exe = os.environ.get("TICKWRIGHT_EXE")
    if not exe:
        raise unittest.SkipTest("TICKWRIGHT_EXE names no executable")
    return os.path.abspath(exe)


def launcher():
    return shlex.split(os.environ.get("TICKWRIGHT_LAUNCHER", ""))


def on_windows():
    return os.environ.get("TICKWRIGHT_EXE", "").lower().endswith(".exe")


def separator():
    return "\\" if on_windows() else "/"


# The tool ends lines as the platform does (CR LF, LF); the texts below are the table's (CR LF).
EOL = b"\r\n" if on_windows() else b"\n"


def shown(text):
    """`text`, a text of the tool with CR LF line breaks, as the tool prints it."""
    return text.replace(b"\r\n", EOL)


def emulated():
    """Whether the tool runs under user-mode emulation, where processor faults are not real."""
    return os.environ.get("TICKWRIGHT_EMULATED") == "1"


def patience(seconds):
    """How long to wait for what takes `seconds` natively (under emulation a start takes minutes)."""
    return seconds * (30 if emulated() else 1)


# Wine's first run starts helpers that hold its output pipes for seconds: start them pipeless.
if os.environ.get("TICKWRIGHT_EXE") and any(os.path.basename(word).startswith("wine")
                                            for word in launcher()):
    _quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if shutil.which("wineserver"):
        subprocess.run(["wineserver", "-p60"], **_quiet)
    subprocess.run(launcher() + [tool_path(), "/?"], **_quiet)

# Linux's texts for the codes that reports show; Windows reports go unread (see assertReported).
_SYSTEM_TEXTS = {
    3: "No such file or directory",
    5: "Permission denied",
    32: "The file is in use by another process.",
    112: "No space left on device",
    206: "File name too long",
    222: "Not a regular file (a FIFO, socket or device).",
    223: "File too large",
}


def file_error(heading, name, code):
    """The report of a failed file operation on `name` with system error `code`."""
    return shown(heading + b'\r\nFile/folder name:\r\n"' + name.encode()
                 + b'"\r\n\r\nSystem reports:\r\n' + _SYSTEM_TEXTS[code].encode() + b"\r\n")


CANNOT_OPEN = b"ERROR!   Cannot open file."
CANNOT_CONNECT = b"Error! Cannot connect to Visual Source Safe."
WRITE_ERROR = b"ERROR writing file"
TITLE = "Automaitc Tickwright"
TITLE_ESCAPE = b"\x1b]0;" + TITLE.encode() + b"\x07"  # what a terminal gets as the title
USAGE = shown(
    b"Project Tickwright utility.\r\n"
    b"Usage: Tickwright [/nologo] [/i] [/c] [/n] [file[.h]] [build name] [/b[:batfile[.bat]]]\r\n"
    b"/nologo - suppress startup banner.\r\n"
    b"/i - interactive. Ask user if build number should be incremented.\r\n"
    b"/b - create .bat file\r\n"
    b"/c - check out (if file is read only)\r\n"
    b"/n - no build count increment (may be used for check out only)\r\n"
    b"\r\n"
)
BANNER = shown(
    b"C++ Project Tickwright 2.0\r\n"
    b"Copyright (c) 2026 the Tickwright authors\r\n"
    b"https://tickwright.example.org\r\n\r\n"
)
_PROTECTED = b"Probably, it is protected by SourceSafe.\r\nUse /c flag to check out file."
HEADER_READ_ONLY = shown(b"Error! Cannot update file because it is read only.\r\n" + _PROTECTED)
BATCH_READ_ONLY = shown(b"Error! Cannot update bat file because it is read only.\r\n" + _PROTECTED)
YES_NO_PROMPT = b"\tYes, No (Y,N)" + EOL
ANY_KEY_PROMPT = b"\tHit any key to continue..." + EOL


def build_line(number):
    return b"Build N: %d" % number + EOL


def question(number, name="BUILD_NUMBER", header_file="Tickwright.h"):
    return (b"Current %s value is %d.\n(File: %s)\nIncrease it?"
            % (name.encode(), number, header_file.encode())) + EOL


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


NOBODY = 65534  # a user who owns nothing of the tests'


def as_user(uid):
    """A preexec_fn that runs the program as `uid` (its group too, and no other)."""
    def become():
        os.setgroups([])
        os.setgid(uid)
        os.setuid(uid)
    return become


@dataclass
class Result:
    code: int
    out: bytes
    err: bytes


# ASan's one warning when an exception leaves the alternate signal stack: no error of the tool.
_ASAN_SIGNAL_STACK_NOTE = re.compile(
    rb"==\d+==WARNING: ASan is ignoring requested __asan_handle_no_return: [^\n]*\n"
    rb"False positive error reports may follow\n"
    rb"For details see [^\n]*\n")


def _raw_output(fd):
    """Output reaches the pty unchanged (no LF -> CR LF); input keeps line mode and echo."""
    attrs = termios.tcgetattr(fd)
    attrs[1] &= ~termios.OPOST
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def read_available(fd, timeout):
    """Bytes that arrive on `fd` within `timeout`; None once the other side is gone."""
    if not select.select([fd], [], [], timeout)[0]:
        return b""
    try:
        return os.read(fd, 4096) or None
    except OSError as e:
        if e.errno == errno.EIO:  # what a pty master reads once the slave is closed
            return None
        raise


def collect(proc, stdin=b"", timeout=60):
    """Feeds `stdin` to `proc`, waits for its end and returns (stdout, stderr) as it left them,
    though copies of the pipes stay open (under Wine, the desktop keeps its standard error)."""
    chunks = {proc.stdout: [], proc.stderr: []}
    pending = memoryview(stdin)
    deadline = time.monotonic() + patience(timeout)
    with selectors.DefaultSelector() as selector:
        for pipe in chunks:
            selector.register(pipe, selectors.EVENT_READ)
        if pending:
            selector.register(proc.stdin, selectors.EVENT_WRITE)
        elif proc.stdin:
            proc.stdin.close()
        while selector.get_map():
            ended = proc.poll() is not None
            if not ended and time.monotonic() > deadline:
                proc.kill()
                proc.wait()
                raise subprocess.TimeoutExpired(proc.args, timeout)
            ready = selector.select(0 if ended else 0.05)
            if not ready and ended:
                break
            for key, _ in ready:
                if key.fileobj is proc.stdin:
                    try:  # no more than a pipe takes without blocking
                        pending = pending[os.write(key.fd, pending[:select.PIPE_BUF]):]
                    except BrokenPipeError:
                        pending = pending[:0]
                    if not pending:
                        selector.unregister(proc.stdin)
                        proc.stdin.close()
                elif data := os.read(key.fd, 65536):
                    chunks[key.fileobj].append(data)
                else:
                    selector.unregister(key.fileobj)
    proc.wait()
    for pipe in chunks:
        pipe.close()
    return tuple(b"".join(chunks[pipe]) for pipe in (proc.stdout, proc.stderr))


def run_collecting(command, stdin=b"", timeout=60, **popen_args):
    """Runs `command` with pipes as its standard handles; returns its Result (see collect)."""
    with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **popen_args) as proc:
        out, err = collect(proc, stdin, timeout)
    return Result(proc.returncode, out, err)


class ToolTestCase(unittest.TestCase):
    """A test case with its own working folder and ways to run the tool."""

    maxDiff = None

    def setUp(self):
        self.exe = tool_path()
        self.folder = tempfile.mkdtemp(prefix="tw-e2e-")
        # Bound to this folder: a test that calls setUp again per row removes each.
        self.addCleanup(self._remove_folder, self.folder)

    @staticmethod
    def _remove_folder(folder):
        for root, dirs, files in os.walk(folder):
            for name in dirs + files:
                if not os.path.islink(os.path.join(root, name)):
                    os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(folder, ignore_errors=True)

    def command(self, *args):
        return launcher() + [self.exe, *args]

    def use_probe(self):
        """Runs the fault probe (TICKWRIGHT_PROBE) in place of the tool, which stays self.tool."""
        if not os.environ.get("TICKWRIGHT_PROBE"):
            self.skipTest("TICKWRIGHT_PROBE names no fault probe")
        self.tool, self.exe = self.exe, os.path.abspath(os.environ["TICKWRIGHT_PROBE"])

    def run_or_skip(self, command, why, undo):
        """Runs `command` or skips the test with `why`; `undo` runs at the test's end."""
        done = subprocess.run(command, capture_output=True)
        if done.returncode != 0:
            self.skipTest(why + done.stderr.decode(errors="replace"))
        self.addCleanup(subprocess.run, undo)

    def mount(self, *args):
        """Mounts in a mount table of this process's own, which its runs share: other tests and
        the machine never see it (a run's look at the table would change with theirs)."""
        global own_mount_table
        if not own_mount_table:
            if (ctypes.CDLL(None).unshare(CLONE_NEWNS) != 0 or subprocess.run(
                    ["mount", "--make-rprivate", "/"], capture_output=True).returncode != 0):
                self.skipTest("no mount table of our own here")
            own_mount_table = True
        self.run_or_skip(["mount", *args], "cannot mount here: ", ["umount", "-l", args[-1]])

    def give_away(self, user):
        """Makes `user` the owner of the folder and all in it (links themselves, not targets)."""
        for root, folders, files in os.walk(self.folder):
            for name in [root] + [os.path.join(root, n) for n in folders + files]:
                os.chown(name, user, user, follow_symlinks=False)

    def need_root(self):
        if os.geteuid() != 0:
            self.skipTest("other users' files need root")

    def run_tool(self, *args, stdin=b"", env=None, timeout=60, cwd=None, preexec_fn=None):
        """Runs the tool in a session of its own (no terminal: a window box goes to stderr)."""
        done = run_collecting(self.command(*args), stdin, timeout,
                              env=dict(os.environ, **(env or {})), cwd=cwd or self.folder,
                              start_new_session=True, preexec_fn=preexec_fn)
        return Result(done.code, done.out, _ASAN_SIGNAL_STACK_NOTE.sub(b"", done.err))

    def run_on_console(self, *args, stdin=b"", timeout=30):
        """Runs the tool with a terminal (not its controlling one) as standard output."""
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
            try:
                proc.stdin.write(stdin)
                proc.stdin.close()
            except BrokenPipeError:
                pass  # it ended without reading all of it: what it printed says how
            out = b""
            deadline = time.monotonic() + timeout
            while (data := read_available(master, 0.1)) is not None:
                out += data
                if time.monotonic() > deadline:
                    proc.kill()
                    self.fail(f"the run did not end; it printed {out!r}")
            return Result(proc.wait(timeout), out, proc.stderr.read())
        finally:
            os.close(master)
            proc.stderr.close()

    def terminal(self, *args):
        if on_windows():
            self.skipTest("Wine does not make a Unix terminal a Windows console")
        term = Terminal(self.command(*args), self.folder)
        self.addCleanup(term.close)
        return term

    def assertReported(self, result, report, caption=b"Error"):
        """A window box: its text on stderr on Linux; Windows shows a window that no test sees."""
        if not on_windows():
            self.assertEqual(caption + b"\n" + report + (b"" if report.endswith(b"\n") else b"\n"),
                             result.err)

    def path(self, name):
        """A file of the test's folder, named as the tool under test names it."""
        return os.path.join(self.folder, name.replace("\\", "/") if on_windows() else name)

    def write(self, name, data):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.lexists(self.path(name))

    def listing(self):
        return sorted(os.listdir(self.folder))

    def state(self, name):
        """What a user sees of a file: its bytes, owner, mode and inode (or what it links to)."""
        st = os.lstat(self.path(name))
        if stat.S_ISLNK(st.st_mode):
            return "link", os.readlink(self.path(name))
        if stat.S_ISFIFO(st.st_mode):
            return "fifo", st.st_uid
        return self.read(name), st.st_uid, stat.S_IMODE(st.st_mode), st.st_ino

    def make_read_only(self, name):
        os.chmod(self.path(name), stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


class Terminal:
    """The tool on a pty that is its controlling terminal, in line mode with echo (as a shell)."""

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
        data = read_available(self.master, timeout)
        self.closed |= data is None
        self.output += data or b""

    def read_until(self, expected, timeout=10):
        """Waits until the output so far ends with `expected`; returns it."""
        deadline = time.monotonic() + timeout
        while not self.output.endswith(expected):
            if self.closed or time.monotonic() > deadline:
                raise AssertionError(f"waited for {expected!r}; the terminal shows {self.output!r}")
            self._pump(0.05)
        return self.output

    def modes(self):
        return termios.tcgetattr(self.master)[3]

    def wait_for_key_read(self, timeout=10):
        """Waits until the tool reads single keys without echo."""
        deadline = time.monotonic() + timeout
        while self.modes() & (termios.ICANON | termios.ECHO):
            if time.monotonic() > deadline:
                raise AssertionError("the terminal stayed in line mode with echo")
            time.sleep(0.01)

    def type(self, keys):
        os.write(self.master, keys)

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
