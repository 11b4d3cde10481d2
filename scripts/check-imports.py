#!/usr/bin/env python3
"""Import gate: every function a shipped binary imports must exist on the
oldest Windows the binary is promised to load on.

    check-imports.py --objdump <objdump> --table <table> --floor <version> <binary>...

The table names, per DLL, the first Windows version (NT numbering: 4.0, 5.0
Windows 2000, 5.1 XP, 5.2 XP x64 / Server 2003, 6.0 Vista, ...) that exports
each function; a function that came with a service pack carries it, as in
5.1sp2 (XP SP2). A binary fails when it imports a function newer than the
floor, a function the table does not know (look its version up and add it), or
a function by ordinal only; when its subsystem version is newer than the floor
(the loader of an older Windows refuses such a file); and, for a program
(.exe), when it is not marked terminal-server aware (Remote Desktop hosts then
give it a private view of the Windows folder and the machine's settings).
Exit code 0 when every binary passes, 1 otherwise.
"""
import argparse
import re
import subprocess
import sys


VERSION = re.compile(r"(\d+)\.(\d+)(?:sp(\d+))?")


def version_key(text):
    """(major, minor, service pack) of "5.1" or "5.1sp2"; None when malformed."""
    m = VERSION.fullmatch(text)
    if not m:
        return None
    return (int(m.group(1)), int(m.group(2)), int(m.group(3) or 0))


def read_table(path):
    table = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            if len(fields) != 3 or version_key(fields[2]) is None:
                sys.exit("%s:%d: expected '<dll> <function> <version>'" % (path, number))
            table[(fields[0].lower(), fields[1])] = fields[2]
    return table


TERMINAL_SERVER_AWARE = 0x8000


def headers_of(text):
    """(major, minor) of the subsystem version and the DllCharacteristics bits."""
    fields = {}
    for line in text.splitlines():
        m = re.match(r"^(MajorSubsystemVersion|MinorSubsystemVersion|DllCharacteristics)\s+(\S+)", line)
        if m:
            fields[m.group(1)] = m.group(2)
    try:
        subsystem = (int(fields["MajorSubsystemVersion"]), int(fields["MinorSubsystemVersion"]))
        characteristics = int(fields["DllCharacteristics"], 16)
    except (KeyError, ValueError):
        return None, None
    return subsystem, characteristics


def imports_of(text):
    """(dll, function) pairs; an ordinal-only import has the function '#<n>'."""
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
    if floor is None:
        sys.exit("bad floor %s: expected e.g. 5.0sp3" % args.floor)
    failed = False
    for binary in args.binaries:
        problems = []
        try:
            text = subprocess.run([args.objdump, "-p", binary], check=True, capture_output=True,
                                  text=True).stdout
        except (OSError, subprocess.CalledProcessError):
            failed = True
            print("FAIL %s: cannot be read" % binary)
            continue
        imports = imports_of(text)
        subsystem, characteristics = headers_of(text)
        if subsystem is None:
            problems.append("no subsystem version or DLL characteristics in the headers")
        else:
            if subsystem > floor[:2]:
                problems.append("subsystem version %d.%d is newer than the floor %s"
                                % (subsystem[0], subsystem[1], args.floor))
            if binary.lower().endswith(".exe") and not characteristics & TERMINAL_SERVER_AWARE:
                problems.append("not marked terminal-server aware")
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
