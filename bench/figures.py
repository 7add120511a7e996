#!/usr/bin/env python3
"""Every figure of the disk map beside the reference tools, in one run.

  1. a deep chain of nested folders: `vantel size` and `vantel map --json` beside `du -sb`;
  2. memory of the map on the benchmark tree: peak and bytes per entry of `vantel map
     --json`, `gdu`, and ncdu 1.18 while it browses (run in a detached tmux session, its
     memory read from /proc once the browser shows);
  3. speed on the same tree, warm cache, the commands alternating over the rounds: the floor
     walker (2 threads and 1), `vantel size` (2 workers and 1), `vantel map --json`,
     `vantel search` with no filter, `du -sb`, `ncdu -o /dev/null`, `gdu`, `fdfind -u`; then
     system calls per entry counted with strace -c -f;
  4. scale: the same on a tree of 2,000,000 entries, and how each figure grew.

The tables are plain text (Markdown) on stdout; progress goes to stderr. A reference tool
that is not installed is left out of the tables. The vantel binary is copied once at the
start, so that a rebuild during the run cannot mix two builds in one table.

Usage: figures.py [--tree DIR] [--tree-2m DIR] [--vantel PATH] [--rounds N]
                  [--skip-2m] [--skip-chain] [--no-strace] [--chain-levels N]
The trees come from make_tree.py and are made when missing (the 2,000,000-entry one once,
in a few minutes).
"""
import argparse
import datetime
import hashlib
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import compare  # noqa: E402
import deep_chain  # noqa: E402
from compare import ratio  # noqa: E402

FLOOR_PATH = "/tmp/vantel-floor-walker"
TMUX_SOCKET = "vantel-figures"
# The browser's status line; the scan shows a "Scanning..." box over "No items to display."
NCDU_BROWSING = re.compile(r"Total disk usage:.*Items:\s*([\d,]+)")
VANTEL_WAIT_S = 600
NCDU_TIMEOUT_S = 600


def say(message):
    print(f"figures: {message}", file=sys.stderr, flush=True)


def show(text=""):
    print(text, flush=True)


# Formatting ------------------------------------------------------------------------------

def table(headers, rows):
    """A Markdown table with padded columns: the first left-aligned, the others right."""
    cells = [[str(cell) for cell in row] for row in [headers] + rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(headers))]

    def line(row):
        padded = [row[0].ljust(widths[0])] + [cell.rjust(width) for cell, width in zip(row[1:], widths[1:])]
        return "| " + " | ".join(padded) + " |"

    rule = "|" + "|".join(["-" * (widths[0] + 2)] + ["-" * (width + 1) + ":" for width in widths[1:]]) + "|"
    return "\n".join([line(cells[0]), rule] + [line(row) for row in cells[1:]])


def seconds(value):
    return "—" if value is None else f"{value:.2f}"


def megabytes(kb):
    return "—" if kb is None else f"{kb / 1024:.1f}"


def per_entry(kb, entries):
    return "—" if kb is None else f"{kb * 1024 / max(entries, 1):.0f}"


def scale_label(entries):
    """400,301 -> "400k", 2,000,511 -> "2M"."""
    if entries >= 1_000_000:
        return f"{entries / 1_000_000:.3g}M"
    return f"{entries / 1000:.3g}k" if entries >= 1000 else str(entries)


def tree_alone(figures):
    """KB of vantel map's peak above vantel size's, which walks the same way but keeps no
    tree: the map's own cost without the process's fixed part; None when either is missing."""
    peak = figures["peak"]
    if "vantel map --json > /dev/null" not in peak or "vantel size" not in peak:
        return None
    return max(peak["vantel map --json > /dev/null"] - peak["vantel size"], 0)


def times(value):
    return "—" if value is None else f"{value:.2f}"


def goal(label, value, target, note="", digits=2):
    """One line "label: value (goal <= target: met)"."""
    if value is None:
        return f"{label}: not measured"
    return f"{label}: {value:.{digits}f} (goal <= {target}: {'met' if value <= target else 'not met'}){note}"


# Tools -----------------------------------------------------------------------------------

