#!/usr/bin/env python3
"""Memory per entry while browsing: vantel browse beside ncdu on the same tree.

Each browser runs in a tmux server of its own (80x24, its socket in a scratch folder); once its list is on the screen (the
scan done), the resident memory of the process is read from /proc (VmRSS, and the peak
VmHWM). Both are measured on a folder holding one file too, so that the figure per entry can leave out
what each program holds whatever it browses.

Usage: browse_memory.py TREE [--vantel PATH] [--ncdu PATH] [--rounds N]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time


def child_of(pid):
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        if int(stat[stat.rindex(b")") + 2:].split()[1]) == pid:
            return int(entry)
    return None


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {field} for {pid}")


def measure(command, ready_text, tmux, folder):
    """(VmRSS, VmHWM) in bytes of command once ready_text is on its screen."""
    socket = ["-S", os.path.join(folder, "tmux-socket")]
    subprocess.run([tmux, *socket, "-f", "/dev/null", "new-session", "-d", "-x", "80", "-y", "24", "--",
                    "sh", "-c", 'env "$@"; exec sleep 600', "sh", "LANG=C.UTF-8", *command], check=True)
    try:
        deadline = time.monotonic() + 600
        while True:
            screen = subprocess.run([tmux, *socket, "capture-pane", "-p"], capture_output=True).stdout
            if ready_text.encode() in screen:
                break
            if time.monotonic() > deadline:
                raise RuntimeError(f"{command[0]} never showed {ready_text!r}:\n{screen.decode(errors='replace')}")
            time.sleep(0.2)
        time.sleep(1.0)  # let the first screen settle
        shell = int(subprocess.run([tmux, *socket, "display-message", "-p", "#{pane_pid}"],
                                   capture_output=True).stdout)
        pid = child_of(shell)
        return status_kib(pid, "VmRSS") * 1024, status_kib(pid, "VmHWM") * 1024
    finally:
        subprocess.run([tmux, *socket, "kill-server"], capture_output=True)


def entries_below(tree):
    count = 0
    for _, dirs, files in os.walk(tree):
        count += len(dirs) + len(files)
    return count


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tree")
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--vantel", default=os.path.join(here, "..", "build", "release", "tools", "vantel", "vantel"))
    parser.add_argument("--ncdu", default=shutil.which("ncdu"))
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    tmux = shutil.which("tmux")
    if not tmux:
        sys.exit("browse_memory: needs tmux")
    tree = os.path.abspath(args.tree)
    entries = entries_below(tree) + 1
    scratch = tempfile.TemporaryDirectory(prefix="browse-memory-")
    # Nearly empty: one file, so that both show their usual screen.
    empty = os.path.join(scratch.name, "empty")
    os.mkdir(empty)
    with open(os.path.join(empty, "one"), "w") as f:
        f.write("1")
    tools = [("vantel browse", [args.vantel, "browse", "--read-only"], "Disk usage:")]
    if args.ncdu:
        tools.append(("ncdu", [args.ncdu], "Total disk usage:"))
    print(f"tree: {tree}, {entries:,} entries (the root included)")
    print(f"{'tool':<14} {'RSS':>10} {'peak':>10} {'empty RSS':>10} {'bytes/entry':>12} {'beyond empty':>13}")
    try:
        for name, command, ready in tools:
            base = min(measure(command + [empty], ready, tmux, scratch.name)[0] for _ in range(args.rounds))
            rss, peak = min(measure(command + [tree], ready, tmux, scratch.name) for _ in range(args.rounds))
            print(f"{name:<14} {rss / 1e6:>8.1f}MB {peak / 1e6:>8.1f}MB {base / 1e6:>8.1f}MB "
                  f"{rss / entries:>12.1f} {(rss - base) / entries:>13.1f}")
    finally:
        scratch.cleanup()


if __name__ == "__main__":
    main()
