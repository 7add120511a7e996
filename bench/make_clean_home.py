#!/usr/bin/env python3
"""Builds a large home for timing `vantel clean`: the demo home of `vantel demo-home`, then
about N more files (200,000 by default) where a real home keeps them: project trees in
Documents (walked by the home-wide searches only), application caches and logs (listed one
level deep, then sized), developer folders (sized by the developer scan), mail attachments,
and a few hundred downloads. Files are small (0 to 4 KB). The same seed builds the same home.

Usage: make_clean_home.py VANTEL DEST [--files N] [--seed S]
Then:  time VANTEL clean --home DEST/home --root DEST/root --json > /dev/null
"""
import argparse
import os
import random
import subprocess
import sys

SHARES = [  # (share of the files, folder below home, fan-out per level, depth)
    (0.40, "Documents/Projects", 12, 4),
    (0.25, "Library/Caches", 40, 3),
    (0.05, "Library/Logs", 30, 2),
    (0.15, "Library/Developer/Xcode/iOS DeviceSupport", 6, 4),
    (0.05, "Library/Developer/CoreSimulator/Devices", 10, 4),
    (0.08, "Library/Mail/V7/6F1C2B8E-4D3A-4E5F-9A7B-1C2D3E4F5A6B/INBOX.mbox/Data/Attachments", 20, 3),
    (0.02, "Downloads", 1, 1),
]


def fill(rng, base, count, fanout, depth):
    made = 0
    folders = [base]
    for _ in range(depth - 1):
        folders = [os.path.join(f, f"d{k:03d}") for f in folders for k in range(fanout)]
        if len(folders) * 8 > count:
            break
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    payload = b"c" * 4096
    while made < count:
        folder = folders[made % len(folders)]
        ext = rng.choice([".txt", ".json", ".cache", ".log", ".png", ".swift", ".o"])
        with open(os.path.join(folder, f"f{made:07d}{ext}"), "wb") as f:
            f.write(payload[: rng.randrange(0, 4096)])
        made += 1
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("vantel")
    parser.add_argument("dest")
    parser.add_argument("--files", type=int, default=200_000)
    parser.add_argument("--seed", type=int, default=20261206)
    args = parser.parse_args()
    if subprocess.run([args.vantel, "demo-home", args.dest]).returncode != 0:
        sys.exit(1)
    rng = random.Random(args.seed)
    home = os.path.join(args.dest, "home")
    total = 0
    for share, folder, fanout, depth in SHARES:
        total += fill(rng, os.path.join(home, folder), int(args.files * share), fanout, depth)
    print(f"{total} files added below {home}")


if __name__ == "__main__":
    main()
