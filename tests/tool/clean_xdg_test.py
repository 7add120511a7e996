#!/usr/bin/env python3
"""End-to-end checks of `vantel clean` on the Linux layout: the Linux demo home fills the
groups with a reason on every item, the automatic layout choice, the XDG variables (honoured
from the environment, ignored under --home or --root), unreadable folders as another user,
usage errors, and a read-only run on this machine's own home and root.

Usage: clean_xdg_test.py PATH_TO_VANTEL
"""
import json
import os
import secrets
import shutil
import sys
import tempfile
import unittest

import toolsupport

VANTEL = None
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def run(*args, expect=0, **kwargs):
    return toolsupport.run(VANTEL, *args, expect=expect, **kwargs)


def all_items(items):
    for item in items:
        yield item
        yield from all_items(item["children"])


def by_group(doc):
    return {group["group"]: group for group in doc["groups"]}


def files_below(folder):
    entries = []
    for base, dirs, files in os.walk(folder):
        for name in dirs + files:
            status = os.lstat(os.path.join(base, name))
            entries.append((os.path.join(base, name), status.st_size, status.st_mtime_ns))
    return sorted(entries)


class CleanXdgToolTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-clean-xdg-")
        cls.demo = os.path.join(cls.tmp.name, "demo")
        run("demo-home", "--layout", "xdg", cls.demo)
        cls.home = os.path.join(cls.demo, "home")
        cls.root = os.path.join(cls.demo, "root")
        cls.before = files_below(cls.demo)
        cls.json_bytes = run("clean", "--home", cls.home, "--root", cls.root, "--json").stdout
        cls.doc = json.loads(cls.json_bytes)
        cls.groups = by_group(cls.doc)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def reasons(self, group):
        return {item["name"]: (item["size"], item.get("reason")) for item in self.groups[group]["items"]}

    def test_the_linux_demo_home_is_scanned_on_the_xdg_layout_with_a_reason_for_every_item(self):
        self.assertEqual(self.doc["layout"], "xdg")
        self.assertTrue(self.doc["complete"])
        self.assertEqual(self.doc["unreadable"], [])
        reasons = set()
        for name, group in self.groups.items():
            self.assertGreater(len(group["items"]), 0, name)
            self.assertEqual(group["size"], sum(item["size"] for item in group["items"]), name)
            for item in all_items(group["items"]):
                # Containers may say what they hold by their names; what they hold says why.
                if not item["children"]:
                    self.assertTrue(item.get("reason"), (name, item["name"]))
                reasons.add(item.get("reason"))
        expected = ["downloaded file", "unfinished download", "installer package", "AppImage application",
                    "Flatpak install link", "Snap package", "disk image", "virtual machine disk",
                    "larger than 100 MB", "application cache", "cache of TextPad (TextPadMain)",
                    "cache of Paint (org.example.Paint)", "cache of the Snap spotify",
                    "Chromium-style cache of Code", "log file", "log folder", "X session error log",
                    "X session error log of the session before", "download cache of pip",
                    "package cache of npm", "crates Cargo downloaded", "build cache of Go", "cache of Gradle",
                    "artifacts Maven downloaded", "compiler cache of ccache", "npm packages, untouched for 90 days",
                    "Rust build output, untouched for 90 days", "Python bytecode, untouched for 90 days",
                    "Python virtual environment, untouched for 90 days",
                    "packages apt downloaded (removing them needs root)", "leftover Flatpak download",
                    "attachment kept by Geary", "attachments Geary downloaded", "mail cache of Evolution",
                    "rotated log", "archived journal file", "crash report", "core dump",
                    "thumbnail of an existing file", "thumbnail of a file that no longer exists",
                    "thumbnail of a non-local file", "failed thumbnail attempt", "unreadable thumbnail",
                    "no information file", "information file without a trashed item"]
        for reason in expected:
            self.assertIn(reason, reasons)
        self.assertTrue(any(r and r.startswith("archived journal: ") and "cap 524.3 MB (SystemMaxUse)" in r
                            for r in reasons), reasons)
        trashed = f"trashed 60 days ago from {self.home}/Documents/old-report.pdf"
        self.assertIn(trashed, reasons)
        downloads = self.reasons("downloads")
        self.assertEqual(downloads["conference-talk.mp4.crdownload"], (800000, "unfinished download"))
        self.assertEqual(downloads["screen-recording.mkv"], (180000000, "downloaded file"))
        self.assertEqual(self.reasons("largeFiles"), {"wedding-4k.mov": (250000000, "larger than 100 MB")})
        self.assertEqual(self.reasons("packages")["org.gnome.Maps.flatpakref"], (600, "Flatpak install link"))
        self.assertEqual(self.reasons("diskImages")["windows-11.qcow2"], (2000000, "virtual machine disk"))
        self.assertEqual(self.reasons("developer")["web-shop/node_modules"],
                         (1100000, "npm packages, untouched for 90 days"))
        self.assertNotIn("active-site/node_modules", self.reasons("developer"))
        self.assertNotIn("mesa_shader_cache", self.reasons("userCache"))

    def test_each_file_is_in_one_group_and_nothing_is_written(self):
        claimed = {}
        for group in self.doc["groups"]:
            for item in all_items(group["items"]):
                if "path" not in item:
                    continue
                for other, owner in claimed.items():
                    inside = item["path"] == other or item["path"].startswith(other + "/") or \
                        other.startswith(item["path"] + "/")
                    self.assertFalse(inside and owner != group["group"], (item["path"], other, owner))
                claimed[item["path"]] = group["group"]
        again = run("clean", "--home", self.home, "--root", self.root, "--json").stdout
        self.assertEqual(again, self.json_bytes)
        self.assertEqual(files_below(self.demo), self.before)

    def test_text_shows_the_reason_after_the_name(self):
        text = run("clean", "--home", self.home, "--root", self.root).stdout.decode()
        self.assertIn("debian-12.8.0-amd64-DVD-1.iso.part \u2014 unfinished download", text)
        self.assertIn("org.mozilla.firefox (cache) \u2014 cache of the Flatpak application org.mozilla.firefox", text)

    def test_the_layout_is_chosen_from_the_home_and_root_unless_given(self):
        def layout(home, root, *flags):
            return json.loads(run("clean", "--home", home, "--root", root, "--json", *flags).stdout)["layout"]

        base = os.path.join(self.tmp.name, "choice")
        os.makedirs(base)
        document = os.path.join(base, "document")
        run("demo-home", document)
        self.assertEqual(layout(os.path.join(document, "home"), os.path.join(document, "root")), "document")
        self.assertEqual(layout(self.home, self.root), "xdg")
        self.assertEqual(layout(self.home, self.root, "--layout", "document"), "document")
        self.assertEqual(layout(self.home, self.root, "--layout", "auto"), "xdg")
        mixed = os.path.join(base, "mixed")
        os.makedirs(os.path.join(mixed, "home", "Library", "Caches"))
        os.makedirs(os.path.join(mixed, "home", ".config"))
        os.makedirs(os.path.join(mixed, "root", "Applications"))
        self.assertEqual(layout(os.path.join(mixed, "home"), os.path.join(mixed, "root")), "document")
        os.rmdir(os.path.join(mixed, "home", "Library", "Caches"))
        self.assertEqual(layout(os.path.join(mixed, "home"), os.path.join(mixed, "root")), "xdg")
        os.rmdir(os.path.join(mixed, "home", ".config"))
        self.assertEqual(layout(os.path.join(mixed, "home"), os.path.join(mixed, "root")), "document")
        os.rmdir(os.path.join(mixed, "root", "Applications"))
        self.assertEqual(layout(os.path.join(mixed, "home"), os.path.join(mixed, "root")), "xdg")

    def test_an_empty_home_gives_nine_empty_groups_and_exit_zero(self):
        empty = os.path.join(self.tmp.name, "empty")
        os.makedirs(empty, exist_ok=True)
        doc = json.loads(run("clean", "--home", empty, "--root", empty, "--json").stdout)
        self.assertEqual(doc["layout"], "xdg")
        self.assertEqual([(g["group"], g["items"]) for g in doc["groups"]], [(g["group"], []) for g in doc["groups"]])
        self.assertEqual(len(doc["groups"]), 9)

    def test_usage_errors_exit_2(self):
        for flags in (["--layout", "macos"], ["--idle-days", "-1"], ["--idle-days", "soon"]):
            proc = run("clean", "--home", self.home, "--root", self.root, *flags, expect=2)
            self.assertEqual(proc.stdout, b"")
        run("demo-home", "--layout", "windows", os.path.join(self.tmp.name, "never"), expect=2)

    def test_the_idle_days_set_the_activity_guard(self):
        doc = json.loads(run("clean", "--home", self.home, "--root", self.root, "--json", "--idle-days", "0").stdout)
        developer = {item["name"] for item in by_group(doc)["developer"]["items"]}
        self.assertIn("active-site/node_modules", developer)
        doc = json.loads(run("clean", "--home", self.home, "--root", self.root, "--json", "--idle-days", "365").stdout)
        developer = {item["name"] for item in by_group(doc)["developer"]["items"]}
        self.assertNotIn("web-shop/node_modules", developer)

    def test_the_xdg_variables_apply_without_home_and_root_and_are_ignored_with_them(self):
        base = os.path.join(self.tmp.name, "environment")
        home = os.path.join(base, "home")
        toolsupport.write(os.path.join(home, ".cache", "in-home", "a"), 100)
        toolsupport.write(os.path.join(base, "cache", "elsewhere", "b"), 200)
        toolsupport.write(os.path.join(base, "state", "app", "run.log"), 30)
        toolsupport.write(os.path.join(home, ".local", "state", "app", "home.log"), 40)
        environment = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(base, "cache"),
                           XDG_STATE_HOME=os.path.join(base, "state"))
        doc = json.loads(run("clean", "--layout", "xdg", "--json", env=environment, expect=None).stdout)
        groups = by_group(doc)
        self.assertEqual([i["name"] for i in groups["userCache"]["items"]], ["elsewhere"])
        self.assertEqual([i["name"] for i in groups["userLogs"]["items"]], ["run.log"])
        doc = json.loads(run("clean", "--home", home, "--json", env=environment).stdout)
        groups = by_group(doc)
        self.assertEqual(doc["layout"], "xdg")
        self.assertEqual([i["name"] for i in groups["userCache"]["items"]], ["in-home"])
        self.assertEqual([i["name"] for i in groups["userLogs"]["items"]], ["home.log"])

    def test_folders_another_user_cannot_read_are_named_never_zero_and_fail(self):
        user, tmp, vantel = toolsupport.locked_folder_setup(self, VANTEL, "vantel-clean-xdg-locked-")
        demo = os.path.join(tmp.name, "demo")
        run("demo-home", "--layout", "xdg", demo)
        home = os.path.join(demo, "home")
        locked_cache = os.path.join(home, ".cache", "locked-app")
        locked_project = os.path.join(home, "Projects", "private")
        toolsupport.write(os.path.join(locked_cache, "blob"), 5000)
        toolsupport.write(os.path.join(locked_project, "node_modules", "x.js"), 7000)
        for folder in (locked_cache, locked_project):
            os.chmod(folder, 0o700)
        args = ("clean", "--home", home, "--root", os.path.join(demo, "root"))
        proc = toolsupport.run(vantel, *args, "--json", user=user, expect=1)
        doc = json.loads(proc.stdout)
        self.assertEqual(doc["unreadable"], [{"path": locked_cache, "error": "Permission denied"},
                                             {"path": locked_project, "error": "Permission denied"}])
        cache = [i for i in by_group(doc)["userCache"]["items"] if i.get("path") == locked_cache]
        self.assertEqual(len(cache), 1)
        self.assertIsNone(cache[0]["size"])
        self.assertEqual(cache[0]["error"], "Permission denied")
        self.assertIn("2 folders could not be read", proc.stderr.decode().splitlines()[-1])
        self.assertIn("web-shop/node_modules", [i["name"] for i in by_group(doc)["developer"]["items"]])

    def test_the_readme_shows_what_the_tool_prints_on_both_demos(self):
        with open(README, encoding="utf-8") as f:
            blocks = f.read().split("```")
        shown = [block[1:] for block in blocks if block.startswith("\nDownloads ")]
        self.assertEqual(len(shown), 2)
        outputs = []
        for flags, where in ((["--layout", "xdg"], "/tmp/vantel-xdg-demo"), ([], "/tmp/vantel-demo")):
            # A folder whose path is as long as the README's: the trash's information files
            # hold paths, and their sizes show.
            demo = os.path.join("/tmp", "vantel-" + secrets.token_hex(16))[:len(where)]
            self.addCleanup(shutil.rmtree, demo, True)
            run("demo-home", *flags, demo)
            text = run("clean", "--home", os.path.join(demo, "home"), "--root", os.path.join(demo, "root")).stdout
            outputs.append(text.decode().replace(demo, where))
        self.assertEqual(outputs, shown)

    def test_a_read_only_run_on_this_machines_home_and_root_finishes(self):
        proc = run("clean", "--layout", "xdg", "--json", expect=None, timeout=600)
        self.assertIn(proc.returncode, (0, 1), proc.stderr[-600:])
        doc = json.loads(proc.stdout)
        self.assertTrue(doc["complete"])
        self.assertEqual(doc["layout"], "xdg")
        if proc.returncode == 1:
            self.assertGreater(len(doc["unreadable"]), 0)
        for group in doc["groups"]:
            self.assertEqual(group["size"], sum(item["size"] or 0 for item in group["items"]))


if __name__ == "__main__":
    VANTEL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
