#!/usr/bin/env python3
"""Does the suite catch real faults? Plants each mutant below in the source, one at a time,
builds the Linux build, runs the whole suite, and tells which tests caught it.

    python3 tools/mutants.py [--build FOLDER] [--jobs N] [NAME ...]
    python3 tools/mutants.py --list

A mutant is one small fault of the kind a change could bring in: a name, the file, and the
replacements that make it (each original text must stand exactly once in its file). The
source is put back after each one, also when the run is interrupted. The build folder
(default build/mutants) is configured like the linux preset; a mutant that does not build is
reported as such. A mutant that no test catches is a hole in the suite: add a test, or, when
the mutant changes nothing that can be seen, say why here and drop it.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, file, [(original, mutated), ...])
MUTANTS = [
    # The write path.
    ("folder not flushed after the rename", "src/winapi/linux/safe_write.cpp",
     [("return sys.fsync(folder_.Get()); }) == 0", "return 0; }) == 0")]),
    ("new claim file not locked", "src/winapi/linux/safe_write.cpp",
     [("      if (!Lock(made)) {", "      if (false) {")]),
    ("existing target not locked", "src/winapi/linux/safe_write.cpp",
     [("    if (!Lock(file)) {", "    if (false) {")]),
    ("claim file made for everyone", "src/winapi/linux/safe_write.cpp",
     [("constexpr mode_t kClaimMode = 0600;", "constexpr mode_t kClaimMode = 0666;")]),
    ("any stale claim's text taken over", "src/winapi/linux/safe_write.cpp",
     [("if (!text.empty() && !(ownText_ && ownText_(text.data(), text.size()))) return true;",
       "")]),
    ("shorter text in place not padded", "src/winapi/safe_write.cpp",
     [("  if (size_ < oldSize) text_.append(oldSize - size_, '\\n');\n", "")]),
    ("old text not put back after a failed write", "src/winapi/safe_write.cpp",
     [("    WriteAll(target_, oldText_.data(), oldText_.size());\n", "")]),
    ("header replaced before the side files are ready", "src/app/counter_header.cpp",
     [("  header.Prepare(text.GetText(), text.GetLength());\n",
       "  header.Prepare(text.GetText(), text.GetLength());\n  header.Commit();\n"),
      ("  header.Commit();\n  if (options.makeBatFile) batch.Commit();",
       "  if (options.makeBatFile) batch.Commit();")]),
    # The header's format.
    ("negative number not wrapped", "src/app/header_format.cpp",
     [("negative ? static_cast<DWORD>(0u - static_cast<DWORD>(magnitude))",
       "negative ? static_cast<DWORD>(magnitude)")]),
    ("low word of twelve bits", "src/app/header_format.cpp",
     [("const unsigned low = number & 0xFFFF;", "const unsigned low = number & 0xFFF;")]),
    # The options and the run.
    ("/n counts all the same", "src/app/counter_header.cpp",
     [("if (!options.noIncrement) ++number;", "++number;")]),
    ("/i asks about an empty header", "src/app/counter_header.cpp",
     [("options.interactive && !options.noIncrement && numberRead",
       "options.interactive && !options.noIncrement")]),
    ("a bad command line ends with 5", "src/app/run_flow.cpp",
     [("if (badCommandLine) return 1;", "if (badCommandLine) return 5;")]),
    ("a build name is no longer checked", "src/app/options.cpp",
     [("if (!text.IsEmpty() && !IsValidBuildName(text)) {", "if (false) {")]),
    # The texts.
    ("the build line loses its blank", "src/res/string_table.inc",
     [('TW_STRING(4, IDS_BUILD_N, "Build N: %u")', 'TW_STRING(4, IDS_BUILD_N, "Build N:%u")')]),
    # The check-out.
    ("a batch file's failed check-out told as the header's", "src/app/read_only.cpp",
     [("{IDS_BAT_READ_ONLY_CHECKING_OUT, IDS_BAT_NOT_IN_CURRENT_PROJECT, IDS_CANNOT_CHECKOUT_BAT,",
       "{IDS_BAT_READ_ONLY_CHECKING_OUT, IDS_BAT_NOT_IN_CURRENT_PROJECT, IDS_CANNOT_CHECKOUT,")]),
    ("the whole database is not searched", "src/scc/sourcesafe_session.cpp",
     [('ClBStr root(WIDE("$/"));', 'ClBStr root(WIDE("$/nowhere"));')]),
    # The Linux layer. (Its errno table is not planted row by row: a report on Linux shows
    # the errno's own text, and most codes steer nothing; the rows that do are planted where
    # they steer, as the claim's and the check's.)
    ("console lines keep their CR", "src/winapi/linux/console.cpp",
     [("    if (text[i] != '\\r' || i + 1 == size || text[i + 1] != '\\n') lines += text[i];",
       "    lines += text[i];")]),
    ("a read-only file is written by root", "src/winapi/linux/safe_write.cpp",
     [("if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsReadOnly(st))) {",
       "if (S_ISDIR(st.st_mode)) {")]),
    ("the COM registry waits on a FIFO", "src/winapi/linux/com.cpp",
     [("O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0)", "O_RDONLY | O_CLOEXEC | O_NOCTTY, 0)")]),
]


def apply(mutant):
    """Plants the mutant; returns what to put back, or the reason it cannot be planted."""
    name, path, edits = mutant
    full = os.path.join(ROOT, path)
    with open(full, encoding="utf-8") as f:
        original = f.read()
    text = original
    for old, new in edits:
        if text.count(old) != 1:
            return None, f"{path}: the original text stands {text.count(old)} times: {old!r}"
        text = text.replace(old, new)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)
    return (full, original), None


def failed_tests(build):
    log = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8") as f:
        return [line.strip().split(":", 1)[1] for line in f if ":" in line]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mutants"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("names", nargs="*", help="only the mutants whose names hold one of these")
    args = parser.parse_args()
    chosen = [m for m in MUTANTS if not args.names or any(n in m[0] for n in args.names)]
    if args.list:
        for name, path, _ in chosen:
            print(f"{name}  ({path})")
        return 0
    subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "-j", str(args.jobs)], check=True,
                   stdout=subprocess.DEVNULL)
    rows, survivors = [], 0
    for mutant in chosen:
        started = time.monotonic()
        restore, problem = apply(mutant)
        if problem:
            rows.append((mutant[0], "NOT PLANTED: " + problem))
            survivors += 1
            continue
        try:
            built = subprocess.run(["cmake", "--build", args.build, "-j", str(args.jobs)],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if built.returncode != 0:
                rows.append((mutant[0], "does not build"))
                continue
            # CTest leaves the last list of failures standing when nothing fails.
            stale = os.path.join(args.build, "Testing", "Temporary", "LastTestsFailed.log")
            if os.path.exists(stale):
                os.remove(stale)
            subprocess.run(["ctest", "--test-dir", args.build, "-j", str(args.jobs)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            caught = failed_tests(args.build)
        finally:
            with open(restore[0], "w", encoding="utf-8") as f:
                f.write(restore[1])
        if not caught:
            survivors += 1
        shown = ", ".join(caught[:3]) + (f" and {len(caught) - 3} more" if len(caught) > 3 else "")
        rows.append((mutant[0], shown or "SURVIVED"))
        print(f"{mutant[0]}: {shown or 'SURVIVED'} ({time.monotonic() - started:.0f} s)",
              file=sys.stderr)
    # The source is whole again: the last build is the real one.
    subprocess.run(["cmake", "--build", args.build, "-j", str(args.jobs)],
                   stdout=subprocess.DEVNULL)
    print("| mutant | caught by |\n|---|---|")
    for name, result in rows:
        print(f"| {name} | {result} |")
    print(f"\n{len(rows) - survivors} of {len(rows)} caught")
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
