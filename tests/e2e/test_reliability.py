"""No lost increment, no broken header: concurrent runs through any names, runs killed at random."""

import os
import random
import signal
import subprocess
import time

from harness import (CANNOT_OPEN, EOL, Result, ToolTestCase, build_line, collect, file_error,
                     header, on_windows)

# Every complete header text that the runs below can leave.
COMPLETE = {header(n): n for n in range(0, 1000)}


class Concurrency(ToolTestCase):
    RUNS = 50

    def names(self):
        """Sets of names of one header: the runs take turns among a set's names. With each, whether
        a reader can only ever see a whole header: in place, it may see old and new bytes mixed."""
        # Windows: another spelling of the path; Linux: the absolute path.
        yield ["Tickwright.h", ".\\Tickwright.h" if on_windows() else self.path("Tickwright.h")], True
        if not on_windows():
            os.makedirs(self.path("other"), exist_ok=True)
            os.symlink("../Tickwright.h", self.path("other/Tickwright.h"))
            os.link(self.path("Tickwright.h"), self.path("second.h"))
            yield ["Tickwright.h", "other/Tickwright.h"], True
            yield ["Tickwright.h", "second.h"], False
            os.remove(self.path("second.h"))
        # No claim file can be made: the header's own lock keeps the runs apart.
        os.mkdir(self.path("Tickwright.h.TMP"))
        yield ["Tickwright.h"], False

    def test_concurrent_runs_through_any_names_lose_no_increment(self):
        self.write("Tickwright.h", header(0))
        before = set(self.listing())
        total = 0
        for names, whole in self.names():
            with self.subTest(names=names):
                total += self.run_together(names, total, whole)
        self.assertEqual(before | {"Tickwright.h.TMP"} | (set() if on_windows() else {"other"}),
                         set(self.listing()))

    def run_together(self, names, done, whole):
        """RUNS runs at once through `names`; returns how many counted."""
        # The runs wait at a gate (a pipe) and all start when it opens.
        gate_read, gate_write = os.pipe()
        script = f'read -r _ <&{gate_read} && exec "$@"'
        runs = [subprocess.Popen(["sh", "-c", script, "sh", *self.command("/nologo", name)],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, cwd=self.folder, pass_fds=(gate_read,),
                                 start_new_session=True)
                for name in names * (self.RUNS // len(names))]
        os.close(gate_read)
        os.write(gate_write, b"\n" * len(runs))
        os.close(gate_write)
        # Each name writes itself into the #include line.
        complete = {header(n, file_name=name.replace("\\", "/").rsplit("/", 1)[-1]): n
                    for n in range(done, done + len(runs) + 1) for name in names}
        # A reader meanwhile only ever sees a complete header, never none.
        while whole and any(run.poll() is None for run in runs):
            text = self.read("Tickwright.h") if self.exists("Tickwright.h") else None
            self.assertTrue(text in complete, f"a missing or broken header: {text!r}")
        printed = []
        for run, name in zip(runs, names * len(runs)):
            out, err = collect(run)
            if run.returncode == 0:
                self.assertRegex(out, rb"^Build N: \d+" + EOL + rb"$")
                printed.append(int(out[9:-len(EOL)]))
            else:
                self.assertEqual((5, b""), (run.returncode, out), err)
                self.assertReported(Result(5, out, err), file_error(CANNOT_OPEN, name, 32))
        # Every number once: no two runs counted from the same one.
        self.assertEqual(list(range(done + 1, done + len(printed) + 1)), sorted(printed))
        self.assertEqual(done + len(printed), complete[self.read("Tickwright.h")])
        return len(printed)


class Interruption(ToolTestCase):
    def test_runs_killed_at_random_moments_leave_a_complete_header(self):
        seed = int(os.environ.get("TICKWRIGHT_SEED", time.time_ns() % 100000))
        rng = random.Random(seed)
        self.write("Tickwright.h", header(0))
        # Kills land anywhere from the start to past the end of a whole run.
        started = time.monotonic()
        self.assertEqual(0, self.run_tool("/nologo", "/b").code)
        span = 1.5 * (time.monotonic() - started)
        number = 1
        for _ in range(150):
            run = subprocess.Popen(self.command("/nologo", "/b"), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   cwd=self.folder, start_new_session=True)
            time.sleep(rng.uniform(0, span))
            run.send_signal(signal.SIGKILL)
            run.wait()
            text = self.read("Tickwright.h")
            self.assertTrue(text in COMPLETE, f"seed {seed}: a broken header {text!r}")
            self.assertIn(COMPLETE[text], (number, number + 1), f"seed {seed}")
            number = COMPLETE[text]
            if self.exists("Tickwright.bat"):
                self.assertRegex(self.read("Tickwright.bat"), rb"^@SET BUILD_NUMBER=\d+\r\n$")
        # Whatever the kills left behind, the next run counts on.
        result = self.run_tool("/nologo")
        self.assertEqual((0, build_line(number + 1)), (result.code, result.out), f"seed {seed}")
