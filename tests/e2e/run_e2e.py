#!/usr/bin/env python3
"""End-to-end runs of quenlo and veskar in real windows on a private X server.

Each program is started in its own window under Xvfb (no window manager, so a
window's geometry is its client area), driven with real clicks and keystrokes
(xdotool), and judged only from outside: the files it writes, the clipboard (xclip)
and the window's pixels (ImageMagick import). Exits non-zero with a line saying which
check failed.

  run_e2e.py --quenlo BUILD/acquisition/quenlo --veskar BUILD/viewer/veskar \\
             --source-dir . [--screenshots [DIR]] [--only quenlo|veskar] [--keep]

--screenshots writes docs/quenlo-time-series.png, docs/quenlo-delay-profile.png,
docs/veskar-time-series.png, docs/veskar-delay-profile.png and docs/veskar-waterfall.png
(or into DIR).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# -noreset: each xdotool call is a short-lived client, and a server that resets whenever
# its last client leaves refuses the programs' connections while it does so.
SERVER_ARGS = "-screen 0 1280x1024x24 -noreset"
TOOLS = ("xvfb-run", "xdotool", "xclip", "import")


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--quenlo", required=True, help="the acquisition program")
    p.add_argument("--veskar", required=True, help="the recording viewer")
    p.add_argument("--source-dir", required=True, help="the project's source tree (data/, examples/)")
    p.add_argument("--screenshots", nargs="?", const="", default=None, metavar="DIR",
                   help="save screenshots of both windows (default DIR: SOURCE_DIR/docs)")
    p.add_argument("--only", choices=("quenlo", "veskar"), help="run one program only")
    p.add_argument("--keep", action="store_true", help="keep the temporary folder")
    p.add_argument("--in-xvfb", action="store_true", help=argparse.SUPPRESS)
    return p.parse_args(argv)


def relaunch_in_xvfb(argv):
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("FAIL: missing tools: " + ", ".join(missing), flush=True)
        return 2
    # Concurrent xvfb-run calls all start their search for a free display at 99 and can
    # race for it; a base of our own keeps parallel runs apart.
    base = 100 + os.getpid() % 5000
    command = ["xvfb-run", "-a", "-n", str(base), "-s", SERVER_ARGS, sys.executable, os.path.abspath(__file__), "--in-xvfb", *argv]
    return subprocess.call(command)


def display_is_ours():
    """The private server is up, has the screen asked for and holds no other windows."""
    r = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, timeout=10)
    size = r.stdout.decode().split()
    if r.returncode != 0 or size != ["1280", "1024"]:
        print(f"FAIL: X server on {os.environ.get('DISPLAY')} not usable: {r.stderr.decode().strip()} {size}")
        return False
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], capture_output=True, timeout=10)
    if r.stdout.split():
        print(f"FAIL: X server on {os.environ.get('DISPLAY')} already shows other windows")
        return False
    return True


def main(argv):
    args = parse_args(argv)
    if not args.in_xvfb:
        return relaunch_in_xvfb(argv)

    sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from quenlo_e2e import QuenloRun
    from veskar_e2e import VeskarRun
    from xsession import CheckFailed

    source = os.path.abspath(args.source_dir)
    shots = None
    if args.screenshots is not None:
        shots = os.path.abspath(args.screenshots or os.path.join(source, "docs"))
        os.makedirs(shots, exist_ok=True)
    if not display_is_ours():
        return 1
    tmp = tempfile.mkdtemp(prefix="sounder-e2e-")
    print(f"e2e on display {os.environ.get('DISPLAY')}, temporary folder {tmp}", flush=True)
    runs = [("quenlo", QuenloRun(os.path.abspath(args.quenlo), source, tmp, shots)),
            ("veskar", VeskarRun(os.path.abspath(args.veskar), source, tmp, shots))]
    started = time.monotonic()
    failed = False
    for name, program in runs:
        if args.only and args.only != name:
            continue
        t0 = time.monotonic()
        print(f"{name}:", flush=True)
        try:
            program.run()
            print(f"{name}: passed in {time.monotonic() - t0:.1f} s", flush=True)
        except CheckFailed as e:
            print(f"FAIL: {e}", flush=True)
            failed = True
        except Exception as e:  # a broken tool or a crash of the run itself
            print(f"FAIL: {name} run stopped by {type(e).__name__}: {e}", flush=True)
            failed = True
    print(f"total {time.monotonic() - started:.1f} s: {'FAILED' if failed else 'all checks passed'}", flush=True)
    if args.keep or failed:
        print(f"files kept in {tmp}", flush=True)
    else:
        shutil.rmtree(tmp, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
