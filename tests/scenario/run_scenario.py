#!/usr/bin/env python3
"""Runs Vastel scenarios: the whole program in a fresh recorder directory,
driven as a person would, on either target.

  linux: the native program; its boxes go to the scripted front end
         (VELMORA_UI_SCRIPT / VELMORA_UI_TRANSCRIPT).
  wine:  Vastel.exe under Wine; the Win32 UI driver finds each box, records
         it and presses the scripted button. Run inside scripts/wine-env.sh.

Both targets write the same transcript, so one scenario file holds both to
the same boxes, log lines and bytes on disk.

Scenario files (UTF-8; compared as Windows-1251):
  # comment
  file NAME            content lines up to a line "end", written with CR LF
  dir NAME             an empty directory
  hold-mutex           the recorder's guard mutex is held by another process
  box ANSWER | CAPTION | TEXT | BUTTONS ICON MODALITY
                       the next box, and the button pressed on it
  exit CODE            the program's exit code
  log NAME             the texts of the log's lines (time stamps checked and
                       dropped) up to a line "end"
  absent NAME          no such file after the run
  unchanged            every file is as before the run, and nothing is new
  security NAME admin=A operator=O right=R
                       a security file written by the project's writer
                       (--secwriter), checked against the format laid out
                       here by hand, and placed as NAME
  copy NAME FROM       NAME a copy of the file FROM (both in the directory)
  damage NAME OFFSET   the byte at OFFSET of NAME inverted
  same NAME OTHER      after the run, the two files are equal byte for byte
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

GUARD = "Global\\Korvo - Guard Program, Started indicator for application Korvo"
STAMP = re.compile(rb"\[\d\d-\d\d-\d{4}  \d\d:\d\d\.\d\d\]\.\.\d{3}\]  ")


def cp1251(text):
    return text.encode("cp1251")


class Scenario:
    def __init__(self, path):
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.files = []      # (name, bytes or None for a directory)
        self.hold_mutex = False
        self.boxes = []      # (answer, [caption, text, buttons, icon, modality])
        self.exit_code = 0
        self.logs = []       # (name, [texts])
        self.absent = []
        self.unchanged = False
        self.prepare = []    # (directive, fields), after the files, in order
        self.same = []       # (name, other)
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        i = 0
        while i < len(lines):
            line = lines[i]
            i += 1
            if not line.strip() or line.startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            if word in ("file", "log"):
                block = []
                while lines[i] != "end":
                    block.append(lines[i])
                    i += 1
                i += 1
                if word == "file":
                    self.files.append((rest, b"".join(cp1251(l) + b"\r\n" for l in block)))
                else:
                    self.logs.append((rest, [cp1251(l) for l in block]))
            elif word == "dir":
                self.files.append((rest, None))
            elif word == "hold-mutex":
                self.hold_mutex = True
            elif word == "box":
                parts = rest.split(" | ")
                if len(parts) != 4:
                    raise SystemExit(f"{path}: bad box line: {line}")
                answer, caption, text, kinds = parts
                buttons, icon, modality = kinds.split()
                self.boxes.append((answer, [cp1251(caption), cp1251(text), buttons.encode(),
                                            icon.encode(), modality.encode()]))
            elif word == "exit":
                self.exit_code = int(rest)
            elif word == "absent":
                self.absent.append(rest)
            elif word in ("security", "copy", "damage"):
                self.prepare.append((word, rest.split(" ")))
            elif word == "same":
                self.same.append(tuple(rest.split(" ", 1)))
            elif word == "unchanged":
                self.unchanged = True
            else:
                raise SystemExit(f"{path}: unknown line: {line}")


def snapshot(root):
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for d in dirnames:
            state[os.path.relpath(os.path.join(dirpath, d), root) + "/"] = None
        for n in filenames:
            p = os.path.join(dirpath, n)
            with open(p, "rb") as f:
                state[os.path.relpath(p, root)] = f.read()
    return state


def unescape(field):
    out = bytearray()
    i = 0
    while i < len(field):
        c = field[i:i + 1]
        if c == b"\\" and i + 1 < len(field):
            out += {b"t": b"\t", b"r": b"\r", b"n": b"\n", b"\\": b"\\"}.get(field[i + 1:i + 2], field[i + 1:i + 2])
            i += 2
        else:
            out += c
            i += 1
    return bytes(out)


def read_transcript(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [line.split(b"\t") for line in f.read().split(b"\n") if line]


def wine():
    # The loader scripts/wine-env.sh chose for this host.
    return os.environ.get("WINE", "wine")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Holder:
    """Holds the guard mutex from another process for the length of a run."""

    def __init__(self, command, env):
        self.process = subprocess.Popen(command + [GUARD], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env=env)
        answer = self.process.stdout.readline().strip()
        if answer != b"held":
            raise RuntimeError(f"the guard mutex could not be taken for the test: {answer!r}")

    def release(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)


def run_linux(args, scenario, work, env):
    script = os.path.join(work.outside, "ui-script")
    transcript = os.path.join(work.outside, "transcript")
    with open(script, "w", encoding="utf-8") as f:
        f.writelines(f"box {answer}\n" for answer, _ in scenario.boxes)
    env = dict(env, VELMORA_UI_SCRIPT=script, VELMORA_UI_TRANSCRIPT=transcript)
    holder = Holder([args.holder], env) if scenario.hold_mutex else None
    try:
        result = subprocess.run([args.vastel], cwd=work.root, env=env, stdin=subprocess.DEVNULL, timeout=60)
    finally:
        if holder:
            holder.release()
    return result.returncode, read_transcript(transcript)


def run_wine(args, scenario, work, env):
    script = os.path.join(work.outside, "ui-script")
    transcript = os.path.join(work.outside, "transcript")
    drained = os.path.join(work.outside, "drained")
    with open(script, "w", encoding="utf-8") as f:
        f.writelines(f"box {answer}\n" for answer, _ in scenario.boxes)
    holder = Holder([wine(), args.holder], env) if scenario.hold_mutex else None
    try:
        program = subprocess.Popen([wine(), args.vastel], cwd=work.root, env=env, stdin=subprocess.DEVNULL)
        driver = subprocess.run([wine(), args.driver, windows_path(script), windows_path(transcript)],
                                env=env, stdin=subprocess.DEVNULL, timeout=120)
        try:
            code = program.wait(timeout=30 if driver.returncode == 0 else 5)
        except subprocess.TimeoutExpired:
            # Boxes nobody expected: record them, close them, and let the
            # program end.
            with open(script, "w") as f:
                f.write("drain 3000\n")
            subprocess.run([wine(), args.driver, windows_path(script), windows_path(drained)], env=env,
                           stdin=subprocess.DEVNULL, timeout=60)
            try:
                code = program.wait(timeout=10)
            except subprocess.TimeoutExpired:
                program.kill()
                code = "killed (did not end)"
    finally:
        if holder:
            holder.release()
    return code, read_transcript(transcript) + read_transcript(drained)


class WorkDir:
    def __init__(self):
        self.base = tempfile.mkdtemp(prefix="vastel-scenario-")
        self.root = os.path.join(self.base, "recorder")
        self.outside = os.path.join(self.base, "run")
        self.mutexes = os.path.join(self.base, "mutexes")
        for d in (self.root, self.outside, self.mutexes):
            os.mkdir(d)


# Where the security file's settings words stand in the file.
SECURITY_WORD_ORDER = (0, 2, 1, 3, 4, 5, 10, 6, 7, 8, 9)


def security_layout(data, admin, operator, right):
    """The security file for these values, laid out by hand over the filler
    and with the key of the file given."""
    key = int.from_bytes(data[10:14], "little")
    out = bytearray(data)
    out[0:8] = b"Security"
    words = [1] * 11
    words[8] = right
    fields = [admin.ljust(16, b"\0"), operator.ljust(16, b"\0")]
    fields += [(words[i] & 0xFFFFFFFF).to_bytes(4, "little") for i in SECURITY_WORD_ORDER]
    cursor = 30
    for field in fields:
        for i, b in enumerate(field):
            if i in (0, 8):
                shift = key
            cursor += (shift & 0xF) + 1
            shift >>= 4
            t = ((((b + i + 100) & 0xFF) ^ (4 * i)) - i) & 0xFF
            out[cursor] = ((t >> 1) | (t << 7)) & 0xFF
            cursor += 1
    total = sum(int.from_bytes(out[4 * w:4 * w + 4], "little") for w in range(360) if w != 5)
    out[20:24] = (total & 0xFFFFFFFF).to_bytes(4, "little")
    return bytes(out)


def prepare(args, scenario, work):
    """The security files and the copies and damage of the scenario;
    what went wrong, if anything."""
    failures = []
    for word, fields in scenario.prepare:
        if word == "security":
            values = dict(f.split("=", 1) for f in fields[1:])
            admin, operator = cp1251(values["admin"]), cp1251(values["operator"])
            right = int(values["right"])
            scratch = tempfile.mkdtemp(dir=work.outside)
            # The passwords reach the writer in code page 1251: as bytes on
            # Linux; under Wine as text, which Wine gives the program in the
            # ANSI code page.
            if args.target == "wine":
                command = [os.environ.get("WINE", "wine"), args.secwriter, values["admin"], values["operator"],
                           str(right)]
            else:
                command = [args.secwriter.encode(), admin, operator, str(right).encode()]
            env = dict(os.environ, VELMORA_MACHINE_KEY=os.path.join(work.outside, "machine.key"))
            result = subprocess.run(command, cwd=scratch, env=env, stdin=subprocess.DEVNULL, timeout=60)
            written = os.path.join(scratch, "SecurInf.cfg")
            if result.returncode != 0 or not os.path.exists(written):
                failures.append(f"security {fields[0]}: the writer failed ({result.returncode})")
                continue
            with open(written, "rb") as f:
                data = f.read()
            key = int.from_bytes(data[10:14], "little")
            if len(data) != 1440 or key & 0x80008000 or data != security_layout(data, admin, operator, right):
                failures.append(f"security {fields[0]}: the writer's file is not the format's layout")
            with open(os.path.join(work.root, fields[0]), "wb") as f:
                f.write(data)
        elif word == "copy":
            shutil.copyfile(os.path.join(work.root, fields[1]), os.path.join(work.root, fields[0]))
        elif word == "damage":
            full = os.path.join(work.root, fields[0])
            with open(full, "r+b") as f:
                f.seek(int(fields[1], 0))
                b = f.read(1)
                f.seek(int(fields[1], 0))
                f.write(bytes([b[0] ^ 0xFF]))
    return failures


def check(scenario, code, transcript, work, before):
    failures = []
    if code != scenario.exit_code:
        failures.append(f"exit code {code}, expected {scenario.exit_code}")
    expected = [[b"box"] + fields + [answer.encode()] for answer, fields in scenario.boxes]
    actual = [[row[0]] + [unescape(f) for f in row[1:3]] + row[3:] for row in transcript]
    for n in range(max(len(expected), len(actual))):
        want = expected[n] if n < len(expected) else None
        got = actual[n] if n < len(actual) else None
        ok = want is not None and got is not None and len(want) == len(got) and all(
            g == b"?" or g == w for w, g in zip(want, got))
        if not ok:
            show = lambda row: None if row is None else [f.decode("cp1251", "replace") for f in row]
            failures.append(f"box {n + 1}: expected {show(want)}, got {show(got)}")
    for name, texts in scenario.logs:
        path = os.path.join(work.root, name.replace("\\", "/"))
        if not os.path.exists(path):
            failures.append(f"log {name} missing")
            continue
        with open(path, "rb") as f:
            content = f.read()
        lines = content.split(b"\r\n")
        if lines[-1] != b"":
            failures.append(f"log {name}: last line does not end with CR LF")
        got = []
        for line in lines[:-1]:
            m = STAMP.match(line)
            if not m:
                failures.append(f"log {name}: line without its time stamp: {line!r}")
            got.append(line[m.end():] if m else line)
        if got != texts:
            failures.append(f"log {name}: expected {[t.decode('cp1251') for t in texts]}, "
                            f"got {[g.decode('cp1251', 'replace') for g in got]}")
    for name, other in scenario.same:
        paths = [os.path.join(work.root, n) for n in (name, other)]
        if not all(os.path.exists(p) for p in paths):
            failures.append(f"{name} or {other} missing")
        elif open(paths[0], "rb").read() != open(paths[1], "rb").read():
            failures.append(f"{name} and {other} differ")
    for name in scenario.absent:
        if os.path.exists(os.path.join(work.root, name)):
            failures.append(f"{name} exists")
    if scenario.unchanged:
        after = snapshot(work.root)
        if after != before:
            changed = sorted(set(after) ^ set(before) | {k for k in after if k in before and after[k] != before[k]})
            failures.append(f"files changed: {changed}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", choices=("linux", "wine"), required=True)
    parser.add_argument("--vastel", required=True)
    parser.add_argument("--holder", required=True)
    parser.add_argument("--driver")
    parser.add_argument("--secwriter", help="the security file writer, for the security directive")
    parser.add_argument("--keep", action="store_true", help="keep the recorder directory")
    parser.add_argument("scenarios", nargs="+")
    args = parser.parse_args()
    args.vastel = os.path.abspath(args.vastel)
    args.holder = os.path.abspath(args.holder)
    if args.driver:
        args.driver = os.path.abspath(args.driver)
    if args.secwriter:
        args.secwriter = os.path.abspath(args.secwriter)

    failed = 0
    for path in args.scenarios:
        scenario = Scenario(path)
        work = WorkDir()
        for name, content in scenario.files:
            full = os.path.join(work.root, name)
            if content is None:
                os.makedirs(full, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(full), exist_ok=True)
                with open(full, "wb") as f:
                    f.write(content)
        setup_failures = prepare(args, scenario, work)
        before = snapshot(work.root)
        # Each Linux run has its own mutex namespace, so runs side by side
        # never see each other; Wine runs share the prefix's and go one by one.
        env = dict(os.environ, VELMORA_MUTEX_DIR=work.mutexes,
                   VELMORA_MACHINE_KEY=os.path.join(work.outside, "machine.key"))
        started = time.monotonic()
        run = run_linux if args.target == "linux" else run_wine
        code, transcript = run(args, scenario, work, env)
        failures = setup_failures + check(scenario, code, transcript, work, before)
        took = time.monotonic() - started
        if failures:
            failed += 1
            print(f"FAIL {scenario.name} [{args.target}] ({took:.2f} s)")
            for f in failures:
                print(f"  {f}")
            print(f"  recorder directory kept: {work.root}")
        else:
            print(f"ok   {scenario.name} [{args.target}] ({took:.2f} s)")
            if not args.keep:
                shutil.rmtree(work.base, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
