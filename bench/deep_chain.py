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
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tool"))
from compare import CommandFailed, ratio, timed  # noqa: E402
from toolsupport import make_chain, remove_chain  # noqa: E402

DEFAULT_DIR = "/dev/shm" if os.access("/dev/shm", os.W_OK) else "/tmp"


def chain_commands(vantel, root):
    """(name, argv) of the commands compared on a chain, du first: the base of the ratios."""
    return [
        ("du -sb", ["du", "-sb", root]),
        ("vantel size", [vantel, "size", root]),
        ("vantel map --json", [vantel, "map", root, "--json"]),
    ]


def measure_chain(directory, levels, vantel, rounds):
    """Builds a chain of levels folders in directory, runs the commands rounds times in turn
    and removes the chain; answers [(name, best Run)], the best being the one of least wall
    time, in the order of chain_commands. Raises CommandFailed when a command fails."""
    root = os.path.join(directory, f"vantel-chain-{levels}")
    if os.path.lexists(root):
        remove_chain(root)          # left by an interrupted run
    make_chain(root, levels, 123)
    try:
        commands = chain_commands(vantel, root)
        best = {}
        for _ in range(rounds):
            for name, cmd in commands:
                run = timed(cmd)
                if name not in best or run.wall < best[name].wall:
                    best[name] = run
        return [(name, best[name]) for name, _ in commands]
    finally:
        remove_chain(root)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", default=DEFAULT_DIR)
    parser.add_argument("--levels", default="20000,100000")
    parser.add_argument("--vantel", default=os.path.join(HERE, "..", "build", "release", "tools", "vantel", "vantel"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    print(f"{'levels':>8} {'command':<26} {'best s':>7} {'peak MB':>8} {'/ du':>6}")
    for levels in (int(n) for n in args.levels.split(",")):
        results = measure_chain(args.dir, levels, args.vantel, args.rounds)
        du = results[0][1].wall
        for name, run in results:
            print(f"{levels:>8} {name:<26} {run.wall:>7.2f} {run.peak / 1024:>8.1f} {ratio(run.wall, du):>6.2f}")


if __name__ == "__main__":
    try:
        main()
    except CommandFailed as error:
        sys.exit(f"deep_chain: {error}")