def find_tools():
    """Which reference tools are installed; fails when one the figures cannot do without is not."""
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("figures: /usr/bin/time is not installed (package time); every figure needs it")
    if not shutil.which("du"):
        sys.exit("figures: du is not installed (package coreutils)")
    found = {}
    for tool, package in [("gdu", "gdu"), ("ncdu", "ncdu"), ("fdfind", "fd-find"),
                          ("strace", "strace"), ("tmux", "tmux")]:
        found[tool] = shutil.which(tool) is not None
        if not found[tool]:
            say(f"{tool} is not installed (package {package}): its figures are left out")
    if found["ncdu"] and not found["tmux"]:
        say("without tmux, ncdu's memory while browsing is left out")
    return found


def floor_walker():
    source = os.path.join(HERE, "floor_walker.c")
    if shutil.which("cc"):
        return compare.build_floor(FLOOR_PATH)
    if os.access(FLOOR_PATH, os.X_OK) and os.path.getmtime(FLOOR_PATH) >= os.path.getmtime(source):
        return FLOOR_PATH
    sys.exit(f"figures: no C compiler (cc) to build the floor walker {source}; every ratio needs it")


def stable_vantel(path, scratch):
    """A private copy of the vantel binary at path, taken once it exists and has not changed
    for a few seconds (it may be being rebuilt); answers (copy, description)."""
    deadline = time.monotonic() + VANTEL_WAIT_S
    told = False
    while True:
        try:
            info = os.stat(path)
            if time.time() - info.st_mtime >= 5:
                copy = os.path.join(scratch, "vantel")
                shutil.copy2(path, copy)
                version = subprocess.run([copy, "--version"], capture_output=True, text=True)
                if version.returncode == 0:
                    digest = hashlib.sha256(open(copy, "rb").read()).hexdigest()[:12]
                    built = datetime.datetime.fromtimestamp(info.st_mtime, datetime.timezone.utc)
                    return copy, (f"{path} ({version.stdout.strip()}, built {built:%Y-%m-%d %H:%M} UTC, "
                                  f"sha256 {digest})")
        except OSError:
            pass
        if time.monotonic() > deadline:
            sys.exit(f"figures: {path} is missing or does not run (build the vantel target, or pass --vantel)")
        if not told:
            say(f"waiting for {path} (missing or just written; being rebuilt?)")
            told = True
        time.sleep(10)


def ensure_tree(path, entries):
    """Makes a make_tree.py tree of entries at path when there is none (built aside, then
    renamed, so that an interrupted build is never taken for a tree)."""
    if os.path.isdir(path):
        return
    partial = path + ".partial"
    if os.path.exists(partial):
        shutil.rmtree(partial)
    say(f"making the {entries:,}-entry tree {path} (once)...")
    started = time.monotonic()
    subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), partial, "--entries", str(entries)],
                   check=True, stdout=subprocess.DEVNULL)
    os.rename(partial, path)
    say(f"made {path} in {time.monotonic() - started:.0f} s")


def count_entries(floor, tree):
    out = subprocess.run([floor, tree], capture_output=True, text=True, check=True).stdout
    return int(out.split()[0])


def count_lines(cmd):
    """Lines cmd writes on stdout, counted as they stream; None when it fails."""
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = 0
    while chunk := proc.stdout.read(1 << 20):
        lines += chunk.count(b"\n")
    return lines if proc.wait() == 0 else None


# ncdu while browsing ---------------------------------------------------------------------

