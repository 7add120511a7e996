#!/usr/bin/env python3
"""End-to-end checks of `vantel demo-home` and `vantel clean`: the demo home fills every group,
the JSON is versioned, sorted and byte-identical across runs, installers and disk images are
not downloads, and demo-home refuses to write into a folder that is not empty.

Usage: clean_test.py PATH_TO_VANTEL
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import unittest

import toolsupport

VANTEL = None
GROUPS = ["downloads", "userCache", "systemLogs", "userLogs", "developer", "packages", "diskImages",
          "largeFiles", "mailAttachments"]


def run(*args, expect=0):
    return toolsupport.run(VANTEL, *args, expect=expect)


def listing(folder):
    entries = []
    for base, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(base, name)
            st = os.lstat(path)
            entries.append((path, st.st_size, st.st_mtime_ns))
    return sorted(entries)


def all_items(items):
    for item in items:
        yield item
        yield from all_items(item["children"])


class CleanToolTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-clean-")
        cls.demo = os.path.join(cls.tmp.name, "demo")
        out = run("demo-home", cls.demo).stdout.decode()
        cls.home = os.path.join(cls.demo, "home")
        cls.root = os.path.join(cls.demo, "root")
        assert cls.home in out and cls.root in out, out
        cls.before = listing(cls.demo)
        cls.json_bytes = run("clean", "--home", cls.home, "--root", cls.root, "--json").stdout
        cls.doc = json.loads(cls.json_bytes.decode("utf-8"))
        cls.groups = {g["group"]: g for g in cls.doc["groups"]}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def paths(self, group):
        return {item["path"] for item in all_items(self.groups[group]["items"]) if "path" in item}

    def test_document_is_versioned_with_the_nine_groups_in_order(self):
        self.assertEqual(self.doc["version"], 1)
        self.assertEqual([g["group"] for g in self.doc["groups"]], GROUPS)
        self.assertEqual(self.groups["userCache"]["name"], "User Cache")
        self.assertTrue(self.json_bytes.endswith(b"}\n"))

    def test_demo_home_fills_every_group(self):
        for group in GROUPS:
            self.assertGreater(len(self.groups[group]["items"]), 0, group)
            self.assertGreater(self.groups[group]["size"], 0, group)

    def test_sizes_are_sums_and_items_are_sorted_largest_first(self):
        for group in self.doc["groups"]:
            self.assertEqual(group["size"], sum(item["size"] for item in group["items"]))
            for items in [group["items"]] + [item["children"] for item in all_items(group["items"])]:
                keys = [(-item["size"], item.get("path", ""), item["name"]) for item in items]
                self.assertEqual(keys, sorted(keys), group["group"])

    def test_installers_and_disk_images_are_not_downloads(self):
        downloads = self.paths("downloads")
        self.assertIn(os.path.join(self.home, "Downloads", "notes.txt"), downloads)
        for path in downloads:
            self.assertFalse(path.endswith((".dmg", ".pkg")), path)
        self.assertIn(os.path.join(self.home, "Downloads", "Nimbus-2.7.dmg"), self.paths("diskImages"))
        self.assertIn(os.path.join(self.home, "Desktop", "Installers", "Printer Driver.pkg"), self.paths("packages"))

    def test_folders_are_matched_to_applications_and_sized(self):
        caches = {item["name"]: item for item in self.groups["userCache"]["items"]}
        self.assertIn("Photon Editor Cache", caches)
        self.assertEqual(caches["Photon Editor Cache"]["size"], 600000)
        self.assertEqual(caches["Photon Editor Cache"]["path"],
                         os.path.join(self.home, "Library", "Caches", "org.photon.editor"))

    def test_developer_containers_with_their_display_names(self):
        items = {item["name"]: item for item in self.groups["developer"]["items"]}
        self.assertEqual(set(items), {"iOS Device Support", "watchOS Device Support", "Archives", "Simulators"})
        self.assertEqual([c["name"] for c in items["Simulators"]["children"]], ["iPhone 15 \u00b7 iOS 17.0"])
        self.assertEqual([c["name"] for c in items["Archives"]["children"]], ["Photon Editor 4.1.2 (412)"])
        self.assertEqual(items["iOS Device Support"]["size"], 700000 + 650000)
        for item in items.values():
            self.assertEqual(item["size"], sum(c["size"] for c in item["children"]))

    def test_mail_attachments_with_copies_and_the_mail_downloads(self):
        items = {item["name"]: item for item in self.groups["mailAttachments"]["items"]}
        self.assertEqual(set(items), {"Work", "Mail Downloads"})
        self.assertNotIn("path", items["Work"])
        self.assertEqual(items["Work"]["size"], 84000 + 91000 + 260000)
        children = {child["name"]: child for child in items["Work"]["children"]}
        self.assertEqual(set(children), {"2 files named invoice.pdf", "site-plan.png"})
        self.assertEqual(len(children["2 files named invoice.pdf"]["children"]), 2)
        self.assertEqual([c["name"] for c in items["Mail Downloads"]["children"]], ["brochure.pdf"])

    def test_a_second_run_gives_the_same_bytes_and_changes_nothing(self):
        again = run("--home", self.home, "--root", self.root, "clean", "--json").stdout
        self.assertEqual(again, self.json_bytes)
        self.assertEqual(listing(self.demo), self.before)

    def test_text_output_lists_the_groups_in_order(self):
        text = run("clean", "--home", self.home, "--root", self.root).stdout.decode()
        positions = [text.index(self.groups[g]["name"]) for g in GROUPS]
        self.assertEqual(positions, sorted(positions))
        self.assertIn("holiday-photo.jpg", text)
        self.assertIn("Total", text.splitlines()[-1])

    def test_a_write_error_is_a_failure_with_a_message(self):
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([VANTEL, "clean", "--home", self.home, "--root", self.root, "--json"],
                                  stdout=full, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(proc.stderr.count(b"cannot write"), 1, proc.stderr)
        self.assertIn(b"No space left on device", proc.stderr)

    def test_a_large_download_is_counted_once(self):
        demo = os.path.join(self.tmp.name, "large-download")
        run("demo-home", demo)
        home = os.path.join(demo, "home")
        video = os.path.join(home, "Downloads", "lecture.mp4")
        with open(video, "wb") as f:
            f.truncate(680_000_000)
        doc = json.loads(run("clean", "--home", home, "--root", os.path.join(demo, "root"), "--json").stdout)
        holders = [g["group"] for g in doc["groups"] if video in {i.get("path") for i in all_items(g["items"])}]
        self.assertEqual(holders, ["downloads"])
        # Every group's size is a sum of files that no other group also counts.
        seen = {}
        for group in doc["groups"]:
            for item in all_items(group["items"]):
                if "path" in item and not item["children"]:
                    self.assertNotIn(item["path"], seen, (group["group"], seen.get(item["path"])))
                    seen[item["path"]] = group["group"]

    def test_folders_the_user_cannot_read_are_reported_marked_and_fail(self):
        user, tmp, vantel = toolsupport.locked_folder_setup(self, VANTEL, "vantel-clean-locked-")
        demo = os.path.join(tmp.name, "demo")
        run("demo-home", demo)
        home = os.path.join(demo, "home")
        locked_cache = os.path.join(home, "Library", "Caches", "org.locked.cache")
        locked_movies = os.path.join(home, "Movies", "private")
        toolsupport.write(os.path.join(locked_cache, "blob"), 5000)
        os.makedirs(locked_movies)
        with open(os.path.join(locked_movies, "film.mov"), "wb") as f:
            f.truncate(150_000_000)
        for folder in (locked_cache, locked_movies):
            os.chmod(folder, 0o700)
        args = ("clean", "--home", home, "--root", os.path.join(demo, "root"))
        proc = toolsupport.run(vantel, *args, "--json", user=user, expect=1)
        doc = json.loads(proc.stdout)
        self.assertEqual(doc["unreadable"], [{"path": locked_cache, "error": "Permission denied"},
                                             {"path": locked_movies, "error": "Permission denied"}])
        cache = [i for g in doc["groups"] for i in g["items"] if i.get("path") == locked_cache]
        self.assertEqual(len(cache), 1)
        self.assertIsNone(cache[0]["size"])
        self.assertEqual(cache[0]["error"], "Permission denied")
        self.assertEqual(proc.stderr.decode().splitlines()[-1],
                         f"vantel: 2 folders could not be read; first: {locked_cache}: Permission denied")
        text = toolsupport.run(vantel, *args, user=user, expect=1).stdout.decode()
        line = next(line for line in text.splitlines() if "org.locked.cache" in line)
        self.assertEqual(line.split(), ["?", "!org.locked.cache"])

    def test_disk_usage_counts_allocated_bytes(self):
        demo = os.path.join(self.tmp.name, "usage")
        run("demo-home", demo)
        home = os.path.join(demo, "home")
        image = os.path.join(home, "Downloads", "installer.iso")
        with open(image, "wb") as f:
            f.truncate(680_000_000)

        def size_of(*flags):
            doc = json.loads(run("clean", "--home", home, "--root", os.path.join(demo, "root"), "--json",
                                 *flags).stdout)
            downloads = next(g for g in doc["groups"] if g["group"] == "downloads")
            return next(i["size"] for i in downloads["items"] if i["path"] == image)

        self.assertEqual(size_of(), 680_000_000)
        self.assertEqual(size_of("--disk-usage"), 0)
        text = run("clean", "--home", home, "--root", os.path.join(demo, "root"), "--disk-usage").stdout.decode()
        self.assertNotIn("680", text)

    def test_an_empty_home_gives_empty_groups_and_exit_zero(self):
        empty = os.path.join(self.tmp.name, "empty")
        os.makedirs(empty, exist_ok=True)
        # An empty home is a Linux one to the automatic choice; these are the document's groups.
        doc = json.loads(run("clean", "--home", empty, "--root", empty, "--layout", "document", "--json").stdout)
        groups = {g["group"]: g for g in doc["groups"]}
        for group in GROUPS:
            if group != "developer":
                self.assertEqual(groups[group]["items"], [], group)
        # The archives and simulators containers are listed even without their folders.
        self.assertEqual(sorted((i["name"], i["size"], i["children"]) for i in groups["developer"]["items"]),
                         [("Archives", 0, []), ("Simulators", 0, [])])

    def test_demo_home_refuses_a_folder_that_is_not_empty_and_writes_nothing(self):
        proc = run("demo-home", self.demo, expect=1)
        self.assertIn(b"not empty", proc.stderr)
        self.assertEqual(listing(self.demo), self.before)
        a_file = os.path.join(self.tmp.name, "a-file")
        with open(a_file, "w") as f:
            f.write("x")
        run("demo-home", a_file, expect=1)
        run("demo-home", os.path.join(self.tmp.name, "missing", "deeper"), expect=1)
        self.assertFalse(os.path.exists(os.path.join(self.tmp.name, "missing")))


class CleanInterruptTest(unittest.TestCase):
    """Ctrl-C and SIGTERM cancel a clean scan through the library: the groups found so far are
    printed, marked partial, with the status a shell expects."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-clean-interrupt-")
        demo = os.path.join(cls.tmp.name, "demo")
        run("demo-home", demo)
        cls.args = ["clean", "--home", os.path.join(demo, "home"), "--root", os.path.join(demo, "root"),
                    "--pause-per-folder", "300"]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def check_partial_json(self, status, out, err, expected_status):
        self.assertEqual(status, expected_status, err)
        self.assertTrue(err.endswith(b"partial: interrupted\n"), err)
        self.assertNotIn(b"\033", err)
        doc = json.loads(out)
        self.assertIs(doc["complete"], False)
        self.assertEqual([g["group"] for g in doc["groups"]], GROUPS)

    def test_sigint_prints_the_partial_groups_and_exits_130(self):
        self.check_partial_json(*toolsupport.interrupted(VANTEL, *self.args, "--json"), 130)

    def test_sigterm_exits_143(self):
        status, out, err = toolsupport.interrupted(VANTEL, *self.args, signals=(signal.SIGTERM,))
        self.assertEqual(status, 143, err)
        self.assertIn(b"Total", out)
        self.assertTrue(err.endswith(b"partial: interrupted\n"), err)

    def test_two_signals_at_once_still_print_the_partial_result(self):
        # timeout signals the tool and then its own process group: two SIGINTs together.
        proc = subprocess.run(["timeout", "--preserve-status", "-s", "INT", "0.6", VANTEL, *self.args, "--json"],
                              capture_output=True, timeout=30)
        self.check_partial_json(proc.returncode, proc.stdout, proc.stderr, 130)
        status, out, err = toolsupport.interrupted(VANTEL, *self.args, "--json",
                                                   signals=(signal.SIGINT, signal.SIGINT))
        self.check_partial_json(status, out, err, 130)


if __name__ == "__main__":
    VANTEL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
