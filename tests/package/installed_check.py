#!/usr/bin/env python3
"""The installed programs in real windows, started from /usr only: veskar opens the
installed example recording; quenlo-session with a fresh HOME copies the gain table,
starts quenlo there, and keeps an edited table on the second start. Run under Xvfb."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from xsession import CheckFailed, Program, check, log  # noqa: E402

PREFIX = "/usr"


def veskar(tmp):
    app = Program("veskar", PREFIX + "/bin/veskar", tmp, "Delay Profile", tmp)
    try:
        app.wait_for_window(30)
        blank = app.wait_settled((0, 0, 728, 562))
        app.click(15, 10)  # File
        time.sleep(0.4)
        app.keys("Down", "Return")
        dialog = next(iter(app.wait_for_dialog(10)))
        app.fill_dialog(dialog, PREFIX + "/share/sounder/examples/example_recording.txt")
        shot, _ = app.wait_until(lambda s: s.differing(blank, (8, 100, 641, 425)) > 2000, 20,
                                 "the recording drawn")
        app.expect_no_dialog("after File > Open")
        log(f"  veskar: {shot.differing(blank, (0, 0, 728, 562))} pixels differ from the blank window")
    finally:
        app.stop()


def quenlo_session(home, launcher, tmp, edit=None):
    os.environ["HOME"] = home
    os.environ.pop("XDG_DATA_HOME", None)
    app = Program("quenlo", launcher, tmp, "Form1", tmp)
    try:
        elapsed, _ = app.wait_for_window(60)
        app.wait_settled((16, 64, 585, 521))
        app.expect_no_dialog("after start-up")
        log(f"  quenlo via quenlo-session: window after {elapsed:.1f} s, no message box")
    finally:
        app.stop()


def main():
    tmp = tempfile.mkdtemp(prefix="sounder-package-")
    home = os.path.join(tmp, "home")
    os.makedirs(home)
    table = os.path.join(home, ".local", "share", "sounder", "digpot.cfg")
    try:
        veskar(tmp)
        quenlo_session(home, PREFIX + "/bin/quenlo-session", tmp)
        with open(table) as f, open(PREFIX + "/share/sounder/digpot.cfg") as g:
            check(f.read() == g.read(), "quenlo-session did not copy the shipped table")
        with open(table) as f:
            lines = f.read().split("\n")
        lines[0] = lines[0].replace("10", "12", 1)  # still a valid table
        edited = "\n".join(lines)
        with open(table, "w") as f:
            f.write(edited)
        quenlo_session(home, PREFIX + "/bin/quenlo-session", tmp)
        with open(table) as f:
            check(f.read() == edited, "the second start replaced the edited table")
        log("  second start kept the edited table")
    except CheckFailed as e:
        print(f"FAIL: {e}", flush=True)
        print(f"files kept in {tmp}")
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
