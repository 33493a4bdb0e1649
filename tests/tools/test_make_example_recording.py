#!/usr/bin/env python3
"""tools/make_example_recording.py as a user runs it: the shipped example is what it
writes, its options are options (never output names), and a refused or failed run
leaves no file behind."""

import os
import stat
import subprocess
import sys
import tempfile
import threading

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(SOURCE, "tools", "make_example_recording.py")
EXAMPLE = os.path.join(SOURCE, "examples", "example_recording.txt")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(cwd, *args):
    return subprocess.run([sys.executable, SCRIPT, *args], cwd=cwd, capture_output=True, text=True, timeout=120)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        with open(EXAMPLE, "rb") as f:
            example = f.read()
        made = os.path.join(tmp, "made.txt")
        r = run(tmp, made)
        check(r.returncode == 0, f"writing the example: status {r.returncode}, {r.stderr}")
        with open(made, "rb") as f:
            check(f.read() == example, "the shipped example is not what the script writes")

        r = run(tmp, "three.txt", "--sweeps", "3")
        with open(os.path.join(tmp, "three.txt"), "rb") as f:
            lines = f.read().split(b"\r\n")
        check(r.returncode == 0 and lines[0] == b"3" and len(lines) == 5 + 3 * 2500 + 1,
              f"--sweeps 3: status {r.returncode}, first line {lines[0]!r}, {len(lines)} pieces")
        os.unlink(os.path.join(tmp, "three.txt"))

        # A FIFO is written to in order and stays a FIFO (a file renamed over it would take
        # its place, and over a device, such as /dev/full, the device's).
        fifo = os.path.join(tmp, "fifo")
        os.mkfifo(fifo)
        got = []
        reader = threading.Thread(target=lambda: got.append(open(fifo, "rb").read()), daemon=True)
        reader.start()
        r = run(tmp, fifo)
        reader.join(timeout=10)
        check(r.returncode == 0 and got == [example], f"a FIFO: status {r.returncode}, {r.stderr}")
        check(stat.S_ISFIFO(os.lstat(fifo).st_mode), "a FIFO as OUT was replaced by a file")
        os.unlink(fifo)

        folder = os.path.join(tmp, "folder")
        os.mkdir(folder)
        # (arguments, status, what stdout or stderr must hold)
        cases = [
            (["--help"], 0, "usage:"),
            (["-h"], 0, "--sweeps N"),
            (["--sweeps"], 1, "expected one argument"),
            (["x.txt", "--sweeps", "0"], 1, "'0' is not a number of sweeps"),
            (["x.txt", "--sweeps", "many"], 1, "'many' is not a number of sweeps"),
            (["--verbose", "x.txt"], 1, "unrecognized arguments"),
            ([folder], 2, "Is a directory"),
            ([os.path.join(tmp, "missing", "x.txt")], 2, "No such file or directory"),
        ]
        for args, status, text in cases:
            before = sorted(os.listdir(tmp))
            r = run(tmp, *args)
            check(r.returncode == status, f"{args}: status {r.returncode}, expected {status}")
            check(text in r.stdout + r.stderr, f"{args}: '{text}' not said: {r.stdout!r} {r.stderr!r}")
            check(sorted(os.listdir(tmp)) == before, f"{args}: left {sorted(set(os.listdir(tmp)) - set(before))}")
            check(os.listdir(folder) == [], f"{args}: wrote into the folder: {os.listdir(folder)}")
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
