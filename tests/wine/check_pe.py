#!/usr/bin/env python3
"""Checks what a built Windows binary is, without running it: the machine,
the PE32 format, the subsystem, that it imports only DLLs every Windows
has (the runtime is linked in), and the resources it must carry.

  check_pe.py OBJDUMP FILE --machine i386|x86-64 --subsystem gui|console|dll
              [--resource TYPE[:NAME]]...
"""

import argparse
import os
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "comctl32.dll", "msvcrt.dll", "gdi32.dll", "advapi32.dll",
               "ole32.dll", "crypt32.dll", "winmm.dll", "oleaut32.dll", "shell32.dll"}
SUBSYSTEMS = {"gui": "(Windows GUI)", "console": "(Windows CUI)"}
RESOURCE_TYPES = {"icon": 3, "dialog": 5, "group_icon": 14, "version": 16, "manifest": 24}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("objdump")
    parser.add_argument("file")
    parser.add_argument("--machine", required=True)
    parser.add_argument("--subsystem", required=True)
    parser.add_argument("--resource", action="append", default=[])
    args = parser.parse_args()

    # objdump speaks the locale's language; what is parsed here is its English.
    dump = subprocess.run([args.objdump, "-p", args.file], capture_output=True, text=True, check=True,
                          env=dict(os.environ, LC_ALL="C", LANGUAGE="C")).stdout
    failures = []
    fmt = "pei-i386" if args.machine == "i386" else "pei-x86-64"
    if f"file format {fmt}" not in dump:
        failures.append(f"not {fmt}")
    magic = "(PE32)" if args.machine == "i386" else "(PE32+)"
    if not re.search(r"^Magic\s+\S+\s+" + re.escape(magic), dump, re.M):
        failures.append(f"optional header is not {magic}")
    if args.subsystem in SUBSYSTEMS and not re.search(r"^Subsystem\s+\S+\s+" + re.escape(SUBSYSTEMS[args.subsystem]),
                                                       dump, re.M):
        failures.append(f"subsystem is not {args.subsystem}")
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
    if dlls - SYSTEM_DLLS:
        failures.append(f"imports DLLs that are not part of Windows: {sorted(dlls - SYSTEM_DLLS)}")

    # The resource directory: top-level entries are types, the next level
    # their names or ids.
    types = {}
    current = None
    for line in dump.splitlines():
        m = re.match(r"^[0-9a-f]+( +)Entry: (?:ID: (0x[0-9a-f]+)|name: \[[^\]]*\]: (\S+)), Value", line)
        if not m:
            continue
        depth = len(m.group(1))
        key = int(m.group(2), 16) if m.group(2) else m.group(3).upper()
        if depth == 3:
            current = key
            types.setdefault(current, set())
        elif depth == 5 and current is not None:
            types[current].add(key)
    for wanted in args.resource:
        kind, _, name = wanted.partition(":")
        number = RESOURCE_TYPES[kind]
        if number not in types:
            failures.append(f"no {kind} resource")
        elif name and name.upper() not in types[number] and not (name.isdigit() and int(name) in types[number]):
            failures.append(f"no {kind} resource named {name}")

    for f in failures:
        print(f"{args.file}: {f}")
    if not failures:
        print(f"{args.file}: {fmt}, {args.subsystem}, imports {sorted(dlls)}, resources {args.resource}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
