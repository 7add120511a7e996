#!/usr/bin/env python3
"""End-to-end checks of `vantel apps` in the xdg layout: the applications of the desktop entries
with their kinds and versions, every resource with the key and the match that tied it to its
application, the leftovers with their reasons (--leftovers), --app, JSON that is versioned and
byte-identical across runs, a locked folder read as another user, Ctrl-C, and a read-only run
over the machine's own desktop entries.

Usage: apps_xdg_test.py PATH_TO_VANTEL
"""
import json
import os
import sys
import tempfile
import unittest

import toolsupport

VANTEL = None


def run(*args, expect=0, **kwargs):
    return toolsupport.run(VANTEL, *args, expect=expect, **kwargs)


def write(path, size=10, text=None):
    toolsupport.write(path, size, None if text is None else text.encode())


def entry(name, exec_line, extra=""):
    return f"[Desktop Entry]\nType=Application\nName={name}\nExec={exec_line}\n{extra}"


def program(path):
    write(path, text="#!/bin/sh\nexit 0\n")
    os.chmod(path, 0o755)


def make_desktop(base):
    """A home and root with a system, a user, a Flatpak and a Snap application, a hidden and
    a malformed entry, their storage and leftovers; answers (home, root)."""
    home, root = os.path.join(base, "home"), os.path.join(base, "root")
    for name in ("editor", "flatpak"):
        program(os.path.join(root, "usr", "bin", name))
    program(os.path.join(root, "snap", "bin", "notes"))
    system = os.path.join(root, "usr", "share", "applications")
    user = os.path.join(home, ".local", "share", "applications")
    write(os.path.join(system, "editor.desktop"), text=entry("Editor", "editor %F", "StartupWMClass=EditorWin\n"))
    write(os.path.join(system, "monitor.desktop"), text=entry("Monitor", "editor --monitor"))
    write(os.path.join(user, "monitor.desktop"), text="[Desktop Entry]\nHidden=true\n")
    write(os.path.join(user, "bad.desktop"), text="[Desktop Entry]\nType=Application\nName=Bad\nnot a key\n")
    write(os.path.join(system, "gone.desktop"), text=entry("Gone", "/opt/gone/gone"))
    write(os.path.join(root, "var", "lib", "flatpak", "exports", "share", "applications", "org.example.Paint.desktop"),
          text=entry("Paint", "/usr/bin/flatpak run org.example.Paint", "X-Flatpak=org.example.Paint\n"))
    write(os.path.join(root, "var", "lib", "snapd", "desktop", "applications", "notes_notes.desktop"),
          text=entry("Notes", "/snap/bin/notes", "X-SnapInstanceName=notes\n"))
    write(os.path.join(root, "snap", "notes", "current", "meta", "snap.yaml"), text="name: notes\nversion: 1.5\n")
    write(os.path.join(home, ".config", "editor", "settings"), 1000)
    write(os.path.join(home, ".cache", "EditorWin", "blob"), 3000)
    write(os.path.join(home, ".var", "app", "org.example.Paint", "config", "p.conf"), 200)
    write(os.path.join(home, ".var", "app", "org.example.Paint", "cache", "tiles"), 4000)
    write(os.path.join(home, "snap", "notes", "common", "db"), 500)
    write(os.path.join(home, ".var", "app", "org.example.Old", "data", "save"), 700)
    write(os.path.join(home, "snap", "oldsnap", "common", "x"), 70)
    write(os.path.join(home, ".config", "oldapp", "conf"), 60)
    write(os.path.join(home, ".config", "autostart", "sync.desktop"), text=entry("Sync", "/opt/sync/syncd"))
    write(os.path.join(home, ".config", "user-dirs.dirs"), text='XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
    write(os.path.join(home, ".ssh", "known_hosts"), 10)
    write(os.path.join(home, ".cache", "thumbnails", "normal", "a.png"), 10)
    return home, root


class XdgHomeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-apps-xdg-")
        cls.home, cls.root = make_desktop(cls.tmp.name)
        cls.args = ["apps", "--home", cls.home, "--root", cls.root]
        cls.json_bytes = run(*cls.args, "--json").stdout
        cls.doc = json.loads(cls.json_bytes.decode("utf-8"))
        cls.apps = {app["desktopId"]: app for app in cls.doc["applications"]}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_automatic_layout_is_xdg_and_the_json_is_stable(self):
        self.assertEqual(self.doc["version"], 1)
        self.assertEqual(self.doc["layout"], "xdg")
        self.assertTrue(self.doc["complete"])
        self.assertEqual(run(*self.args, "--json").stdout, self.json_bytes)
        self.assertEqual(run(*self.args, "--json", "--layout", "xdg").stdout, self.json_bytes)
        self.assertTrue(self.json_bytes.endswith(b"}\n") and not self.json_bytes.endswith(b"\n\n"))

    def test_applications_with_kinds_and_evidence(self):
        self.assertEqual(sorted(self.apps), ["editor.desktop", "notes_notes.desktop", "org.example.Paint.desktop"])
        self.assertEqual(self.apps["editor.desktop"]["kind"], "systemPackage")
        self.assertEqual(self.apps["org.example.Paint.desktop"]["kind"], "flatpak")
        self.assertEqual(self.apps["notes_notes.desktop"]["kind"], "snap")
        self.assertEqual(self.apps["notes_notes.desktop"]["version"], "1.5")

        def evidence(desktop_id):
            return {os.path.relpath(r["path"], self.home): (r["category"], r["matchedBy"]["key"], r["matchedBy"]["match"],
                                                            r["size"])
                    for r in self.apps[desktop_id]["resources"]}
        self.assertEqual(evidence("editor.desktop"), {
            ".config/editor": ("config", "desktopId", "equalIgnoringCase", 1000),
            ".cache/EditorWin": ("cache", "StartupWMClass", "equalIgnoringCase", 3000)})
        self.assertEqual(evidence("org.example.Paint.desktop"), {
            ".var/app/org.example.Paint/cache": ("flatpakCache", "X-Flatpak", "equalIgnoringCase", 4000),
            ".var/app/org.example.Paint/config": ("flatpakConfig", "X-Flatpak", "equalIgnoringCase", 200)})
        self.assertEqual(evidence("notes_notes.desktop"), {
            "snap/notes": ("snapData", "X-SnapInstanceName", "equalIgnoringCase", 500)})
        text = run(*self.args).stdout.decode()
        self.assertIn('(StartupWMClass "EditorWin", equal ignoring case)', text)

    def test_leftovers_with_their_reasons(self):
        doc = json.loads(run(*self.args, "--leftovers", "--json").stdout)
        self.assertNotIn("applications", doc)
        reasons = {os.path.relpath(l["path"], self.tmp.name): (l["reason"], l["size"]) for l in doc["leftovers"]}
        self.assertEqual(reasons, {
            "home/.var/app/org.example.Old": ("noInstalledFlatpak", 700),
            "home/snap/oldsnap": ("noInstalledSnap", 70),
            "home/.config/oldapp": ("matchesNoApplication", 60),
            "home/.config/autostart/sync.desktop": ("brokenAutostartEntry", reasons["home/.config/autostart/sync.desktop"][1]),
            "home/.local/share/applications/bad.desktop": ("malformedEntry", reasons["home/.local/share/applications/bad.desktop"][1]),
            "root/usr/share/applications/gone.desktop": ("brokenEntry", reasons["root/usr/share/applications/gone.desktop"][1]),
        })
        self.assertEqual(doc["leftovers"], self.doc["leftovers"])
        text = run(*self.args, "--leftovers").stdout.decode()
        self.assertIn("(no installed Flatpak has the ID org.example.Old)", text)
        self.assertIn("(line 4: a line that is neither a group, a key, a comment nor blank)", text)
        self.assertNotIn("Editor", text)

    def test_app_selects_by_desktop_id_name_or_executable(self):
        for wanted in ("editor.desktop", "EDITOR", "editor"):
            doc = json.loads(run(*self.args, "--json", "--app", wanted).stdout)
            self.assertEqual([a["desktopId"] for a in doc["applications"]], ["editor.desktop"])
            self.assertEqual(doc["leftovers"], [])
        self.assertEqual(run(*self.args, "--app", "nothing", expect=1).stdout, b"")
        run(*self.args, "--app", "editor", "--leftovers", expect=2)
        run(*self.args, "--layout", "document", "--leftovers", expect=2)
        run(*self.args, "--layout", "windows", expect=2)


class DemoHomeTest(unittest.TestCase):
    """The sample of `vantel demo-home --layout xdg`: every application, resource and leftover
    the applications' part of it writes, exactly."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="vantel-apps-xdg-demo-")
        demo = os.path.join(cls.tmp.name, "demo")
        run("demo-home", "--layout", "xdg", demo)
        cls.home, cls.root = os.path.join(demo, "home"), os.path.join(demo, "root")
        cls.doc = json.loads(run("apps", "--home", cls.home, "--root", cls.root, "--json").stdout)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_applications_and_their_resources(self):
        found = {a["desktopId"]: (a["kind"], a["version"],
                                  sorted((os.path.relpath(r["path"], self.home), r["matchedBy"]["key"],
                                          r["matchedBy"]["match"], r["size"]) for r in a["resources"]))
                 for a in self.doc["applications"]}
        self.assertEqual(found, {
            "appimagekit_sketch.desktop": ("appImage", "1.2", [(".config/Sketch", "StartupWMClass", "equalIgnoringCase", 2500)]),
            "notes_notes.desktop": ("snap", "2.4", [(".notes", "X-SnapInstanceName", "equalIgnoringCase", 700),
                                                    ("snap/notes", "X-SnapInstanceName", "equalIgnoringCase", 12000)]),
            "org.example.Gallery.desktop": ("systemPackage", None, [
                (".config/gallery-viewer", "executable", "equalIgnoringCase", 500),
                (".local/share/Gallery", "reverseDnsLastPart", "equalIgnoringCase", 64000)]),
            "org.example.Paint.desktop": ("flatpak", None, [
                (".var/app/org.example.Paint/cache", "X-Flatpak", "equalIgnoringCase", 90000),
                (".var/app/org.example.Paint/config", "X-Flatpak", "equalIgnoringCase", 400),
                (".var/app/org.example.Paint/data", "X-Flatpak", "equalIgnoringCase", 1500)]),
            "scratch.desktop": ("userEntry", None, [(".config/scratch", "desktopId", "equalIgnoringCase", 100)]),
            "textpad.desktop": ("systemPackage", None, [
                (".cache/TextPadMain", "StartupWMClass", "equalIgnoringCase", 40000),
                (".config/autostart/textpad.desktop", "desktopId", "equalIgnoringCase", 72),
                (".config/textpad", "desktopId", "equalIgnoringCase", 1200),
                (".config/textpadrc", "desktopId", "equalAfterRemovingSuffix", 300),
                (".local/state/textpad-sessions", "desktopId", "contained", 800)]),
        })
        textpad = [a for a in self.doc["applications"] if a["desktopId"] == "textpad.desktop"][0]
        self.assertEqual(textpad["name"], "TextPad")
        for resource in textpad["resources"]:
            self.assertEqual(resource["matchedBy"]["otherCandidates"], ["scratch.desktop", "textpad-handler.desktop"])

    def test_leftovers(self):
        reasons = {os.path.relpath(l["path"], self.home): l["reason"] for l in self.doc["leftovers"]}
        for path, reason in {".var/app/org.example.OldGame": "noInstalledFlatpak", "snap/oldsnap": "noInstalledSnap",
                             ".config/oldapp": "matchesNoApplication", ".oldtool": "matchesNoApplication",
                             ".config/autostart/oldsync.desktop": "brokenAutostartEntry",
                             ".local/share/applications/broken-syntax.desktop": "malformedEntry",
                             "../root/usr/share/applications/vanished.desktop": "brokenEntry"}.items():
            self.assertEqual(reasons.get(path), reason, path)
        for kept in (".config/user-dirs.dirs", ".config/dconf", ".cache/thumbnails", ".local/share/Trash",
                     ".local/share/keyrings", ".ssh", ".gnupg", ".local", ".config", ".cache", ".cache/fontconfig",
                     ".cache/mesa_shader_cache", ".local/share/recently-used.xbel", ".local/state/wireplumber"):
            self.assertNotIn(kept, reasons)
        for leftover in self.doc["leftovers"]:
            self.assertTrue(leftover["detail"], leftover)
            self.assertIsNotNone(leftover["size"], leftover)
        self.assertEqual(self.doc["unreadable"], [])


class LockedTest(unittest.TestCase):
    def test_a_folder_another_user_cannot_read_is_named_never_zero(self):
        user, tmp, vantel = toolsupport.locked_folder_setup(self, VANTEL, "vantel-apps-xdg-locked-")
        home, root = make_desktop(tmp.name)
        for folder, _, _ in os.walk(tmp.name):
            os.chmod(folder, 0o755)
        locked = os.path.join(home, ".config", "editor")
        os.chmod(locked, 0o700)
        proc = toolsupport.run(vantel, "apps", "--home", home, "--root", root, "--json", user=user, expect=1)
        doc = json.loads(proc.stdout)
        self.assertEqual(doc["unreadable"], [{"path": locked, "error": "Permission denied"}])
        editor = [a for a in doc["applications"] if a["desktopId"] == "editor.desktop"][0]
        resource = [r for r in editor["resources"] if r["path"] == locked][0]
        self.assertEqual((resource["size"], resource["error"]), (None, "Permission denied"))
        self.assertIn(f"{locked}: Permission denied", proc.stderr.decode())
        text = toolsupport.run(vantel, "apps", "--home", home, "--root", root, user=user, expect=1).stdout.decode()
        self.assertIn(f"?  config        !{locked}", text)


class InterruptTest(unittest.TestCase):
    def test_sigint_prints_what_was_found_marked_partial(self):
        with tempfile.TemporaryDirectory(prefix="vantel-apps-xdg-interrupt-") as tmp:
            home, root = make_desktop(tmp)
            status, out, err = toolsupport.interrupted(VANTEL, "apps", "--home", home, "--root", root, "--json",
                                                       "--pause-per-folder", "300")
        self.assertEqual(status, 130, err)
        self.assertFalse(json.loads(out)["complete"])


class MachineTest(unittest.TestCase):
    def test_the_machines_own_entries_are_listed_read_only(self):
        if not os.path.exists("/usr/share/applications/chromium.desktop"):
            self.skipTest("no /usr/share/applications/chromium.desktop here")
        with tempfile.TemporaryDirectory(prefix="vantel-apps-xdg-machine-") as home:
            doc = json.loads(run("apps", "--layout", "xdg", "--home", home, "--json").stdout)
            self.assertEqual(os.listdir(home), [])
        chromium = [a for a in doc["applications"] if a["desktopId"] == "chromium.desktop"]
        self.assertEqual(len(chromium), 1)
        self.assertEqual(chromium[0]["kind"], "systemPackage")
        self.assertEqual(chromium[0]["versionSource"], "dpkg")
        self.assertEqual(doc["unreadable"], [])
        self.assertEqual([l for l in doc["leftovers"] if l["reason"] == "malformedEntry"], [])


if __name__ == "__main__":
    VANTEL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
