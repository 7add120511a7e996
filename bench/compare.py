#!/usr/bin/env python3
"""Times the scanners side by side on a warm cache, alternating the commands.

Runs each command ROUNDS times, one after the other in turn (so that background load
spreads over all of them), and reports the median wall time, the peak resident memory and
the ratio to the C floor walker. Ratios use the best (lowest) wall time of each command,
the figure least disturbed by other work on the machine. Also counts system calls per entry with strace -c.

With --query it times instead `vantel query` against `fdfind -u` with the matching filter (a
name query against -i -g, a size query against --size, a query that finds nothing), after
checking that both find the same entries' count; the clean scan's three queries in turn,
sharing one walk, against one walk that reads every status (`vantel size`); and the peak
memory over fd's per entry. On the 400,000-entry tree and the 2,000,000-entry one.

Usage: compare.py [--tree DIR] [--vantel PATH] [--rounds N] [--no-strace]
                  [--query [--tree-2m DIR] [--skip-2m]]
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
    parser.add_argument("--tree-2m", default="/tmp/vantel-bench-tree-2m", help="with --query: the 2,000,000-entry tree")
    parser.add_argument("--skip-2m", action="store_true", help="with --query: the 400,000-entry tree only")
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


NAME_QUERY = "_kMDItemFileName LIKE[cd] '*.log'"
SIZE_QUERY = "kMDItemFSSize > 100000000"
NO_HIT_QUERY = "_kMDItemFileName LIKE[cd] '*.pkg'"
# The clean scan's queries of the home folder, in its order: two on names, then one on sizes.
IN_TURN_FIRST = ["_kMDItemFileName LIKE[cd] '*.pkg'", "_kMDItemFileName LIKE[cd] '*.dmg'"]


def query_commands(vantel, tree):
    """The timed commands of one tree: each query beside fdfind -u with the matching filter
    (the tool searches hidden folders too, as fd -u does), the clean scan's three queries in
    turn sharing one walk, and one walk that reads every file's status (vantel size)."""
    def query(predicate, *extra):
        return [vantel, "query", predicate, "--hidden", "--scope", tree, *extra]
    return [
        ("name: vantel query *.log", query(NAME_QUERY)),
        ("name: fdfind -u -i -g *.log", ["fdfind", "-u", "-i", "-g", "*.log", tree]),
        ("size: vantel query > 100 MB", query(SIZE_QUERY)),
        # fd's size is "at least", in bytes with the b unit: the same files as "more than 100,000,000".
        ("size: fdfind -u --size +100000001b", ["fdfind", "-u", "--size", "+100000001b", ".", tree]),
        ("no hit: vantel query *.pkg", query(NO_HIT_QUERY)),
        ("no hit: fdfind -u -i -g *.pkg", ["fdfind", "-u", "-i", "-g", "*.pkg", tree]),
        ("3 in turn: pkg, dmg, > 100 MB", query(SIZE_QUERY, *[a for p in IN_TURN_FIRST for a in ("--first", p)])),
        ("one walk: vantel size", [vantel, "size", tree]),
    ]


PAIRS = [("name", "name: vantel query *.log", "name: fdfind -u -i -g *.log", 1.0),
         ("size", "size: vantel query > 100 MB", "size: fdfind -u --size +100000001b", 1.1),
         ("no hit", "no hit: vantel query *.pkg", "no hit: fdfind -u -i -g *.pkg", None)]


def measure_queries(vantel, tree, rounds):
    """Prints the query figures of one tree; answers its headline ratios."""
    floor = build_floor("/tmp/vantel-floor-walker")
    entries = int(subprocess.run([floor, tree], capture_output=True, text=True).stdout.split()[0])
    commands = query_commands(vantel, tree)
    found = {}
    for name, cmd in commands:
        if name.startswith("one walk"):
            continue
        found[name] = len(subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.splitlines())
    for label, ours, theirs, _ in PAIRS:
        if found[ours] != found[theirs]:
            sys.exit(f"compare: vantel query and fdfind disagree on the {label} query: {found[ours]} and {found[theirs]}")
    walls, peaks, runs, _ = timed_rounds(commands, tree, rounds)
    best = {name: min(values) for name, values in walls.items()}
    cpu = {name: min(run.cpu for run in values) for name, values in runs.items()}
    peak = {name: max(values) / 1024 for name, values in peaks.items()}
    print(f"\ntree {tree}: {entries} entries; {rounds} alternating rounds; load {os.getloadavg()[0]:.1f}")
    print(f"{'command':36} {'found':>7} {'best s':>7} {'median s':>9} {'CPU s':>6} {'peak MB':>8}")
    for name, _ in commands:
        shown = found.get(name, "")
        print(f"{name:36} {shown:>7} {best[name]:7.2f} {statistics.median(walls[name]):9.2f} {cpu[name]:6.2f} {peak[name]:8.1f}")
    figures = {}
    for label, ours, theirs, goal in PAIRS:
        value = ratio(best[ours], best[theirs])
        figures[label] = value
        bound = f"   (goal <= {goal})" if goal else ""
        print(f"{label + ' query / fdfind':28} {value:5.2f} wall, {ratio(cpu[ours], cpu[theirs]):5.2f} CPU{bound}")
    for label, ours, theirs, _ in PAIRS:
        over = (peak[ours] - peak[theirs]) * 1024 * 1024 / max(entries, 1)
        print(f"{label + ' query memory over fdfind':28} {over:5.0f} bytes per entry   (goal <= 60)")
    turn, walk, alone = "3 in turn: pkg, dmg, > 100 MB", "one walk: vantel size", "size: vantel query > 100 MB"
    print(f"{'3 queries in turn / one walk':28} {ratio(best[turn], best[walk]):5.2f} wall, "
          f"{ratio(cpu[turn], cpu[walk]):5.2f} CPU   (goal <= 1.1)")
    print(f"{'3 queries in turn / 1 query':28} {ratio(best[turn], best[alone]):5.2f} wall, "
          f"{ratio(cpu[turn], cpu[alone]):5.2f} CPU")
    return figures


def compare_query(args):
    """vantel query against fdfind -u with the matching filter, on a warm cache, alternating,
    on the 400,000-entry tree and (unless --skip-2m or missing) the 2,000,000-entry one."""
    vantel = os.path.abspath(args.vantel)
    if not shutil.which("fdfind"):
        sys.exit("compare: fdfind (package fd-find) is not installed")
    trees = [args.tree]
    if not args.skip_2m:
        if os.path.isdir(args.tree_2m):
            trees.append(args.tree_2m)
        else:
            print(f"compare: no tree at {args.tree_2m} (make_tree.py --entries 2000000 makes it); left out",
                  file=sys.stderr)
    for tree in trees:
        measure_queries(vantel, tree, args.rounds)


if __name__ == "__main__":
    try:
        main()
    except CommandFailed as error:
        sys.exit(f"compare: {error}")