def cpu_of(pid):
    """User and system CPU seconds of pid so far."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_of(pid):
    """(VmHWM, VmRSS) of pid in KB."""
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                values[key] = int(rest.split()[0])
    return values["VmHWM"], values["VmRSS"]


def ncdu_pid(pane_pid):
    """ncdu's pid: the pane's own process, or its child when a shell stayed in between."""
    for _ in range(50):
        try:
            if open(f"/proc/{pane_pid}/comm").read().strip() == "ncdu":
                return pane_pid
            for task in os.listdir(f"/proc/{pane_pid}/task"):
                for child in open(f"/proc/{pane_pid}/task/{task}/children").read().split():
                    if open(f"/proc/{child}/comm").read().strip() == "ncdu":
                        return int(child)
        except OSError:
            pass
        time.sleep(0.02)
    return None


def ncdu_browsing(tree):
    """Starts `ncdu -x tree` in a detached tmux session of a fixed size, waits until the scan
    has ended and the browser shows, and reads ncdu's memory then and 2 s later. Answers a
    dict (seconds to the browser, CPU seconds spent by then, items shown, hwm/rss KB at that
    moment and later) or a string saying what went wrong."""
    tmux = ["tmux", "-L", TMUX_SOCKET, "-f", "/dev/null"]
    session = f"figures-{os.getpid()}"
    started = time.monotonic()
    made = subprocess.run(tmux + ["new-session", "-d", "-s", session, "-x", "160", "-y", "48",
                                  shlex.join(["ncdu", "-x", tree])], capture_output=True, text=True)
    if made.returncode != 0:
        return f"tmux failed: {made.stderr.strip()}"
    try:
        panes = subprocess.run(tmux + ["list-panes", "-t", session, "-F", "#{pane_pid}"],
                               capture_output=True, text=True).stdout.split()
        pid = ncdu_pid(int(panes[0])) if panes else None
        if pid is None:
            return "ncdu did not start in tmux"
        while True:
            screen = subprocess.run(tmux + ["capture-pane", "-p", "-t", session],
                                    capture_output=True, text=True).stdout
            found = NCDU_BROWSING.search(screen)
            if found and "Scanning..." not in screen:
                break
            if not os.path.exists(f"/proc/{pid}"):
                return "ncdu ended before its browser showed"
            if time.monotonic() - started > NCDU_TIMEOUT_S:
                return f"ncdu's browser did not show within {NCDU_TIMEOUT_S} s"
            time.sleep(0.2)
        shown = time.monotonic() - started
        cpu = cpu_of(pid)
        hwm, rss = memory_of(pid)
        time.sleep(2)
        hwm_later, rss_later = memory_of(pid)
        return {"seconds": shown, "cpu": cpu, "items": int(found.group(1).replace(",", "")),
                "hwm": hwm, "rss": rss, "hwm_later": hwm_later, "rss_later": rss_later}
    except OSError as error:
        return f"reading ncdu's memory failed: {error}"
    finally:
        subprocess.run(tmux + ["kill-session", "-t", session], capture_output=True)


# Measurements ----------------------------------------------------------------------------

def speed_commands(floor, vantel, tree, tools, full):
    """(name, argv) of the timed commands; full adds the one-thread runs of section 3."""
    commands = [("floor (2 threads)", [floor, "-j", "2", tree])]
    if full:
        commands.append(("floor (1 thread)", [floor, "-j", "1", tree]))
    commands.append(("vantel size", [vantel, "size", tree]))
    if full:
        commands.append(("vantel size --threads 1", [vantel, "size", "--threads", "1", tree]))
    commands += [
        ("vantel map --json > /dev/null", [vantel, "map", "--json", tree]),
        ("vantel search (no filter)", [vantel, "search", tree]),
        ("du -sb", ["du", "-sb", tree]),
    ]
    if tools["ncdu"]:
        commands.append(("ncdu -x -o /dev/null", ["ncdu", "-x", "-o", "/dev/null", tree]))
    if tools["gdu"]:
        commands.append(("gdu -n -p -c -s", ["gdu", "-n", "-p", "-c", "-s", tree]))
    if tools["fdfind"]:
        commands.append(("fdfind -u .", ["fdfind", "-u", ".", tree]))
    return commands


def measure_tree(floor, vantel, tree, tools, rounds, full):
    """Times the commands on tree and, when ncdu and tmux are there, ncdu's browsing memory.
    Answers a dict: entries, best/median wall, least CPU time and peak KB per command name,
    failures, ncdu's browsing figures."""
    load_before = os.getloadavg()[0]
    entries = count_entries(floor, tree)
    commands = speed_commands(floor, vantel, tree, tools, full)
    say(f"timing {len(commands)} commands on {tree} ({entries:,} entries), {rounds} alternating rounds...")
    walls, peaks, runs, failed = compare.timed_rounds(commands, tree, rounds, keep_going=True)
    for name, message in failed.items():
        say(f"{name} failed and is left out: {message}")
    result = {
        "tree": tree, "entries": entries, "commands": [name for name, _ in commands], "failed": failed,
        "best": {name: min(values) for name, values in walls.items() if values},
        "median": {name: statistics.median(values) for name, values in walls.items() if values},
        "peak": {name: max(values) for name, values in peaks.items() if values},
        "cpu": {name: min(run.cpu for run in done) for name, done in runs.items() if done},
        "ncdu": None,
        "load": (load_before, os.getloadavg()[0]),
    }
    if tools["ncdu"] and tools["tmux"]:
        say(f"ncdu browsing {tree} in tmux...")
        result["ncdu"] = ncdu_browsing(tree)
        if isinstance(result["ncdu"], str):
            say(f"ncdu while browsing: {result['ncdu']}")
    return result


