"""The packages as users get them (TICKWRIGHT_DEB, TICKWRIGHT_ZIPS); the Debian package is
installed with dpkg only where TICKWRIGHT_INSTALL_DEB=1 (CI, as root): it changes the machine."""

import os
import re
import shutil
import subprocess
import tempfile
import zipfile

from harness import BANNER, ToolTestCase, build_line, header

VERSION = "2.0"
TRIPLET = "x86_64-linux-gnu"
CMAKE_FILES = [f"lib/cmake/Tickwright/Tickwright{name}.cmake" for name in (
    "BuildNumber", "BuildNumberInputs", "Config", "ConfigVersion", "Targets-relwithdebinfo",
    "Targets")]
DEB_FILES = sorted(
    [f"usr/bin/{name}" for name in ("Tickwright", "tickwright", "tw-ssadmin")]
    + [f"usr/lib/{TRIPLET}/tickwright/{name}" for name in ("libtwsourcesafe.so", "tw-ssadmin")]
    + [f"usr/share/bash-completion/completions/{name}" for name in ("Tickwright", "tickwright")]
    + [f"usr/share/doc/tickwright/{name}" for name in ("changelog.gz", "copyright")]
    + ["usr/share/lintian/overrides/tickwright"]
    + [f"usr/share/man/man1/{name}.1.gz" for name in ("Tickwright", "tickwright", "tw-ssadmin")]
    + ["usr/" + name for name in CMAKE_FILES])
ZIP_FILES = ["README.txt", "bin/Tickwright.exe", "bin/tw-ssadmin.exe", "bin/twsourcesafe.dll",
             *CMAKE_FILES]
# Where the package's files live, and what may be left of them.
_ROOTS = ["/usr/bin", "/usr/lib", "/usr/share/man", "/usr/share/doc", "/usr/share/bash-completion",
          "/usr/share/lintian", "/etc", "/var/lib/dpkg/info"]
_OURS = re.compile(r"tickwright|tw-ssadmin|twsourcesafe", re.IGNORECASE)


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=600, **kwargs)


def package_entries(deb):
    """The package's files and links, and its folders, without the leading "./"."""
    tar = run("dpkg-deb", "--fsys-tarfile", deb).stdout
    names = [n[2:] for n in run("tar", "-t", input=tar).stdout.decode().splitlines()
             if n not in ("./", ".")]
    return (sorted(n for n in names if not n.endswith("/")),
            sorted(n.rstrip("/") for n in names if n.endswith("/")))


def snapshot():
    paths = set()
    for root in _ROOTS:
        for folder, dirs, files in os.walk(root):
            paths.update(os.path.join(folder, name) for name in dirs + files)
    return paths


class PackageTestCase(ToolTestCase):
    """The packages that the environment variable VARIABLE names, and a folder of its own."""
    VARIABLE = None

    def setUp(self):
        self.package = os.environ.get(self.VARIABLE, "")
        if not self.package:
            self.skipTest(f"{self.VARIABLE} names no package")
        self.folder = tempfile.mkdtemp(prefix="tw-package-")
        self.addCleanup(self._remove_folder, self.folder)

    def path(self, name):
        return os.path.join(self.folder, name)


