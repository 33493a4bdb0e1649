#!/usr/bin/python3
"""The computation of `sounder analyze` in numpy + pandas, the reference it is timed
against: an acquisition-layout recording read with pandas.read_csv, every sweep's
profile by numpy.fft (4096 samples at divider 2, 2500 zero-padded at divider 4, volts
(code - 2048) / 2048 x 5, power floored at 1e-6), block means of the power, and per
sweep and block the noise floor, peak, SNR, first arrival, mean excess delay, RMS
delay spread, maximum excess delay at 10 and 20 dB, W90 and paths, written as CSV and
as JSON with the median, 10th and 90th percentile over blocks. Written the way a
numpy user would write it: whole arrays at a time, no loop over sweeps.

Usage: analyze_numpy.py FILE OUT.csv OUT.json [--block N]
"""

import json
import sys

import numpy as np
import pandas as pd

THRESHOLD_DB = 20.0
MARGIN_DB = 6.0
NOISE_BINS = (1537, 2048)
FIRST_BIN, LAST_BIN = 3, 2048


def metrics(power):
    """Metrics of profiles given as linear power, shape (n, >= 2049), column k-1 = bin k."""
    noise = power[:, NOISE_BINS[0] - 1:NOISE_BINS[1]]
    floor_db = 10.0 * np.log10(np.median(noise, axis=1))
    db = 10.0 * np.log10(power[:, FIRST_BIN - 1:LAST_BIN])
    bins = np.arange(FIRST_BIN, LAST_BIN + 1)
    peak_at = np.argmax(db, axis=1)
    peak_db = db[np.arange(len(db)), peak_at]
    above = db >= (floor_db + MARGIN_DB)[:, None]
    counts = above & (db >= (peak_db - THRESHOLD_DB)[:, None])
    any_counts = counts.any(axis=1)
    k0 = bins[np.argmax(counts, axis=1)]
    p = np.where(counts, 10.0 ** ((db - peak_db[:, None]) / 10.0), 0.0)
    total = p.sum(axis=1)
    excess = bins[None, :] - k0[:, None]
    with np.errstate(invalid="ignore", divide="ignore"):
        mean = (p * excess).sum(axis=1) / total
        rms = np.sqrt(np.maximum(0.0, (p * excess ** 2).sum(axis=1) / total - mean ** 2))
        cumulative = np.cumsum(p, axis=1)
        w_from = bins[np.argmax(cumulative > 0.05 * total[:, None], axis=1)]
        w_to = bins[np.argmax(cumulative >= 0.95 * total[:, None], axis=1)]

    def last_within(x_db):
        within = above & (db >= (peak_db - x_db)[:, None])
        return bins[len(bins) - 1 - np.argmax(within[:, ::-1], axis=1)] - k0

    before = np.concatenate([power[:, FIRST_BIN - 2:FIRST_BIN - 1], power[:, FIRST_BIN - 1:LAST_BIN - 1]], axis=1)
    after = power[:, FIRST_BIN:LAST_BIN + 1]
    lin = power[:, FIRST_BIN - 1:LAST_BIN]
    paths = (counts & (lin >= before) & (lin > after)).sum(axis=1)
    absent = np.where(any_counts, 1.0, np.nan)
    return {
        "noise_floor_db": floor_db,
        "peak_bin": bins[peak_at],
        "peak_db": peak_db,
        "snr_db": peak_db - floor_db,
        "first_arrival_bin": k0 * absent,
        "mean_excess_bins": mean * absent,
        "rms_spread_bins": rms * absent,
        "max_excess_10db_bins": last_within(10.0) * absent,
        "max_excess_20db_bins": last_within(20.0) * absent,
        "window90_bins": np.maximum(0, w_to - w_from) * absent,
        "counted_bins": counts.sum(axis=1),
        "paths_count": paths,
    }


def main():
    path, csv_out, json_out = sys.argv[1:4]
    block = int(sys.argv[sys.argv.index("--block") + 1]) if "--block" in sys.argv else 5
    with open(path, "rb") as f:
        sweeps_promised, samples = (int(v) for v in f.readline().split(b","))
    codes = pd.read_csv(path, skiprows=4, header=None, dtype=np.uint16).to_numpy()
    sweeps = len(codes) // samples
    codes = codes[:sweeps * samples].reshape(sweeps, samples, 3)
    used = 2500 if samples == 2500 else 4096

    tables, summary = [], []
    for channel in range(3):
        volts = (codes[:, :used, channel].astype(np.float64) - 2048.0) / 2048.0 * 5.0
        spectrum = np.fft.fft(volts, n=4096, axis=1)[:, :LAST_BIN + 1]
        power = np.maximum(spectrum.real ** 2 + spectrum.imag ** 2, 1e-6)
        starts = np.arange(0, sweeps, block)
        block_power = np.add.reduceat(power, starts, axis=0) / np.diff(np.append(starts, sweeps))[:, None]
        for kind, values, first, count in (
            ("sweep", power, np.arange(sweeps) + 1, np.ones(sweeps, dtype=int)),
            ("block", block_power, starts + 1, np.diff(np.append(starts, sweeps))),
        ):
            m = metrics(values)
            table = pd.DataFrame({"file": path, "channel": channel + 1, "kind": kind,
                                  "number": np.arange(len(values)) + 1, "first_sweep": first, "sweeps": count})
            for name, column in m.items():
                table[name] = column
            tables.append(table)
            if kind == "block":
                summary.append({"channel": channel + 1, "metrics": {
                    name: {"median": float(np.nanmedian(column)), "p10": float(np.nanpercentile(column, 10)),
                           "p90": float(np.nanpercentile(column, 90))} for name, column in m.items()}})
    pd.concat(tables).to_csv(csv_out, index=False)
    with open(json_out, "w") as f:
        json.dump({"parameters": {"threshold_db": THRESHOLD_DB, "margin_db": MARGIN_DB, "block_sweeps": block},
                   "files": [{"file": path, "sweeps": sweeps, "channels": summary}]}, f, indent=1)


if __name__ == "__main__":
    main()
