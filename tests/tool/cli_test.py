#!/usr/bin/env python3
"""End-to-end checks of the vantel tool on a tree built here: sizes, the JSON forms (always
valid, U+FFFD for bytes that are not UTF-8), the ncdu export, search filters and exit codes.

Usage: cli_test.py PATH_TO_VANTEL
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

import toolsupport

VANTEL = None


def run(*args, expect=0):
    return toolsupport.run(VANTEL, *args, expect=expect)


def run_json(*args):
    out = run(*args).stdout
    return json.loads(out.decode("utf-8", errors="strict"))


class ToolTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-cli-")
        root = cls.root = os.path.join(cls.tmp.name, "tree")
        os.makedirs(os.path.join(root, "sub", "deep"))
        os.makedirs(os.fsencode(root) + b"/bad\xff\xfename")
        cls.sizes = {}

        def write(rel, size):
            path = os.path.join(os.fsencode(root), rel)
            with open(path, "wb") as f:
                f.write(b"x" * size)
            cls.sizes[rel] = size

        write(b"a.txt", 10)
        write(b"sub/b.log", 2000)
        write(b"sub/deep/c.txt", 5)
        write(b"bad\xff\xfename/inner.txt", 7)
        write(b'q"uo\\te\ttab', 3)
        write(b"csi\xc2\x9bname", 4)
        sparse = os.path.join(root, "sparse.img")
        with open(sparse, "wb") as f:
            f.truncate(1 << 20)
        cls.sizes[b"sparse.img"] = 1 << 20
        os.mkfifo(os.path.join(root, "pipe"))
        outside = os.path.join(cls.tmp.name, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "big"), "wb") as f:
            f.write(b"y" * 50000)
        os.symlink(outside, os.path.join(root, "link-to-outside"))
        # As du counts: the files, the folders' own sizes, the pipe and the link (not followed).
        cls.total = toolsupport.du_size(root)
        # Files, folders, the pipe and the link below the root.
        cls.entries = len(cls.sizes) + 3 + 2

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_size_counts_as_du_does_and_never_follows_links(self):
        data = run_json("size", self.root, "--json")
        self.assertEqual(data["path"], self.root)
        self.assertEqual(data["size"], self.total)
        self.assertEqual(data["filesScanned"], self.entries - 2)  # files and folders
        self.assertGreaterEqual(data["elapsed"], 0)

    def test_map_json_is_a_consistent_tree_with_replaced_bytes(self):
        data = run_json("map", self.root, "--json")
        self.assertEqual(data["size"], self.total)
        root = data["root"]
        self.assertEqual(root["size"], self.total)
        names = {child["name"] for child in root["children"]}
        self.assertIn("bad\ufffd\ufffdname", names)
        self.assertIn('q"uo\\te\ttab', names)
        kinds = {child["name"]: child["type"] for child in root["children"]}
        self.assertEqual((kinds["pipe"], kinds["link-to-outside"]), ("fifo", "link"))

        def check(node):
            if node["type"] == "directory":
                # Its own size beside its entries'.
                self.assertGreater(node["size"], sum(check(c) for c in node["children"]), node["name"])
            else:
                self.assertNotIn("children", node)
            return node["size"]

        check(root)

    def test_depth_limit_stops_below_the_given_level(self):
        data = run_json("map", self.root, "--depth-limit", "1", "--json")
        for child in data["root"]["children"]:
            if child["type"] == "directory":
                self.assertEqual(child["children"], [], child["name"])

    def test_ncdu_export_is_valid_json_in_ncdus_layout(self):
        with tempfile.NamedTemporaryFile(suffix=".json") as out:
            run("map", self.root, "--export", out.name)
            with open(out.name, encoding="utf-8") as f:
                data = json.load(f)
        self.assertEqual(data[0:2], [1, 2])
        self.assertIn("progname", data[2])
        tree = data[3]
        self.assertEqual(tree[0]["name"], self.root)

        def total(entry):
            if isinstance(entry, list):
                return entry[0].get("asize", 0) + sum(total(e) for e in entry[1:])
            return entry.get("asize", 0)

        self.assertEqual(total(tree), self.total)
        others = {e["name"]: e for e in tree[1:] if isinstance(e, dict) and e.get("notreg")}
        self.assertEqual(sorted(others), ["link-to-outside", "pipe"])
        self.assertEqual(others["link-to-outside"]["asize"], len(os.path.join(self.tmp.name, "outside")))

    def test_search_filters(self):
        def paths(*filters):
            data = run_json("search", self.root, *filters, "--json")
            return sorted(os.path.relpath(m["path"], self.root) for m in data["matches"])

        self.assertEqual(paths("--extension", "txt", "--type", "file"),
                         ["a.txt", "bad\ufffd\ufffdname/inner.txt", "sub/deep/c.txt"])
        self.assertEqual(paths("--min-size", "1000", "--type", "file"), ["sparse.img", "sub/b.log"])
        self.assertEqual(paths("--name-contains", "dee"), ["sub/deep"])
        self.assertEqual(paths("--glob", "?.TXT", "-i"), ["a.txt", "sub/deep/c.txt"])
        self.assertEqual(paths("--regex", "^b.*g$"), ["sub/b.log"])
        self.assertEqual(paths("--type", "folder", "--type", "link", "--type", "other"),
                         ["bad\ufffd\ufffdname", "link-to-outside", "pipe", "sub", "sub/deep"])
        self.assertEqual(paths("--type", "link"), ["link-to-outside"])
        self.assertEqual(paths("--type", "other"), ["pipe"])
        # One TYPE per --type: the PATH after it stays a PATH.
        self.assertEqual(run("search", "--type", "folder", os.path.join(self.root, "sub")).stdout.decode(),
                         os.path.join(self.root, "sub", "deep") + "\n")
        proc = run("search", self.root, "--regex", "a(", expect=2)
        self.assertRegex(proc.stderr.decode(), r"^vantel: --regex: .+\n$")
        everything = run_json("search", self.root, "--json")
        self.assertEqual(everything["filesScanned"], self.entries)
        self.assertEqual(len(everything["matches"]), self.entries)

    def test_search_lists_each_path_in_turn_and_fails_after_all_when_one_cannot_be_read(self):
        sub, deep = os.path.join(self.root, "sub"), os.path.join(self.root, "sub", "deep")
        missing = os.path.join(self.root, "missing")
        proc = run("search", deep, missing, sub, "--extension", "txt", expect=1)
        self.assertEqual(proc.stdout.decode(), f"{deep}/c.txt\n{sub}/deep/c.txt\n")
        self.assertIn(f"{missing}: No such file or directory", proc.stderr.decode())
        data = json.loads(run("search", deep, sub, "--type", "file", "--json").stdout)
        self.assertEqual(data["paths"], [deep, sub])
        self.assertEqual([m["size"] for m in data["matches"]], [5, 2000, 5])
        self.assertEqual(data["filesScanned"], 1 + 3)

    def test_human_map_lists_the_largest_entry_first(self):
        out = run("map", self.root, "--top", "1").stdout.decode("utf-8", errors="replace")
        lines = out.splitlines()
        self.assertIn(self.root, lines[0])
        self.assertIn("sparse.img", lines[1])

    def test_text_output_escapes_c1_control_characters_as_ls_b_does(self):
        out = run("search", self.root, "--name-contains", "csi").stdout
        self.assertEqual(out, os.path.join(self.root, "csi\\302\\233name\n").encode())

    def test_version_after_a_command_prints_the_version(self):
        version = run("version").stdout
        for command in ("size", "clean", "map"):
            self.assertEqual(run(command, "--version").stdout, version, command)

    def test_a_home_or_root_that_is_not_a_folder_is_refused_with_the_reason(self):
        missing = os.path.join(self.root, "missing")
        a_file = os.path.join(self.root, "a.txt")
        for command in (["clean"], ["apps"], ["mail"], ["query", "kMDItemFSSize > 1"]):
            proc = run(*command, "--home", missing, expect=1)
            self.assertEqual(proc.stderr.decode(), f"vantel: --home {missing}: No such file or directory\n", command)
            self.assertEqual(proc.stdout, b"")
            proc = run("--home", a_file, *command, expect=1)
            self.assertEqual(proc.stderr.decode(), f"vantel: --home {a_file}: not a folder\n", command)
            run(*command, "--home", "", expect=2)
        for command in ("clean", "apps"):
            proc = run(command, "--root", missing, expect=1)
            self.assertEqual(proc.stderr.decode(), f"vantel: --root {missing}: No such file or directory\n")

    def test_no_command_lists_the_commands_and_an_empty_inventory_says_so(self):
        listing = run(expect=2).stderr.decode()
        self.assertRegex(listing, r"\n  size +Total logical size")
        self.assertRegex(listing, r"\n  version +Print")
        empty = os.path.join(self.root, "sub", "deep")
        proc = run("apps", "--home", empty, "--root", empty)
        self.assertEqual((proc.stdout, proc.stderr), (b"", b"vantel apps: no applications found\n"))

    def test_demo_home_says_why_it_cannot_write(self):
        user = toolsupport.unprivileged_user()
        if user is None or os.geteuid() != 0:
            self.skipTest("needs root to run as another user")
        with tempfile.TemporaryDirectory() as private:
            shared = toolsupport.make_temp_tree("vantel-demo-")
            try:
                tool = toolsupport.world_readable_copy(VANTEL, shared.name)
                target = os.path.join(private, "demo")
                proc = toolsupport.run(tool, "demo-home", target, expect=1, user=user)
                self.assertEqual(proc.stderr.decode(), f"vantel demo-home: {target}: Permission denied\n")
            finally:
                shared.cleanup()
            with open("/dev/full", "wb") as full:
                proc = subprocess.run([VANTEL, "demo-home", os.path.join(private, "full")], stdout=full,
                                      stderr=subprocess.PIPE)
            self.assertEqual((proc.returncode, proc.stderr),
                             (1, b"vantel: cannot write to standard output: No space left on device\n"))

    def test_exit_codes(self):
        missing = run("size", os.path.join(self.root, "missing"), expect=1)
        self.assertTrue(missing.stderr.strip())
        self.assertEqual(missing.stdout, b"")
        # The same words for the same faults, whichever command or option has them.
        self.assertTrue(run("size", expect=2).stderr.startswith(b"vantel: PATH is required\n"))
        self.assertEqual(run("--log-level", "9", "size", self.root, expect=2).stderr,
                         b"vantel: --log-level must be a whole number from 1 to 4\n")
        self.assertEqual(run("diff", "a", "b", "--top", "x", expect=2).stderr, b"vantel: --top must be a whole number \xe2\x89\xa5 0\n")
        run("map", self.root, "--top", "-1", expect=2)
        run("nonsense", expect=2)
        run("--help")


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
