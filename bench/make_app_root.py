#!/usr/bin/env python3
"""Builds a deterministic home and system root for timing `vantel apps`: 300 applications
(every tenth with a nested helper, every fifteenth with a second copy in the user's
Applications folder) and 20,000 support files, about three quarters of them in folders named
after an application and the rest unrelated.

Usage: make_app_root.py DIR      (writes DIR/home and DIR/root; DIR must not exist)
Then:  vantel apps --home DIR/home --root DIR/root --json > /dev/null
"""
import os
import plistlib
import sys

APPLICATIONS = 300


def write(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"v" * size)


def application(path, identifier, name):
    os.makedirs(os.path.join(path, "Contents", "MacOS"), exist_ok=True)
    with open(os.path.join(path, "Contents", "Info.plist"), "wb") as f:
        plistlib.dump({"CFBundleIdentifier": identifier, "CFBundleName": name, "CFBundleVersion": "1",
                       "CFBundleShortVersionString": "1.0"}, f)
    write(os.path.join(path, "Contents", "MacOS", name), 4096)


def main(directory):
    os.makedirs(directory)
    home, root = os.path.join(directory, "home"), os.path.join(directory, "root")
    library, system = os.path.join(home, "Library"), os.path.join(root, "Library")
    files = 0
    for i in range(APPLICATIONS):
        identifier, name = f"com.vendor{i % 37}.app{i:03d}", f"Application {i:03d}"
        bundle = os.path.join(root, "Applications", name + ".app")
        application(bundle, identifier, name)
        if i % 10 == 0:
            application(os.path.join(bundle, "Contents", "Library", "LoginItems", "Helper.app"),
                        identifier + ".helper", name + " Helper")
        if i % 15 == 0:
            application(os.path.join(home, "Applications", name + ".app"), identifier, name)
        write(os.path.join(library, "Preferences", identifier + ".plist"), 600)
        for k in range(20):
            write(os.path.join(library, "Caches", identifier, f"cache{k:02d}"), 2000)
        for k in range(15):
            write(os.path.join(library, "Application Support", name, f"data{k:02d}"), 1000)
        for k in range(10):
            write(os.path.join(library, "Containers", identifier, "Data", f"file{k:02d}"), 500)
        for k in range(5):
            write(os.path.join(system, "Logs", identifier, f"log{k}.log"), 300)
        files += 1 + 20 + 15 + 10 + 5
    unrelated = 20000 - files
    for k in range(unrelated):
        if k % 2:
            write(os.path.join(library, "Caches", f"org.unrelated.cache{k:05d}"), 100)
        else:
            write(os.path.join(system, "Preferences", f"org.unrelated.setting{k:05d}.plist"), 100)
    print(f"{APPLICATIONS} applications, {files + unrelated} support files in {directory}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
