"""What scripts use: --help and --version."""

from harness import BANNER, USAGE, ToolTestCase

HELP = USAGE + (b"--help - print this text\r\n"
                b"--version - print the version banner\r\n")


class HelpAndVersion(ToolTestCase):
    def test_help_and_version_print_and_end_with_zero_writing_nothing(self):
        for args, code, out in [
                (["--help"], 0, HELP),
                (["--HELP", "/i"], 0, HELP),  # the first such switch ends the parsing
                (["-Help"], 0, HELP),
                (["-/help"], 0, HELP),
                (["/nologo/help"], 0, HELP),
                (["--version"], 0, BANNER),
                (["/nologo", "-VERSION", "--help"], 0, BANNER),  # the banner even under /nologo
                (["-x", "--version"], 0, b"Bad command line! Unknown key: x\r\n" + BANNER),
                (["--helpme"], 1, b"Bad command line! Unknown key: helpme\r\n")]:
            with self.subTest(args=args):
                self.setUp()
                result = self.run_tool(*args)
                self.assertEqual((code, out), (result.code, result.out), result.err)
                self.assertEqual([], self.listing())
