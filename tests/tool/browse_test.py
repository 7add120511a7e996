#!/usr/bin/env python3
"""End-to-end checks of vantel browse in a terminal: each test starts the browser in a tmux
server of its own (a private socket), sends keys with send-keys and reads the screen with
capture-pane after each step: the listing and its escaped names, sorting, hidden files,
opening folders, a resize, the trash and putting back (the file really moved and back),
read-only mode and the permanent delete behind --allow-delete, --diff, the partial map after
Esc during a scan, and a clean end after SIGTERM and a closed terminal.

Usage: browse_test.py PATH_TO_VANTEL
"""
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

from toolsupport import locked_folder_setup, make_temp_tree, run, write

VANTEL = None
TMUX = shutil.which("tmux")


def child_of(pid):
    """The pid of a process whose parent is pid, or None."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # The name may hold spaces and parentheses: the fields after its last ")" are fixed.
        fields = stat[stat.rindex(b")") + 2:].split()
        if int(fields[1]) == pid:
            return int(entry)
    return None


class Terminal:
    """vantel in a tmux pane of a private tmux server; its exit status lands in a file."""
    count = 0

    def __init__(self, test, folder, *args, columns=80, rows=24, env=None, vantel=None, user=None):
        Terminal.count += 1
        # A private server: its socket in the test's folder, gone with it.
        self.socket = os.path.join(folder, f"tmux-{Terminal.count}")
        self.status_file = os.path.join(folder, f"status-{Terminal.count}")
        environment = {"HOME": os.path.join(folder, "home"), "XDG_DATA_HOME": os.path.join(folder, "home", "data"),
                       "LANG": "C.UTF-8", "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        environment.update(env or {})
        os.makedirs(environment["HOME"], exist_ok=True)
        script = 'env "$@"; echo $? > "$STATUS_FILE"; exec sleep 600'
        # As user (uid, gid) when given: only the tool runs with its rights.
        drop = ["setpriv", f"--reuid={user[0]}", f"--regid={user[1]}", "--clear-groups"] if user else []
        command = (["sh", "-c", script, "sh"] + [f"{k}={v}" for k, v in environment.items()] + drop +
                   [vantel or VANTEL, "browse", *args])
        subprocess.run([TMUX, "-S", self.socket, "-f", "/dev/null", "new-session", "-d", "-x", str(columns), "-y",
                        str(rows), "-e", f"STATUS_FILE={self.status_file}", "--", *command], check=True)
        test.addCleanup(self.close)

    def tmux(self, *args):
        return subprocess.run([TMUX, "-S", self.socket, *args], capture_output=True, check=False)

    def close(self):
        self.tmux("kill-server")

    def screen(self):
        return self.tmux("capture-pane", "-p", "-J").stdout.decode("utf-8", errors="replace")

    def lines(self):
        return self.screen().split("\n")

    def keys(self, *keys):
        for key in keys:
            self.tmux("send-keys", key)

    def wait_for(self, text, present=True, limit=20):
        """The screen once text is on it (or gone from it), failing after limit seconds."""
        deadline = time.monotonic() + limit
        while True:
            screen = self.screen()
            if (text in screen) == present:
                return screen
            if time.monotonic() > deadline:
                raise AssertionError(f"{text!r} {'never came' if present else 'never went'}; screen:\n{screen}")
            time.sleep(0.05)

    def exit_status(self, limit=20):
        deadline = time.monotonic() + limit
        while True:
            if os.path.exists(self.status_file):
                with open(self.status_file) as f:
                    text = f.read().strip()
                if text:
                    return int(text)
            if time.monotonic() > deadline:
                raise AssertionError("vantel did not end; screen:\n" + self.screen())
            time.sleep(0.05)

    def vantel_pid(self):
        shell = int(self.tmux("display-message", "-p", "#{pane_pid}").stdout)
        return child_of(shell)


def entry_rows(screen):
    """The listing's rows (between the header and the status line), stripped."""
    return [line.strip() for line in screen.split("\n")[2:] if line.strip()][:-1]


