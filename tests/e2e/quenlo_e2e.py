"""quenlo in a real window on the simulated board: start-up values, Show in both views,
the channel choice, two recordings and an Auto Adjust, all judged from outside."""

import hashlib
import json
import os
import re
import shutil
import time

import fake_gpsd
from xsession import Program, check, log

# Window coordinates of the controls: the window has no menu, so its client area starts
# at the window's corner; controls inside a group are placed from the group's corner.
GRAPHS = (8, 40)
SETTINGS = (680, 16)


def inside(group, x, y, w, h):
    return (group[0] + x, group[1] + y, w, h)


MESSAGE_LINE = (4, 4, 585, 25)  # Panel2 (0, 0, 593 x 33) less its frame
CHART = inside(GRAPHS, 8, 24, 585, 521)
RADIO_GROUP = inside(GRAPHS, 592, 16, 57, 217)
VIEW_BUTTON = inside(GRAPHS, 592, 248, 65, 25)
EDIT = {n: inside(SETTINGS, 120, top, 57, 21) for n, top in
        ((1, 24), (2, 48), (3, 96), (4, 120), (5, 144), (6, 168))}
AUTO_ADJUST = inside(SETTINGS, 104, 352, 65, 25)
SHOW = inside(SETTINGS, 104, 384, 65, 25)
EXIT = inside(SETTINGS, 104, 416, 65, 25)
ACQUIRE = inside(SETTINGS, 16, 504, 81, 25)
# The GPS line: with a live gpsd the fix's age in it changes by itself every second or so.
GPS_LINE = inside(SETTINGS, 8, 456, 201, 17)

RED, YELLOW, AQUA, WHITE, LIME = (255, 0, 0), (255, 255, 0), (0, 255, 255), (255, 255, 255), (0, 255, 0)
COLOUR_NAMES = {RED: "red", YELLOW: "yellow", AQUA: "aqua", WHITE: "white", LIME: "lime"}

CURVES = {
    "red": lambda c: c[0] >= 200 and c[1] <= 60 and c[2] <= 60,
    "green": lambda c: c[0] <= 60 and 90 <= c[1] <= 170 and c[2] <= 60,
    "yellow": lambda c: c[0] >= 200 and c[1] >= 200 and c[2] <= 60,
}


def curve_counts(shot):
    return {name: shot.count(CHART, test) for name, test in CURVES.items()}


def message_colour(shot):
    return shot.dominant(MESSAGE_LINE)


def colour_name(c):
    return COLOUR_NAMES.get(c, "rgb%s" % (c,))


def radio_item(i):
    # The four items are spread over the group's height.
    x, y, _, _ = RADIO_GROUP
    return (x + 14, y + 30 + 48 * i)


