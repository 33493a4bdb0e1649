#!/usr/bin/env python3
"""sounder convert --to sigmf, every datatype and layout, with and without a sidecar and
as an archive, checked by tools other than sounder's own: each metadata and collection
file against the SigMF 1.2 schema (jsonschema), the archive through Python's tarfile,
the data through numpy against the recorded codes. What sigmf-python does with them is
mimicked where it reads more than the schema says: the last metadata and data members of an
archive taken as one recording, a stream's name made a metadata file's, a capture's time cut
to microseconds and parsed, the samples counted in whole samples of every channel.

The schema below holds the constraints of the SigMF 1.2.x standard (sigmf.org,
"SigMF 1.2.0") that bear on these files, written out here as JSON Schema (draft 2020-12, jsonschema's default): the
required objects and fields, their types and forms (datatype grammar, version X.Y.Z,
128 hex digits of a SHA-512, RFC 3339 UTC times with the Z offset only, positive sample
rate, GeoJSON points), extension objects of exactly name, version and optional, captures and
annotations with their sample_start, field names namespace:name, and collections of
SigMF Recording Objects (name and hash).

Usage: sigmf_schema_check.py SOUNDER. Exit status 77 (skipped) without jsonschema or numpy."""

import datetime
import hashlib
import json
import re
import os
import subprocess
import sys
import tarfile
import tempfile

try:
    import jsonschema
    import numpy as np
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(77)

FIELD_NAME = r"^[A-Za-z][A-Za-z0-9_]*:[A-Za-z][A-Za-z0-9_]*$"
UINT = {"type": "integer", "minimum": 0}
EXTENSIONS = {
    "type": "array",
    "items": {
        "type": "object",
        "required": ["name", "version", "optional"],
        "additionalProperties": False,
        "properties": {"name": {"type": "string"}, "version": {"type": "string"}, "optional": {"type": "boolean"}},
    },
}
DATETIME = {
    "type": "string",
    "pattern": r"^\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12]\d|3[01])T([01]\d|2[0-3]):[0-5]\d:([0-5]\d|60)(\.\d+)?Z$",
}
# An RFC 7946 GeoJSON point: longitude, latitude (WGS84 degrees) and an optional height (m).
GEOPOINT = {
    "type": "object",
    "required": ["type", "coordinates"],
    "not": {"anyOf": [{"required": ["geometry"]}, {"required": ["properties"]}]},
    "properties": {
        "type": {"const": "Point"},
        "coordinates": {
            "type": "array",
            "minItems": 2,
            "maxItems": 3,
            "items": {"type": "number"},
            "prefixItems": [{"type": "number", "minimum": -180, "maximum": 180},
                            {"type": "number", "minimum": -90, "maximum": 90}],
        },
    },
}
META_SCHEMA = {
    "type": "object",
    "required": ["global", "captures", "annotations"],
    "additionalProperties": False,
    "properties": {
        "global": {
            "type": "object",
            "required": ["core:datatype", "core:version"],
            "propertyNames": {"pattern": FIELD_NAME},
            "properties": {
                "core:datatype": {"type": "string", "pattern": r"^(c|r)((f32|f64|i32|i16|u32|u16)(_le|_be)|i8|u8)$"},
                "core:version": {"type": "string", "pattern": r"^\d+\.\d+\.\d+$"},
                "core:sample_rate": {"type": "number", "exclusiveMinimum": 0, "maximum": 1e12},
                "core:num_channels": {"type": "integer", "minimum": 1},
                "core:sha512": {"type": "string", "pattern": "^[0-9a-fA-F]{128}$"},
                "core:offset": UINT,
                "core:description": {"type": "string"},
                "core:recorder": {"type": "string"},
                "core:hw": {"type": "string"},
                "core:collection": {"type": "string"},
                "core:extensions": EXTENSIONS,
                "core:geolocation": GEOPOINT,
            },
        },
        "captures": {
            "type": "array",
            "minItems": 1,
            "items": {
                "type": "object",
                "required": ["core:sample_start"],
                "propertyNames": {"pattern": FIELD_NAME},
                "properties": {"core:sample_start": UINT, "core:global_index": UINT, "core:datetime": DATETIME,
                               "core:frequency": {"type": "number"}, "core:geolocation": GEOPOINT},
            },
        },
        "annotations": {
            "type": "array",
            "items": {
                "type": "object",
                "required": ["core:sample_start"],
                "propertyNames": {"pattern": FIELD_NAME},
                "properties": {"core:sample_start": UINT, "core:sample_count": UINT, "core:label": {"type": "string"}},
            },
        },
    },
}
COLLECTION_SCHEMA = {
    "type": "object",
    "required": ["collection"],
    "additionalProperties": False,
    "properties": {
        "collection": {
            "type": "object",
            "required": ["core:version"],
            "propertyNames": {"pattern": FIELD_NAME},
            "properties": {
                "core:version": {"type": "string", "pattern": r"^\d+\.\d+\.\d+$"},
                "core:description": {"type": "string"},
                "core:extensions": EXTENSIONS,
                "core:streams": {
                    "type": "array",
                    "items": {
                        "type": "object",
                        "required": ["name", "hash"],
                        "properties": {"name": {"type": "string"}, "hash": {"type": "string", "pattern": "^[0-9a-f]{128}$"}},
                    },
                },
            },
        }
    },
}

