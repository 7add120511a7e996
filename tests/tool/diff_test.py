#!/usr/bin/env python3
"""End-to-end checks of vantel diff: a map against itself, known changes between two scans
(saved as map JSON and as an ncdu export), folder totals, --top, and bad input.

Usage: diff_test.py PATH_TO_VANTEL
"""
import os
import shutil
import sys
import unittest

from toolsupport import du_size, make_temp_tree, run, run_json, write

VANTEL = None


class DiffTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = make_temp_tree("vantel-diff-")
        root = cls.root = os.path.join(cls.tmp.name, "tree")
        write(os.path.join(root, "docs", "a.txt"), 1000)
        write(os.path.join(root, "docs", "b.txt"), 200)
        write(os.path.join(root, "old", "gone.bin"), 5000)
        write(os.path.join(root, "moved", "m"), 300)
        write(os.path.join(root, "same"), 42)
        cls.old_total = du_size(root)
        cls.old_folder = du_size(os.path.join(root, "old"))
        cls.before = os.path.join(cls.tmp.name, "before.json")
        with open(cls.before, "wb") as f:
            f.write(run(VANTEL, "map", root, "--json").stdout)

        write(os.path.join(root, "docs", "a.txt"), 4000)          # grew by 3000
        write(os.path.join(root, "docs", "b.txt"), 50)            # shrank by 150
        shutil.rmtree(os.path.join(root, "old"))                  # vanished, 5000
        write(os.path.join(root, "fresh", "deep", "new.bin"), 700)  # appeared, 700
        os.makedirs(os.path.join(root, "moved", "inner"))
        os.rename(os.path.join(root, "moved", "m"), os.path.join(root, "moved", "inner", "m"))
        cls.after = os.path.join(cls.tmp.name, "after.ncdu")
        run(VANTEL, "map", root, "--export", cls.after)
        cls.new_total = du_size(root)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_a_map_against_itself_has_no_change(self):
        for saved in (self.before, self.after):
            data = run_json(VANTEL, "diff", saved, saved, "--json")
            self.assertEqual(data["change"], 0)
            self.assertEqual(data["changes"], [])
            self.assertEqual([data[k] for k in ("grew", "shrank", "appeared", "vanished")], [0, 0, 0, 0])
        text = run(VANTEL, "diff", self.before, self.before).stdout.decode()
        self.assertEqual(text.count("\n"), 1)
        self.assertIn("0 grew, 0 shrank, 0 appeared, 0 vanished", text)

    def test_known_changes_largest_first_with_consistent_folder_totals(self):
        data = run_json(VANTEL, "diff", self.before, self.after, "--json")
        self.assertEqual(data["version"], 1)
        self.assertEqual(data["old"]["size"], self.old_total)  # the files and the folders' own sizes
        self.assertEqual(data["new"]["size"], self.new_total)
        self.assertEqual(data["change"], data["new"]["size"] - data["old"]["size"])
        changes = {c["path"]: c for c in data["changes"]}
        self.assertEqual(changes["old/"]["status"], "vanished")
        self.assertEqual((changes["old/"]["old"], changes["old/"]["new"], changes["old/"]["change"]),
                         (self.old_folder, None, -self.old_folder))
        self.assertNotIn("old/gone.bin", changes)  # inside a vanished folder
        self.assertEqual(changes["docs/a.txt"]["status"], "grew")
        self.assertEqual(changes["docs/a.txt"]["change"], 3000)
        self.assertEqual(changes["docs/b.txt"]["status"], "shrank")
        self.assertEqual(changes["docs/b.txt"]["change"], -150)
        self.assertEqual(changes["docs/"]["change"], 3000 - 150)
        self.assertEqual(changes["fresh/"]["status"], "appeared")
        self.assertEqual(changes["fresh/"]["new"], du_size(os.path.join(self.root, "fresh")))
        self.assertNotIn("fresh/deep/", changes)
        # A move inside a folder changes its total by the new folder only, and shows below it.
        inner = os.lstat(os.path.join(self.root, "moved", "inner")).st_size
        self.assertEqual(changes["moved/"]["change"], inner)
        self.assertEqual(changes["moved/m"]["status"], "vanished")
        self.assertEqual(changes["moved/inner/"]["status"], "appeared")
        self.assertNotIn("same", changes)
        # Largest changes first.
        sizes = [abs(c["change"]) for c in data["changes"]]
        self.assertEqual(sizes, sorted(sizes, reverse=True))
        self.assertEqual(data["changes"][0]["path"], "old/")
        self.assertEqual((data["grew"], data["shrank"], data["appeared"], data["vanished"]), (3, 1, 2, 2))
        # Reversed, every change turns round.
        back = run_json(VANTEL, "diff", self.after, self.before, "--json")
        self.assertEqual(back["change"], -data["change"])
        self.assertEqual({c["path"]: -c["change"] for c in back["changes"]}, {p: c["change"] for p, c in changes.items()})

    def test_top_and_text(self):
        every = run_json(VANTEL, "diff", self.before, self.after, "--json")["changes"]
        data = run_json(VANTEL, "diff", self.before, self.after, "--json", "--top", "2")
        self.assertEqual(data["changes"], every[:2])
        lines = run(VANTEL, "diff", self.before, self.after, "--top", "1").stdout.decode().splitlines()
        self.assertRegex(lines[1], r"-\d+\.\d KB")
        self.assertIn("vanished", lines[1])
        self.assertTrue(lines[-1].startswith(f"({len(every) - 1} more"))

    def test_bad_input(self):
        run(VANTEL, "diff", self.before, expect=2)
        run(VANTEL, "diff", self.before, self.after, "--top", "x", expect=2)
        self.assertIn("No such file", run(VANTEL, "diff", self.before, "/nonexistent", expect=1).stderr.decode())
        broken = os.path.join(self.tmp.name, "broken.json")
        with open(broken, "w") as f:
            f.write("{\"root\": [")
        self.assertIn("broken.json:1:", run(VANTEL, "diff", broken, self.before, expect=1).stderr.decode())


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
