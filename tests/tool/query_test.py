#!/usr/bin/env python3
"""End-to-end checks of `vantel query` on a tree built here: what the index sees (no hidden
folders unless --hidden, no bundle insides, no links), the order of the results, both output forms, the
default scope and the exit codes.

Usage: query_test.py PATH_TO_VANTEL
"""
import fnmatch
import json
import os
import subprocess
import sys
import tempfile
import unittest

import toolsupport

VANTEL = None
PKG = "_kMDItemFileName LIKE[cd] '*.pkg'"


def run(*args, expect=0, stdout=subprocess.PIPE):
    proc = subprocess.run([VANTEL, *args], stdout=stdout, stderr=subprocess.PIPE, timeout=120)
    if proc.returncode != expect:
        raise AssertionError(f"vantel {' '.join(map(str, args))}: exit {proc.returncode}, expected {expect}\n"
                             f"stdout: {(proc.stdout or b'')[:500]!r}\nstderr: {proc.stderr[:500]!r}")
    return proc


def walk_like_the_index(root, matches, hidden=False):
    """The entries a walk of root indexes, as (path bytes, size): links, devices and pipes
    left out, bundle insides not entered, nor hidden folders unless hidden is set."""
    found = []
    pending = [os.fsencode(root)]
    while pending:
        folder = pending.pop()
        with os.scandir(folder) as entries:
            for entry in entries:
                if entry.is_symlink():
                    continue
                if entry.is_dir(follow_symlinks=False):
                    if entry.name.startswith(b".") and not hidden:
                        continue
                    if matches(entry.name):
                        found.append((entry.path, 0))
                    if not (entry.name.endswith(b".app") or entry.name.endswith(b"kext")):
                        pending.append(entry.path)
                elif entry.is_file(follow_symlinks=False):
                    if matches(entry.name):
                        found.append((entry.path, entry.stat(follow_symlinks=False).st_size))
    return found


class QueryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-query-")
        root = cls.root = os.path.join(cls.tmp.name, "home")

        def write(rel, size):
            path = os.path.join(os.fsencode(root), rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(b"x" * size)

        write(b"Downloads/Setup.pkg", 3000)
        write(b"Downloads/other.PKG", 3000)
        write(b"Downloads/notes.txt", 50)
        write(b"Desktop/Tool.app/Contents/Inner.pkg", 10)
        write(b".cache/Hidden.pkg", 10)
        write(b"Desktop/.git/objects/Deep.pkg", 10)
        write(b".dotfile.pkg", 7)
        write(b"bad\xff\xfename/x.pkg", 20)
        write(b"new\nline.pkg", 5)
        os.makedirs(os.path.join(root, "Installers", "Folder.pkg", "Contents"))
        os.symlink(os.path.join(root, "Downloads", "Setup.pkg"), os.path.join(root, "Link.pkg"))
        os.mkfifo(os.path.join(root, "Pipe.pkg"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def query_json(self, *args):
        out = run(*args, "--json").stdout
        self.assertTrue(out.endswith(b"}\n") and not out.endswith(b"\n\n"), out[-20:])
        document = json.loads(out.decode("utf-8", errors="strict"))
        self.assertEqual(document["version"], 1)
        return document["results"]

    def test_finds_what_a_walk_with_the_index_rules_finds_largest_first(self):
        results = self.query_json("query", PKG, "--scope", self.root)
        expected = walk_like_the_index(self.root, lambda name: name.lower().endswith(b".pkg"))
        self.assertEqual(sorted((r["path"], r["size"]) for r in results),
                         sorted((os.fsdecode(p).encode("utf-8", "surrogateescape").decode("utf-8", "replace"), s)
                                for p, s in expected))
        self.assertEqual(len(results), 6)
        keys = [(-r["size"], r["path"]) for r in results]
        self.assertEqual(keys, sorted(keys))
        self.assertEqual(results[0]["path"], os.path.join(self.root, "Downloads", "Setup.pkg"))
        self.assertTrue(any("\ufffd" in r["path"] for r in results))

    def test_hidden_folders_are_searched_when_asked(self):
        for flag in ("--hidden", "-H"):
            results = self.query_json("query", PKG, "--scope", self.root, flag)
            expected = walk_like_the_index(self.root, lambda name: name.lower().endswith(b".pkg"), hidden=True)
            self.assertEqual(sorted(r["path"] for r in results),
                             sorted(os.fsdecode(p).encode("utf-8", "surrogateescape").decode("utf-8", "replace")
                                    for p, _ in expected))
            paths = [r["path"] for r in results]
            self.assertIn(os.path.join(self.root, ".cache", "Hidden.pkg"), paths)
            self.assertIn(os.path.join(self.root, "Desktop", ".git", "objects", "Deep.pkg"), paths)
            self.assertNotIn(os.path.join(self.root, "Desktop", "Tool.app", "Contents", "Inner.pkg"), paths)

    def test_text_output_is_size_tab_path_one_line_each(self):
        out = run("query", "kMDItemFSSize >= 3000", "--scope", self.root).stdout
        lines = out.decode().splitlines()
        self.assertEqual(lines, [f"3000\t{self.root}/Downloads/Setup.pkg", f"3000\t{self.root}/Downloads/other.PKG"])
        out = run("query", "kMDItemFSName CONTAINS 'line'", "--scope", self.root).stdout
        self.assertEqual(out, f"5\t{self.root}/new\\nline.pkg\n".encode())

    def test_default_scope_is_the_home_folder_and_scopes_do_not_repeat_results(self):
        home = self.query_json("--home", self.root, "query", "kMDItemFSSize > 1000")
        both = self.query_json("query", "kMDItemFSSize > 1000", "--scope", self.root,
                               "--scope", os.path.join(self.root, "Downloads"))
        self.assertEqual(home, both)
        self.assertEqual(len(home), 2)
        self.assertEqual(self.query_json("query", "kMDItemFSSize > 1e12", "--scope", self.root), [])

    def test_a_folder_the_user_cannot_read_is_reported_and_fails(self):
        user, tmp, vantel = toolsupport.locked_folder_setup(self, VANTEL, "vantel-query-locked-")
        tree = os.path.join(tmp.name, "tree")
        locked = os.path.join(tree, "locked")
        toolsupport.write(os.path.join(tree, "open", "big"), 2000)
        toolsupport.write(os.path.join(locked, "big"), 2000)
        os.chmod(locked, 0o700)
        proc = toolsupport.run(vantel, "query", "kMDItemFSSize > 1000", "--scope", tree, "--json", user=user,
                               expect=1)
        doc = json.loads(proc.stdout)
        self.assertEqual([r["path"] for r in doc["results"]], [os.path.join(tree, "open", "big")])
        self.assertEqual(doc["unreadable"], [{"path": locked, "error": "Permission denied"}])
        self.assertEqual(proc.stderr.decode(), f"vantel: 1 folder could not be read; first: {locked}: Permission denied\n")
        toolsupport.run(vantel, "query", "kMDItemFSSize > 1000", "--scope", tree, user=user, expect=1)

    def test_exit_codes(self):
        bad = run("query", "kMDItemFSSize > '1'", "--scope", self.root, expect=2)
        self.assertIn(b"position 16", bad.stderr)
        self.assertIn(b"^", bad.stderr)
        self.assertEqual(bad.stdout, b"")
        run("query", "(kMDItemFSSize > 1", "--scope", self.root, expect=2)
        run("query", "kMDItemColor == 1", "--scope", self.root, expect=2)
        run("query", expect=2)
        missing = run("query", PKG, "--scope", os.path.join(self.root, "missing"), expect=1)
        self.assertIn(b"missing", missing.stderr)
        with open("/dev/full", "wb") as full:
            run("query", PKG, "--scope", self.root, expect=1, stdout=full)
            run("query", PKG, "--scope", self.root, "--json", expect=1, stdout=full)


class InterruptTest(unittest.TestCase):
    def test_sigint_prints_the_matches_walked_so_far_and_exits_130(self):
        with tempfile.TemporaryDirectory(prefix="vantel-query-interrupt-") as tmp:
            for i in range(30):
                os.makedirs(os.path.join(tmp, f"d{i:02}"))
                with open(os.path.join(tmp, f"d{i:02}", "a.pkg"), "wb") as f:
                    f.write(b"x")
            status, out, err = toolsupport.interrupted(VANTEL, "query", PKG, "--scope", tmp, "--json",
                                                       "--pause-per-folder", "300")
            self.assertEqual(status, 130, err)
            self.assertTrue(err.endswith(b"partial: interrupted\n"), err)
            doc = json.loads(out)
            self.assertIs(doc["complete"], False)
            self.assertLess(len(doc["results"]), 30)
            self.assertIs(run("query", PKG, "--scope", tmp, "--json").stdout.count(b'"complete":true'), 1)


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main()
