#!/usr/bin/env python3
"""End-to-end checks of folder chains far deeper than the path length limit: sized exactly by
size and map, printed and written as JSON, without exhausting the stack.

Usage: deep_chain_test.py PATH_TO_VANTEL
"""
import os
import re
import sys
import tempfile
import unittest

from toolsupport import make_chain, remove_chain, run, run_json

VANTEL = None
LEVELS = 100_000
FILE_BYTES = 123


class DeepChainTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A memory file system when there is one: 100,000 folders cost seconds there, not
        # the minutes a disk that discards freed blocks can take.
        memory = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-chain-", dir=memory)
        cls.root = os.path.join(cls.tmp.name, "chain")
        make_chain(cls.root, LEVELS, FILE_BYTES)
        # Every folder of the chain holds one entry, so each has the root's own size.
        cls.total = FILE_BYTES + (LEVELS + 1) * os.lstat(cls.root).st_size

    @classmethod
    def tearDownClass(cls):
        remove_chain(cls.root)
        cls.tmp.cleanup()

    def test_size_counts_every_level(self):
        data = run_json(VANTEL, "size", self.root, "--json")
        self.assertEqual(data["size"], self.total)
        self.assertEqual(data["filesScanned"], LEVELS + 1)
        self.assertEqual(data["unreadable"], 0)

    def test_map_sums_every_folder_of_the_chain(self):
        text = run(VANTEL, "map", self.root, "--json").stdout.decode()
        self.assertTrue(text.endswith("}\n"))
        head = re.match(r'\{"version":1,"path":"[^"]*","size":(\d+),"usage":\d+,"filesScanned":(\d+)', text)
        self.assertIsNotNone(head, text[:200])
        self.assertEqual(int(head.group(1)), self.total)
        self.assertEqual(int(head.group(2)), LEVELS + 1)
        self.assertIn('{"name":"f","size":%d,' % FILE_BYTES, text)
        self.assertEqual(len(re.findall(r'"size":%d,' % self.total, text)), 2)  # the total and the root
        self.assertEqual(text.count('"name":"d"'), LEVELS)
        self.assertEqual(text.count('"name":"f"'), 1)
        self.assertEqual(text.count("["), text.count("]"))

    def test_the_saved_maps_of_the_chain_are_read_back_and_compared(self):
        export = os.path.join(self.tmp.name, "chain.ncdu")
        saved = os.path.join(self.tmp.name, "chain.json")
        run(VANTEL, "map", self.root, "--export", export)
        with open(saved, "wb") as f:
            f.write(run(VANTEL, "map", self.root, "--json").stdout)
        for source in (export, saved):
            text = run(VANTEL, "map", "--import", source, "--json").stdout.decode()
            head = re.match(r'\{"version":1,"path":"[^"]*","size":(\d+),"usage":\d+,"filesScanned":(\d+)', text)
            self.assertEqual((int(head.group(1)), int(head.group(2))), (self.total, LEVELS + 1))
        self.assertEqual(run_json(VANTEL, "diff", export, saved, "--json")["changes"], [])

    def test_text_map_of_the_chain(self):
        lines = run(VANTEL, "map", self.root, "--top", "3").stdout.decode().splitlines()
        self.assertRegex(lines[0], r"B  .*chain  \(%d files and folders" % (LEVELS + 1))
        self.assertTrue(lines[-1].strip().endswith("d/"))


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
