#!/usr/bin/env python3
"""Checks of the library as others take it in: public headers include only the C++ library,
fmt and nlohmann/json (never a system or private header), and the shared library exports
the vantelkit namespace, including what a host needs, and nothing from internal or detail
namespaces or from outside.

The layers are checked too: no file of a subsystem includes a subsystem of a higher layer
(or of a layer it does not build on), and no subsystems include each other.

Usage: library_test.py --include DIR [--source DIR --layer NAME=FOLDERS:BELOW ...]
                       [--shared-library FILE --nm NM]
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


class LayerTest(unittest.TestCase):
    """The include graph between subsystem folders against the layer table of src/CMakeLists.txt."""

    def setUp(self):
        if not ARGS.source or not ARGS.layer:
            self.skipTest("no layer table given")
        self.folder_layer = {}
        below = {}
        for spec in ARGS.layer:
            name, rest = spec.split("=", 1)
            folders, lower = rest.split(":", 1)
            below[name] = [b for b in lower.split(",") if b]
            for folder in filter(None, folders.split(",")):
                self.folder_layer[folder] = name
        self.usable = {}
        for name in below:
            seen, todo = set(), list(below[name])
            while todo:
                layer = todo.pop()
                if layer not in seen:
                    seen.add(layer)
                    todo.extend(below.get(layer, []))
            self.usable[name] = seen

    def include_edges(self):
        """(from folder, to folder, file) for every include that crosses subsystem folders."""
        roots = [pathlib.Path(ARGS.source), pathlib.Path(ARGS.include) / "vantelkit"]
        edges = []
        for root in roots:
            for path in sorted(root.rglob("*")):
                if path.suffix not in (".h", ".cpp") or not path.is_file():
                    continue
                folder = path.relative_to(root).parts[0]
                if folder not in self.folder_layer:
                    continue
                for _, name in INCLUDE.findall(path.read_text(errors="replace")):
                    parts = name.split("/")
                    if parts[0] == "vantelkit" and len(parts) > 2:
                        parts = parts[1:]
                    target = parts[0]
                    if len(parts) > 1 and target in self.folder_layer and target != folder:
                        edges.append((folder, target, str(path)))
        return edges

    def test_every_include_goes_down_a_layer_or_stays_in_its_own(self):
        self.assertGreater(len(self.folder_layer), 8)
        offenders = []
        for folder, target, path in self.include_edges():
            layer, other = self.folder_layer[folder], self.folder_layer[target]
            if other != layer and other not in self.usable[layer]:
                offenders.append(f"{path}: {folder} ({layer}) includes {target} ({other})")
        self.assertEqual(offenders, [])

    def test_no_subsystems_include_each_other(self):
        graph = {}
        for folder, target, _ in self.include_edges():
            graph.setdefault(folder, set()).add(target)
        # Any cycle, not only pairs: depth-first search with colours.
        cycles, state = [], {}

        def visit(node, trail):
            state[node] = "open"
            for nxt in sorted(graph.get(node, ())):
                if state.get(nxt) == "open":
                    cycles.append(" -> ".join(trail[trail.index(nxt):] + [nxt]))
                elif nxt not in state:
                    visit(nxt, trail + [nxt])
            state[node] = "done"

        for node in sorted(graph):
            if node not in state:
                visit(node, [node])
        self.assertEqual(cycles, [])


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
    parser.add_argument("--source")
    parser.add_argument("--layer", action="append", default=[])
    parser.add_argument("--shared-library")
    parser.add_argument("--nm", default="nm")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
