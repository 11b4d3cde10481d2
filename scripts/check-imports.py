#!/usr/bin/env python3
"""Import gate: every function a shipped binary imports must exist on the
oldest Windows the binary is promised to load on.

    check-imports.py --objdump <objdump> --table <table> --floor <version> <binary>...

The table names, per DLL, the first Windows version (NT numbering: 4.0, 5.0
Windows 2000, 5.1 XP, 5.2 XP x64 / Server 2003, 6.0 Vista, ...) that exports
each function. A binary fails when it imports a function newer than the floor,
a function the table does not know (look its version up and add it), or a
function by ordinal only. Exit code 0 when every binary passes, 1 otherwise.
"""
import argparse
import re
import subprocess
import sys


def version_key(text):
    return tuple(int(part) for part in text.split("."))


def read_table(path):
    table = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            if len(fields) != 3 or not re.fullmatch(r"\d+(\.\d+)*", fields[2]):
                sys.exit("%s:%d: expected '<dll> <function> <version>'" % (path, number))
            table[(fields[0].lower(), fields[1])] = fields[2]
    return table


def imports_of(objdump, binary):
    """(dll, function) pairs; an ordinal-only import has the function '#<n>'."""
    text = subprocess.run([objdump, "-p", binary], check=True, capture_output=True,
                          text=True).stdout
    found = []
    dll = None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        if dll is None:
            continue
        if line.strip().startswith("The Export Tables") or line.startswith("PE File Base Relocations"):
            dll = None
            continue
        # "\t<vma>\t <hint> <name>" or "\t<vma>\t<ordinal> <ordinal-only marker>"
        m = re.match(r"^\t[0-9a-fA-F]+\t\s*(\d+)\s+(\S+)\s*$", line)
        if m:
            found.append((dll, m.group(2)))
            continue
        m = re.match(r"^\t[0-9a-fA-F]+\t\s*(\d+)\s*$", line)
        if m:
            found.append((dll, "#" + m.group(1)))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--table", required=True)
    parser.add_argument("--floor", required=True, help="oldest Windows version, e.g. 5.0")
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    table = read_table(args.table)
    floor = version_key(args.floor)
    failed = False
    for binary in args.binaries:
        problems = []
        try:
            imports = imports_of(args.objdump, binary)
        except (OSError, subprocess.CalledProcessError):
            failed = True
            print("FAIL %s: cannot be read" % binary)
            continue
        for dll, function in imports:
            version = table.get((dll, function))
            if function.startswith("#"):
                problems.append("%s %s: imported by ordinal only" % (dll, function))
            elif version is None:
                problems.append("%s %s: not in the table (look up its first Windows version)"
                                % (dll, function))
            elif version_key(version) > floor:
                problems.append("%s %s: needs Windows %s, newer than %s"
                                % (dll, function, version, args.floor))
        if problems:
            failed = True
            print("FAIL %s (%d imports, floor %s)" % (binary, len(imports), args.floor))
            for p in problems:
                print("  " + p)
        else:
            print("ok   %s (%d imports, floor %s)" % (binary, len(imports), args.floor))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
