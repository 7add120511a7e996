#!/usr/bin/env python3
"""The clean scan of a Linux home against one `vantel size` of the same home, side by side.

Builds (once) a Linux home of about N entries (200,000 by default) on top of the Linux demo
home (`vantel demo-home --layout xdg`): project trees with idle node_modules and Rust target
folders (the activity guard reads them), browser, Flatpak and Snap caches, application data
with logs, package managers' caches and a few hundred downloads, in the shares a developer's
desktop home has them. Files are small (0 to 4 KB); the same seed builds the same home. Then
times, alternating and on a warm cache, `vantel clean --layout xdg --json` and `vantel size`
of the home, and prints best wall and CPU seconds and the ratio (goal: at most 1.5).

Usage: clean_linux_home.py VANTEL [--dest DIR] [--entries N] [--rounds R] [--seed S]
"""
import argparse
import os
import random
import resource
import shutil
import subprocess
import sys
import time

DAY = 24 * 3600
SHARES = [  # (share of the entries, folder below home, fan-out per level, depth, idle build folder)
    (0.22, "Projects/src", 10, 4, False),
    (0.14, "Projects/web-shop/node_modules", 12, 4, True),
    (0.08, "Projects/rust-tool/target", 8, 4, True),
    (0.16, ".cache/mozilla/firefox/k2x9.default-release/cache2", 16, 3, False),
    (0.08, ".var/app/org.mozilla.firefox/cache", 10, 3, False),
    (0.04, "snap/spotify/common/.cache", 10, 3, False),
    (0.10, ".local/share/Steam", 12, 4, False),
    (0.04, ".local/state/app", 8, 2, False),
    (0.06, ".cargo/registry", 10, 3, False),
    (0.06, "Documents", 10, 3, False),
    (0.02, "Downloads", 1, 1, False),
]


def fill(rng, base, count, fanout, depth):
    folders = [base]
    for _ in range(depth - 1):
        grown = [os.path.join(f, f"d{k:03d}") for f in folders for k in range(fanout)]
        if len(grown) * 8 > count:
            break
        folders = grown
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    payload = b"c" * 4096
    files = max(count - len(folders), 0)
    for made in range(files):
        folder = folders[made % len(folders)]
        ext = rng.choice([".js", ".json", ".rs", ".o", ".log", ".png", ".txt", ".cache"])
        with open(os.path.join(folder, f"f{made:07d}{ext}"), "wb") as f:
            f.write(payload[: rng.randrange(0, 4096)])
    return files + len(folders)


def backdate(folder, seconds):
    for base, dirs, files in os.walk(folder, topdown=False):
        for name in files + dirs:
            os.utime(os.path.join(base, name), (seconds, seconds), follow_symlinks=False)
    os.utime(folder, (seconds, seconds))


def build(vantel, dest, entries, seed):
    if os.path.isdir(os.path.join(dest, "home")):
        return
    if subprocess.run([vantel, "demo-home", "--layout", "xdg", dest], stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit(1)
    rng = random.Random(seed)
    home = os.path.join(dest, "home")
    with open(os.path.join(home, "Projects", "rust-tool", "Cargo.toml"), "w") as f:
        f.write("[package]\nname = \"rust-tool\"\n")
    total = 0
    idle = time.time() - 60 * DAY
    for share, folder, fanout, depth, old in SHARES:
        path = os.path.join(home, folder)
        total += fill(rng, path, int(entries * share), fanout, depth)
        if old:
            backdate(path, idle)
    print(f"{total} entries added below {home}", file=sys.stderr)


def timed(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    with open(os.devnull, "wb") as null:
        code = subprocess.run(cmd, stdout=null, stderr=subprocess.DEVNULL).returncode
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if code not in (0,):
        sys.exit(f"{' '.join(cmd)}: exit {code}")
    return wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("vantel")
    parser.add_argument("--dest", default="/tmp/vantel-linux-home")
    parser.add_argument("--entries", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seed", type=int, default=20261207)
    args = parser.parse_args()
    # A copy, so that a rebuild during the run does not mix two builds.
    vantel = os.path.join(args.dest + "-vantel")
    shutil.copy2(args.vantel, vantel)
    build(vantel, args.dest, args.entries, args.seed)
    home, root = os.path.join(args.dest, "home"), os.path.join(args.dest, "root")
    commands = {
        "vantel clean --layout xdg --json": [vantel, "clean", "--layout", "xdg", "--home", home, "--root", root, "--json"],
        "vantel size": [vantel, "size", home],
    }
    best = {name: (float("inf"), float("inf")) for name in commands}
    for name, cmd in commands.items():  # warm the cache
        timed(cmd)
    for _ in range(args.rounds):
        for name, cmd in commands.items():
            wall, cpu = timed(cmd)
            best[name] = (min(best[name][0], wall), min(best[name][1], cpu))
    entries = sum(len(d) + len(f) for _, d, f in os.walk(home))
    load = os.getloadavg()[0]
    print(f"Linux home: {entries} entries below {home}; {os.cpu_count()} cores, load {load:.1f}; "
          f"best of {args.rounds} alternating rounds")
    print()
    print("| command | best wall s | best CPU s | / size (wall) | / size (CPU) |")
    print("|---|---|---|---|---|")
    size_wall, size_cpu = best["vantel size"]
    for name, (wall, cpu) in best.items():
        print(f"| `{name}` | {wall:.2f} | {cpu:.2f} | {wall / max(size_wall, 0.01):.2f} | {cpu / max(size_cpu, 0.01):.2f} |")


if __name__ == "__main__":
    main()