PROMISED, SAMPLES, WHOLE, EXTRA = 3, 2500, 2, 700
RATE = 2_500_000
START_POSITION = {"latitude_deg": 48.1234567, "longitude_deg": -11.7654321, "altitude_m": 592.25, "mode": "3D",
                  "age_s": 0.25}


def codes():
    line = np.arange(WHOLE * SAMPLES + EXTRA)
    return np.stack([line % 4096, (line * 7) % 4096, 4095 - line % 4096], axis=1)


def write_recording(folder, with_sidecar):
    c = codes()
    text = f"{PROMISED},{SAMPLES}\r\n31\r\n10,20,30\r\n0.0\r\n" + "".join(f"{a},{b},{d}\r\n" for a, b, d in c)
    data = text.encode()
    path = os.path.join(folder, "rec.txt")
    with open(path, "wb") as f:
        f.write(data)
    if not with_sidecar:
        return
    pots = [{"number": n, "value": None} for n in range(16)]
    sidecar = {
        "schema": "sounder.recording/1",
        "software": {"name": "quenlo", "version": "1.0.0"},
        "board_library": {"path": "/usr/lib/sounder/libcbw32.so", "simulated": True},
        "scan_started_utc": "2026-12-08T23:59:59.999999Z",
        "written_utc": "2026-12-09T00:00:02.000Z",
        "recording": "rec.txt",
        "settings": {"num_sweeps": PROMISED, "sweep_samples": SAMPLES, "attenuation": 31, "gains": [10, 20, 30],
                     "clock_divider": 4},
        "front_end": {"divider_code": 3, "sweep_count": PROMISED, "attenuation_db": 31, "attenuator_code": 31,
                      "channels": [{"channel": c + 1, "requested_gain_db": None, "table_gain_db": None,
                                    "table_row": None, "pot_a": pots[2 * c], "pot_b": pots[2 * c + 1]}
                                   for c in range(3)],
                      "pots": [None] * 16, "clocks_per_sweep": None},
        "scan": {"samples": 4 * 20000, "scan_rate_hz": RATE, "channels": ["ch 1", "ch 2", "ch 3", "marker"],
                 "range_volts": [-5, 5], "code_bits": 12, "code_to_volts": "(code - 2048) / 2048 * 5",
                 "marker_threshold_code": 2800, "samples_per_sweep": SAMPLES},
        "position": {"start": START_POSITION, "start_reason": None, "end": None, "end_reason": "no fix"},
        "sweeps": {"requested": PROMISED, "written": WHOLE, "start_groups": [10, 10 + SAMPLES]},
        "result": {"status": "FAILED", "reason": "Ran off end of data array", "lines": 4 + len(c),
                   "bytes": len(data), "sha256": hashlib.sha256(data).hexdigest(),
                   "channels": [{"channel": k + 1, "lowest_code": 0, "highest_code": 4095, "clipped": 0}
                                for k in range(3)]},
    }
    with open(path + ".meta.json", "w") as f:
        json.dump(sidecar, f)


def reader_datetime(text):
    """A capture's time as sigmf-python's parse_iso8601_datetime reads it: more than six digits
    of a second cut to six, then strptime."""
    match = re.match(r"^(?P<dt>.*)(?P<frac>\.[0-9]{7,})Z$", text)
    if match:
        text = match["dt"] + match["frac"][:7] + "Z"
    form = "%Y-%m-%dT%H:%M:%S.%fZ" if "." in text else "%Y-%m-%dT%H:%M:%SZ"
    return datetime.datetime.strptime(text, form)


def reader_meta_name(name):
    """The metadata file a collection's stream names, as sigmf-python's get_sigmf_filenames
    makes it (a SigMF suffix of the name replaced, any other kept)."""
    stem, dot, suffix = name.rpartition(".")
    if dot and "/" not in suffix and "." + suffix in (".sigmf-data", ".sigmf-meta", ".sigmf", ".sigmf-collection"):
        name = stem
    return name + ".sigmf-meta"