class DebianPackage(PackageTestCase):
    VARIABLE = "TICKWRIGHT_DEB"

    def test_holds_the_tool_its_documents_and_the_server_in_their_places(self):
        self.assertEqual(DEB_FILES, package_entries(self.package)[0])
        fields = run("dpkg-deb", "--field", self.package, "Package", "Version").stdout
        self.assertEqual(f"Package: tickwright\nVersion: {VERSION}\n".encode(), fields)

    def test_installed_it_bumps_from_path_and_removed_it_leaves_nothing(self):
        if os.environ.get("TICKWRIGHT_INSTALL_DEB") != "1":
            self.skipTest("installs only where TICKWRIGHT_INSTALL_DEB=1 (CI)")
        if run("dpkg", "-s", "tickwright").returncode == 0:
            run("dpkg", "--purge", "tickwright")  # left by an interrupted run
        files, dirs = package_entries(self.package)
        existed = {p for p in files + dirs if os.path.lexists("/" + p)}
        before = snapshot()
        installed = run("dpkg", "-i", self.package)
        self.addCleanup(run, "dpkg", "--purge", "tickwright")
        self.assertEqual(0, installed.returncode, installed.stderr)

        self.assertEqual("/usr/bin/tickwright", shutil.which("tickwright"))
        self.exe = "tickwright"
        result = self.run_tool()
        self.assertEqual((0, BANNER + build_line(1)), (result.code, result.out), result.err)
        self.assertEqual(header(1), self.read("Tickwright.h"))
        with self.subTest("the manual page"):
            self.check_manual_pages()
        with self.subTest("the completion, loaded by bash-completion"):
            self.check_completion()
        with self.subTest("/c through the server that tw-ssadmin registers"):
            self.check_checkout()
        with self.subTest("the CMake package"):
            self.check_cmake_package()

        removed = run("dpkg", "--purge", "tickwright")
        self.assertEqual(0, removed.returncode, removed.stderr)
        self.assertNotEqual(0, run("dpkg", "-s", "tickwright").returncode)
        left = {p for p in snapshot() - before if _OURS.search(p)}
        left |= {"/" + p for p in files + dirs if os.path.lexists("/" + p) and p not in existed}
        self.assertEqual(set(), left)

    def check_manual_pages(self):
        for name in ("tickwright", "Tickwright", "tw-ssadmin"):
            shown = run("man", "--warnings", name, env=dict(os.environ, MANWIDTH="80"))
            self.assertEqual((0, b""), (shown.returncode, shown.stderr), name)
            self.assertIn(b"SYNOPSIS", shown.stdout)

    def check_completion(self):
        if not os.path.exists("/usr/share/bash-completion/bash_completion"):
            self.skipTest("bash-completion is not installed")
        for name in ("tickwright", "Tickwright"):
            loaded = run("bash", "--norc", "-c", "source /usr/share/bash-completion/bash_completion"
                         f" && __load_completion {name} && complete -p {name}")
            self.assertEqual(f"complete -F _tickwright {name}\n".encode(), loaded.stdout,
                             loaded.stderr)

    def check_checkout(self):
        env = dict(os.environ, SSDIR=self.path("db"), SSUSER="alice",
                   XDG_CONFIG_HOME=self.path("config"))
        for args in (["create", self.path("db")], ["add-project", "$/app", self.folder],
                     ["add", "$/app", "Tickwright.h"], ["register"]):
            done = run("tw-ssadmin", *args, env=env, cwd=self.folder)
            self.assertEqual(0, done.returncode, done.stderr)
        result = self.run_tool("/nologo", "/c", env=env)
        self.assertEqual((0, build_line(2) + b"Build count file is read only. Trying to check it "
                          b"out...\nCurrent VSS project: $/\nOK\n"),
                         (result.code, result.out), result.err)
        self.assertEqual(header(2), self.read("Tickwright.h"))

    def check_cmake_package(self):
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                               "build-number")
        build = self.path("example")
        for args in (["-S", example, "-B", build], ["--build", build]):
            done = run("cmake", *args)
            self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        shown = run(os.path.join(build, "hello"))
        self.assertEqual(b"hello, build 1\n", shown.stdout)


def wine_loader(architecture):
    """Wine's loader for `architecture`, if it runs here (not where the kernel refuses i386)."""
    loader = {"x86_64": "/usr/lib/wine/wine64", "i686": "/usr/lib/wine/wine"}[architecture]
    if os.path.exists(loader):
        try:
            if run(loader, "--version").returncode == 0:
                return loader
        except OSError:
            pass
    return None


class WindowsZips(PackageTestCase):
    VARIABLE = "TICKWRIGHT_ZIPS"

    def test_each_zip_holds_the_programs_and_the_readme_and_its_tool_bumps_under_wine(self):
        readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
        with open(readme, "rb") as f:
            readme_text = f.read().replace(b"\n", b"\r\n")
        for zip_path in self.package.split():
            name = os.path.basename(zip_path)[:-len(".zip")]
            with self.subTest(name), zipfile.ZipFile(zip_path) as archive:
                self.assertRegex(name, rf"^tickwright-{re.escape(VERSION)}-windows-(i686|x86_64)$")
                files = sorted(n for n in archive.namelist() if not n.endswith("/"))
                self.assertEqual([f"{name}/{f}" for f in ZIP_FILES], files)
                self.assertEqual(readme_text, archive.read(f"{name}/README.txt"))
                loader = wine_loader(name.rsplit("-", 1)[1])
                if not loader:
                    self.skipTest(f"no Wine loader runs {name.rsplit('-', 1)[1]} programs here")
                quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, timeout=600)
                # Wine's first program starts services that hold output pipes: start them pipeless.
                subprocess.run([loader, "cmd", "/c", "exit"], **quiet)
                archive.extractall(self.path("unpacked"))
                os.makedirs(self.path(name))
                self.exe = self.path(f"unpacked/{name}/bin/Tickwright.exe")
                done = subprocess.run([loader, self.exe], cwd=self.path(name),
                                      stdin=subprocess.DEVNULL, capture_output=True, timeout=300,
                                      env=dict(os.environ, WINEDEBUG="-all"))
                # The Windows program ends its lines with CR LF whichever build runs this test.
                crlf = (BANNER + build_line(1)).replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
                self.assertEqual((0, crlf), (done.returncode, done.stdout), done.stderr)
                self.assertEqual(header(1), self.read(f"{name}/Tickwright.h"))
