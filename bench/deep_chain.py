#!/usr/bin/env python3
"""Times a chain of nested folders holding one file: vantel size and map beside du -sb.

Builds DIR/chain/d/d/.../d/f (LEVELS folders, made through descriptors, so no path is
ever longer than one name), then runs each command ROUNDS times in turn and prints the best
wall time, the peak resident memory and the ratio to du. A walk whose cost grows with depth
shows here as a ratio that grows with LEVELS.

Usage: deep_chain.py [--dir DIR] [--levels N[,N...]] [--vantel PATH] [--rounds N]
"""
import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tool"))
from toolsupport import make_chain, remove_chain  # noqa: E402


def timed(cmd):
    with open(os.devnull, "wb") as out:
        proc = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + cmd, stdout=out, stderr=subprocess.PIPE)
    if proc.returncode != 0:
        sys.exit(f"deep_chain: {' '.join(cmd)} failed:\n{proc.stderr.decode(errors='replace')}")
    wall, peak = proc.stderr.decode().strip().splitlines()[-1].split()
    return float(wall), int(peak)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", default="/dev/shm" if os.access("/dev/shm", os.W_OK) else "/tmp")
    parser.add_argument("--levels", default="20000,100000")
    parser.add_argument("--vantel", default=os.path.join(HERE, "..", "build", "release", "tools", "vantel", "vantel"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    print(f"{'levels':>8} {'command':<26} {'best s':>7} {'peak MB':>8} {'/ du':>6}")
    for levels in (int(n) for n in args.levels.split(",")):
        root = os.path.join(args.dir, f"vantel-chain-{levels}")
        make_chain(root, levels, 123)
        try:
            commands = {
                "du -sb": ["du", "-sb", root],
                "vantel size": [args.vantel, "size", root],
                "vantel map --json": [args.vantel, "map", root, "--json"],
            }
            best = {name: (float("inf"), 0) for name in commands}
            for _ in range(args.rounds):
                for name, cmd in commands.items():
                    wall, peak = timed(cmd)
                    if wall < best[name][0]:
                        best[name] = (wall, peak)
            floor = max(best["du -sb"][0], 0.01)
            for name, (wall, peak) in best.items():
                print(f"{levels:>8} {name:<26} {wall:>7.2f} {peak / 1024:>8.1f} {wall / floor:>6.2f}")
        finally:
            remove_chain(root)


if __name__ == "__main__":
    main()
