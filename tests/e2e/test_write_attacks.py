"""What a careless or hostile user can put where the tool writes: each run leaves every file
with its old text or its new one, its owner and mode, and writes nothing its user could not."""

import os
import resource

from harness import (CANNOT_OPEN, NOBODY, WRITE_ERROR, ToolTestCase, as_user, batch, build_line,
                     file_error, header, on_windows)

STRANGER = 12345  # a user who owns nothing here
SECRET = b"root's own text\n"


class Attacks(ToolTestCase):
    def setUp(self):
        super().setUp()
        if on_windows():
            self.skipTest("owners, modes, links and FIFOs of Linux")
        os.chmod(self.folder, 0o777)

    def put(self, name, text, owner=0, mode=0o644):
        self.write(name, text)
        os.chown(self.path(name), owner, owner)
        os.chmod(self.path(name), mode)

    def test_planted_claim_names_are_neither_followed_nor_taken(self):
        self.need_root()

        plants = {
            "link": lambda name: os.symlink(self.path("vault/secret"), self.path(name)),
            "fifo": lambda name: os.mkfifo(self.path(name)),
            "others_file": lambda name: self.put(name, b"nobody's notes\n", NOBODY, 0o644),
            # The running user's: no text the tool writes.
            "own_file": lambda name: self.put(name, b"precious\n", 0, 0o644),
            "second_name": lambda name: os.link(self.path("vault/secret"), self.path(name)),
        }
        # (what the other user planted, arguments, the number written, or None: nothing written)
        for plant, name, args, number in [
                ("link", "Tickwright.h.TMP", [], 42), ("link", "Tickwright.bat.TMP", ["/b"], 42),
                ("fifo", "Tickwright.h.TMP", [], 42), ("fifo", "Tickwright.bat.TMP", ["/b"], 42),
                ("others_file", "Tickwright.h.TMP", [], 42),
                ("second_name", "Tickwright.h.TMP", [], 42),
                ("own_file", "Tickwright.h.TMP", [], 42),
                ("own_file", "Tickwright.bat.TMP", ["/b"], 42),
                ("others_file", "Tickwright.h.TMP", ["/i"], None)]:  # no answer: declined
            with self.subTest(plant=plant, name=name, args=args):
                self.setUp()
                os.chown(self.folder, NOBODY, NOBODY)
                self.put("vault/secret", SECRET, 0, 0o600)  # root's, outside the folder
                secret = self.state("vault/secret")
                self.put("Tickwright.h", header(41), NOBODY, 0o666)
                self.put("Tickwright.bat", batch(41), NOBODY, 0o600)
                plants[plant](name)
                planted, before = self.state(name), self.listing()
                old = {n: self.state(n) for n in ("Tickwright.h", "Tickwright.bat")}
                result = self.run_tool("/nologo", *args, timeout=20)
                self.assertEqual(0, result.code, result.err)
                self.assertEqual((secret, planted, before),
                                 (self.state("vault/secret"), self.state(name), self.listing()))
                for file, text in [("Tickwright.h", header(number or 41)),
                                   ("Tickwright.bat", batch(42) if args == ["/b"] else batch(41))]:
                    # The same owner and mode; a file whose claim name was taken: in place.
                    now = self.state(file)
                    self.assertEqual((text,) + old[file][1:3], now[:3])
                    if name.startswith(file):
                        self.assertEqual(old[file][3], now[3])

    def test_files_the_user_may_not_write_stay_as_they_are(self):
        self.need_root()
        # (owner of the header, owner of the batch file, arguments, file refused)
        for header_owner, batch_owner, args, refused in [
                (0, NOBODY, [], "Tickwright.h"),
                (NOBODY, 0, ["/b"], "Tickwright.bat")]:
            with self.subTest(refused=refused):
                self.setUp()
                self.put("Tickwright.h", header(41), header_owner)
                self.put("Tickwright.bat", batch(41), batch_owner)
                old = {n: self.state(n) for n in ("Tickwright.h", "Tickwright.bat")}
                result = self.run_tool("/nologo", *args, preexec_fn=as_user(NOBODY))
                self.assertEqual((5, build_line(42)), (result.code, result.out))
                self.assertReported(result, file_error(CANNOT_OPEN, refused, 5))
                self.assertEqual(old, {n: self.state(n) for n in old})
                self.assertEqual(["Tickwright.bat", "Tickwright.h"], self.listing())

    def test_rewrites_in_place_keep_the_file_and_pass_only_through_old_or_new(self):
        def claim_name_is_a_folder():
            os.mkdir(self.path("Tickwright.h.TMP"))

        def sticky_folder():
            os.chmod(self.folder, 0o1777)
            self.put("Tickwright.h", header(41), NOBODY, 0o666)

        def hard_link():
            os.link(self.path("Tickwright.h"), self.path("second.h"))

        def bind_mount():
            self.write("second.h", b"")
            self.mount("--bind", self.path("Tickwright.h"), self.path("second.h"))

        no_files = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0))  # noqa: E731
        # (set-up, the run's user and limits, the report of a failure or None, the new number)
        for prepare, preexec, report, number in [
                (claim_name_is_a_folder, no_files, file_error(WRITE_ERROR, "Tickwright.h", 223), 41),
                (sticky_folder, as_user(STRANGER), None, 42),
                (hard_link, None, None, 42), (bind_mount, None, None, 42)]:
            with self.subTest(case=prepare.__name__):
                if (preexec is not None and preexec is not no_files) or prepare is bind_mount:
                    self.need_root()
                self.setUp()
                self.put("Tickwright.h", header(41), 0, 0o666)
                prepare()
                before, old = self.listing(), self.state("Tickwright.h")
                result = self.run_tool("/nologo", preexec_fn=preexec)
                self.assertEqual((5 if report else 0, build_line(42)), (result.code, result.out),
                                 result.err)
                if report:
                    self.assertReported(result, report)
                self.assertEqual((header(number),) + old[1:], self.state("Tickwright.h"))
                self.assertEqual(before, self.listing())
                if prepare in (hard_link, bind_mount):
                    # Both names show each new text, whichever name a run goes through.
                    self.assertEqual(header(42), self.read("second.h"))
                    result = self.run_tool("/nologo", "second.h")
                    self.assertEqual((0, build_line(43)), (result.code, result.out), result.err)
                    self.assertEqual((header(43, file_name="second.h"),) * 2,
                                     (self.read("Tickwright.h"), self.read("second.h")))

    def chattr(self, flag, name):
        self.run_or_skip(["chattr", flag, self.path(name)], "no inode flags here: ",
                         ["chattr", "-" + flag[1:], self.path(name)])

    def test_files_that_cannot_be_written_are_refused_before_the_header_moves(self):
        def flagged(flag):
            return lambda name: (self.write(name, batch(41)), self.chattr(flag, name))

        makers = {
            "fifo": lambda name: os.mkfifo(self.path(name)),
            "folder": lambda name: os.mkdir(self.path(name)),
            "append_only": flagged("+a"), "immutable": flagged("+i"),
            # A side file that leads to a claim file of the run.
            "link_to_header_claim": lambda name: os.symlink("Tickwright.h.TMP", self.path(name)),
            "link_to_env_claim": lambda name: os.symlink("Tickwright.env.TMP", self.path(name)),
        }
        # (what is made at a name, the name, arguments, the name and code of the report)
        for make, name, args, reported, code in [
                ("fifo", "Tickwright.h", [], "Tickwright.h", 222),
                ("fifo", "Tickwright.bat", ["/b"], "Tickwright.bat", 222),
                ("fifo", "Tickwright.env", ["/e"], "Tickwright.env", 222),
                ("folder", "Tickwright.h", [], "Tickwright.h", 5),
                ("folder", "Tickwright.bat", ["/b"], "Tickwright.bat", 5),
                (None, None, ["/b:missing/x.bat"], "missing/x.bat", 3),
                (None, None, ["/e:missing/x"], "missing/x.env", 3),
                ("append_only", "Tickwright.bat", ["/b"], "Tickwright.bat", 5),
                ("immutable", "Tickwright.env", ["/e"], "Tickwright.env", 5),
                ("link_to_header_claim", "Tickwright.bat", ["/b"], "Tickwright.bat", 32),
                ("link_to_env_claim", "Tickwright.bat", ["/b", "/e"], "Tickwright.bat", 5)]:
            with self.subTest(make=make, reported=reported):
                self.setUp()
                if name != "Tickwright.h":
                    self.write("Tickwright.h", header(41))
                if make:
                    makers[make](name)
                before = self.listing()
                result = self.run_tool("/nologo", *args, timeout=20)
                self.assertEqual(5, result.code, result.err)
                self.assertReported(result, file_error(CANNOT_OPEN, reported, code))
                if name != "Tickwright.h":
                    self.assertEqual(header(41), self.read("Tickwright.h"))
                self.assertEqual(before, self.listing())