class QuenloRun:
    def __init__(self, binary, source_dir, tmp, screenshots):
        self.source_dir, self.tmp, self.screenshots = source_dir, tmp, screenshots
        self.workdir = os.path.join(tmp, "quenlo-cwd")
        self.recordings = os.path.join(tmp, "recordings")
        os.makedirs(self.workdir)
        os.makedirs(self.recordings)
        shutil.copy(os.path.join(source_dir, "data", "digpot.cfg"), self.workdir)
        self.binary = binary
        self.colours_seen = []

    def note_colour(self, when, shot):
        c = message_colour(shot)
        self.colours_seen.append(f"{when}: {colour_name(c)}")
        return c

    def wait_message_colour(self, colour, timeout, what):
        shot, waited = self.app.wait_until(lambda s: message_colour(s) == colour, timeout,
                                           f"{colour_name(colour)} message line {what}")
        self.note_colour(what, shot)
        return shot, waited

    def run(self):
        # A gpsd replaying a fixed place, where gpsd and gpsfake are installed; otherwise a
        # port nobody listens on, so that a gpsd of this machine plays no part.
        self.gpsd = None
        why = fake_gpsd.missing()
        if why is None:
            self.gpsd = fake_gpsd.FakeGpsd(self.tmp)
            if not self.gpsd.start():
                why, self.gpsd = "gpsfake did not start", None
        port = self.gpsd.port if self.gpsd else fake_gpsd.free_port()
        log(f"  gpsd: gpsfake on port {port}" if self.gpsd else f"  gpsd: none ({why}); position checked to be null")
        self.app = Program("quenlo", self.binary, self.workdir, "Form1", self.tmp,
                           {"SOUNDER_GPSD": f"127.0.0.1:{port}"})
        try:
            self.run_steps()
        finally:
            if self.gpsd:
                self.gpsd.stop()

    def run_steps(self):
        try:
            self.start_up()
            self.show_refused()
            self.show_both_views()
            first = self.acquire("first.txt")
            self.check_recording(first, "0", ("30", "30", "30"))
            # The header says 0 dB; the front-end still holds the 31 dB start-up sent.
            self.check_sidecar(first, 31)
            self.auto_adjust()
            settings = [self.app.read_text(EDIT[n]) for n in (3, 4, 5, 6)]
            for value in settings:
                check(re.fullmatch(r"-?\d+", value), f"quenlo: a setting box holds '{value}' after Auto Adjust")
            log(f"  after Auto Adjust: attenuation {settings[0]}, gains {','.join(settings[1:])}")
            second = self.acquire("second.txt")
            # Acquire applies a pending attenuation above 31 dB as 31.
            self.check_recording(second, str(min(int(settings[0]), 31)), tuple(settings[1:]))
            # Auto Adjust measures with the attenuator at the setting: the front-end then
            # holds what the header says (31 dB at most), not the 31 dB of start-up.
            self.check_sidecar(second, min(int(settings[0]), 31))
            self.show_after_adjust()
            log("  message line along the way: " + "; ".join(self.colours_seen))
            self.app.click_box(EXIT)
            code = self.app.wait_exit(10)
            check(code == 0, f"quenlo: Exit ended the program with code {code}")
            log("  Exit: program ended with code 0")
        except Exception:
            self.app.grab_screen()
            self.app.stop()
            with open(self.app.out.name) as f:
                log("  quenlo output:\n" + f.read()[-2000:])
            raise
        self.app.stop()

    def start_up(self):
        elapsed, geometry = self.app.wait_for_window(60)
        log(f"  window shown {elapsed:.2f} s after launch, geometry {geometry}")
        # 192 settle intervals of at least 17.28 ms each pass before the window is shown.
        check(elapsed >= 3.3, f"quenlo: window shown after {elapsed:.2f} s, before the start-up settle waits")
        check(geometry == (111, 104, 911, 629), f"quenlo: window geometry {geometry}, expected (111, 104, 911, 629)")
        shot = self.app.wait_settled(CHART)
        self.app.expect_no_dialog("after start-up")
        self.note_colour("start", shot)
        texts = [self.app.read_text(EDIT[n]) for n in range(1, 7)]
        log(f"  start-up boxes: {texts}")
        check(texts == ["0", "0", "0", "30", "30", "30"], f"quenlo: start-up boxes show {texts}, expected 0,0,0,30,30,30")
        counts = curve_counts(shot)
        check(sum(counts.values()) == 0, f"quenlo: chart has curves before any Show: {counts}")

    def show_refused(self):
        # Start values: divider corrected to 2, then the zero sweep count refuses the capture.
        self.app.click_box(SHOW)
        shot, waited = self.wait_message_colour(RED, 20, "after Show with the start values")
        log(f"  Show with start values: red message line after {waited:.2f} s")
        check(self.app.read_text(EDIT[1]) == "2", "quenlo: clock divider box not corrected to 2")
        counts = curve_counts(shot)
        check(sum(counts.values()) == 0, f"quenlo: a refused Show drew curves: {counts}")
        self.app.expect_no_dialog("after a refused Show")

    def show_both_views(self):
        self.app.replace_text(EDIT[1], "4")
        self.app.replace_text(EDIT[2], "5")
        start = time.monotonic()
        self.app.click_box(SHOW)
        self.wait_message_colour(AQUA, 20, "after Show")
        shot, _ = self.app.wait_until(lambda s: all(curve_counts(s).values()), 20, "three curves after Show")
        shot = self.app.wait_settled(CHART)
        log(f"  Show (divider 4, 5 sweeps): aqua and three curves after {time.monotonic() - start:.2f} s")
        counts = curve_counts(shot)
        log(f"  time series curve pixels: {counts}")
        check(all(n >= 100 for n in counts.values()), f"quenlo: a curve is missing from the time series: {counts}")
        self.app.expect_no_dialog("after Show")
        self.check_channel_choice(counts)

        time_series = shot
        self.app.click_box(VIEW_BUTTON)
        shot, _ = self.app.wait_until(lambda s: s.differing(time_series, CHART) > 1000, 10, "delay profile view")
        shot = self.app.wait_settled(CHART)
        counts = curve_counts(shot)
        log(f"  delay profile curve pixels: {counts}, {shot.differing(time_series, CHART)} chart pixels changed")
        check(all(n >= 100 for n in counts.values()), f"quenlo: a curve is missing from the delay profiles: {counts}")
        check(message_colour(shot) == AQUA, "quenlo: switching the view changed the message line")

    def check_channel_choice(self, all_counts):
        self.app.click(*radio_item(0))
        shot, _ = self.app.wait_until(lambda s: curve_counts(s)["green"] == 0, 10, "only ch 1 after choosing it")
        counts = curve_counts(self.app.wait_settled(CHART))
        log(f"  'ch 1' chosen: {counts}")
        check(counts["red"] >= 100 and counts["green"] == 0 and counts["yellow"] == 0,
              f"quenlo: 'ch 1' should leave the red curve alone: {counts}")
        self.app.click(*radio_item(3))
        self.app.wait_until(lambda s: curve_counts(s) == all_counts, 10, "the three curves back after 'all'")
        log("  'all' chosen: the same three curves again")

    def acquire(self, name):
        path = os.path.join(self.recordings, name)
        start = time.monotonic()
        self.app.click_box(ACQUIRE)
        dialogs = self.app.wait_for_dialog(30)
        captured = time.monotonic() - start
        shot = self.app.grab()
        check(message_colour(shot) == WHITE, "quenlo: message line not white while the save dialog is open")
        self.note_colour("save dialog open", shot)
        self.locking_text = shot.region(MESSAGE_LINE)  # the text MEMPREP leaves: "Locking buffer 1"
        log(f"  Acquire: capture done and save dialog {list(dialogs.values())} after {captured:.2f} s")
        self.app.fill_dialog(next(iter(dialogs)), path)
        self.wait_message_colour(LIME, 60, f"after Acquire into {name}")
        log(f"  Acquire {name}: DONE (lime) {time.monotonic() - start:.2f} s after the click")
        self.app.expect_no_dialog("after Acquire")
        check(os.path.isfile(path), f"quenlo: recording {path} was not written")
        return path

    def check_recording(self, path, attenuation, gains):
        with open(path, "rb") as f:
            data = f.read()
        check(data.endswith(b"\r\n"), f"{path}: last line not ended by CR LF")
        lines = data[:-2].split(b"\r\n")
        check(not any(b"\n" in l or b"\r" in l for l in lines), f"{path}: a line not ended by CR LF")
        header = [l.decode() for l in lines[:4]]
        expected = ["5,2500", attenuation, ",".join(gains), "0.0"]
        log(f"  {os.path.basename(path)}: {len(lines)} lines, {len(data)} bytes, header {header}")
        check(header == expected, f"{path}: header {header}, expected {expected}")
        check(len(lines) == 4 + 5 * 2500, f"{path}: {len(lines)} lines, expected {4 + 5 * 2500}")
        low, high, distinct = 4095, 0, set()
        for number, line in enumerate(lines[4:], start=5):
            m = re.fullmatch(rb"(\d+),(\d+),(\d+)", line)
            check(m, f"{path}: line {number} is not three codes: {line!r}")
            codes = [int(v) for v in m.groups()]
            check(all(0 <= v <= 4095 and str(v).encode() == s for v, s in zip(codes, m.groups())),
                  f"{path}: line {number} holds a code outside 0..4095 or with leading zeros")
            low, high = min(low, *codes), max(high, *codes)
            distinct.add(codes[0])
        log(f"  {os.path.basename(path)}: codes {low}..{high}, {len(distinct)} distinct ch 1 codes")
        check(len(distinct) > 10, f"{path}: the recorded signal is flat")

    def check_sidecar(self, path, attenuation_sent):
        sidecar = path + ".meta.json"
        check(os.path.isfile(sidecar), f"quenlo: no metadata sidecar {sidecar}")
        with open(sidecar, encoding="utf-8") as f:
            meta = json.load(f)
        with open(path, "rb") as f:
            data = f.read()
        check(meta["schema"] == "sounder.recording/1", f"{sidecar}: schema {meta['schema']}")
        check(meta["result"]["sha256"] == hashlib.sha256(data).hexdigest(), f"{sidecar}: sha256 differs from the file")
        check(meta["result"]["bytes"] == len(data) and meta["result"]["status"] == "DONE",
              f"{sidecar}: result {meta['result']['status']}, {meta['result']['bytes']} bytes")
        check(meta["board_library"]["simulated"], f"{sidecar}: not on the simulated board")
        sent = meta["front_end"]["attenuation_db"]
        check(sent == attenuation_sent if attenuation_sent is not None else 0 <= sent <= 31,
              f"{sidecar}: attenuator sent {sent} dB, expected {attenuation_sent}")
        starts = meta["sweeps"]["start_groups"]
        gaps = {b - a for a, b in zip(starts, starts[1:])}
        check(len(starts) == 5 and len(gaps) <= 2, f"{sidecar}: sweep starts {starts}")
        log(f"  {os.path.basename(sidecar)}: sha256 matches, attenuator sent {sent} dB, "
            f"sweep starts {starts}")
        self.check_position(sidecar, meta)

    def check_position(self, sidecar, meta):
        start = meta["position"]["start"]
        if self.gpsd is None:
            check(start is None and meta["position"]["start_reason"].startswith("no gpsd at 127.0.0.1:"),
                  f"{sidecar}: without a gpsd the position is {start}, reason {meta['position']['start_reason']}")
            log(f"  {os.path.basename(sidecar)}: position null: {meta['position']['start_reason']}")
            return
        check(start is not None, f"{sidecar}: no position from gpsd: {meta['position']['start_reason']}")
        check(abs(start["latitude_deg"] - fake_gpsd.LATITUDE) < 1e-6
              and abs(start["longitude_deg"] - fake_gpsd.LONGITUDE) < 1e-6 and start["mode"] == "3D",
              f"{sidecar}: position {start}, the log has {fake_gpsd.LATITUDE}, {fake_gpsd.LONGITUDE} 3D")
        log(f"  {os.path.basename(sidecar)}: position {start['latitude_deg']}, {start['longitude_deg']} "
            f"({start['mode']}), time source {meta['time_source']}")

    def auto_adjust(self):
        before = self.app.grab().region(MESSAGE_LINE)
        start = time.monotonic()
        self.app.click_box(AUTO_ADJUST)
        # The cycles show "Arrived at MEMPREP"; once the handler has returned, the window
        # repaints the last text, "Locking buffer 1", seen earlier behind the save dialog.
        self.app.wait_until(lambda s: s.region(MESSAGE_LINE) != before, 30, "Auto Adjust starting", 0.2)
        started = time.monotonic() - start
        shot, _ = self.app.wait_until(lambda s: s.region(MESSAGE_LINE) == self.locking_text, 300,
                                      "the end of Auto Adjust", 0.25)
        shot = self.app.wait_settled((0, 0, 911, 629), timeout=30, quiet=1.0, hole=GPS_LINE)
        check(shot.region(MESSAGE_LINE) == self.locking_text, "quenlo: Auto Adjust went on after it seemed done")
        self.note_colour("after Auto Adjust", shot)
        log(f"  Auto Adjust: first capture after {started:.2f} s, finished after {time.monotonic() - start:.2f} s")
        self.app.expect_no_dialog("after Auto Adjust")
        counts = curve_counts(shot)
        log(f"  time series after Auto Adjust: {counts}")
        check(all(n >= 100 for n in counts.values()), f"quenlo: Auto Adjust did not leave three curves: {counts}")

    def show_after_adjust(self):
        # Auto Adjust shows the time series but keeps the view button's caption; two clicks
        # bring the caption back in step before the pictures are taken.
        for _ in range(2):
            before = self.app.grab()
            self.app.click_box(VIEW_BUTTON)
            self.app.wait_until(lambda s: s.differing(before, CHART) > 1000, 10, "the view to switch")
        self.app.wait_settled(CHART)
        start = time.monotonic()
        self.app.click_box(SHOW)
        # The message line goes from Acquire's lime to Show's aqua. The chart need not
        # change much: a capture at the settings Auto Adjust settled on, aligned on the
        # sweep marker, draws nearly the curves of its last cycle.
        self.wait_message_colour(AQUA, 20, "a fresh capture after Show")
        shot = self.app.wait_settled(CHART)
        self.note_colour("Show after Auto Adjust", shot)
        check(message_colour(shot) == AQUA, "quenlo: message line not aqua after Show")
        counts = curve_counts(shot)
        log(f"  Show after Auto Adjust: {time.monotonic() - start:.2f} s, time series {counts}")
        check(all(n >= 100 for n in counts.values()), f"quenlo: a curve is missing: {counts}")
        self.screenshot("quenlo-time-series.png")
        self.app.click_box(VIEW_BUTTON)
        self.app.wait_until(lambda s: s.differing(shot, CHART) > 1000, 10, "the delay profile view")
        shot = self.app.wait_settled(CHART)
        counts = curve_counts(shot)
        log(f"  delay profiles after Auto Adjust: {counts}")
        check(all(n >= 100 for n in counts.values()), f"quenlo: a delay profile is missing: {counts}")
        self.screenshot("quenlo-delay-profile.png")

    def screenshot(self, name):
        if self.screenshots:
            path = os.path.join(self.screenshots, name)
            self.app.save_grab(path)
            log(f"  screenshot {path}")