@unittest.skipIf(TMUX is None, "tmux is not installed")
class BrowseTest(unittest.TestCase):
    def setUp(self):
        self.tmp = make_temp_tree("vantel-browse-")
        self.addCleanup(self.tmp.cleanup)
        self.folder = self.tmp.name
        root = self.root = os.path.join(self.folder, "tree")
        write(os.path.join(root, "big.bin"), 200_000)
        write(os.path.join(root, "sub", "inner.txt"), 30_000)
        write(os.path.join(root, "sub", "deeper", "x"), 10)
        write(os.path.join(root, ".hidden"), 5_000)
        write(os.path.join(root.encode(), b"new\nline"), 10)
        write(os.path.join(root.encode(), b"bad\xffname"), 10)
        os.makedirs(os.path.join(self.folder, "target"))
        write(os.path.join(self.folder, "target", "keep"), 10)
        os.symlink(os.path.join(self.folder, "target"), os.path.join(root, "link"))

    def start(self, *args, **kwargs):
        term = Terminal(self, self.folder, *args, **kwargs)
        term.wait_for("Disk usage:")
        return term

    def details(self, term):
        """The path in the details box of the selected entry (then closes the box)."""
        term.keys("i")
        screen = term.wait_for("Details")
        term.keys("Escape")
        term.wait_for("Details", present=False)
        line = screen.split("\n")[[i for i, l in enumerate(screen.split("\n")) if "Details" in l][0] + 2]
        return line.strip()

    def test_listing_sorting_hidden_files_folders_and_resize(self):
        term = self.start(self.root)
        rows = entry_rows(term.screen())
        # Largest first; names escaped as elsewhere; marks and item counts.
        self.assertIn("big.bin", rows[0])
        self.assertIn("sub/", rows[1])
        self.assertIn(" 3 ", rows[1])  # inner.txt, deeper/, x
        self.assertTrue(any("new\\nline" in row for row in rows), rows)
        self.assertTrue(any("bad\\377name" in row for row in rows), rows)
        self.assertTrue(any("@link" in row for row in rows), rows)
        self.assertEqual(self.details(term), os.path.join(self.root, "big.bin"))
        # By name; then hidden files left out.
        term.keys("n")
        term.wait_for("[name]")
        self.assertIn(".hidden", entry_rows(term.screen())[0])
        term.keys(".")
        screen = term.wait_for("[name, no hidden]")
        self.assertFalse(any(".hidden" in row for row in entry_rows(screen)))
        # Into the last folder and back up.
        term.keys("End", "Enter")
        screen = term.wait_for("--- " + os.path.join(self.root, "sub") + " -")
        self.assertIn("inner.txt", entry_rows(screen)[1])  # by name: deeper/ first
        term.keys("Left")
        term.wait_for("--- " + self.root + " -")
        self.assertEqual(self.details(term), os.path.join(self.root, "sub"))
        term.keys("s")
        term.wait_for("[size, no hidden]")
        term.keys("s")
        term.wait_for("[size, reversed, no hidden]")
        self.assertIn("@link", entry_rows(term.screen())[0])
        # Bigger and smaller, live.
        term.tmux("resize-window", "-x", "120", "-y", "30")
        deadline = time.monotonic() + 20
        while len(term.lines()[1].rstrip()) != 120 or "Disk usage:" not in term.lines()[29]:
            self.assertLess(time.monotonic(), deadline, term.screen())
            time.sleep(0.05)
        term.tmux("resize-window", "-x", "80", "-y", "24")
        deadline = time.monotonic() + 20
        while len(term.lines()[1].rstrip()) != 80 or "Disk usage:" not in term.lines()[23]:
            self.assertLess(time.monotonic(), deadline, term.screen())
            time.sleep(0.05)
        term.keys("?")
        screen = term.wait_for("this help")
        for key in ("sort by size, name, item count, modified", "move the selected entry to the trash", "quit"):
            self.assertIn(key, screen)
        term.keys("Escape", "q")
        self.assertEqual(term.exit_status(), 0)

    def test_trash_and_put_back_move_the_file_and_update_the_map(self):
        big = os.path.join(self.root, "big.bin")
        trash = os.path.join(self.folder, "home", "data", "Trash")
        term = self.start(self.root)
        total = term.lines()[23]
        # Anything but y cancels.
        term.keys("d")
        screen = term.wait_for("Move to the trash?")
        self.assertIn(big + " (200.7 KB)", screen)
        term.keys("n")
        term.wait_for("Move to the trash?", present=False)
        self.assertTrue(os.path.exists(big))
        term.keys("d")
        term.wait_for("Move to the trash?")
        term.keys("y")
        screen = term.wait_for("to the trash (u to put it back)")
        self.assertFalse(os.path.exists(big))
        self.assertTrue(os.path.exists(os.path.join(trash, "files", "big.bin")))
        with open(os.path.join(trash, "info", "big.bin.trashinfo")) as info:
            text = info.read()
        self.assertIn("[Trash Info]", text)
        self.assertIn("Path=" + big.replace(" ", "%20"), text)
        self.assertIn("DeletionDate=", text)
        self.assertIn("sub/", entry_rows(screen)[0])
        self.assertFalse(any("big.bin" in row for row in entry_rows(screen)))
        term.keys("j")  # the message goes at the next key, with the new totals
        self.assertNotEqual(term.wait_for("Disk usage:").split("\n")[23], total)
        # Put back from the list.
        term.keys("u")
        screen = term.wait_for("Moved to the trash in this run")
        self.assertIn(big, screen)
        term.keys("Enter")
        term.wait_for("Put back?")
        term.keys("y")
        screen = term.wait_for("Put back " + big)
        self.assertTrue(os.path.exists(big))
        self.assertEqual(os.path.getsize(big), 200_000)
        self.assertFalse(os.path.exists(os.path.join(trash, "info", "big.bin.trashinfo")))
        self.assertIn("big.bin", entry_rows(screen)[0])
        term.keys("j")
        self.assertEqual(term.wait_for("Disk usage:").split("\n")[23], total)
        term.keys("u")
        term.wait_for("Nothing was moved to the trash in this run")
        term.keys("q")
        self.assertEqual(term.exit_status(), 0)

    def test_read_only_and_delete_only_behind_its_option_never_through_a_link(self):
        big = os.path.join(self.root, "big.bin")
        term = self.start(self.root, "--read-only")
        term.keys("d")
        term.wait_for("Read-only (--read-only): nothing is moved or deleted")
        term.keys("D")
        term.wait_for("Read-only (--read-only)")
        term.keys("q")
        self.assertEqual(term.exit_status(), 0)
        self.assertTrue(os.path.exists(big))

        term = self.start(self.root)
        term.keys("D")
        term.wait_for("Deleting for good needs --allow-delete")
        term.keys("q")
        self.assertTrue(os.path.exists(big))

        term = self.start(self.root, "--allow-delete")
        term.keys("n")
        term.wait_for("[name]")
        # The link (by name: .hidden, bad..., big.bin, link): the link goes, not what it points to.
        term.keys("Home", "Down", "Down", "Down")
        self.assertEqual(self.details(term), os.path.join(self.root, "link"))
        term.keys("D")
        term.wait_for("Delete for good?")
        term.keys("y")
        term.wait_for("Really delete for good?")
        term.keys("n")
        term.wait_for("Really delete for good?", present=False)
        self.assertTrue(os.path.islink(os.path.join(self.root, "link")))
        term.keys("D", "y")
        term.wait_for("Really delete for good?")
        term.keys("y")
        term.wait_for("Deleted " + os.path.join(self.root, "link"))
        self.assertFalse(os.path.lexists(os.path.join(self.root, "link")))
        self.assertTrue(os.path.exists(os.path.join(self.folder, "target", "keep")))
        term.keys("q")
        self.assertEqual(term.exit_status(), 0)

    def test_diff_shows_and_sorts_changes(self):
        old = os.path.join(self.folder, "old.json")
        with open(old, "wb") as f:
            f.write(run(VANTEL, "map", self.root, "--json").stdout)
        write(os.path.join(self.root, "sub", "inner.txt"), 80_000)  # grew
        write(os.path.join(self.root, "fresh.bin"), 1_000)           # new
        term = self.start(self.root, "--diff", old)
        rows = entry_rows(term.screen())
        self.assertTrue(any("new" in row and "fresh.bin" in row for row in rows), rows)
        self.assertTrue(any("+" in row and "sub/" in row for row in rows), rows)
        term.keys("c")
        screen = term.wait_for("[change]")
        self.assertIn("sub/", entry_rows(screen)[0])
        # Imported maps are browsed read-only.
        term.keys("q")
        self.assertEqual(term.exit_status(), 0)
        term = self.start("--import", old)
        term.keys("d")
        term.wait_for("read from a file: nothing is moved or deleted")
        term.keys("q")

    def test_escape_stops_the_scan_and_browses_the_partial_map(self):
        for i in range(40):
            write(os.path.join(self.root, "many", f"d{i:02}", "f"), 10)
        term = Terminal(self, self.folder, self.root, "--threads", "1", "--pause-per-folder", "150")
        term.wait_for("scanning")
        term.wait_for("files and folders")
        term.keys("Escape")
        screen = term.wait_for("[partial]")
        self.assertIn("Disk usage:", screen)
        term.keys("q")
        self.assertEqual(term.exit_status(), 0)

    def test_signals_and_a_closed_terminal_end_it_cleanly(self):
        for sig, status in ((signal.SIGTERM, 143), (signal.SIGINT, 130)):
            term = self.start(self.root)
            os.kill(term.vantel_pid(), sig)
            self.assertEqual(term.exit_status(), status)
            # The terminal is given back: the screen no longer shows the browser.
            term.wait_for("Disk usage:", present=False)
        # Ctrl-C typed is a key: it quits as an interrupt.
        term = self.start(self.root)
        term.keys("C-c")
        self.assertEqual(term.exit_status(), 130)
        # The terminal goes away: the process ends.
        term = self.start(self.root)
        pid = term.vantel_pid()
        term.close()
        deadline = time.monotonic() + 20
        while self.running(pid):
            self.assertLess(time.monotonic(), deadline, "vantel still runs after its terminal closed")
            time.sleep(0.05)

    @staticmethod
    def running(pid):
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                return f.read().rsplit(b")", 1)[1].split()[0] != b"Z"
        except OSError:
            return False

    def test_unreadable_folders_are_marked_and_said_on_leaving(self):
        user, tmp, tool = locked_folder_setup(self, VANTEL, "vantel-browse-locked-")
        if shutil.which("setpriv") is None:
            self.skipTest("setpriv is not installed")
        root = os.path.join(tmp.name, "tree")
        write(os.path.join(root, "open", "f"), 10_000)
        write(os.path.join(root, "locked", "secret"), 10)
        os.chmod(os.path.join(root, "locked"), 0o700)
        term = Terminal(self, tmp.name, root, vantel=tool, user=user)
        screen = term.wait_for("Disk usage:")
        locked = [row for row in entry_rows(screen) if "locked/" in row]
        self.assertEqual(len(locked), 1, screen)
        self.assertTrue(locked[0].startswith("?"), locked)
        self.assertIn("!locked/", locked[0])
        # The trash refuses what this user may not move: said, and nothing changes.
        term.keys("d")
        term.wait_for("Move to the trash?")
        term.keys("y")
        term.wait_for("cannot move " + os.path.join(root, "open") + " to the trash")
        self.assertTrue(os.path.exists(os.path.join(root, "open", "f")))
        self.assertIn("open/", entry_rows(term.screen())[0])
        term.keys("q")
        self.assertEqual(term.exit_status(), 1)
        term.wait_for("1 folder could not be read; first: " + os.path.join(root, "locked"))


class BrowseWithoutTerminalTest(unittest.TestCase):
    def test_usage_and_no_terminal(self):
        tmp = make_temp_tree("vantel-browse-")
        self.addCleanup(tmp.cleanup)
        proc = run(VANTEL, "browse", tmp.name, expect=1, stdin=subprocess.DEVNULL)
        self.assertIn(b"browse needs a terminal", proc.stderr)
        run(VANTEL, "browse", expect=2)
        run(VANTEL, "browse", tmp.name, "--import", "x", expect=2)
        run(VANTEL, "browse", tmp.name, "--read-only", "--allow-delete", expect=2)
        proc = run(VANTEL, "browse", os.path.join(tmp.name, "missing"), expect=1)
        self.assertIn(b"No such file or directory", proc.stderr)
        self.assertIn(b"--allow-delete", run(VANTEL, "browse", "--help").stdout)


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main()
