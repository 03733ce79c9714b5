#!/usr/bin/env python3
"""Checks what a built Lornic.dll is, without running it: a PE DLL for the
machine, importing only system DLLs (the runtime is linked in), exporting
CLornic's methods and the unit's entry points, and carrying its version block
(US English, code page 1252) with the suite's strings.

  check_lornic_dll.py CHECK_PE OBJDUMP FILE --machine i386|x86-64
"""

import argparse
import os
import struct
import subprocess
import sys

METHODS = [
    "Constructor", "Destructor", "GetRecordingDeviceEndpointID", "GetPlaybackDeviceEndpointID", "EndpointVolume",
    "GetVolume", "SetVolume", "GetRecordingLevel", "SetRecordingLevel", "GetPlaybackVolume", "SetPlaybackVolume",
    "EndpointMute", "GetMute", "SetMute", "GetPlaybackMute", "SetPlaybackMute", "EndpointAGC", "GetAGC", "SetAGC",
    "FindAllVolumeInterfaces", "GetRecordingGainInterface", "GetGain", "SetGain", "EndpointName",
    "GetRecordingDeviceName", "GetPlaybackDeviceName", "GetDefaultPlaybackDeviceName",
]
STRINGS = {
    "FileDescription": "Lornic support, classes library",
    "FileVersion": "3.76",
    "InternalName": "Lornic",
    "OriginalFilename": "Lornic.dll",
    "ProductName": "Velmora",
    "ProductVersion": "3.76 ",
}


def mangled(name):
    return f"_ZN7CLornic{len(name)}{name}E"


def read_block(data, offset):
    """One version-block node: (key, value bytes, children, end offset)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[pos:pos + value_bytes]
    pos = (pos + value_bytes + 3) & ~3
    children = []
    while pos < end:
        child = read_block(data, pos)
        children.append(child)
        pos = (child[3] + 3) & ~3
    return key, value, children, end


def version_block(path):
    data = open(path, "rb").read()
    start = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    if start < 6:
        return None
    return read_block(data, start - 6)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check_pe")
    parser.add_argument("objdump")
    parser.add_argument("file")
    parser.add_argument("--machine", required=True)
    args = parser.parse_args()
    failures = []

    pe = subprocess.run([sys.executable, args.check_pe, args.objdump, args.file, "--machine", args.machine,
                         "--subsystem", "dll", "--resource", "version:1"], capture_output=True, text=True)
    if pe.returncode != 0:
        failures.append(f"PE check: {pe.stdout.strip()} {pe.stderr.strip()}")

    # objdump speaks the locale's language; what is parsed here is its English.
    dump = subprocess.run([args.objdump, "-p", args.file], capture_output=True, text=True, check=True,
                          env=dict(os.environ, LC_ALL="C", LANGUAGE="C")).stdout
    if "Characteristics" in dump and "DLL" not in dump.split("Characteristics", 1)[1].split("\n\n", 1)[0]:
        failures.append("not flagged as a DLL")
    exports = dump.split("[Ordinal/Name Pointer] Table", 1)[-1] if "[Ordinal/Name Pointer] Table" in dump else ""
    for method in METHODS:
        if mangled(method) not in exports:
            failures.append(f"CLornic::{method} not exported")
    for entry in ("_ZN11Lornicclass10InitializeEv", "_ZN11Lornicclass8FinalizeEv"):
        if entry not in exports:
            failures.append(f"{entry} not exported")
    for ctor in ("_ZN7CLornicC1Ev", "_ZN7CLornicD1Ev"):
        if ctor not in exports:
            failures.append(f"{ctor} not exported")

    block = version_block(args.file)
    if block is None:
        failures.append("no version block")
    else:
        children = {c[0]: c for c in block[2]}
        tables = children.get("StringFileInfo", (None, None, []))[2]
        table = {t[0]: t for t in tables}.get("040904E4") or {t[0]: t for t in tables}.get("040904e4")
        if table is None:
            failures.append(f"no string table 040904E4 (found {[t[0] for t in tables]})")
        else:
            values = {s[0]: s[1].decode("utf-16-le").rstrip("\0") for s in table[2]}
            for key, expected in STRINGS.items():
                if values.get(key) != expected:
                    failures.append(f"{key} is {values.get(key)!r}, not {expected!r}")
        var = {c[0]: c for c in children.get("VarFileInfo", (None, None, []))[2]}
        translation = var.get("Translation")
        if translation is None or struct.unpack_from("<HH", translation[1]) != (0x0409, 1252):
            failures.append("translation is not US English, code page 1252")

    for failure in failures:
        print(f"{args.file}: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
