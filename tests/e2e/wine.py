"""The Windows build under Wine: paths, the prefix's programs, and the tool on a Wine console."""

import fcntl
import os
import pty
import re
import struct
import subprocess
import termios
import time

from harness import ANY_KEY_PROMPT, Result, launcher, patience, read_available, run_collecting

# Wine's console adds a title, cursor hiding, line clearing, a CR per LF, and expands tabs.
_CONSOLE_NOISE = re.compile(rb"\x1b\]0;[^\x07]*\x07|\x1b\[\?25[lh]|\x1b\[K")


def windows_path(path):
    """`path` as a Windows program under Wine names it: drive Z: is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def other_windows_build(path):
    """`path` of the build folder TICKWRIGHT_BUILD_DIR in the other Windows build beside it."""
    build = os.environ["TICKWRIGHT_BUILD_DIR"]
    other = {"mingw-i686": "mingw-x86_64", "mingw-x86_64": "mingw-i686"}[os.path.basename(build)]
    return os.path.join(os.path.dirname(build), other, os.path.relpath(path, build))


def run_program(*args, env=None, cwd=None, timeout=120):
    """Runs a Windows program (a path, or one of the prefix's) under the suite's launcher."""
    return run_collecting(launcher() + list(args), env=env, cwd=cwd, timeout=timeout)


def run_on_console(command, cwd, timeout=60):
    """Runs `command` on a Wine console, typing a key at each "Hit any key"; returns its output."""
    master, slave = pty.openpty()
    # Wide enough that Wine wraps no line of a report.
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 1000, 0, 0))
    try:
        proc = subprocess.Popen(command, stdin=slave, stdout=slave, stderr=subprocess.DEVNULL,
                                cwd=cwd, start_new_session=True)
    finally:
        os.close(slave)
    raw, answered, deadline = b"", 0, time.monotonic() + patience(timeout)
    try:
        while (data := read_available(master, 0.1)) is not None:
            raw += data
            if clean(raw).count(ANY_KEY_PROMPT.lstrip(b"\t")) > answered:
                os.write(master, b"x")
                answered += 1
            if not data and proc.poll() is not None:
                break
            if time.monotonic() > deadline:
                proc.kill()
                raise AssertionError(f"the run did not end; the console shows {clean(raw)!r}")
        return Result(proc.wait(patience(10)), clean(raw), b"")
    finally:
        os.close(master)


def clean(raw):
    """The console's output as the tool wrote it, but for tabs."""
    return _CONSOLE_NOISE.sub(b"", raw).replace(b"\r\r\n", b"\r\n")

