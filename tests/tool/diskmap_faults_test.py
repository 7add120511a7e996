#!/usr/bin/env python3
"""End-to-end checks of how vantel size, map and search treat what a user of du, ncdu, gdu
and fd relies on: unreadable folders, exact JSON documents, bundle names, depth options,
escapes, reasons, links given as PATH, write errors, Ctrl-C, number options and usage.

Usage: diskmap_faults_test.py PATH_TO_VANTEL
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from toolsupport import du_size, make_temp_tree, run, run_json, unprivileged_user, world_readable_copy, write

VANTEL = None


class UnreadableEntriesTest(unittest.TestCase):
    """A folder the user cannot read, and one that can be listed but not searched."""

    @classmethod
    def setUpClass(cls):
        cls.user = unprivileged_user()
        if cls.user is None:
            raise unittest.SkipTest("running as root and no unprivileged user can be made")
        cls.tmp = make_temp_tree("vantel-unreadable-")
        cls.tool = world_readable_copy(VANTEL, cls.tmp.name)
        root = cls.root = os.path.join(cls.tmp.name, "tree")
        write(os.path.join(root, "open", "a"), 10)
        write(os.path.join(root, "locked", "secret"), 500)
        write(os.path.join(root, "listonly", "f"), 7)
        os.makedirs(os.path.join(root, "listonly", "d"))
        for folder, _, files in os.walk(root):
            os.chmod(folder, 0o755)
            for name in files:
                os.chmod(os.path.join(folder, name), 0o644)
        if os.geteuid() == 0:
            os.chmod(os.path.join(root, "locked"), 0o700)  # owned by root: closed to the user
        else:
            os.chmod(os.path.join(root, "locked"), 0o000)
        os.chmod(os.path.join(root, "listonly"), 0o644)  # names readable, entries not

    @classmethod
    def tearDownClass(cls):
        for name in ("locked", "listonly"):
            os.chmod(os.path.join(cls.root, name), 0o755)
        cls.tmp.cleanup()

    def vantel(self, *args, expect=1):
        return run(self.tool, *args, expect=expect, user=self.user)

    def test_every_command_prints_the_whole_result_then_one_line_and_exit_1(self):
        summary = (f"vantel: 2 folders and 1 file could not be read; first: {self.root}/listonly/d: "
                   f"Permission denied\n").encode()
        for args in (["size"], ["map"], ["search"]):
            proc = self.vantel(*args, self.root)
            self.assertEqual(proc.stderr, summary, args)
        # The file that was read, and the folders' own sizes (read from their folders).
        readable = 10 + sum(os.lstat(os.path.join(self.root, name)).st_size for name in ("", "open", "locked", "listonly"))
        self.assertTrue(self.vantel("size", self.root).stdout.startswith(f"{readable}\t".encode()))
        listed = self.vantel("search", self.root).stdout.decode().splitlines()
        self.assertIn(f"{self.root}/open/a", listed)
        self.assertIn(f"{self.root}/listonly/f", listed)

    def test_the_tree_marks_unreadable_entries_and_never_shows_them_as_known_zero(self):
        text = self.vantel("map", self.root).stdout.decode()
        self.assertIn("!locked/", text)
        self.assertRegex(text, r"\?  !f\n")
        self.assertIn("!d/", text)

        data = json.loads(self.vantel("map", self.root, "--json").stdout)
        self.assertEqual(data["unreadable"], 3)
        children = {c["name"]: c for c in data["root"]["children"]}
        self.assertEqual(children["locked"]["error"], "Permission denied")
        self.assertEqual(children["locked"]["children"], [])
        self.assertNotIn("error", children["open"])
        inner = {c["name"]: c for c in children["listonly"]["children"]}
        self.assertIsNone(inner["f"]["size"])
        self.assertEqual(inner["f"]["error"], "Permission denied")
        self.assertEqual(inner["d"]["type"], "directory")
        self.assertEqual(inner["d"]["error"], "Permission denied")

        search = json.loads(self.vantel("search", self.root, "--json").stdout)
        found = {os.path.relpath(m["path"], self.root): m for m in search["matches"]}
        self.assertIsNone(found["listonly/f"]["size"])
        self.assertEqual(search["unreadable"], 3)

    def test_the_ncdu_export_flags_read_errors(self):
        out = os.path.join(self.tmp.name, "export.json")
        try:
            self.vantel("map", self.root, "--export", "-")
            proc = self.vantel("map", self.root, "--export", "-")
            data = json.loads(proc.stdout)
        finally:
            if os.path.exists(out):
                os.remove(out)
        entries = {}

        def walk(item):
            info = item[0] if isinstance(item, list) else item
            entries[info["name"]] = info
            if isinstance(item, list):
                for child in item[1:]:
                    walk(child)

        walk(data[3])
        self.assertTrue(entries["locked"]["read_error"])
        self.assertTrue(entries["f"]["read_error"])
        self.assertNotIn("asize", entries["f"])
        self.assertNotIn("read_error", entries["open"])

    def test_a_path_that_cannot_be_examined_gives_the_real_reason(self):
        proc = self.vantel("size", os.path.join(self.root, "locked", "inner"))
        self.assertEqual(proc.stderr.decode(), f"vantel: {self.root}/locked/inner: Permission denied\n")
        self.assertEqual(proc.stdout, b"")


class ToolFaultsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = make_temp_tree("vantel-faults-")
        root = cls.root = os.path.join(cls.tmp.name, "tree")
        write(os.path.join(root, "gtkext", "module.so"), 1000)
        write(os.path.join(root, "Foo.app", "Contents", "binary"), 300)
        write(os.path.join(root, "deep", "one", "two", "three.txt"), 20)
        write(os.path.join(root, "del\x7fname"), 1)
        write(os.path.join(root, "new\nline.txt"), 2)
        write(os.path.join(root, "archive.tar.gz"), 3)
        write(os.path.join(root, "UPPER.TXT"), 4)
        write(os.path.join(root, ".gz"), 5)
        cls.total = du_size(root)  # the files' 1335 bytes and the folders' own sizes
        cls.file = os.path.join(root, "archive.tar.gz")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def vantel(self, *args, expect=0, **kwargs):
        return run(VANTEL, *args, expect=expect, **kwargs)

    def test_json_documents_end_with_exactly_one_newline(self):
        wide = os.path.join(self.tmp.name, "wide")
        for i in range(3000):
            write(os.path.join(wide, f"file-with-a-long-name-{i:05}"), 1)
        for args in (["size", self.root], ["map", self.root], ["search", self.root], ["map", wide],
                     ["search", wide], ["memory"]):
            out = self.vantel(*args, "--json").stdout
            self.assertTrue(out.startswith(b"{"), args)
            self.assertTrue(out.endswith(b"}\n"), args)
            self.assertEqual(out.count(b"\n"), 1, args)
            json.loads(out)

    def test_bundle_names_match_whole_suffixes_and_bundles_are_never_zero(self):
        data = run_json(VANTEL, "map", self.root, "--json")
        children = {c["name"]: c for c in data["root"]["children"]}
        self.assertEqual(children["gtkext"]["size"], du_size(os.path.join(self.root, "gtkext")))
        self.assertEqual(children["Foo.app"]["size"], du_size(os.path.join(self.root, "Foo.app")))
        self.assertEqual(data["size"], self.total)
        leaves = run_json(VANTEL, "map", self.root, "--json", "--bundles-as-leaves")
        children = {c["name"]: c for c in leaves["root"]["children"]}
        self.assertEqual(children["Foo.app"]["size"], du_size(os.path.join(self.root, "Foo.app")))
        self.assertEqual(children["Foo.app"]["children"], [])
        self.assertEqual(len(children["gtkext"]["children"]), 1)
        leaf = self.vantel("map", self.root, "--bundles-as-leaves").stdout.decode()
        self.assertIn("  Foo.app/\n", leaf)
        self.assertNotIn("Contents", leaf)

    def test_max_depth_limits_what_is_shown_and_depth_limit_what_is_scanned(self):
        shown = run_json(VANTEL, "map", self.root, "--json", "--max-depth", "1")
        self.assertEqual(shown["size"], self.total)
        deep = {c["name"]: c for c in shown["root"]["children"]}["deep"]
        self.assertEqual(deep["size"], du_size(os.path.join(self.root, "deep")))
        self.assertEqual(deep["children"], [])
        text = self.vantel("map", self.root, "--max-depth", "1").stdout.decode()
        self.assertNotIn("one/", text)
        self.assertIn("  deep/\n", text)
        # Folders left unread are marked, never shown as known to be empty, and counted.
        scanned = run_json(VANTEL, "map", self.root, "--json", "--depth-limit", "1")
        deep = {c["name"]: c for c in scanned["root"]["children"]}["deep"]
        self.assertEqual((deep["size"], deep["notListed"], scanned["notListed"]), (None, True, 3))
        proc = self.vantel("map", self.root, "--depth-limit", "2")
        self.assertRegex(proc.stdout.decode(), r"B  \.deep/\n")
        self.assertIn(" ?  !one/\n", proc.stdout.decode())
        self.assertIn("vantel: 2 folders not read (past --depth-limit", proc.stderr.decode())
        export = self.vantel("map", self.root, "--export", "-", "--depth-limit", "2").stdout.decode()
        self.assertRegex(export, r'\{"name":"one"(,"[ad]size":\d+)*,"read_error":true\}')
        self.vantel("map", self.root, "--depth-limit", "0", expect=2)
        helptext = self.vantel("map", "--help").stdout.decode()
        self.assertIn("not counted", helptext)
        self.assertIn("--max-depth", helptext)

    def test_control_characters_are_escaped_in_the_ncdu_export_and_text(self):
        export = self.vantel("map", self.root, "--export", "-").stdout
        self.assertNotIn(b"\x7f", export)
        self.assertIn(b"del\\u007fname", export)
        json.loads(export)
        self.assertNotIn(b"\x7f", self.vantel("map", self.root, "--json").stdout)
        text = self.vantel("map", self.root, "--top", "100").stdout
        self.assertIn(b"del\\177name", text)
        self.assertIn(b"new\\nline.txt", text)
        self.assertNotIn(b"\x7f", text)
        self.assertIn(b"new\\nline.txt\n", self.vantel("search", self.root, "--name-contains", "new").stdout)

    def test_links_given_as_path_are_followed_as_du_dash_D_does(self):
        links = os.path.join(self.tmp.name, "links")
        os.makedirs(links, exist_ok=True)
        to_file = os.path.join(links, "to-file")
        dangling = os.path.join(links, "dangling")
        loop = os.path.join(links, "loop")
        to_folder = os.path.join(links, "to-folder")
        for source, target in ((self.file, to_file), ("/nonexistent/x", dangling), (loop, loop),
                               (self.root, to_folder)):
            if not os.path.lexists(target):
                os.symlink(source, target)
        for command in ("map", "search"):
            proc = self.vantel(command, to_file, expect=1)
            self.assertEqual(proc.stderr.decode(), f"vantel: {to_file}: not a folder\n")
            self.assertEqual(proc.stdout, b"")
            self.vantel(command, self.file, expect=1)
        for command in ("size", "map", "search"):
            proc = self.vantel(command, dangling, expect=1)
            self.assertEqual(proc.stderr.decode(), f"vantel: {dangling}: No such file or directory\n")
            proc = self.vantel(command, loop, expect=1)
            self.assertEqual(proc.stderr.decode(), f"vantel: {loop}: Too many levels of symbolic links\n")
        self.assertEqual(run_json(VANTEL, "size", to_folder, "--json")["size"], self.total)

    def test_size_gives_files_their_size_and_one_line_per_path_as_du_does(self):
        links = os.path.join(self.tmp.name, "size-links")
        os.makedirs(links, exist_ok=True)
        to_file = os.path.join(links, "to-file")
        dangling = os.path.join(links, "dangling")
        for source, target in ((self.file, to_file), ("/nonexistent/x", dangling)):
            if not os.path.lexists(target):
                os.symlink(source, target)
        args = ["size", self.file, to_file, dangling, self.root]
        proc = self.vantel(*args, expect=1)
        self.assertEqual(proc.stdout.decode(), f"3\t{self.file}\n3\t{to_file}\n{self.total}\t{self.root}\n")
        self.assertEqual(proc.stderr.decode(), f"vantel: {dangling}: No such file or directory\n")
        self.assertEqual(self.vantel(*args, expect=1).stdout, proc.stdout)
        self.assertEqual(self.vantel("size", self.file, "--json").stdout.count(b'"size":3,'), 1)

    def test_write_errors_on_stdout_fail_with_the_reason(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        # A wide folder, so that output is written in several pieces before the end.
        wide = os.path.join(self.tmp.name, "wide-output")
        if not os.path.isdir(wide):
            for i in range(3000):
                write(os.path.join(wide, f"an-entry-with-a-longer-name-{i:05}"))
        cases = [["size", self.root], ["search", self.root], ["memory"], ["version"], ["--version"],
                 ["map", self.root], ["map", self.root, "--json"], ["size", self.root, "--json"],
                 ["search", wide], ["map", wide, "--top", "5000"], ["map", wide, "--export", "-"]]
        # The HTML report, where the build has it.
        if subprocess.run([VANTEL, "map", self.root, "--html", os.devnull], capture_output=True).returncode == 0:
            cases.append(["map", wide, "--html", "-"])
        for args in cases:
            with open("/dev/full", "wb") as full:
                proc = subprocess.run([VANTEL, *args], stdout=full, stderr=subprocess.PIPE, timeout=60)
            self.assertEqual(proc.returncode, 1, args)
            # Said once, with the reason.
            self.assertEqual(proc.stderr, b"vantel: cannot write to standard output: No space left on device\n", args)
            closed = subprocess.run(["sh", "-c", '"$0" "$@" >&-', VANTEL, *args], stderr=subprocess.PIPE,
                                    timeout=60)
            self.assertEqual(closed.returncode, 1, args)
            self.assertIn(b"Bad file descriptor", closed.stderr, args)

    def test_number_options_are_whole_numbers_and_sizes_take_units(self):
        for value in ("-1", "abc", "1k", ""):
            proc = self.vantel("map", self.root, "--top", value, expect=2)
            self.assertIn("--top must be a whole number ≥ 0", proc.stderr.decode())
        self.vantel("map", self.root, "--max-depth", "x", expect=2)
        for size, expected in (("1000", 1000), ("1K", 1000), ("1kB", 1000), ("1KiB", 1024), ("300", 300),
                               ("1M", 1000000)):
            data = run_json(VANTEL, "search", self.root, "--type", "file", "--min-size", size, "--json")
            self.assertTrue(all(m["size"] >= expected for m in data["matches"]), size)
        self.assertEqual(len(run_json(VANTEL, "search", self.root, "--min-size", "1K", "--json")["matches"]), 1)
        self.assertEqual(len(run_json(VANTEL, "search", self.root, "--min-size", "1001", "--json")["matches"]), 0)
        for bad in ("1X", "-5", "K", "1.5K"):
            proc = self.vantel("search", self.root, "--min-size", bad, expect=2)
            self.assertIn("--min-size must be", proc.stderr.decode())

    def test_usage(self):
        self.assertEqual(self.vantel("--version").stdout, b"vantel 0.1.0\n")
        proc = self.vantel("nonsense", expect=2)
        self.assertIn("unknown command: nonsense", proc.stderr.decode())
        self.vantel("size", self.root, "--log-level", "4")
        self.vantel("map", self.root, "--root", self.tmp.name, "--top", "1")
        self.assertIn("must not be empty", self.vantel("size", "", expect=2).stderr.decode())
        self.vantel("map", "", expect=2)
        self.vantel("search", "", expect=2)
        self.vantel("map", self.root, "--json", "--export", os.path.join(self.tmp.name, "x.json"), expect=2)
        proc = self.vantel("map", self.root, "--export", os.path.join(self.tmp.name, "no", "such", "x.json"), expect=1)
        self.assertIn("No such file or directory", proc.stderr.decode())
        one = os.path.join(self.tmp.name, "one")
        write(os.path.join(one, "f"), 1)
        self.assertEqual(self.vantel("size", one).stdout.decode(), f"{du_size(one)}\t{one}\n")
        self.assertRegex(self.vantel("size", one, "--stats").stderr.decode(), f"{one}: .*B, 1 file or folder, ")
        self.assertIn("1 byte  ", self.vantel("map", one).stdout.decode())
        memory = self.vantel("memory").stdout.decode()
        self.assertRegex(memory, r"^\d+\.\d (KB|MB|GB) used out of \d+\.\d (GB|TB) total\n$")

    def test_search_prints_paths_as_given_sorted_and_matches_extensions_whole(self):
        parent, name = os.path.split(self.root)
        given = os.path.join(name, "deep", "..")
        out = self.vantel("search", given, "--extension", "txt", cwd=parent).stdout.decode()
        self.assertEqual(out, f"{name}/UPPER.TXT\n{name}/deep/one/two/three.txt\n{name}/new\\nline.txt\n")
        # Extensions ignore case, as fd's do.
        dot = self.vantel("search", ".", "--extension", ".Txt", cwd=self.root).stdout.decode()
        self.assertEqual(dot, "./UPPER.TXT\n./deep/one/two/three.txt\n./new\\nline.txt\n")
        compound = self.vantel("search", ".", "--extension", "tar.gz", cwd=self.root).stdout.decode()
        self.assertEqual(compound, "./archive.tar.gz\n")
        self.assertEqual(self.vantel("search", ".", "--extension", "gz", cwd=self.root).stdout.decode(),
                         "./archive.tar.gz\n")
        nul = self.vantel("search", ".", "--extension", "txt", "-0", cwd=self.root).stdout
        self.assertEqual(nul, b"./UPPER.TXT\0./deep/one/two/three.txt\0./new\nline.txt\0")
        first = self.vantel("search", self.root, "--json").stdout
        paths = [m["path"] for m in json.loads(first)["matches"]]
        self.assertEqual(paths, sorted(paths))
        self.assertEqual(first, self.vantel("search", self.root, "--json").stdout)

    def test_search_order_is_the_byte_order_of_whole_paths(self):
        # Names that sort around "/" ("a" < "a-b" < "a.txt" < "a/..." < "a0"), others not
        # UTF-8, a wide folder, and folders nested in folders with the same prefix.
        root = os.path.join(self.tmp.name, "order")
        names = ["a/b", "a/a.b/c", "a/a/x", "a-b", "a.txt", "a0", "a-/q", "A", "\xff\xfe", "caf\xc3\xa9/z", " sp"]
        names += [f"wide/n{i:03}" for i in range(300)] + ["wide/n050/deeper"]
        for name in names:
            path = os.path.join(root.encode(), name.encode("latin-1"))
            if name == "wide/n050/deeper":
                os.remove(os.path.join(root.encode(), b"wide/n050"))
            write(path, 1)
        for args in ([], ["--min-size", "0"]):
            out = self.vantel("search", root, *args, "-0").stdout
            paths = out.split(b"\0")[:-1]
            self.assertEqual(paths, sorted(paths), args)
            expected = set()
            for folder, dirs, files in os.walk(root.encode()):
                expected.update(os.path.join(folder, n) for n in dirs + files)
            self.assertEqual(set(paths), expected, args)


class InterruptTest(unittest.TestCase):
    """Ctrl-C cancels the scan through the library; what was found is printed, marked partial."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = make_temp_tree("vantel-interrupt-")
        cls.root = os.path.join(cls.tmp.name, "tree")
        for i in range(40):
            write(os.path.join(cls.root, f"d{i:02}", "f"), 10)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def start(self, *args, pause=100):
        proc = subprocess.Popen([VANTEL, *args, "--threads", "1", "--pause-per-folder", str(pause)],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(0.6)
        return proc

    def test_a_signal_prints_the_partial_result_and_exits_130_or_143(self):
        for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            for command in ("size", "map", "search"):
                proc = self.start(command, self.root, "--json")
                proc.send_signal(sig)
                out, err = proc.communicate(timeout=30)
                self.assertEqual(proc.returncode, status, (sig, command, err))
                self.assertRegex(err, rb"^(vantel: \d+ folders? not read \(interrupted\); marked !\n)?"
                                      rb"partial: interrupted\n$")
                data = json.loads(out)
                self.assertIs(data["complete"], False)
                self.assertLess(data["filesScanned"], 80)

    def test_the_export_is_written_when_interrupted(self):
        target = os.path.join(self.tmp.name, "partial.json")
        proc = self.start("map", self.root, "--export", target)
        proc.send_signal(signal.SIGINT)
        proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 130)
        with open(target, encoding="utf-8") as f:
            data = json.load(f)
        self.assertEqual(data[0], 1)
        text = self.start("map", self.root)
        text.send_signal(signal.SIGINT)
        out, err = text.communicate(timeout=30)
        self.assertEqual(text.returncode, 130)
        self.assertIn(self.root.encode(), out)

    def test_an_output_that_cannot_be_written_fails_before_the_scan(self):
        options = ["--export"]
        if subprocess.run([VANTEL, "map", self.root, "--html", os.devnull], capture_output=True).returncode == 0:
            options.append("--html")
        for option in options:
            missing = os.path.join(self.tmp.name, "missing", "out")
            began = time.monotonic()
            proc = subprocess.run([VANTEL, "map", self.root, option, missing, "--threads", "1",
                                   "--pause-per-folder", "3000"], capture_output=True, timeout=60)
            self.assertLess(time.monotonic() - began, 2.0, option)
            self.assertEqual(proc.returncode, 1)
            self.assertEqual(proc.stderr.decode(), f"vantel: cannot write {missing}: No such file or directory\n")
        folder = os.path.join(self.tmp.name, "out")
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "map.json")
        write(target, data=b"old")
        subprocess.run([VANTEL, "map", self.root, "--export", target], check=True, capture_output=True)
        self.assertEqual(os.listdir(folder), ["map.json"])
        with open(target, encoding="utf-8") as f:
            self.assertEqual(json.load(f)[0], 1)

    def test_a_second_signal_ends_at_once(self):
        proc = self.start("map", self.root, "--json", pause=3000)
        began = time.monotonic()
        proc.send_signal(signal.SIGINT)
        # A second signal counts once the first has been acknowledged (half a second).
        time.sleep(0.7)
        proc.send_signal(signal.SIGTERM)
        out, _ = proc.communicate(timeout=30)
        self.assertEqual(proc.returncode, 143)
        self.assertEqual(out, b"")
        self.assertLess(time.monotonic() - began, 2.5)


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
