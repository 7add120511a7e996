#!/usr/bin/env python3
"""Times the scanners side by side on a warm cache, alternating the commands.

Runs each command ROUNDS times, one after the other in turn (so that background load
spreads over all of them), and reports the median wall time, the peak resident memory and
the ratio to the C floor walker. Ratios use the best (lowest) wall time of each command,
the figure least disturbed by other work on the machine. Also counts system calls per entry with strace -c.

With --query it times instead `vantel query` against `fdfind -u` with the same name pattern
(case-insensitive glob), and checks that both find the same number of entries.

Usage: compare.py [--tree DIR] [--vantel PATH] [--rounds N] [--no-strace] [--query]
The tree comes from make_tree.py; the vantel binary from the release preset.
"""
import argparse
import collections
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# /usr/bin/time reports wall times in hundredths of a second: a run on a tiny tree reads
# 0.00, which ratios count as one tick rather than divide by.
CLOCK = 0.01


# One timed run: wall seconds, peak resident KB, CPU seconds (user and system, all threads).
# The CPU time is the steadier figure on a busy machine, where the wall time of a
# multi-threaded command also counts the waits for a free processor.
Run = collections.namedtuple("Run", "wall peak cpu")


class CommandFailed(Exception):
    """A timed command exited with a failure; the message holds the command and its stderr."""


def ratio(value, base):
    """value / base, each time below the clock's resolution (read as 0.00) counted as one tick."""
    return max(value, CLOCK) / max(base, CLOCK)


def build_floor(out):
    src = os.path.join(HERE, "floor_walker.c")
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        subprocess.run(["cc", "-O2", "-pthread", src, "-o", out], check=True)
    return out


def timed(cmd, shell_out="/dev/null"):
    """Runs cmd with its stdout to shell_out; answers its Run. Raises CommandFailed when
    cmd fails."""
    with open(shell_out, "wb") as out:
        proc = subprocess.run(["/usr/bin/time", "-f", "%e %M %U %S"] + cmd, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.PIPE)
    lines = proc.stderr.decode(errors="replace").strip().splitlines()
    if proc.returncode != 0 or not lines:
        raise CommandFailed(f"{' '.join(cmd)} failed:\n" + "\n".join(lines[-10:]))
    wall, peak, user, system = lines[-1].split()
    return Run(float(wall), int(peak), float(user) + float(system))


