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

import math
import os
import random
import sys

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


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = os.path.join(root, "examples", "example_recording.txt")
    args = sys.argv[1:]
    sweeps = SWEEPS
    if "--sweeps" in args:
        at = args.index("--sweeps")
        sweeps = int(args[at + 1])
        del args[at:at + 2]
    if args:
        target = args[0]
    rng = random.Random(SEED)
    lines = [str(sweeps), str(SAMPLES), str(CLOCK_DIVIDER), str(GAIN_DB), "0.0"]
    for sweep in range(sweeps):
        lines.extend("%.4f" % v for v in sweep_samples(rng, sweep))
    with open(target, "w", newline="", encoding="ascii") as out:
        out.write("".join(line + "\r\n" for line in lines))


if __name__ == "__main__":
    main()
