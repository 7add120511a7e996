#!/usr/bin/env python3
"""Runs built glib-host programs against a tree made here: each prints the largest folders
in order with their sizes and exits 0; interrupted before its scan starts, it exits 130 and
says so. Under AddressSanitizer a leak makes the exit status wrong and is reported.

Usage: host_test.py GLIB_HOST...
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAMS = []
SIZES = {"big": 300_000, "medium": 200_000, "small": 100_000}


def make_tree(root):
    for name, size in SIZES.items():
        os.makedirs(os.path.join(root, name, "inner"))
        # Half directly in the folder, half one level down: folder sizes are sums.
        for path in (os.path.join(root, name, "a.bin"), os.path.join(root, name, "inner", "b.bin")):
            with open(path, "wb") as f:
                f.write(b"x" * (size // 2))
    with open(os.path.join(root, "loose.bin"), "wb") as f:
        f.write(b"y" * 5)


class HostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="glib-host-")
        cls.root = os.path.join(cls.tmp.name, "tree")
        make_tree(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_prints_the_largest_folders(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                proc = subprocess.run([program, "--top", "2", self.root], capture_output=True, text=True, timeout=60)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertNotIn("LeakSanitizer", proc.stderr)
                lines = proc.stdout.splitlines()
                total = sum(SIZES.values()) + 5
                self.assertEqual(lines[0], f"{total} bytes in {self.root}")
                self.assertEqual(lines[1:], [f"{SIZES['big']:>12}  big/", f"{SIZES['medium']:>12}  medium/"])
                self.assertIn("scan started", proc.stderr)

    def test_interrupt_cancels_through_the_loop(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                proc = subprocess.Popen([program, "--start-delay", "60", self.root], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
                # Wait until the loop runs and the signal source is in place.
                seen = ""
                deadline = time.monotonic() + 30
                while "starting in" not in seen and time.monotonic() < deadline:
                    line = proc.stderr.readline()
                    if not line:
                        break
                    seen += line
                self.assertIn("starting in", seen)
                proc.send_signal(signal.SIGINT)
                out, err = proc.communicate(timeout=30)
                self.assertEqual(proc.returncode, 130, seen + err)
                self.assertIn("cancelled", err)
                self.assertNotIn("LeakSanitizer", err)
                self.assertNotIn("bytes in", out)


if __name__ == "__main__":
    PROGRAMS.extend(os.path.abspath(p) for p in sys.argv[1:])
    if not PROGRAMS:
        sys.exit(__doc__)
    unittest.main(argv=[sys.argv[0]])