def timed_rounds(commands, tree, rounds, keep_going=False):
    """Wall times, peaks and Runs of each (name, argv), after warming the
    cache on tree, the commands alternating within each of the rounds. A failing command
    raises CommandFailed, or with keep_going is left out of the later rounds and named in
    the last answer (name -> message)."""
    for _ in range(2):
        subprocess.run(["du", "-sb", tree], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    runs = {name: [] for name, _ in commands}
    failed = {}
    for _ in range(rounds):
        for name, cmd in commands:
            if name in failed:
                continue
            try:
                runs[name].append(timed(cmd))
            except CommandFailed as error:
                if not keep_going:
                    raise
                failed[name] = str(error)
    walls = {name: [run.wall for run in done] for name, done in runs.items()}
    peaks = {name: [run.peak for run in done] for name, done in runs.items()}
    return walls, peaks, runs, failed


def syscalls(cmd):
    """Total system calls of cmd and its threads, from strace -c -f; None when it fails."""
    with tempfile.NamedTemporaryFile(prefix="vantel-bench-strace-", suffix=".txt") as report:
        proc = subprocess.run(["strace", "-c", "-f", "-o", report.name] + cmd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if proc.returncode != 0:
            return None
        text = open(report.name).read()
    # The last line: "100.00  seconds  usecs/call  calls  [errors]  total".
    for line in reversed(text.splitlines()):
        fields = line.split()
        if len(fields) >= 5 and fields[-1] == "total" and fields[3].isdigit():
            return int(fields[3])
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tree", default="/tmp/vantel-bench-tree")
    parser.add_argument("--vantel", default=os.path.join(HERE, "..", "build", "release", "tools", "vantel", "vantel"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-strace", action="store_true")
    parser.add_argument("--query", action="store_true", help="compare vantel query with fdfind -u")
    args = parser.parse_args()
    if args.query:
        compare_query(args)
        return

    tree, vantel = args.tree, os.path.abspath(args.vantel)
    floor = build_floor("/tmp/vantel-floor-walker")
    entries = int(subprocess.run([floor, tree], capture_output=True, text=True).stdout.split()[0])

    commands = [
        ("floor (2 threads)", [floor, "-j", "2", tree]),
        ("floor (1 thread)", [floor, "-j", "1", tree]),
        ("vantel size", [vantel, "size", tree]),
        ("vantel size (1 worker)", [vantel, "size", "--threads", "1", tree]),
        ("vantel map --json", [vantel, "map", "--json", tree]),
        ("vantel search (no filter)", [vantel, "search", tree]),
        ("du -sb", ["du", "-sb", tree]),
    ]
    if shutil.which("gdu"):
        commands.append(("gdu -n -p -c -s", ["gdu", "-n", "-p", "-c", "-s", tree]))
    if shutil.which("fdfind"):
        commands.append(("fdfind -u .", ["fdfind", "-u", ".", tree]))

    walls, peaks, _, _ = timed_rounds(commands, tree, args.rounds)

    best = {name: min(values) for name, values in walls.items()}
    base = best["floor (2 threads)"]
    base1 = best["floor (1 thread)"]
    print(f"tree {tree}: {entries} entries; {args.rounds} alternating rounds")
    print(f"{'command':28} {'best s':>8} {'median s':>9} {'peak MB':>8} {'/floor':>7}")
    for name, _ in commands:
        peak = max(peaks[name]) / 1024
        print(f"{name:28} {best[name]:8.2f} {statistics.median(walls[name]):9.2f} {peak:8.1f} {ratio(best[name], base):7.2f}")
    size = best["vantel size"]
    size1 = best["vantel size (1 worker)"]
    print()
    print(f"vantel size / floor                 {ratio(size, base):.2f}   (goal <= 1.3)")
    print(f"vantel size 1 worker / floor 1      {ratio(size1, base1):.2f}   (goal <= 1.3)")
    print(f"speed-up of 2 workers over 1        {ratio(size1, size):.2f}   (goal >= 1.7; the floor's own: {ratio(base1, base):.2f})")
    print(f"vantel map / floor                  {ratio(best['vantel map --json'], base):.2f}   (goal <= 1.3)")
    if "gdu -n -p -c -s" in peaks:
        print(f"vantel map peak / gdu peak          {max(peaks['vantel map --json']) / max(max(peaks['gdu -n -p -c -s']), 1):.2f}   (goal <= 0.25)")
    print(f"vantel map peak bytes per entry     {max(peaks['vantel map --json']) * 1024 / max(entries, 1):.0f}")
    if "fdfind -u ." in walls:
        print(f"vantel search / fdfind -u           {ratio(best['vantel search (no filter)'], best['fdfind -u .']):.2f}   (goal <= 1.0)")
    if not args.no_strace and shutil.which("strace"):
        for name, cmd in [("floor", [floor, tree]), ("vantel size", [vantel, "size", tree])]:
            calls = syscalls(cmd)
            if calls:
                print(f"system calls per entry, {name:12} {calls / max(entries, 1):.2f}" + ("   (goal <= 1.3)" if name != "floor" else ""))


def compare_query(args):
    """vantel query against fdfind -u with the same pattern, on a warm cache, alternating."""
    tree, vantel = args.tree, os.path.abspath(args.vantel)
    if not shutil.which("fdfind"):
        sys.exit("compare: fdfind (package fd-find) is not installed")
    floor = build_floor("/tmp/vantel-floor-walker")
    patterns = ["*.log", "*.pkg"]
    commands = [("floor (2 threads)", [floor, "-j", "2", tree])]
    for pattern in patterns:
        predicate = f"_kMDItemFileName LIKE[cd] '{pattern}'"
        commands.append((f"vantel query {pattern}", [vantel, "query", predicate, "--scope", tree]))
        commands.append((f"fdfind -u -i -g {pattern}", ["fdfind", "-u", "-i", "-g", pattern, tree]))
    for pattern in patterns:
        found = [len(subprocess.run(cmd, capture_output=True).stdout.splitlines())
                 for name, cmd in commands if name.endswith(" " + pattern)]
        if len(set(found)) != 1:
            sys.exit(f"compare: vantel query and fdfind disagree on {pattern}: {found}")
        print(f"{pattern}: {found[0]} entries found by both")
    walls, peaks, _, _ = timed_rounds(commands, tree, args.rounds)
    best = {name: min(values) for name, values in walls.items()}
    print(f"{'command':28} {'best s':>8} {'median s':>9} {'peak MB':>8} {'/floor':>7}")
    for name, _ in commands:
        print(f"{name:28} {best[name]:8.2f} {statistics.median(walls[name]):9.2f} "
              f"{max(peaks[name]) / 1024:8.1f} {ratio(best[name], best['floor (2 threads)']):7.2f}")
    for pattern in patterns:
        value = ratio(best[f"vantel query {pattern}"], best[f"fdfind -u -i -g {pattern}"])
        print(f"vantel query / fdfind -u, {pattern:8} {value:.2f}")


if __name__ == "__main__":
    try:
        main()
    except CommandFailed as error:
        sys.exit(f"compare: {error}")
