#!/usr/bin/env python3
"""Builds a deterministic benchmark tree for the disk scanners.

About 400,000 entries (by default): mixed depth up to 12, folders with 1 to several
thousand entries, mostly small files with a few sparse large ones, some symbolic links
(to files and folders), hard links and one named pipe. The same seed builds the same tree.

Usage: make_tree.py DEST [--entries N] [--seed S]
"""
import argparse
import os
import random
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dest")
    parser.add_argument("--entries", type=int, default=400_000)
    parser.add_argument("--seed", type=int, default=20240601)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    if os.path.exists(args.dest) and os.listdir(args.dest):
        sys.exit(f"make_tree: {args.dest} exists and is not empty")
    os.makedirs(args.dest, exist_ok=True)

    budget = args.entries
    made = 0
    payload = b"v" * 4096
    files = []          # some regular files, targets for hard and symbolic links
    folders = [args.dest]

    def make_file(path):
        nonlocal made
        roll = rng.random()
        if roll < 0.002:
            # Sparse: a large logical size without data blocks.
            with open(path, "wb") as f:
                f.truncate(rng.randint(1, 200) * 1_000_000)
        else:
            size = int(rng.expovariate(1 / 900)) if roll < 0.97 else rng.randint(4096, 16384)
            with open(path, "wb") as f:
                while size > 0:
                    f.write(payload[: min(size, len(payload))])
                    size -= len(payload)
        made += 1
        if rng.random() < 0.01:
            files.append(path)

    # Breadth-first: each folder gets files and subfolders until the budget is spent.
    queue = [(args.dest, 1)]
    head = 0
    while made < budget:
        if head >= len(queue):
            # Everything at the depth limit: open a new branch at the top.
            queue.append((os.path.join(args.dest, f"extra{len(queue)}"), 1))
            os.makedirs(queue[-1][0], exist_ok=True)
            made += 1
        folder, depth = queue[head]
        head += 1
        roll = rng.random()
        if roll < 0.004:
            nfiles = rng.randint(1000, 6000)       # a few very wide folders
        elif roll < 0.05:
            nfiles = rng.randint(100, 600)
        elif roll < 0.15:
            nfiles = 0                              # folders holding only folders
        else:
            nfiles = rng.randint(1, 24)
        nsub = 0 if depth >= 12 else rng.choice([0, 0, 1, 1, 1, 2, 2, 3, 4, 6])
        if depth <= 2:
            nsub = max(nsub, 8)
        for i in range(nfiles):
            if made >= budget:
                break
            ext = rng.choice(["txt", "c", "h", "o", "png", "json", "log", "dat", "md", ""])
            name = f"file{i:05d}" + (f".{ext}" if ext else "")
            make_file(os.path.join(folder, name))
        for i in range(nsub):
            if made >= budget:
                break
            sub = os.path.join(folder, f"dir{i:03d}")
            os.mkdir(sub)
            made += 1
            folders.append(sub)
            queue.append((sub, depth + 1))

    # Links, hard links and a fifo, placed in random folders.
    for i in range(200):
        folder = rng.choice(folders)
        target = rng.choice(files) if i % 2 == 0 and files else rng.choice(folders)
        os.symlink(target, os.path.join(folder, f"link{i:03d}"))
    for i in range(100):
        if not files:
            break
        folder = rng.choice(folders)
        os.link(rng.choice(files), os.path.join(folder, f"hardlink{i:03d}"))
    os.mkfifo(os.path.join(args.dest, "pipe"))
    print(f"make_tree: {made} files and folders, {len(folders)} folders, plus 200 links, 100 hard links, 1 fifo in {args.dest}")


if __name__ == "__main__":
    main()
