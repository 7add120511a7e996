#!/usr/bin/env python3
"""Writes the linker version script of the shared library: every symbol that the objects
define in namespace vantelkit (and every strong symbol whose name mentions a vantelkit type,
such as std::hash<vantelkit::FileURL>::operator()), except what lies in a namespace named
internal or ending in detail. Everything else stays local to the library.

Usage: make_export_map.py OUTPUT NM OBJECT...
"""
import re
import subprocess
import sys

SPECIAL_PREFIXES = ("_ZTV", "_ZTI", "_ZTS", "_ZTT", "_ZGV", "_ZZ")
THUNK = re.compile(r"_ZT(?:h n?\d+_|v n?\d+_n?\d+_|c)".replace(" ", ""))


def leading_components(mangled):
    """The source names at the start of a nested name (_ZN9vantelkit8internal4Type... gives
    ['vantelkit', 'internal', 'Type']), or [] when the symbol is not a nested name."""
    rest = mangled
    match = THUNK.match(rest)
    if match:
        rest = "_Z" + rest[match.end():]
    for prefix in SPECIAL_PREFIXES:
        if rest.startswith(prefix):
            rest = "_Z" + rest[len(prefix):]
            break
    if not rest.startswith("_ZN"):
        return []
    i = 3
    while i < len(rest) and rest[i] in "rVKRO":
        i += 1
    names = []
    while i < len(rest) and rest[i].isdigit():
        j = i
        while j < len(rest) and rest[j].isdigit():
            j += 1
        length = int(rest[i:j])
        names.append(rest[j:j + length])
        i = j + length
    return names


def is_private_name(name):
    return name == "internal" or name.endswith("detail")


def exported(mangled, weak=False):
    names = leading_components(mangled)
    if names and names[0] == "vantelkit":
        return not any(is_private_name(n) for n in names[1:])
    # Another scope (std::, fmt::) specialised for one of our types, such as a hash or a
    # formatter, unless one of the types it mentions is private. Weak symbols there are
    # template instances that every user makes for itself.
    return not weak and "9vantelkit" in mangled and not re.search(r"8internal|\d+\w*detail", mangled)


def main():
    output, nm, objects = sys.argv[1], sys.argv[2], sys.argv[3:]
    symbols = set()
    for start in range(0, len(objects), 200):
        listing = subprocess.run([nm, "--defined-only", "--extern-only", "--format=posix", *objects[start:start + 200]],
                                 check=True, capture_output=True, text=True).stdout
        for line in listing.splitlines():
            fields = line.split()
            if len(fields) >= 2 and not fields[0].endswith(":") and fields[0].startswith("_Z"):
                if exported(fields[0], weak=fields[1] in "WVvwu"):
                    symbols.add(fields[0])
    text = "{\n  global:\n" + "".join(f"    {s};\n" for s in sorted(symbols)) + "  local:\n    *;\n};\n"
    try:
        with open(output) as existing:
            if existing.read() == text:
                return
    except OSError:
        pass
    with open(output, "w") as out:
        out.write(text)


if __name__ == "__main__":
    main()