def check_recording(label, meta_bytes, data_bytes, datatype, channels, with_sidecar):
    meta = json.loads(meta_bytes)
    jsonschema.validate(meta, META_SCHEMA)
    g = meta["global"]
    assert g["core:datatype"] == datatype, label
    assert g.get("core:num_channels", 1) == len(channels), label
    assert g["core:sha512"] == hashlib.sha512(data_bytes).hexdigest(), label
    assert g["sounder:sweeps_missing"] == PROMISED - WHOLE, label
    declared = {e["name"] for e in g.get("core:extensions", [])}
    for key in list(g) + [k for c in meta["captures"] for k in c] + [k for a in meta["annotations"] for k in a]:
        assert key.split(":")[0] in declared | {"core"}, f"{label}: {key} of an undeclared namespace"
    if with_sidecar:
        assert g["core:sample_rate"] == RATE, label
        assert meta["captures"][0]["core:datetime"] == "2026-12-09T00:00:00.000003000Z", label
        assert reader_datetime(meta["captures"][0]["core:datetime"]) == datetime.datetime(2026, 12, 9, 0, 0, 0, 3), label
        assert "core:hw" in g, label
        point = {"type": "Point", "coordinates": [-11.7654321, 48.1234567, 592.25]}
        assert g["core:geolocation"] == point, label
        assert all(c["core:geolocation"] == point for c in meta["captures"]), label
    else:
        assert "core:sample_rate" not in g and "core:datetime" not in meta["captures"][0], label
        assert "core:geolocation" not in g and all("core:geolocation" not in c for c in meta["captures"]), label
    # As sigmf-python counts samples: whole samples of every channel, none short of the last annotation.
    samples, remainder = divmod(len(data_bytes), {"rf32_le": 4}.get(datatype, 2) * len(channels))
    assert remainder == 0, label
    assert all(a["core:sample_start"] + a.get("core:sample_count", 0) <= samples for a in meta["annotations"]), label
    starts = [x["core:sample_start"] for x in meta["captures"]]
    assert starts == sorted(starts) and starts[-1] < max(samples, 1), label
    assert all(len(a.get("core:label", "")) <= 20 for a in meta["annotations"]), label
    dtype = {"rf32_le": "<f4", "ri16_le": "<i2", "ru16_le": "<u2"}[datatype]
    values = np.frombuffer(data_bytes, dtype=dtype).reshape(-1, len(channels)).astype(np.float64)
    back = {"rf32_le": values / 5 * 2048 + 2048, "ri16_le": values + 2048, "ru16_le": values}[datatype]
    expected = codes()[: WHOLE * SAMPLES, channels]
    assert np.array_equal(back, expected), f"{label}: values do not give back the codes"


def main():
    sounder = sys.argv[1]
    layouts = [([], ["rec"], [[0, 1, 2]]),
               (["--layout", "collection"], ["rec-ch1", "rec-ch2", "rec-ch3"], [[0], [1], [2]]),
               (["--channel", "3"], ["rec-ch3"], [[2]])]
    checked = 0
    for with_sidecar in (False, True):
        for datatype in ("rf32_le", "ri16_le", "ru16_le"):
            for options, streams, channels in layouts:
                for archive in (False, True):
                    label = f"{datatype} {' '.join(options)}{' --archive' if archive else ''} sidecar={with_sidecar}"
                    with tempfile.TemporaryDirectory() as folder:
                        write_recording(folder, with_sidecar)
                        args = [sounder, "convert", "rec.txt", "--to", "sigmf", "--datatype", datatype] + options
                        run = subprocess.run(args + (["--archive"] if archive else []), cwd=folder,
                                             capture_output=True, text=True)
                        assert run.returncode == 0, f"{label}: {run.stderr}"
                        assert "converted without it" not in run.stderr, f"{label}: {run.stderr}"
                        if archive:
                            with tarfile.open(os.path.join(folder, "rec.sigmf")) as tar:
                                assert tar.getmembers()[0].isdir() and tar.getmembers()[0].name == "rec", label
                                files = {m.name: tar.extractfile(m).read() for m in tar.getmembers() if m.isfile()}
                                # sigmf-python's archive reader takes the last metadata and the last data
                                # member as one recording: they are one recording's pair, its data first.
                                names = [m.name for m in tar.getmembers() if m.isfile()]
                                meta_at = max(i for i, n in enumerate(names) if n.endswith(".sigmf-meta"))
                                data_at = max(i for i, n in enumerate(names) if n.endswith(".sigmf-data"))
                                assert data_at < meta_at, label
                                assert names[meta_at][: -len("meta")] == names[data_at][: -len("data")], label
                            files = {name[len("rec/"):]: data for name, data in files.items()}
                        else:
                            files = {}
                            for name in os.listdir(folder):
                                if ".sigmf" in name:
                                    with open(os.path.join(folder, name), "rb") as f:
                                        files[name] = f.read()
                        expected = {s + ext for s in streams for ext in (".sigmf-meta", ".sigmf-data")}
                        if len(streams) > 1:
                            expected.add("rec.sigmf-collection")
                        assert set(files) == expected, f"{label}: {sorted(files)}"
                        for s, ch in zip(streams, channels):
                            check_recording(f"{label} {s}", files[s + ".sigmf-meta"], files[s + ".sigmf-data"],
                                            datatype, ch, with_sidecar)
                            checked += 1
                        if len(streams) > 1:
                            collection = json.loads(files["rec.sigmf-collection"])
                            jsonschema.validate(collection, COLLECTION_SCHEMA)
                            streams_named = collection["collection"]["core:streams"]
                            assert [x["name"] for x in streams_named] == streams, label
                            for x in streams_named:
                                meta_file = reader_meta_name(x["name"])
                                assert x["hash"] == hashlib.sha512(files[meta_file]).hexdigest(), label
    print(f"sigmf_schema_check: {checked} recordings valid against the SigMF 1.2 constraints")


if __name__ == "__main__":
    main()
