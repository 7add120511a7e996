#!/usr/bin/env python3
"""End-to-end checks of the disk-map options that users of du, ncdu, gdu and fd expect:
progress on a terminal, -x and the pseudo file systems, --exclude and --exclude-caches, disk
usage beside apparent size, hard links counted once, and map --import.

Usage: diskmap_options_test.py PATH_TO_VANTEL
"""
import json
import os
import pty
import subprocess
import sys
import unittest

from toolsupport import du_size, make_temp_tree, run, run_json, write

VANTEL = None


class OptionsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = make_temp_tree("vantel-options-")
        root = cls.root = os.path.join(cls.tmp.name, "tree")
        write(os.path.join(root, "src", "main.c"), 100)
        write(os.path.join(root, "src", "main.o"), 1000)
        write(os.path.join(root, "build", "out.bin"), 5000)
        write(os.path.join(root, "cache", "blob"), 7000)
        write(os.path.join(root, "cache", "CACHEDIR.TAG"),
              data=b"Signature: 8a477f597d28d172789f06886806bc55\n# a cache folder\n")
        write(os.path.join(root, "links", "original"), 4096)
        os.link(os.path.join(root, "links", "original"), os.path.join(root, "links", "second"))
        with open(os.path.join(root, "sparse.img"), "wb") as f:
            f.truncate(10 << 20)
        cls.tag = 61

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_excludes_leave_out_names_paths_and_cache_folders(self):
        full = run_json(VANTEL, "size", self.root, "--json")["size"]
        without_objects = run_json(VANTEL, "size", self.root, "--json", "--exclude", "*.o")["size"]
        self.assertEqual(full - without_objects, 1000)
        both = run_json(VANTEL, "size", self.root, "--json", "--exclude", "*.o", "--exclude", "build")["size"]
        self.assertEqual(full - both, 6000 + os.lstat(os.path.join(self.root, "build")).st_size)  # the folder too
        by_path = run_json(VANTEL, "map", self.root, "--json", "--exclude", "src/main.c")
        names = {c["name"]: c for c in by_path["root"]["children"]}
        self.assertEqual([c["name"] for c in names["src"]["children"]], ["main.o"])
        cached = run_json(VANTEL, "map", self.root, "--json", "--exclude-caches")
        cache = {c["name"]: c for c in cached["root"]["children"]}["cache"]
        self.assertEqual(cache["excluded"], "cachedir")
        self.assertEqual(cache["children"], [])
        self.assertEqual(cached["size"], full - 7000 - self.tag)
        self.assertIn("<cache/", run(VANTEL, "map", self.root, "--exclude-caches").stdout.decode())
        found = run(VANTEL, "search", self.root, "--exclude", "*.o", "--exclude-caches").stdout.decode()
        self.assertNotIn("main.o", found)
        self.assertNotIn("blob", found)

    def test_disk_usage_stands_beside_apparent_size(self):
        data = run_json(VANTEL, "map", self.root, "--json")
        sparse = {c["name"]: c for c in data["root"]["children"]}["sparse.img"]
        self.assertEqual(sparse["size"], 10 << 20)
        self.assertEqual(sparse["usage"], os.stat(os.path.join(self.root, "sparse.img")).st_blocks * 512)
        self.assertLess(data["usage"], data["size"])
        plain = run(VANTEL, "map", self.root, "--top", "1").stdout.decode().splitlines()
        self.assertIn("sparse.img", plain[1])
        usage = run(VANTEL, "map", self.root, "--top", "1", "--disk-usage").stdout.decode().splitlines()
        self.assertNotIn("sparse.img", usage[1])
        size = run_json(VANTEL, "size", self.root, "--json")
        self.assertEqual(size["usage"], data["usage"])
        self.assertTrue(run(VANTEL, "size", self.root, "--disk-usage").stdout.startswith(f"{data['usage']}\t".encode()))

    def test_hard_links_count_once_unless_asked(self):
        once = run_json(VANTEL, "map", self.root, "--json")
        each = run_json(VANTEL, "map", self.root, "--json", "--count-links")
        self.assertEqual(once["hardLinks"], "counted once")
        self.assertEqual(each["hardLinks"], "each link counted")
        self.assertEqual(each["size"] - once["size"], 4096)
        links = {c["name"]: c for c in once["root"]["children"]}["links"]
        self.assertEqual(links["size"], du_size(os.path.join(self.root, "links")))
        files = {c["name"]: c for c in links["children"]}
        self.assertEqual(files["original"]["links"], 2)
        self.assertNotIn("counted", files["original"])
        self.assertIs(files["second"]["counted"], False)
        text = run(VANTEL, "map", self.root, "--max-depth", "2").stdout.decode()
        self.assertIn("Hsecond\n", text)
        if subprocess.run([VANTEL, "map", self.root, "--html", os.devnull], capture_output=True).returncode == 0:
            # The uncounted link takes no area in the treemap.
            page = run(VANTEL, "map", self.root, "--html", "-").stdout.decode()
            self.assertIn('["second",0,0,0]', page)
        self.assertEqual(run_json(VANTEL, "size", self.root, "--json")["size"], once["size"])
        self.assertEqual(run_json(VANTEL, "size", self.root, "--json", "--count-links")["size"], each["size"])

    def test_pseudo_file_systems_are_skipped_below_the_root_and_x_stays_on_one_device(self):
        if not os.path.isdir("/proc/self"):
            self.skipTest("no /proc")
        top = run_json(VANTEL, "map", "/", "--json", "--depth-limit", "2", "--count-links")
        proc = {c["name"]: c for c in top["root"]["children"]}["proc"]
        self.assertEqual(proc["excluded"], "kernfs")
        self.assertEqual(proc["children"], [])
        crossed = run_json(VANTEL, "map", "/", "--json", "--depth-limit", "2", "--cross-pseudo")
        proc = {c["name"]: c for c in crossed["root"]["children"]}["proc"]
        self.assertNotIn("excluded", proc)
        self.assertIn("meminfo", [c["name"] for c in proc["children"]])
        # Started inside, a pseudo file system is read.
        self.assertGreater(run_json(VANTEL, "map", "/proc/self", "--json", "--depth-limit", "1")["filesScanned"], 0)
        if os.stat("/proc").st_dev != os.stat("/").st_dev:
            one = run_json(VANTEL, "map", "/", "--json", "--depth-limit", "2", "--cross-pseudo", "-x")
            proc = {c["name"]: c for c in one["root"]["children"]}["proc"]
            self.assertEqual(proc["excluded"], "otherfs")
            self.assertEqual(proc["children"], [])
        # The tree's own folders are all on one device.
        self.assertEqual(run_json(VANTEL, "size", self.root, "--json", "-x")["size"],
                         run_json(VANTEL, "size", self.root, "--json")["size"])

    def test_a_kernel_file_system_mounted_anywhere_below_is_skipped_by_its_type(self):
        base = os.path.join(self.tmp.name, "mounts")
        point = os.path.join(base, "inner", "kernel")
        os.makedirs(point, exist_ok=True)
        if subprocess.run(["mount", "-t", "proc", "proc", point], capture_output=True).returncode != 0:
            self.skipTest("cannot mount proc here")
        try:
            inner = run_json(VANTEL, "map", base, "--json")["root"]["children"][0]
            kernel = inner["children"][0]
            self.assertEqual((kernel["name"], kernel.get("excluded"), kernel["children"]), ("kernel", "kernfs", []))
            crossed = run_json(VANTEL, "map", base, "--json", "--cross-pseudo", "--depth-limit", "3")
            self.assertIn("meminfo", [c["name"] for c in crossed["root"]["children"][0]["children"][0]["children"]])
        finally:
            subprocess.run(["umount", point])

    def test_progress_goes_to_a_terminal_and_is_cleared(self):
        for command in ("size", "map", "search"):
            controller, terminal = pty.openpty()
            try:
                proc = subprocess.Popen([VANTEL, command, self.root, "--threads", "1", "--pause-per-folder", "120"],
                                        stdout=subprocess.PIPE, stderr=terminal)
                os.close(terminal)
                seen = b""
                while True:
                    try:
                        chunk = os.read(controller, 4096)
                    except OSError:
                        break
                    if not chunk:
                        break
                    seen += chunk
                proc.communicate(timeout=60)
            finally:
                os.close(controller)
            self.assertEqual(proc.returncode, 0, command)
            self.assertIn(b"files and folders", seen, command)
            self.assertTrue(seen.endswith(b"\r\x1b[K"), (command, seen[-40:]))
            if command == "search":
                self.assertIn(b"matches", seen)

    def test_import_reads_back_exports_and_map_json(self):
        export = os.path.join(self.tmp.name, "tree.ncdu.json")
        run(VANTEL, "map", self.root, "--export", export)
        scanned = run_json(VANTEL, "map", self.root, "--json")
        mapped = os.path.join(self.tmp.name, "tree.map.json")
        with open(mapped, "wb") as f:
            f.write(run(VANTEL, "map", self.root, "--json").stdout)

        def comparable(data):
            for key in ("elapsed", "path"):
                data.pop(key)
            return data

        from_export = run_json(VANTEL, "map", "--import", export, "--json")
        from_map = run_json(VANTEL, "map", "--import", mapped, "--json")
        self.assertEqual(comparable(from_map), comparable(dict(scanned)))
        self.assertEqual(from_export["size"], scanned["size"])
        self.assertEqual(from_export["root"]["children"], scanned["root"]["children"])
        self.assertEqual(run(VANTEL, "map", "--import", export, "--top", "2").stdout.decode().splitlines()[1:],
                         run(VANTEL, "map", self.root, "--top", "2").stdout.decode().splitlines()[1:])
        again = run(VANTEL, "map", "--import", mapped, "--export", "-").stdout
        self.assertEqual(json.loads(again)[3][1:], json.loads(open(export, "rb").read())[3][1:])
        with open(mapped, "rb") as f:
            self.assertEqual(run(VANTEL, "map", "--import", "-", "--json", stdin=f).stdout.count(b"\n"), 1)

    def test_malformed_imports_are_errors_with_line_and_column(self):
        cases = {
            b'[1, 2, {},\n  [{"name": "/x"}, {"name": "a", "asize": -3}]]': "2:43: \"asize\" must be a whole number",
            b'[1, 2, {}, [{"name": "/x"},\n{"name": "a"} {"name": "b"}]]': "2:15: expected ',' or ']'",
            b'{"root": {"name": "r", "children": [{"name": "../up", "type": "file"}]}}': "1:38: invalid name",
            b'[1, 2, {}, [{"name": "/x"}': "1:27: unexpected end of input",
            b'': "1:1: unexpected end of input",
            b'[2, 0, {}, []]': "1:2: not an ncdu export of major version 1",
            b'{"root": {"name": "r", "type": "file"}}': "the root must be a directory",
            b'[1, 2, {}, [{"name": "/x"}]] trailing': "1:30: unexpected text",
        }
        for text, message in cases.items():
            path = os.path.join(self.tmp.name, "bad.json")
            with open(path, "wb") as f:
                f.write(text)
            proc = run(VANTEL, "map", "--import", path, expect=1)
            self.assertIn(message, proc.stderr.decode(), text[:60])
            self.assertTrue(proc.stderr.decode().startswith(f"vantel: {path}:"), proc.stderr)
            self.assertEqual(proc.stdout, b"")
        self.assertIn("No such file", run(VANTEL, "map", "--import", "/nonexistent", expect=1).stderr.decode())
        run(VANTEL, "map", self.root, "--import", path, expect=2)


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
