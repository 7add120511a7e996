#!/usr/bin/env python3
"""End-to-end checks of `vantel apps`: the inventory of the demo home with the reason for every
attributed file, JSON that is versioned, sorted and byte-identical across runs, --app, and a
home built here with a copy merged once, a nested application matched through its own
identifier, case-different names, blacklisted names and candidates inside a matched folder.

Usage: apps_test.py PATH_TO_VANTEL
"""
import json
import os
import plistlib
import subprocess
import sys
import tempfile
import unittest

import toolsupport

VANTEL = None
CATEGORIES = ["binaries", "preferences", "supportFiles", "logs", "caches", "containers", "groupContainers",
              "scripts", "plugins", "helperTools", "loginItems", "other"]


def run(*args, expect=0):
    return toolsupport.run(VANTEL, *args, expect=expect)


def write(path, size=10):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"x" * size)


def application(path, identifier, name, size=100):
    os.makedirs(os.path.join(path, "Contents", "MacOS"), exist_ok=True)
    with open(os.path.join(path, "Contents", "Info.plist"), "wb") as f:
        plistlib.dump({"CFBundleIdentifier": identifier, "CFBundleName": name, "CFBundleVersion": "7",
                       "CFBundleShortVersionString": "1.7"}, f)
    write(os.path.join(path, "Contents", "MacOS", name), size)


def resources(app, category):
    for group in app["groups"]:
        if group["category"] == category:
            return group["resources"]
    raise AssertionError(f"no group {category}")


class DemoHomeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-apps-")
        demo = os.path.join(cls.tmp.name, "demo")
        run("demo-home", demo)
        cls.args = ["apps", "--home", os.path.join(demo, "home"), "--root", os.path.join(demo, "root")]
        cls.json_bytes = run(*cls.args, "--json").stdout
        cls.doc = json.loads(cls.json_bytes.decode("utf-8"))
        cls.apps = {app["identifier"]: app for app in cls.doc["applications"]}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_json_is_versioned_sorted_and_identical_across_runs(self):
        self.assertEqual(self.doc["version"], 1)
        self.assertTrue(self.json_bytes.endswith(b"}\n") and not self.json_bytes.endswith(b"\n\n"))
        keys = [(app["name"], app["path"]) for app in self.doc["applications"]]
        self.assertEqual(keys, sorted(keys))
        for app in self.doc["applications"]:
            self.assertEqual([g["category"] for g in app["groups"]], CATEGORIES)
            self.assertEqual(app["bundleSize"], app["groups"][0]["size"])
            self.assertEqual(app["totalSize"], sum(g["size"] for g in app["groups"]))
            for group in app["groups"][1:]:
                paths = [r["path"] for r in group["resources"]]
                self.assertEqual(paths, sorted(paths))
                self.assertEqual(group["size"], sum(r["size"] for r in group["resources"]))
        self.assertEqual(run(*self.args, "--json").stdout, self.json_bytes)

    def test_log_lines_go_to_stderr_and_leave_the_json_alone(self):
        proc = run("--log-level", "1", *self.args, "--json")
        self.assertEqual(proc.stdout, self.json_bytes)
        self.assertIn("\U0001F4AC".encode(), proc.stderr)

    def test_every_resource_says_why_it_was_attributed(self):
        for app in self.doc["applications"]:
            for group in app["groups"]:
                for resource in group["resources"]:
                    reason = resource["matchedBy"]
                    if group["category"] == "binaries":
                        self.assertEqual(reason["kind"], "bundle")
                        continue
                    self.assertIn(reason["kind"], ("name", "identifier"))
                    name = resource["name"].lower()
                    text = reason["text"].lower()
                    self.assertTrue(name == text if reason["kind"] == "name" else text in name, resource)

    def test_the_demo_material_is_attributed_as_written(self):
        self.assertEqual(sorted(self.apps), ["app.pockettimer.mac", "com.nimbuscloud.Nimbus", "net.lumen.notes",
                                             "org.photon.editor"])
        photon = self.apps["org.photon.editor"]
        names = [r["name"] for r in resources(photon, "preferences")]
        self.assertEqual(names, ["ORG.PHOTON.EDITOR.LSSharedFileList.plist", "org.photon.editor.plist"])
        self.assertEqual([r["name"] for r in resources(photon, "helperTools")], ["org.photon.editor.helper"])
        support = {r["name"]: r for r in resources(photon, "supportFiles")}
        self.assertEqual(support["Photon Editor"]["matchedBy"]["kind"], "name")
        self.assertEqual(support["Photon Editor"]["size"], 87000)
        logs = [r["name"] for r in resources(photon, "logs")]
        self.assertEqual(logs, ["org.photon.editor_2026-11-30.crash"])
        nimbus = self.apps["com.nimbuscloud.Nimbus"]
        self.assertEqual(nimbus["childApplications"], [{"name": "Nimbus Sync", "identifier": "com.nimbuscloud.sync"}])
        login = resources(nimbus, "loginItems")
        self.assertEqual([r["name"] for r in login], ["com.nimbuscloud.sync.plist"])
        self.assertEqual(login[0]["matchedBy"]["application"], "com.nimbuscloud.sync")
        notes = self.apps["net.lumen.notes"]
        self.assertEqual(len(resources(notes, "binaries")), 2)
        self.assertTrue(notes["path"].endswith("/root/Applications/Lumen Notes.app"))
        self.assertEqual([r["name"] for r in resources(notes, "groupContainers")], ["7QX3P2K9LM.net.lumen.notes"])
        everything = [r["name"] for app in self.doc["applications"] for g in app["groups"] for r in g["resources"]]
        self.assertNotIn("org.photon.editor_crashreporter.plist", everything)
        self.assertNotIn("com.apple.sharing.org.photon.editor.plist", everything)
        self.assertNotIn("Photon Editor Backups", everything)

    def test_text_output_and_app_selection(self):
        text = run(*self.args).stdout.decode()
        self.assertIn("Nimbus 2.7  com.nimbuscloud.Nimbus\n", text)
        self.assertIn('(identifier "com.nimbuscloud.sync" of the nested Nimbus Sync)', text)
        self.assertIn('(name "Nimbus")', text)
        one = json.loads(run(*self.args, "--json", "--app", "LUMEN NOTES").stdout)
        self.assertEqual([app["identifier"] for app in one["applications"]], ["net.lumen.notes"])
        by_id = json.loads(run(*self.args, "--json", "--app", "org.photon.editor").stdout)
        self.assertEqual([app["name"] for app in by_id["applications"]], ["Photon Editor"])
        missing = run(*self.args, "--app", "Nothing Like It", expect=1)
        self.assertIn(b"Nothing Like It", missing.stderr)
        self.assertEqual(missing.stdout, b"")

    def test_a_full_stdout_is_a_failure(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([VANTEL, *self.args, "--json"], stdout=full, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 1)
        self.assertTrue(proc.stderr)


class BuiltHomeTest(unittest.TestCase):
    def test_copies_nested_applications_case_and_blacklist(self):
        with tempfile.TemporaryDirectory(prefix="vantel-apps-") as tmp:
            home, root = os.path.join(tmp, "home"), os.path.join(tmp, "root")
            editor = os.path.join(root, "Applications", "Editor Pro.app")
            application(editor, "org.example.EditorPro", "Editor Pro", 1000)
            application(os.path.join(editor, "Contents", "Library", "LoginItems", "Agent.app"),
                        "net.example.Agent", "Agent", 50)
            application(os.path.join(home, "Downloads", "Editor Pro.app"), "org.example.EditorPro", "Editor Pro", 700)
            application(os.path.join(home, "Desktop", "Only Here.app"), "com.example.only", "Only Here")
            application(os.path.join(root, "Applications", "Safari.app"), "com.example.browser", "Browser")
            write(os.path.join(home, "Library", "Preferences", "Org.Example.EditorPro.plist"), 11)
            write(os.path.join(home, "Library", "Application Support", "EDITOR PRO", "org.example.EditorPro.db"), 400)
            write(os.path.join(home, "Library", "Application Support", "EDITOR PRO", "other"), 600)
            write(os.path.join(home, "Library", "Caches", "net.example.Agent", "c"), 2000)
            write(os.path.join(home, "Library", "Preferences", "com.apple.org.example.EditorPro.plist"), 5)
            write(os.path.join(home, "Library", "Application Support", "CrashReporter",
                               "org.example.EditorPro_crashreporter.plist"), 5)
            doc = json.loads(run("apps", "--home", home, "--root", root, "--json").stdout)
            apps = {app["identifier"]: app for app in doc["applications"]}
            self.assertEqual(sorted(apps), ["com.example.only", "org.example.EditorPro"])
            app = apps["org.example.EditorPro"]
            binaries = resources(app, "binaries")
            self.assertEqual([b["path"] for b in binaries], [editor, os.path.join(home, "Downloads", "Editor Pro.app")])
            self.assertTrue(all(b["size"] > 0 for b in binaries))
            self.assertEqual([r["name"] for r in resources(app, "preferences")], ["Org.Example.EditorPro.plist"])
            support = resources(app, "supportFiles")
            self.assertEqual([(r["name"], r["size"]) for r in support], [("EDITOR PRO", 1000)])
            caches = resources(app, "caches")
            self.assertEqual([r["matchedBy"]["application"] for r in caches], ["net.example.Agent"])
            self.assertEqual(resources(app, "logs"), [])

    def test_a_folder_the_user_cannot_read_is_reported_marked_and_fails(self):
        user, tmp, vantel = toolsupport.locked_folder_setup(self, VANTEL, "vantel-apps-locked-")
        home, root = os.path.join(tmp.name, "home"), os.path.join(tmp.name, "root")
        application(os.path.join(root, "Applications", "Editor.app"), "org.example.Editor", "Editor")
        locked = os.path.join(home, "Library", "Caches", "org.example.Editor")
        write(os.path.join(locked, "blob"), 5000)
        os.chmod(locked, 0o700)
        args = ("apps", "--home", home, "--root", root)
        proc = toolsupport.run(vantel, *args, "--json", user=user, expect=1)
        doc = json.loads(proc.stdout)
        self.assertEqual(doc["unreadable"], [{"path": locked, "error": "Permission denied"}])
        cache = resources(doc["applications"][0], "caches")
        self.assertEqual([(r["path"], r["size"], r["error"]) for r in cache], [(locked, None, "Permission denied")])
        self.assertEqual(proc.stderr.decode(), f"vantel: 1 folder could not be read; first: {locked}: Permission denied\n")
        text = toolsupport.run(vantel, *args, user=user, expect=1).stdout.decode()
        self.assertIn(f"?  !{locked}  (", text)


class InterruptTest(unittest.TestCase):
    def test_sigint_prints_the_applications_found_so_far_and_exits_130(self):
        with tempfile.TemporaryDirectory(prefix="vantel-apps-interrupt-") as tmp:
            demo = os.path.join(tmp, "demo")
            run("demo-home", demo)
            status, out, err = toolsupport.interrupted(
                VANTEL, "apps", "--home", os.path.join(demo, "home"), "--root", os.path.join(demo, "root"), "--json",
                "--pause-per-folder", "300")
        self.assertEqual(status, 130, err)
        self.assertTrue(err.endswith(b"partial: interrupted\n"), err)
        doc = json.loads(out)
        self.assertIs(doc["complete"], False)
        self.assertIsInstance(doc["applications"], list)


if __name__ == "__main__":
    VANTEL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
