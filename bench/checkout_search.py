#!/usr/bin/env python3
"""Times the whole-database search of a check-out through the real COM path:
the tool's /c on a read-only header that lies, in breadth-first order, last
of the whole database and outside the current project. For each size it
builds a database of that many file items in a few projects with the admin
command, registers the server in a registry of its own and runs the tool
(best of a few runs; the check-out is undone between runs).

    python3 bench/checkout_search.py [--build build/linux] [--sizes 1000,10000]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

PROJECTS = 4  # plus the current project, which holds a few files only


def run(command, env, cwd=None, stdin=None):
    completed = subprocess.run(command, env=env, cwd=cwd, input=stdin, capture_output=True)
    if completed.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({completed.returncode}):\n"
                 f"{completed.stdout.decode()}{completed.stderr.decode()}")
    return completed


def build_database(admin, server, folder, size, env):
    run([admin, "create", os.path.join(folder, "db")], env)
    run([admin, "register", "--server", server], env)
    run([admin, "add-project", "$/current", os.path.join(folder, "current")], env)
    run([admin, "add", "--missing-ok", "$/current"], env, stdin=b"a.h\nb.h\nc.h\n")
    per_project = (size - 3) // PROJECTS
    for p in range(PROJECTS):
        work = os.path.join(folder, f"p{p}")
        os.makedirs(work)
        run([admin, "add-project", f"$/p{p}", work], env)
        count = per_project if p < PROJECTS - 1 else size - 3 - per_project * (PROJECTS - 1)
        names = [f"file{i:07d}.c" for i in range(count - (p == PROJECTS - 1))]
        if p == PROJECTS - 1:
            # The one working copy that exists: the header, added last.
            with open(os.path.join(work, "Tickwright.h"), "w") as f:
                f.write("// 1\n")
            names.append("Tickwright.h")
        run([admin, "add", "--missing-ok", f"$/p{p}"], env,
            stdin="\n".join(names).encode() + b"\n")
    run([admin, "current", "$/current"], env)
    return os.path.join(folder, f"p{PROJECTS - 1}")


def time_check_out(tool, admin, work, env, runs):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        completed = subprocess.run([tool, "/nologo", "/n", "/c"], cwd=work, env=env,
                                   capture_output=True)
        elapsed = time.perf_counter() - start
        if completed.returncode != 0 or not completed.stdout.endswith(b"OK\n"):
            sys.exit(f"the check-out failed:\n{completed.stdout.decode()}{completed.stderr.decode()}")
        run([admin, "checkin", f"$/p{PROJECTS - 1}/Tickwright.h"], env)
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "linux"),
                        help="the build folder with Tickwright, tw-ssadmin and the server")
    parser.add_argument("--sizes", default="1000,10000,100000,1000000",
                        help="file items per database, comma-separated")
    parser.add_argument("--runs", type=int, default=3, help="runs per size (the best counts)")
    args = parser.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "Tickwright"))
    admin = os.path.abspath(os.path.join(args.build, "tw-ssadmin"))
    server = os.path.abspath(os.path.join(args.build, "libtwsourcesafe.so"))
    for path in (tool, admin, server):
        if not os.path.exists(path):
            sys.exit(f"{path} is missing: build first, or give --build")

    print(f"{'file items':>10} {'items.txt':>10} {'build':>8} {'check-out':>10} {'per item':>9}")
    rows = []
    for size in (int(s) for s in args.sizes.split(",")):
        folder = tempfile.mkdtemp(prefix="twss-bench-")
        try:
            env = dict(os.environ, SSDIR=os.path.join(folder, "db"), SSUSER="bench",
                       XDG_CONFIG_HOME=os.path.join(folder, "config"))
            start = time.perf_counter()
            work = build_database(admin, server, folder, size, env)
            built = time.perf_counter() - start
            megabytes = os.path.getsize(os.path.join(folder, "db", "items.txt")) / 1e6
            seconds = time_check_out(tool, admin, work, env, args.runs)
            rows.append((size, seconds))
            print(f"{size:>10} {megabytes:>8.1f}MB {built:>7.2f}s {seconds:>9.3f}s "
                  f"{seconds / size * 1e9:>7.0f}ns", flush=True)
        finally:
            for root, dirs, files in os.walk(folder):
                for name in files:
                    os.chmod(os.path.join(root, name), 0o644)
            shutil.rmtree(folder, ignore_errors=True)
    if len(rows) >= 2:
        (small, t_small), (large, t_large) = rows[-2], rows[-1]
        print(f"growth from {small} to {large} items: x{t_large / t_small:.1f} "
              f"for x{large / small:.0f} items")


if __name__ == "__main__":
    main()
