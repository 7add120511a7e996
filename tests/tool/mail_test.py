#!/usr/bin/env python3
"""End-to-end checks of `vantel mail` on homes built here: the accounts database written with
sqlite3 and keyed archives with plistlib, the mail folders with attachments and downloads.
Checks the text and JSON forms, their order and stability, a database whose newest rows are
only in its write-ahead log (with nothing beside it changed by the read), homes without a
readable database, hostile databases that must cost little time and memory, and folders an
unprivileged user cannot read.

Usage: mail_test.py PATH_TO_VANTEL
"""
import json
import os
import plistlib
import sqlite3
import subprocess
import sys
import tempfile
import threading
import unittest

import toolsupport

VANTEL = None
MAIL = "com.apple.Dataclass.Mail"


def run(*args, expect=0):
    return toolsupport.run(VANTEL, *args, expect=expect)


def run_measured(*args):
    """Runs vantel; answers its exit code, stderr, processor seconds (user and system: unlike
    the wall time, not stretched by other work on a shared machine) and peak resident
    megabytes."""
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:
        # AddressSanitizer keeps freed memory in quarantine, which would count as peak.
        env["ASAN_OPTIONS"] += ":quarantine_size_mb=0"
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen([VANTEL, *args], stdout=out, stderr=err, env=env)
        killer = threading.Timer(120, proc.kill)
        killer.start()
        _, status, usage = os.wait4(proc.pid, 0)
        killer.cancel()
        proc.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        return proc.returncode, err.read(), usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def data_classes(mail):
    """A keyed archive of a dictionary of data classes, as the accounts database holds."""
    names = [MAIL, "com.apple.Dataclass.Notes"] if mail else ["com.apple.Dataclass.Notes"]
    objects = ["$null", None]
    keys, values = [], []
    for name in names:
        objects.append(name)
        keys.append(plistlib.UID(len(objects) - 1))
        objects.append(True)
        values.append(plistlib.UID(len(objects) - 1))
    objects.append({"$classname": "NSMutableDictionary",
                    "$classes": ["NSMutableDictionary", "NSDictionary", "NSObject"]})
    objects[1] = {"$class": plistlib.UID(len(objects) - 1), "NS.keys": keys, "NS.objects": values}
    return plistlib.dumps({"$archiver": "NSKeyedArchiver", "$version": 100000, "$objects": objects,
                           "$top": {"root": plistlib.UID(1)}}, fmt=plistlib.FMT_BINARY)


def write_file(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"m" * size)


class MailHome:
    def __init__(self, root):
        self.home = root
        self.accounts = os.path.join(root, "Library", "Accounts")
        self.database = os.path.join(self.accounts, "Accounts4.sqlite")
        self.rows = []

    def parent(self, description):
        key = len(self.rows) + 1
        self.rows.append((key, f"parent-{key}", description, 1, 1, None, None))
        return key

    def child(self, parent, identifier, mail=True, active=1):
        key = len(self.rows) + 1
        self.rows.append((key, identifier, None, active, 1, parent, data_classes(mail)))
        return key

    def connect(self, wal=False):
        os.makedirs(self.accounts, exist_ok=True)
        db = sqlite3.connect(self.database, isolation_level=None)
        if wal:
            db.execute("PRAGMA journal_mode=WAL")
            db.execute("PRAGMA wal_autocheckpoint=0")
        db.execute("CREATE TABLE IF NOT EXISTS ZACCOUNT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZIDENTIFIER VARCHAR, "
                   "ZACCOUNTDESCRIPTION VARCHAR, ZACTIVE INTEGER, ZAUTHENTICATED INTEGER, ZPARENTACCOUNT INTEGER, "
                   "ZDATACLASSPROPERTIES BLOB)")
        return db

    def insert(self, db, rows):
        db.executemany("INSERT INTO ZACCOUNT (Z_PK, ZIDENTIFIER, ZACCOUNTDESCRIPTION, ZACTIVE, ZAUTHENTICATED, "
                       "ZPARENTACCOUNT, ZDATACLASSPROPERTIES) VALUES (?, ?, ?, ?, ?, ?, ?)", rows)

    def write(self):
        db = self.connect()
        self.insert(db, self.rows)
        db.close()

    def attachment(self, identifier, relative, size):
        path = os.path.join(self.home, "Library", "Mail", "V7", identifier, relative)
        write_file(path, size)
        return path

    def download(self, relative, size):
        path = os.path.join(self.home, "Library", "Containers", "com.apple.mail", "Data", "Library",
                            "Mail Downloads", relative)
        write_file(path, size)
        return path


def snapshot(folder):
    entries = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            entries[name] = (f.read(), os.stat(path).st_mtime_ns)
    return entries


class MailCommandTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vantel-mail-")
        self.mail = MailHome(os.path.join(self.tmp.name, "home"))

    def tearDown(self):
        self.tmp.cleanup()

    def test_accounts_attachments_and_downloads_sorted_and_stable(self):
        m = self.mail
        work = m.parent("Work")
        m.child(work, "W-1")
        m.child(work, "W-OFF", active=0)
        personal = m.parent("Personal")
        m.child(personal, "P-1")
        m.child(personal, "P-NOMAIL", mail=False)
        m.child(m.parent("Work"), "W-2")
        m.write()
        small = m.attachment("W-1", "INBOX.mbox/Attachments/1/small.txt", 10)
        big = m.attachment("W-2", "Attachments/2/big.pdf", 5000)
        tie_second = m.attachment("W-2", "Attachments/a", 100)
        tie_first = m.attachment("W-1", "Attachments/b", 100)
        m.attachment("W-1", "Attachments/.DS_Store", 6)
        m.attachment("W-OFF", "Attachments/off.txt", 7)
        m.attachment("P-NOMAIL", "Attachments/nomail.txt", 8)
        d1 = m.download("one.zip", 300)
        d2 = m.download("sub/two.zip", 400)
        m.download(".DS_Store", 6)

        first = run("mail", "--home", m.home, "--json")
        again = run("mail", "--home", m.home, "--json")
        self.assertEqual(first.stdout, again.stdout)
        self.assertTrue(first.stdout.endswith(b"}\n"))
        self.assertEqual(first.stderr, b"")
        data = json.loads(first.stdout)
        self.assertEqual(data["version"], 1)
        self.assertEqual([a["name"] for a in data["accounts"]], ["Personal", "Work"])
        personal_json, work_json = data["accounts"]
        self.assertEqual(personal_json, {"name": "Personal", "identifiers": ["P-1"], "size": 0, "attachments": []})
        self.assertEqual(work_json["identifiers"], ["W-1", "W-2"])
        self.assertEqual(work_json["size"], 5210)
        self.assertEqual(work_json["attachments"], [
            {"path": big, "size": 5000}, {"path": tie_first, "size": 100}, {"path": tie_second, "size": 100},
            {"path": small, "size": 10}])
        self.assertEqual(data["downloads"], [{"path": d2, "size": 400}, {"path": d1, "size": 300}])

        text = run("mail", "--home", m.home).stdout.decode()
        lines = text.splitlines()
        self.assertEqual(lines[0], "Personal: 0 attachments, 0 bytes")
        self.assertEqual(lines[1], "  identifiers: P-1")
        self.assertEqual(lines[2], "Work: 4 attachments, 5.2 KB")
        self.assertEqual(lines[3], "  identifiers: W-1 W-2")
        self.assertEqual(lines[4], f"  5000\t{big}")
        self.assertIn("Mail downloads: 2 files, 700 bytes", lines)
        self.assertEqual(lines[-1], "Total: 2 accounts in 6 files, 5.9 KB")
        # The global option works as well.
        self.assertEqual(run("--home", m.home, "mail", "--json").stdout, first.stdout)

    def test_folders_the_user_cannot_read_are_reported_and_fail(self):
        user, tmp, vantel = toolsupport.locked_folder_setup(self, VANTEL, "vantel-mail-locked-")
        m = MailHome(os.path.join(tmp.name, "home"))
        m.child(m.parent("Work"), "W-1")
        m.write()
        kept = m.attachment("W-1", "Attachments/1/kept.txt", 10)
        locked_mailbox = os.path.dirname(os.path.dirname(m.attachment("W-1", "Private.mbox/Attachments/s.pdf", 20)))
        locked_downloads = os.path.dirname(m.download("private/a.zip", 30))
        for folder in (locked_mailbox, locked_downloads):
            os.chmod(folder, 0o700)
        proc = toolsupport.run(vantel, "mail", "--home", m.home, "--json", user=user, expect=1)
        data = json.loads(proc.stdout)
        self.assertEqual(data["accounts"][0]["attachments"], [{"path": kept, "size": 10}])
        self.assertEqual(data["unreadable"], [{"path": locked_downloads, "error": "Permission denied"},
                                              {"path": locked_mailbox, "error": "Permission denied"}])
        self.assertEqual(proc.stderr.decode().splitlines()[-1],
                         f"vantel: 2 folders could not be read; first: {locked_downloads}: Permission denied")
        toolsupport.run(vantel, "mail", "--home", m.home, user=user, expect=1)

    def test_rows_only_in_the_log_of_a_database_in_use(self):
        m = self.mail
        work = m.parent("Work")
        m.child(work, "OLD")
        db = m.connect(wal=True)
        m.insert(db, m.rows)
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        newer = [(10, "parent-10", "Newer", 1, 1, None, None), (11, "NEW", None, 1, 1, 10, data_classes(True))]
        m.insert(db, newer)
        try:
            # The writer stays connected, as a running mail client would.
            self.assertGreater(os.path.getsize(m.database + "-wal"), 0)
            m.attachment("NEW", "Attachments/new.bin", 42)
            before = snapshot(m.accounts)
            data = json.loads(run("mail", "--home", m.home, "--json").stdout)
            self.assertEqual(snapshot(m.accounts), before)
        finally:
            db.close()
        self.assertEqual([(a["name"], a["identifiers"], a["size"]) for a in data["accounts"]],
                         [("Newer", ["NEW"], 42), ("Work", ["OLD"], 0)])

    def test_a_home_without_a_readable_database_lists_no_accounts(self):
        m = self.mail
        download = m.download("file.txt", 3)
        missing = run("mail", "--home", m.home, "--json")
        data = json.loads(missing.stdout)
        self.assertEqual(data["accounts"], [])
        self.assertEqual(data["downloads"], [{"path": download, "size": 3}])
        self.assertIn(b"no mail accounts", missing.stderr)
        self.assertIn(b"Accounts4.sqlite", missing.stderr)

        os.makedirs(m.accounts)
        with open(m.database, "wb") as f:
            f.write(os.urandom(3000))
        garbage = run("mail", "--home", m.home)
        self.assertIn(b"Total: 0 accounts in 1 file, 3 bytes", garbage.stdout)
        self.assertIn(b"no mail accounts", garbage.stderr)

    def test_a_hostile_database_costs_little_time_and_memory(self):
        m = self.mail
        columns = ("Z_PK, ZIDENTIFIER, ZACCOUNTDESCRIPTION, ZACTIVE, ZAUTHENTICATED, ZPARENTACCOUNT, "
                   "ZDATACLASSPROPERTIES")
        numbers = ",".join(["1"] * 7000)
        hostile = {
            # Endless accounts.
            "is a view": f"CREATE VIEW ZACCOUNT ({columns}) AS WITH RECURSIVE r(x) AS (SELECT 1 UNION ALL "
                         f"SELECT x + 1 FROM r) SELECT x, 'ID-' || x, 'Work', 1, 1, 1, zeroblob(100) FROM r",
            # A few megabytes of schema that would take hundreds of megabytes once parsed.
            "needed more than": f"CREATE TABLE ZACCOUNT ({columns});" + "".join(
                f"CREATE VIEW V{i} AS SELECT 1 IN ({numbers});" for i in range(400)),
        }
        # What the tool needs without a database (more under a sanitizer) is not the database's cost.
        baseline = run_measured("mail", "--home", m.home)[3]
        for reason, schema in hostile.items():
            with self.subTest(reason=reason):
                if os.path.exists(m.database):
                    os.remove(m.database)
                os.makedirs(m.accounts, exist_ok=True)
                # Written by another process: this one stays small, as the peak memory of a
                # child counts what it was forked from.
                subprocess.run([sys.executable, "-c", "import sqlite3, sys; "
                                "sqlite3.connect(sys.argv[1]).executescript(sys.stdin.read())", m.database],
                               input=schema.encode(), check=True, timeout=120)
                code, stderr, seconds, megabytes = run_measured("mail", "--home", m.home)
                self.assertEqual(code, 0)
                self.assertIn(reason.encode(), stderr)
                self.assertLess(seconds, 2)
                self.assertLess(megabytes - baseline, 100)

    def test_names_cannot_forge_lines_and_a_failed_write_fails(self):
        m = self.mail
        m.child(m.parent("Evil\nTotal: 0 accounts"), "ID")
        m.write()
        text = run("mail", "--home", m.home).stdout.decode()
        self.assertIn("Evil\\nTotal: 0 accounts: 0 attachments", text)
        with open("/dev/full", "wb") as full:
            proc = subprocess.run([VANTEL, "mail", "--home", m.home], stdout=full, stderr=subprocess.PIPE,
                                  timeout=120)
        self.assertEqual(proc.returncode, 1)
        run("mail", "--bogus", expect=2)


class InterruptTest(unittest.TestCase):
    def test_sigint_prints_the_files_found_so_far_and_exits_130(self):
        with tempfile.TemporaryDirectory(prefix="vantel-mail-interrupt-") as tmp:
            m = MailHome(os.path.join(tmp, "home"))
            m.child(m.parent("Work"), "W-1")
            m.write()
            for i in range(20):
                m.attachment("W-1", f"Attachments/{i:02}/file", 10)
                m.download(f"{i:02}/file", 10)
            status, out, err = toolsupport.interrupted(VANTEL, "mail", "--home", m.home, "--json",
                                                       "--pause-per-folder", "300")
        self.assertEqual(status, 130, err)
        self.assertTrue(err.endswith(b"partial: interrupted\n"), err)
        doc = json.loads(out)
        self.assertIs(doc["complete"], False)
        self.assertLess(len(doc["downloads"]) + sum(len(a["attachments"]) for a in doc["accounts"]), 40)


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
