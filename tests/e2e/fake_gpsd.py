"""A real gpsd for the end-to-end run: gpsfake (Debian gpsd-clients) replays an NMEA
log of a fixed place on a free local port, over and over, until stopped."""

import os
import shutil
import signal
import socket
import subprocess
import time

# Where the log puts the receiver: WGS84 degrees, metres above the geoid and the geoid's
# height above the ellipsoid (the sidecar's altitude is above the ellipsoid).
LATITUDE, LONGITUDE, ALTITUDE_MSL, GEOID = 52.5163, 13.3777, 34.0, 39.4


def missing():
    """Why gpsfake cannot run here, or None."""
    if not shutil.which("gpsfake"):
        return "gpsfake is not installed (Debian gpsd-clients; tools/install_deps.sh --all)"
    path = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    if not shutil.which("gpsd", path=path):
        return "gpsd is not installed (Debian gpsd; tools/install_deps.sh --all)"
    return None


def sentence(body):
    checksum = 0
    for c in body.encode("ascii"):
        checksum ^= c
    return f"${body}*{checksum:02X}\r\n"


def angle(value, latitude):
    hemisphere = ("N" if value >= 0 else "S") if latitude else ("E" if value >= 0 else "W")
    value = abs(value)
    whole = int(value)
    minutes = (value - whole) * 60.0
    return (f"{whole:02d}{minutes:09.6f}" if latitude else f"{whole:03d}{minutes:09.6f}") + "," + hemisphere


def nmea_log(seconds=60):
    lat, lon = angle(LATITUDE, True), angle(LONGITUDE, False)
    text = ""
    for s in range(seconds):
        hms = f"12{s // 60:02d}{s % 60:02d}.00"
        text += sentence(f"GPRMC,{hms},A,{lat},{lon},000.0,000.0,010625,,")
        text += sentence(f"GPGGA,{hms},{lat},{lon},1,08,0.9,{ALTITUDE_MSL:.1f},M,{GEOID:.1f},M,,")
        text += sentence("GPGSA,A,3,04,05,09,12,17,20,24,28,,,,,1.8,0.9,1.5")
    return text


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    """Whether a gpsd greets a client on the port with its VERSION report."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
            return b'"class":"VERSION"' in s.recv(256)
    except OSError:
        return False


class FakeGpsd:
    def __init__(self, folder):
        self.folder, self.process, self.port = folder, None, None

    def start(self):
        log_path = os.path.join(self.folder, "drive.nmea")
        with open(log_path, "w", newline="") as f:
            f.write(nmea_log())
        # gpsfake names gpsd's control socket after its own pid in TMPDIR and takes an existing
        # file of that name for gpsd being ready: one left in /tmp by an earlier gpsfake of the
        # same pid would leave gpsd without the log's device. A folder of its own avoids it.
        sockets = os.path.join(self.folder, "gpsfake-tmp")
        os.makedirs(sockets, exist_ok=True)
        env = dict(os.environ, PATH=os.environ.get("PATH", "") + ":/usr/sbin:/sbin", TMPDIR=sockets)
        for _ in range(3):  # a port taken between choosing and binding it: another one
            self.port = free_port()
            # -n: fed from the start, not from the first client on; -c: a sentence every 0.1 s.
            self.process = subprocess.Popen(["gpsfake", "-q", "-n", "-c", "0.1", "-P", str(self.port), log_path],
                                            cwd=self.folder, env=env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL, start_new_session=True)
            end = time.monotonic() + 10
            while time.monotonic() < end and self.process.poll() is None:
                if answers(self.port):
                    return True
                time.sleep(0.1)
            self.stop()
        return False

    def stop(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(2)
        self.process = None
