#!/usr/bin/env python3
"""The cost of a bump: the tool against two references, on one machine in one run.

The floor (floor.c) does the tool's job in the least C: read 256 bytes, parse,
format, write, print. --durable adds what the tool does to keep the header
safe (lock, temporary file, fsync of the file and of the folder, rename). The
shell script (bump.sh) does it with sed and printf. For each run this prints
instructions (callgrind), system calls (strace -c), the median wall time of
many runs taken in turns (A B A B) with its ratio to the floor, and the peak
resident memory; then whether the goals are met.

    python3 bench/bump.py [--tool PATH] [--baseline PATH] [--rounds N] [--dir FOLDER]

--baseline adds another build of the tool (say, before a change) to the runs.

Needs cc, valgrind and strace. The headers are written in a new folder under
--dir (default: the system's temporary folder), which is removed afterwards.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = (b"// 41\n// This file is generated automatically.\n\n"
          b"//\t#include \"Tickwright.h\"\n\n#define BUILD_NUMBER 41\n")
BROKEN = b"#define BUILD_NUMBER 41\n"

# Goals on this machine: the tool's bump against the floor and the script.
MAX_INSTRUCTIONS = 2.0
MAX_WALL = 1.3
MIN_SPEEDUP_OVER_SCRIPT = 5.0
MAX_RSS_KIB = 4096


def compile_helpers(folder):
    tools = {}
    for name, extra in (("floor", []), ("spawn_timer", []), ("nosync", ["-shared", "-fPIC"])):
        out = os.path.join(folder, name + (".so" if name == "nosync" else ""))
        subprocess.run(["cc", "-O2", "-o", out, *extra, os.path.join(HERE, name + ".c")],
                       check=True)
        tools[name] = out
    return tools


def reset(folder, content):
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    with open(os.path.join(folder, "Tickwright.h"), "wb") as f:
        f.write(content)


def quiet_run(command, folder, env):
    subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)


def instructions(command, folder, content, env, logs):
    """Instructions of one run, all its processes together."""
    reset(folder, content)
    pattern = os.path.join(logs, "callgrind.%p")
    quiet_run(["valgrind", "--tool=callgrind", "--trace-children=yes",
               "--callgrind-out-file=/dev/null", "--log-file=" + pattern, *command],
              folder, env)
    total = 0
    for name in os.listdir(logs):
        with open(os.path.join(logs, name)) as f:
            counts = re.findall(r"Collected : ([\d,]+)", f.read())
        total += sum(int(n.replace(",", "")) for n in counts)
        os.remove(os.path.join(logs, name))
    return total


def system_calls(command, folder, content, env, logs):
    reset(folder, content)
    out = os.path.join(logs, "strace")
    quiet_run(["strace", "-f", "-c", "-o", out, *command], folder, env)
    with open(out) as f:
        total = [line.split() for line in f if line.rstrip().endswith("total")][-1]
    os.remove(out)
    return int(total[3])  # % time, seconds, usecs/call, calls, [errors,] total


def wall_times(commands, folder, content, env, tools, rounds):
    """Median nanoseconds, median ratio to the first command, peak RSS, exit codes."""
    reset(folder, content)
    argv = [tools["spawn_timer"], str(rounds)]
    for i, command in enumerate(commands):
        argv += (["--"] if i else []) + command
    result = subprocess.run(argv, cwd=folder, env=env, check=True, capture_output=True, text=True)
    runs = {}
    for line in result.stdout.splitlines():
        round_, index, ns, code, rss = map(int, line.split())
        runs.setdefault(index, []).append((round_, ns, code, rss))
    floor = {r: ns for r, ns, _, _ in runs[0]}
    stats = []
    for index in range(len(commands)):
        times = runs[index]
        stats.append({
            "wall": statistics.median(ns for _, ns, _, _ in times),
            "ratio": statistics.median(ns / floor[r] for r, ns, _, _ in times),
            "rss": max(rss for _, _, _, rss in times),
            "codes": sorted({code for _, _, code, _ in times}),
        })
    return stats


def measure(title, runs, content, env, tools, rounds, folder, logs):
    """`runs`: (label, command); the first is the reference of the ratios."""
    walls = wall_times([c for _, c in runs], folder, content, env, tools, rounds)
    rows = []
    for (label, command), wall in zip(runs, walls):
        rows.append(dict(label=label, **wall,
                         instructions=instructions(command, folder, content, env, logs),
                         syscalls=system_calls(command, folder, content, env, logs)))
    reference = rows[0]
    print(f"\n{title}\n")
    print("| run | instructions | x floor | system calls | wall (median) | x floor "
          "| peak RSS | exit |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for row in rows:
        print(f"| {row['label']} | {row['instructions']:,} "
              f"| {row['instructions'] / reference['instructions']:.2f} | {row['syscalls']} "
              f"| {row['wall'] / 1000:.0f} us | {row['ratio']:.2f} "
              f"| {row['rss'] / 1024:.1f} MiB | {','.join(map(str, row['codes']))} |")
    return {row["label"]: row for row in rows}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tool", default=os.path.join(HERE, "..", "build", "linux", "Tickwright"))
    parser.add_argument("--baseline", default=None)
    parser.add_argument("--rounds", type=int, default=300)
    parser.add_argument("--dir", default=None)
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    scratch = tempfile.mkdtemp(prefix="bump-", dir=args.dir)
    try:
        tools_dir, folder, logs = (os.path.join(scratch, n) for n in ("tools", "run", "logs"))
        for d in (tools_dir, folder, logs):
            os.mkdir(d)
        tools = compile_helpers(tools_dir)
        env = dict(os.environ)
        nosync = dict(env, LD_PRELOAD=tools["nosync"])
        floor, durable = [tools["floor"]], [tools["floor"], "--durable"]
        shell = ["/bin/sh", os.path.join(HERE, "bump.sh")]
        # What starting any program costs: the most any bump can beat the script by.
        empty = ("empty program (true)", [shutil.which("true")])
        print("Command: python3 bench/bump.py " + " ".join(sys.argv[1:]))
        common = (env, tools, args.rounds, folder, logs)
        baseline = ([("Tickwright, baseline", [os.path.abspath(args.baseline)])]
                    if args.baseline else [])
        bump = measure("A bump of the default header", [
            ("floor", floor), ("floor, durable", durable), ("Tickwright", [tool]), *baseline,
            ("shell script", shell), empty], HEADER, *common)
        bare = measure("The same without fsync (LD_PRELOAD of a no-op fsync, for measuring only)", [
            ("floor", floor), ("floor, durable", durable), ("Tickwright", [tool]), *baseline,
            ("shell script", shell), empty], HEADER, nosync, *common[1:])
        measure("With /b (the batch file too)", [
            ("floor", floor + ["--bat"]), ("floor, durable", durable + ["--bat"]),
            ("Tickwright /b", [tool, "/b"])], HEADER, *common)
        measure("A parse error (exit code 5)", [
            ("floor", floor), ("Tickwright", [tool])], BROKEN, *common)

        t, f, d, s = (bump[k] for k in ("Tickwright", "floor", "floor, durable", "shell script"))
        checks = [
            ("instructions <= %.1fx the floor's" % MAX_INSTRUCTIONS,
             t["instructions"] / f["instructions"],
             t["instructions"] <= MAX_INSTRUCTIONS * f["instructions"]),
            ("wall time <= %.1fx the floor's" % MAX_WALL, t["ratio"], t["ratio"] <= MAX_WALL),
            ("wall time <= %.1fx the durable floor's" % MAX_WALL, t["ratio"] / d["ratio"],
             t["ratio"] / d["ratio"] <= MAX_WALL),
            ("without fsync, wall time <= %.1fx the floor's" % MAX_WALL,
             bare["Tickwright"]["ratio"], bare["Tickwright"]["ratio"] <= MAX_WALL),
            ("at least %.0fx faster than the shell script" % MIN_SPEEDUP_OVER_SCRIPT,
             s["wall"] / t["wall"], s["wall"] >= MIN_SPEEDUP_OVER_SCRIPT * t["wall"]),
            ("without fsync, at least %.0fx faster than the shell script" % MIN_SPEEDUP_OVER_SCRIPT,
             bare["shell script"]["wall"] / bare["Tickwright"]["wall"],
             bare["shell script"]["wall"] >= MIN_SPEEDUP_OVER_SCRIPT * bare["Tickwright"]["wall"]),
            ("peak resident memory < 4 MiB", t["rss"] / 1024, t["rss"] < MAX_RSS_KIB),
            ("for scale: how much faster the floor is than the shell script",
             s["wall"] / f["wall"], None),
        ]
        print("\n| goal | measured | met |\n|---|---:|---|")
        for name, value, met in checks:
            print(f"| {name} | {value:.2f} | {'-' if met is None else 'yes' if met else 'no'} |")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