def syscall_figures(floor, vantel, tree, tools):
    commands = [
        ("floor (2 threads)", [floor, "-j", "2", tree]),
        ("vantel size", [vantel, "size", tree]),
        ("vantel map --json", [vantel, "map", "--json", tree]),
        ("vantel search (no filter)", [vantel, "search", tree]),
    ]
    if tools["fdfind"]:
        commands.append(("fdfind -u .", ["fdfind", "-u", ".", tree]))
    commands.append(("du -sb", ["du", "-sb", tree]))
    say("counting system calls with strace -c -f...")
    return [(name, compare.syscalls(cmd)) for name, cmd in commands]


# Sections --------------------------------------------------------------------------------

def section_chain(vantel, levels, rounds):
    say(f"deep chain of {levels:,} levels in {deep_chain.DEFAULT_DIR}...")
    load_before = os.getloadavg()[0]
    try:
        results = deep_chain.measure_chain(deep_chain.DEFAULT_DIR, levels, vantel, rounds)
    except compare.CommandFailed as error:
        show(f"## 1. Deep chain: failed\n\n{error}\n")
        return
    du, du_cpu = results[0][1].wall, results[0][1].cpu
    show(f"## 1. Deep chain: {levels:,} nested folders holding one file ({deep_chain.DEFAULT_DIR}), best of {rounds}; "
         f"load {load_before:.2f} → {os.getloadavg()[0]:.2f}")
    show()
    show(table(["command", "best s", "CPU s", "peak MB", "/ du", "CPU / du"],
               [[name, seconds(run.wall), seconds(run.cpu), megabytes(run.peak), times(ratio(run.wall, du)),
                 times(ratio(run.cpu, du_cpu))] for name, run in results]))
    show()
    for name, run in results[1:]:
        show(goal(f"{name} / du -sb", ratio(run.wall, du), 1.5, note=f"; in CPU time {ratio(run.cpu, du_cpu):.2f}"))
    show()


def section_memory(figures):
    entries = figures["entries"]
    peak = figures["peak"]
    map_peak = peak.get("vantel map --json > /dev/null")
    show(f"## 2. Memory of the map: {figures['tree']}, {entries:,} entries (floor walker's count)")
    show()
    rows = []

    def row(name, kb):
        rows.append([name, megabytes(kb), per_entry(kb, entries),
                     "—" if kb is None or map_peak is None else times(kb / max(map_peak, 1))])

    row("vantel map --json > /dev/null", map_peak)
    if "gdu -n -p -c -s" in figures["commands"]:
        row("gdu -n -p -c -s", peak.get("gdu -n -p -c -s"))
    ncdu = figures["ncdu"]
    if isinstance(ncdu, dict):
        row("ncdu -x, browsing (VmHWM)", max(ncdu["hwm"], ncdu["hwm_later"]))
    if "ncdu -x -o /dev/null" in figures["commands"]:
        rows.append(["ncdu -x -o /dev/null", megabytes(peak.get("ncdu -x -o /dev/null")),
                     "not comparable", "—"])
    show(table(["command", "peak MB", "bytes per entry", "/ vantel map"], rows))
    show()
    if map_peak is not None:
        show(goal("vantel map bytes per entry", map_peak * 1024 / max(entries, 1), 100,
                  note="; ncdu 2 publishes 41", digits=0))
    alone = tree_alone(figures)
    if alone is not None:
        show(f"vantel map's tree alone (its peak minus vantel size's, which keeps no tree): "
             f"{megabytes(alone)} MB, {per_entry(alone, entries)} bytes per entry")
    if isinstance(ncdu, dict):
        show(f"ncdu browsing: browser shown {ncdu['seconds']:.1f} s after start (polled every 0.2 s), "
             f"{ncdu['items']:,} items; VmRSS {megabytes(ncdu['rss'])} MB then, "
             f"{megabytes(ncdu['rss_later'])} MB 2 s later (VmHWM {megabytes(ncdu['hwm_later'])} MB)")
    elif isinstance(ncdu, str):
        show(f"ncdu browsing: not measured ({ncdu})")
    show("ncdu -o streams its export and holds no tree: its peak is not the memory of a map.")
    show("Peaks are whole-process maximum resident sizes (/usr/bin/time %M, /proc VmHWM).")
    show()


