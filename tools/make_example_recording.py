#!/usr/bin/env python3
"""Writes examples/example_recording.txt: a small recording in the viewer's layout.

Header, one item per line: number of sweeps, samples per sweep, an integer the
viewer does not use, the gain in dB, a real the viewer does not use. Then one
sample in volts per line, sweep after sweep. Every line ends with CR LF.

The samples are the de-ramped output of a swept-frequency sounder: each
propagation path shows up as a tone whose frequency is proportional to its delay,
so the viewer's delay profile has a peak per path. The paths fade slowly from
sweep to sweep, their phases drift, and a little receiver noise is added. The
generator is seeded, so the file is the same on every run.

Usage: make_example_recording.py [OUT] [--sweeps N]   (default: the example, 20 sweeps)
"""

import argparse
import math
import os
import random
import sys
import tempfile

SWEEPS = 20
SAMPLES = 2500          # samples per sweep (a sweep at clock divider 4)
CLOCK_DIVIDER = 4       # the unused integer item
GAIN_DB = 40
SEED = 20240611

# (delay in transform bins of 4096 points, amplitude in volts, fading rate per sweep)
PATHS = [
    (96.0, 0.45, 0.07),
    (143.5, 0.18, 0.11),
    (260.0, 0.10, 0.05),
    (412.25, 0.04, 0.13),
]
NOISE_VOLTS = 0.004
FULL_SCALE = 1.25       # the viewer's time-series scale; samples stay well inside it


def sweep_samples(rng, sweep):
    phases = [rng.uniform(0.0, 2.0 * math.pi) for _ in PATHS]
    fades = [1.0 + 0.2 * math.sin(rate * sweep * 2.0 * math.pi) for _, _, rate in PATHS]
    for n in range(SAMPLES):
        v = rng.gauss(0.0, NOISE_VOLTS)
        for (delay, amplitude, _), phase, fade in zip(PATHS, phases, fades):
            v += amplitude * fade * math.cos(2.0 * math.pi * delay * n / 4096.0 + phase)
        yield max(-FULL_SCALE, min(FULL_SCALE, v))


class Arguments(argparse.ArgumentParser):
    def error(self, message):
        # A usage error is status 1, as with the project's other command-line tools.
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: {message}\n")


def sweep_count(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"'{text}' is not a number of sweeps of 1 or more")
    return value


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = Arguments(prog=os.path.basename(sys.argv[0]), description=__doc__.split("\n")[0])
    parser.add_argument("out", nargs="?", metavar="OUT",
                        default=os.path.join(root, "examples", "example_recording.txt"),
                        help="the file to write (default: examples/example_recording.txt)")
    parser.add_argument("--sweeps", type=sweep_count, default=SWEEPS, metavar="N",
                        help=f"number of sweeps (default {SWEEPS})")
    args = parser.parse_args()
    rng = random.Random(SEED)
    lines = [str(args.sweeps), str(SAMPLES), str(CLOCK_DIVIDER), str(GAIN_DB), "0.0"]
    for sweep in range(args.sweeps):
        lines.extend("%.4f" % v for v in sweep_samples(rng, sweep))
    # Written beside its final name and renamed when whole: an interrupted or failed run
    # leaves no half-written recording behind.
    target = os.path.realpath(args.out)
    temporary = None
    text = "".join(line + "\r\n" for line in lines)
    try:
        if os.path.exists(args.out) and not os.path.isdir(args.out) and not os.path.isfile(args.out):
            # A device or a FIFO (/dev/stdout, a named pipe) is written to directly, in
            # order: renaming a file over it would put a file in its place.
            with open(args.out, "w", newline="", encoding="ascii") as out:
                out.write(text)
            return
        fd, temporary = tempfile.mkstemp(prefix=".snd-", dir=os.path.dirname(target))
        with open(fd, "w", newline="", encoding="ascii") as out:
            out.write(text)
        os.chmod(temporary, 0o666 & ~current_umask())
        os.replace(temporary, target)
    except OSError as e:
        if temporary is not None and os.path.exists(temporary):
            os.unlink(temporary)
        print(f"{parser.prog}: {args.out}: {e.strerror or e}", file=sys.stderr)
        sys.exit(2)


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


if __name__ == "__main__":
    main()
