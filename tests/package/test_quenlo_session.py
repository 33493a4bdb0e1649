#!/usr/bin/env python3
"""packaging/quenlo-session in a tree laid out as an installation (bin/, share/sounder/),
with a stand-in quenlo that reports the folder it was started in and its arguments:
where the working folder is, that the shipped table is copied only when none is there."""

import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SESSION = os.path.join(SOURCE, "packaging", "quenlo-session")
SHIPPED = "shipped table\n"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def install(prefix):
    os.makedirs(os.path.join(prefix, "bin"))
    os.makedirs(os.path.join(prefix, "share", "sounder"))
    shutil.copy(SESSION, os.path.join(prefix, "bin", "quenlo-session"))
    quenlo = os.path.join(prefix, "bin", "quenlo")
    with open(quenlo, "w") as f:
        f.write('#!/bin/sh\npwd\nprintf "%s\\n" "$@"\n')
    os.chmod(quenlo, 0o755)
    with open(os.path.join(prefix, "share", "sounder", "digpot.cfg"), "w") as f:
        f.write(SHIPPED)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        prefix = os.path.join(tmp, "usr")
        install(prefix)
        home = os.path.join(tmp, "home of a user")
        elsewhere = os.path.join(tmp, "elsewhere")
        os.makedirs(elsewhere)
        data = os.path.join(tmp, "data")
        kept = os.path.join(tmp, "kept", "sounder")
        os.makedirs(kept)
        with open(os.path.join(kept, "digpot.cfg"), "w") as f:
            f.write("calibrated table\n")
        # (XDG_DATA_HOME or None for unset, the working folder expected, its table)
        cases = [
            (None, os.path.join(home, ".local", "share", "sounder"), SHIPPED),
            ("", os.path.join(home, ".local", "share", "sounder"), SHIPPED),
            (data, os.path.join(data, "sounder"), SHIPPED),
            # A relative name is no base folder at all: it would depend on where the
            # launcher happens to start.
            ("relative/data", os.path.join(home, ".local", "share", "sounder"), SHIPPED),
            (os.path.join(tmp, "kept"), kept, "calibrated table\n"),
        ]
        for xdg, folder, table in cases:
            env = {"PATH": "/usr/bin:/bin", "HOME": home}
            if xdg is not None:
                env["XDG_DATA_HOME"] = xdg
            r = subprocess.run([os.path.join(prefix, "bin", "quenlo-session"), "-x", "a b"], cwd=elsewhere,
                               env=env, capture_output=True, text=True, timeout=30)
            lines = r.stdout.splitlines()
            check(r.returncode == 0, f"XDG_DATA_HOME={xdg!r}: status {r.returncode}, {r.stderr}")
            check(lines == [folder, "-x", "a b"], f"XDG_DATA_HOME={xdg!r}: quenlo saw {lines}, expected {folder}")
            path = os.path.join(folder, "digpot.cfg")
            check(os.path.isfile(path) and open(path).read() == table, f"XDG_DATA_HOME={xdg!r}: table in {folder}")
            check(sorted(os.listdir(folder)) == ["digpot.cfg"], f"{folder} holds {sorted(os.listdir(folder))}")
            check(not os.path.exists(os.path.join(elsewhere, "relative")), f"XDG_DATA_HOME={xdg!r}: made a folder "
                  "below the folder it was started in")
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
