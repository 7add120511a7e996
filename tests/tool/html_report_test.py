#!/usr/bin/env python3
"""End-to-end checks of map --html: the report is one file with no outside reference, and in
headless Chromium it loads without console messages, draws one tile per entry large enough
to see (tiny entries merged), and zooms through its own #path= hash. The browser part is
skipped where Chromium is not installed or cannot start.

Usage: html_report_test.py PATH_TO_VANTEL
"""
import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

from toolsupport import make_temp_tree, run, write

VANTEL = None
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--enable-logging=stderr", "--v=0", "--window-size=1000,700"]


class Tiles(html.parser.HTMLParser):
    """The tiles of a dumped report: (data-path, text) of each, and the map's zoomed path."""

    def __init__(self):
        super().__init__()
        self.tiles = []
        self.zoomed = None
        self._in_tile = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if attrs.get("id") == "map":
            self.zoomed = attrs.get("data-path")
        if tag == "div" and "tile" in (attrs.get("class") or "").split():
            self.tiles.append([attrs.get("data-path"), "", attrs.get("class")])
            self._in_tile = True

    def handle_data(self, data):
        if self._in_tile:
            self.tiles[-1][1] += data

    def handle_endtag(self, tag):
        self._in_tile = False


class HtmlReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = make_temp_tree("vantel-html-")
        root = cls.root = os.path.join(cls.tmp.name, "tree <&>")
        write(os.path.join(root, "big", "f1.jpg"), 400_000)
        write(os.path.join(root, "big", "f2.txt"), 300_000)
        for i in range(3000):
            write(os.path.join(root, "big", f"dust{i}"), 1)
        write(os.path.join(root, "other", "g.zip"), 200_000)
        write(os.path.join(root, "top.bin"), 100_000)
        write(os.path.join(root, "<!--<script>"), 100_000)  # a name that must not disturb the data
        cls.report = os.path.join(cls.tmp.name, "report.html")
        run(VANTEL, "map", root, "--html", cls.report)
        with open(cls.report, encoding="utf-8") as f:
            cls.page = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_one_file_without_outside_references(self):
        self.assertIn("Content-Security-Policy", self.page)
        self.assertIn("default-src 'none'", self.page)
        self.assertNotRegex(self.page, r"<(script|link|img)[^>]+(src|href)=")
        self.assertNotIn("http://", self.page.replace("http://www.w3.org", ""))
        self.assertEqual(self.page.lower().count("</script>"), 3)  # d3-hierarchy, data, page
        self.assertIn("d3", self.page)

    def test_usage_errors(self):
        run(VANTEL, "map", self.root, "--html", os.path.join(self.tmp.name, "x.html"), "--json", expect=2)
        self.assertIn("cannot write", run(VANTEL, "map", self.root, "--html", "/nonexistent/r.html",
                                          expect=1).stderr.decode())

    def open_in_browser(self, fragment=""):
        profile = tempfile.mkdtemp(prefix="vantel-chromium-")
        try:
            url = "file://" + urllib.parse.quote(self.report) + fragment
            proc = subprocess.run([CHROMIUM, *FLAGS, "--user-data-dir=" + profile, "--dump-dom", url],
                                  capture_output=True, timeout=120)
        finally:
            shutil.rmtree(profile, ignore_errors=True)
        if proc.returncode != 0 or b"<html" not in proc.stdout:
            self.skipTest(f"chromium cannot start here: {proc.stderr[-400:]!r}")
        console = [line for line in proc.stderr.decode(errors="replace").splitlines() if ":CONSOLE" in line]
        self.assertEqual(console, [])
        tiles = Tiles()
        tiles.feed(proc.stdout.decode())
        return tiles

    @unittest.skipIf(CHROMIUM is None, "chromium is not installed")
    def test_tiles_in_the_browser_and_zoom_through_the_hash(self):
        tiles = self.open_in_browser()
        self.assertEqual(tiles.zoomed, self.root)
        paths = [t[0] for t in tiles.tiles if "merged" not in t[2]]
        self.assertEqual(len(paths), len(set(paths)))
        expected = {os.path.join(self.root, p) for p in ("big", "big/f1.jpg", "big/f2.txt", "other",
                                                         "other/g.zip", "top.bin", "<!--<script>")}
        self.assertEqual(set(paths), expected)  # no tile of its own for a 1-byte file
        merged = [t for t in tiles.tiles if "merged" in t[2]]
        self.assertEqual([t[1] for t in merged], ["(3000 smaller)"])
        self.assertEqual(merged[0][0], os.path.join(self.root, "big"))
        self.assertIn("folder", [t[2] for t in tiles.tiles if t[0] == merged[0][0] and "merged" not in t[2]][0])

        big = os.path.join(self.root, "big")
        zoomed = self.open_in_browser("#path=" + urllib.parse.quote(big, safe=""))
        self.assertEqual(zoomed.zoomed, big)
        self.assertEqual({t[0] for t in zoomed.tiles if "merged" not in t[2]},
                         {os.path.join(big, "f1.jpg"), os.path.join(big, "f2.txt")})
        self.assertEqual([t[1] for t in zoomed.tiles if "merged" in t[2]], ["(3000 smaller)"])

        # An unknown path shows the whole map.
        self.assertEqual(self.open_in_browser("#path=%2Fnowhere").zoomed, self.root)


if __name__ == "__main__":
    VANTEL = sys.argv.pop(1)
    unittest.main(verbosity=2)