def section_speed(figures, rounds, syscall_counts, listed):
    entries = figures["entries"]
    best, median, peak, cpu = figures["best"], figures["median"], figures["peak"], figures["cpu"]
    base, base_cpu = best.get("floor (2 threads)"), cpu.get("floor (2 threads)")
    show(f"## 3. Speed: {figures['tree']}, {entries:,} entries, warm cache, best of {rounds} alternating rounds; "
         f"load {figures['load'][0]:.2f} → {figures['load'][1]:.2f}")
    show()
    rows = []
    for name in figures["commands"]:
        if name in figures["failed"]:
            rows.append([name, "failed", "—", "—", "—", "—", "—"])
        else:
            rows.append([name, seconds(best[name]), seconds(median[name]), seconds(cpu[name]), megabytes(peak[name]),
                         times(ratio(best[name], base)) if base is not None else "—",
                         times(ratio(cpu[name], base_cpu)) if base_cpu is not None else "—"])
    show(table(["command", "best s", "median s", "CPU s", "peak MB", "/ floor", "CPU / floor"], rows))
    show()

    def quotient(a, b, values=best):
        return ratio(values[a], values[b]) if a in values and b in values else None

    def cpu_note(a, b):
        value = quotient(a, b, cpu)
        return "" if value is None else f"; in CPU time {value:.2f}"

    show(goal("vantel map --json / floor", quotient("vantel map --json > /dev/null", "floor (2 threads)"), 1.3,
              note=cpu_note("vantel map --json > /dev/null", "floor (2 threads)")))
    if "fdfind -u ." in figures["commands"]:
        show(goal("vantel search / fdfind -u", quotient("vantel search (no filter)", "fdfind -u ."), 1.0,
                  note=cpu_note("vantel search (no filter)", "fdfind -u .")))
    size = quotient("vantel size", "floor (2 threads)")
    show(f"vantel size / floor: {times(size)}{cpu_note('vantel size', 'floor (2 threads)')}")
    own = quotient("floor (1 thread)", "floor (2 threads)")
    show(f"two-worker speed-up of vantel size (1 worker / 2 workers): "
         f"{times(quotient('vantel size --threads 1', 'vantel size'))} (the floor's own: {times(own)})")
    if listed:
        show("entries listed: " + ", ".join(f"{name} {count:,}" if count is not None else f"{name} failed"
                                            for name, count in listed))
    if syscall_counts:
        show()
        show(table(["system calls (strace -c -f)", "calls", "per entry"],
                   [[name, "failed" if calls is None else f"{calls:,}",
                     "—" if calls is None else f"{calls / max(entries, 1):.2f}"]
                    for name, calls in syscall_counts]))
    show()


def section_scale(small, large, rounds):
    ratio_entries = large["entries"] / max(small["entries"], 1)
    little, big = scale_label(small["entries"]), scale_label(large["entries"])
    show(f"## 4. Scale: {large['tree']}, {large['entries']:,} entries, beside {small['entries']:,} "
         f"(× {ratio_entries:.2f} entries), best of {rounds} alternating rounds; "
         f"load {large['load'][0]:.2f} → {large['load'][1]:.2f}")
    show()
    rows = []
    for name in large["commands"]:
        t_small, t_large = small["best"].get(name), large["best"].get(name)
        c_small, c_large = small["cpu"].get(name), large["cpu"].get(name)
        m_small, m_large = small["peak"].get(name), large["peak"].get(name)
        memory_comparable = name != "ncdu -x -o /dev/null"
        rows.append([name, seconds(t_small), seconds(t_large),
                     times(ratio(t_large, t_small)) if t_small is not None and t_large is not None else "—",
                     times(ratio(c_large, c_small)) if c_small is not None and c_large is not None else "—",
                     megabytes(m_small) if memory_comparable else "n/c",
                     megabytes(m_large) if memory_comparable else "n/c",
                     times(m_large / max(m_small, 1)) if memory_comparable and m_small and m_large else "—"])
    ncdu_small, ncdu_large = small["ncdu"], large["ncdu"]
    if isinstance(ncdu_small, dict) or isinstance(ncdu_large, dict):
        def browse(figures, key):
            return figures.get(key) if isinstance(figures, dict) else None
        t_small, t_large = browse(ncdu_small, "seconds"), browse(ncdu_large, "seconds")
        c_small, c_large = browse(ncdu_small, "cpu"), browse(ncdu_large, "cpu")
        m_small, m_large = browse(ncdu_small, "hwm_later"), browse(ncdu_large, "hwm_later")
        rows.append(["ncdu -x, browsing (time to browser; VmHWM)", seconds(t_small), seconds(t_large),
                     times(ratio(t_large, t_small)) if t_small and t_large else "—",
                     times(ratio(c_large, c_small)) if c_small is not None and c_large is not None else "—",
                     megabytes(m_small), megabytes(m_large),
                     times(m_large / max(m_small, 1)) if m_small and m_large else "—"])
    show(table(["command", f"{little} s", f"{big} s", "× time", "× CPU", f"{little} peak MB", f"{big} peak MB",
                "× memory"], rows))
    show()
    map_peak = large["peak"].get("vantel map --json > /dev/null")
    if map_peak is not None:
        show(goal(f"vantel map bytes per entry at {large['entries']:,} entries",
                  map_peak * 1024 / max(large["entries"], 1), 100, digits=0))
    alone_small, alone_large = tree_alone(small), tree_alone(large)
    if alone_small and alone_large:
        show(f"vantel map's tree alone (peak minus vantel size's): {per_entry(alone_small, small['entries'])} "
             f"bytes per entry at {little}, {per_entry(alone_large, large['entries'])} at {big} "
             f"(× {alone_large / alone_small:.2f} memory)")
    for name, base, target in [("vantel map --json > /dev/null", "floor (2 threads)", 1.3),
                               ("vantel search (no filter)", "fdfind -u .", 1.0),
                               ("vantel size", "floor (2 threads)", None)]:
        if name in large["best"] and base in large["best"]:
            label = f"{name.split(' >')[0].replace(' (no filter)', '')} / {base.split(' (')[0]} at {big}"
            value = ratio(large["best"][name], large["best"][base])
            note = f"; in CPU time {ratio(large['cpu'][name], large['cpu'][base]):.2f}"
            show(goal(label, value, target, note=note) if target else f"{label}: {value:.2f}{note}")
    show(f"Linear growth shows as × time, × CPU and × memory near × {ratio_entries:.2f} (the fixed cost of a "
         f"process, a few MB and milliseconds, pulls small figures below it; × CPU is the steadier under load).")
    show()


