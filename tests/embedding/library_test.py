#!/usr/bin/env python3
"""Checks of the library as others take it in: public headers include only the C++ library,
fmt and nlohmann/json (never a system or private header), and the shared library exports
the vantelkit namespace, including what a host needs, and nothing from internal or detail
namespaces or from outside.

Usage: library_test.py --include DIR [--shared-library FILE --nm NM]
"""
import argparse
import pathlib
import re
import subprocess
import sys
import unittest

ARGS = None
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
ALLOWED_PREFIXES = ("fmt/", "nlohmann/")
# What the host in examples/glib-host calls, and the durable save.
HOST_SYMBOLS = [
    "vantelkit::MainQueue::setWakeUpHandler(",
    "vantelkit::MainQueue::drain()",
    "vantelkit::OperationQueue::addOperation(std::shared_ptr<vantelkit::Operation>)",
    "vantelkit::Procedure::cancel()",
    "vantelkit::DiskMapProcedure::DiskMapProcedure(",
    "vantelkit::PropertyList::save(",
    "vantelkit::libraryVersion()",
    "typeinfo for vantelkit::Error",
]


def dynamic_symbols():
    out = subprocess.run([ARGS.nm, "-D", "--defined-only", "-C", ARGS.shared_library],
                         check=True, capture_output=True, text=True).stdout
    symbols = []
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] not in ("A",):
            symbols.append(parts[2])
    return symbols


class HeaderTest(unittest.TestCase):
    def test_public_headers_include_only_the_standard_library_fmt_and_json(self):
        root = pathlib.Path(ARGS.include)
        headers = sorted(root.rglob("*.h"))
        self.assertGreater(len(headers), 10)
        offenders = []
        for header in headers:
            for kind, name in INCLUDE.findall(header.read_text()):
                if kind == '"':
                    ok = name.startswith("vantelkit/") and (root / name).is_file()
                else:
                    # Standard C++ headers have neither an extension nor a folder.
                    ok = name.startswith(ALLOWED_PREFIXES) or ("." not in name and "/" not in name)
                if not ok:
                    offenders.append(f"{header.relative_to(root)}: {kind}{name}")
        self.assertEqual(offenders, [])


class ExportTest(unittest.TestCase):
    def setUp(self):
        if not ARGS.shared_library:
            self.skipTest("no shared library in this build")
        self.symbols = dynamic_symbols()

    def test_only_the_public_namespace_is_exported(self):
        scope = re.compile(r"^(?:(?:typeinfo(?: name)?|vtable|VTT|guard variable|(?:non-)?virtual thunk) (?:for|to) )?"
                           r"(?:[\w:<>, ]+ )?vantelkit::")
        outside = [s for s in self.symbols if not scope.match(s)]
        self.assertEqual(outside[:20], [])
        private = [s for s in self.symbols if re.match(r"^[^(]*vantelkit::(?:\w+::)*(?:internal|\w*detail)::", s)]
        self.assertEqual(private[:20], [])

    def test_what_a_host_calls_is_exported(self):
        for wanted in HOST_SYMBOLS:
            self.assertTrue(any(s.startswith(wanted) for s in self.symbols), wanted)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--include", required=True)
    parser.add_argument("--shared-library")
    parser.add_argument("--nm", default="nm")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