def machine_line():
    cpu = "unknown processor"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return f"{os.cpu_count()} processors (nproc {len(os.sched_getaffinity(0))}), {cpu}, {memory:.0f} GiB"


def load():
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tree", default="/tmp/vantel-bench-tree", help="the 400,000-entry tree")
    parser.add_argument("--tree-2m", default="/tmp/vantel-bench-tree-2m", help="the 2,000,000-entry tree")
    parser.add_argument("--vantel", default=os.path.join(HERE, "..", "build", "release", "tools", "vantel", "vantel"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--skip-2m", action="store_true", help="leave out the 2,000,000-entry tree")
    parser.add_argument("--skip-chain", action="store_true", help="leave out the deep chain")
    parser.add_argument("--no-strace", action="store_true", help="leave out the system call counts")
    parser.add_argument("--chain-levels", type=int, default=20000)
    args = parser.parse_args()
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")

    tools = find_tools()
    floor = floor_walker()
    with tempfile.TemporaryDirectory(prefix="vantel-figures-") as scratch:
        vantel, described = stable_vantel(os.path.abspath(args.vantel), scratch)
        ensure_tree(args.tree, 400_000)
        if not args.skip_2m:
            ensure_tree(args.tree_2m, 2_000_000)
        started = time.monotonic()
        load_at_start = load()

        show("# Disk map figures")
        show()
        show(f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC; {machine_line()}")
        show(f"load average at start: {load_at_start}")
        show(f"vantel: {described}")
        show("Times are wall seconds (best of the rounds) and CPU seconds (user and system, least of the rounds) "
             "on a warm cache; the ratios matter more than the seconds.")
        show()

        if not args.skip_chain:
            section_chain(vantel, args.chain_levels, args.rounds)

        small = measure_tree(floor, vantel, args.tree, tools, args.rounds, full=True)
        listed = [("vantel search", count_lines([vantel, "search", args.tree]))]
        if tools["fdfind"]:
            listed.append(("fdfind -u .", count_lines(["fdfind", "-u", ".", args.tree])))
        counts = None
        if not args.no_strace and tools["strace"]:
            counts = syscall_figures(floor, vantel, args.tree, tools)
        section_memory(small)
        section_speed(small, args.rounds, counts, listed)

        if not args.skip_2m:
            large = measure_tree(floor, vantel, args.tree_2m, tools, args.rounds, full=False)
            section_scale(small, large, args.rounds)

    show(f"load average at end: {load()}; the run took {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
