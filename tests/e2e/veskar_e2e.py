"""veskar in a real window: File > Open of the example recording, stepping with
"Go to sweep", the mode button, a refused step, Copy > To Clipboard, View > Waterfall
of a longer recording with clicks on its rows forward and backward, and File > Exit,
all judged from outside."""

import os
import subprocess
import sys
import time

from xsession import Program, Shot, check, log, png_size, poll, run, set_clipboard_text

CHART_SIZE = (641, 425)


def dark(c):
    return c[0] + c[1] + c[2] < 250


class VeskarRun:
    def __init__(self, binary, source_dir, tmp, screenshots):
        self.binary, self.tmp, self.screenshots = binary, tmp, screenshots
        self.recording = os.path.join(source_dir, "examples", "example_recording.txt")
        self.workdir = os.path.join(tmp, "veskar-cwd")
        os.makedirs(self.workdir)
        # 150 sweeps of the example's paths, fading: 30 rows of the waterfall.
        self.long_recording = os.path.join(tmp, "long_recording.txt")
        subprocess.run([sys.executable, os.path.join(source_dir, "tools", "make_example_recording.py"),
                        self.long_recording, "--sweeps", "150"], check=True)

    def client(self, x, y, w, h):
        """Window coordinates of a control placed in the client area, below the menu bar."""
        return (x, self.menu_height + y, w, h)

    def run(self):
        self.app = Program("veskar", self.binary, self.workdir, "Delay Profile", self.tmp)
        try:
            self.start_up()
            self.open_recording()
            self.step_through()
            self.copy_chart()
            self.waterfall()
            self.choose("File", 1)  # Open is disabled while a recording is open: Exit comes first
            code = self.app.wait_exit(10)
            check(code == 0, f"veskar: File > Exit ended the program with code {code}")
            log("  File > Exit: program ended with code 0")
        except Exception:
            self.app.grab_screen()
            self.app.stop()
            with open(self.app.out.name) as f:
                log("  veskar output:\n" + f.read()[-2000:])
            raise
        self.app.stop()

    def start_up(self):
        elapsed, geometry = self.app.wait_for_window(30)
        log(f"  window shown {elapsed:.2f} s after launch, geometry {geometry}")
        check(geometry == (262, 129, 728, 562), f"veskar: window geometry {geometry}, expected (262, 129, 728, 562)")
        shot = self.app.wait_settled((0, 0, 728, 562))
        self.app.expect_no_dialog("after start-up")
        # The chart's white face is the first nearly all-white row: it sits 80 pixels
        # below the top of the client area, which the menu bar pushes down.
        top = next((y for y in range(0, 200)
                    if shot.count((10, y, 630, 1), lambda c: c == (255, 255, 255)) >= 600), None)
        check(top is not None, "veskar: chart not found in the window")
        self.menu_height = top - 80
        check(10 <= self.menu_height <= 40, f"veskar: menu bar {self.menu_height} pixels high?")
        self.menus = self.find_menu_titles(shot)
        log(f"  menu bar {self.menu_height} px high; titles at x {self.menus}")
        self.chart = self.client(8, 80, *CHART_SIZE)
        self.panels = {name: self.client(*box) for name, box in (
            ("Panel1", (8, 0, 449, 25)), ("Panel2", (520, 0, 33, 17)), ("Panel3", (624, 0, 33, 17)),
            ("Panel4", (48, 32, 49, 17)), ("Panel5", (240, 32, 185, 17)), ("Panel6", (528, 32, 65, 17)),
            ("Edit1", (624, 56, 73, 21)))}
        self.go_button = self.client(624, 32, 73, 17)
        self.mode_button = self.client(656, 408, 57, 25)
        self.edit1 = self.panels["Edit1"]
        self.start_shot = shot

    def find_menu_titles(self, shot):
        """Centres of the menu titles, found as runs of inked columns in the menu bar."""
        band = (0, 2, 240, self.menu_height - 4)
        bar = shot.dominant(band)

        def ink(c):
            return sum(abs(a - b) for a, b in zip(c, bar)) > 150

        columns = [x for x in range(0, 240) if shot.count((x, 2, 1, self.menu_height - 4), ink) > 0]
        runs = []  # letters of a title are a few pixels apart, titles more than 6
        for x in columns:
            if runs and x - runs[-1][1] <= 6:
                runs[-1][1] = x
            else:
                runs.append([x, x])
        check(len(runs) >= 3, f"veskar: menu titles not found in the menu bar ({runs})")
        return {name: (r[0] + r[1]) // 2 for name, r in zip(("File", "Copy", "View"), runs)}

    def choose(self, menu, item):
        """Clicks a menu title, then picks its item-th enabled entry with the keyboard."""
        self.app.click(self.menus[menu], self.menu_height // 2)
        time.sleep(0.4)
        self.app.keys(*(["Down"] * item), "Return")

    def open_recording(self):
        before = self.start_shot
        start = time.monotonic()
        self.choose("File", 1)
        dialogs = self.app.wait_for_dialog(10)
        log(f"  File > Open: dialog {list(dialogs.values())}")
        self.app.fill_dialog(next(iter(dialogs)), self.recording)
        shot, _ = self.app.wait_until(
            lambda s: all(s.region(b) != before.region(b) for b in self.panels.values()), 20,
            "every status panel filled after File > Open")
        shot = self.app.wait_settled((0, 0, 728, 562))
        changed = {n: shot.differing(before, b) for n, b in self.panels.items()}
        log(f"  File > Open: panels filled after {time.monotonic() - start:.2f} s; changed pixels {changed}")
        self.app.expect_no_dialog("after File > Open")
        self.screenshot("veskar-time-series.png")  # before the text is selected for reading
        edit = self.app.read_text(self.edit1)
        check(edit == "5", f"veskar: target box reads '{edit}' after the open, expected 5")
        black = shot.count(self.chart, dark)
        log(f"  time series of sweep 4: {black} dark chart pixels")
        check(black > 2000, "veskar: no time series drawn after the open")
        self.last = shot

    def step(self, expect_edit, screenshot=None):
        before = self.last
        start = time.monotonic()
        self.app.click_box(self.go_button)
        shot, _ = self.app.wait_until(lambda s: s.differing(before, self.chart) > 500, 20, "the chart to change")
        shot = self.app.wait_settled(self.chart)
        if screenshot:
            self.screenshot(screenshot)
        edit = self.app.read_text(self.edit1)
        changed = shot.differing(before, self.chart)
        panel6 = shot.differing(before, self.panels["Panel6"])
        log(f"  Go to sweep: {time.monotonic() - start:.2f} s, {changed} chart pixels changed, "
            f"Current sweep panel {panel6} px changed, target box now '{edit}'")
        check(edit == expect_edit, f"veskar: target box reads '{edit}', expected {expect_edit}")
        check(panel6 > 0, "veskar: the Current sweep panel did not change")
        self.app.expect_no_dialog("after Go to sweep")
        self.last = shot
        return shot

    def step_through(self):
        self.step("10")
        before = self.last
        self.app.click_box(self.mode_button)
        shot = self.app.wait_settled(self.mode_button)
        check(shot.region(self.mode_button) != before.region(self.mode_button), "veskar: mode button caption unchanged")
        check(shot.region(self.chart) == before.region(self.chart), "veskar: the mode button redrew the chart")
        log("  mode button: caption changed, chart kept until the next step")
        self.last = shot
        shot = self.step("15", "veskar-delay-profile.png")
        black = shot.count(self.chart, dark)
        log(f"  delay profile of sweeps 10-14: {black} dark chart pixels")
        check(black > 2000, "veskar: no delay profile drawn")
        self.step("20")
        # 20 lies beyond the last block of the 20-sweep recording: the button says so.
        before = self.last
        self.app.click_box(self.go_button)
        shot, _ = self.app.wait_until(lambda s: s.region(self.go_button) != before.region(self.go_button), 10,
                                      "the refused step's caption")
        shot = self.app.wait_settled((0, 0, 728, 562))
        check(shot.region(self.chart) == before.region(self.chart), "veskar: a refused step redrew the chart")
        check(self.app.read_text(self.edit1) == "20", "veskar: a refused step changed the target box")
        log("  Go to sweep 20 of 20: refused, caption changed, chart kept")
        self.last = shot

    def copy_chart(self):
        set_clipboard_text("no image yet")
        self.choose("Copy", 1)

        def png():
            r = run("xclip", "-selection", "clipboard", "-t", "image/png", "-o", timeout=5)
            return r.stdout if r.returncode == 0 and r.stdout[:4] == b"\x89PNG" else None

        start = time.monotonic()
        data = None
        while data is None and time.monotonic() - start < 10:
            data = png()
            time.sleep(0.1)
        check(data is not None, "veskar: Copy > To Clipboard left no PNG on the clipboard")
        size = png_size(data)
        log(f"  Copy > To Clipboard: PNG {size[0]}x{size[1]}, {len(data)} bytes")
        check(size == CHART_SIZE, f"veskar: clipboard image is {size}, expected the chart's {CHART_SIZE}")
        r = run("xclip", "-selection", "clipboard", "-t", "image/ppm", "-o", timeout=5)
        if r.returncode == 0 and r.stdout[:2] == b"P6":
            image = Shot.from_ppm(r.stdout)
            window = self.app.grab()
            same = sum(1 for a, b in zip(image.colours((0, 0) + CHART_SIZE), window.colours(self.chart)) if a == b)
            share = same / (CHART_SIZE[0] * CHART_SIZE[1])
            log(f"  clipboard image matches the chart on screen in {100 * share:.1f} % of its pixels")
            check(share > 0.9, "veskar: clipboard image does not show the chart on screen")
        self.app.expect_no_dialog("after Copy > To Clipboard")

    def waterfall(self):
        """File > Close, File > Open of the long recording, View > Waterfall; a click on a
        row further on and one on a row behind it, each shown in the main window."""
        self.choose("File", 2)  # Exit, Close: Open is disabled
        time.sleep(0.5)
        self.choose("File", 1)
        dialogs = self.app.wait_for_dialog(10)
        self.app.fill_dialog(next(iter(dialogs)), self.long_recording)
        self.app.wait_settled((0, 0, 728, 562))
        check(self.app.read_text(self.edit1) == "5", "veskar: the long recording did not open")
        start = time.monotonic()
        self.choose("View", 1)
        title = "Waterfall - long_recording.txt"
        found, _ = poll(lambda: next((w for w, t in self.app.windows().items() if t == title), None), 10)
        check(found is not None, f"veskar: no window titled '{title}' after View > Waterfall")
        log(f"  View > Waterfall: window '{title}' shown after {time.monotonic() - start:.2f} s")
        geometry = run("xdotool", "getwindowgeometry", "--shell", found).stdout.decode()
        g = dict(line.split("=", 1) for line in geometry.split())
        wx, wy, ww, wh = int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

        def grab():
            r = run("import", "-window", found, "-depth", "8", "ppm:-")
            check(r.returncode == 0, "veskar: waterfall window grab failed")
            return Shot.from_ppm(r.stdout)

        # The map: the middle of the window, away from the controls, axes and scale.
        plot = (int(ww * 0.15), int(wh * 0.2), int(ww * 0.55), int(wh * 0.55))
        def coloured():
            shot = grab()
            return shot if len(set(list(shot.colours(plot))[::97])) > 8 else None

        shot, _ = poll(coloured, 20)
        check(shot is not None, "veskar: the waterfall drew no colour map")
        time.sleep(1.0)  # the reading ends well within this for 150 sweeps
        if self.screenshots:
            path = os.path.join(self.screenshots, "veskar-waterfall.png")
            check(run("import", "-window", found, path).returncode == 0, f"cannot write screenshot {path}")
            log(f"  screenshot {path}")

        # Beneath the main window, so that clicks meant for either land on it.
        wx, wy, ww, wh = 0, 720, 1000, 300
        run("xdotool", "windowsize", found, str(ww), str(wh))
        run("xdotool", "windowmove", found, str(wx), str(wy))
        time.sleep(1.0)
        g = dict(line.split("=", 1) for line in run("xdotool", "getwindowgeometry", "--shell", found).stdout.decode().split())
        wx, wy, ww, wh = int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])
        check(wy >= 700, f"veskar: the waterfall window did not move beneath the main window ({g})")

        def click_row(fraction):
            run("xdotool", "mousemove", str(wx + ww // 2), str(wy + int(wh * fraction)), "click", "1")
            time.sleep(0.8)
            return int(self.app.read_text(self.edit1))

        later = click_row(0.7)
        check(later > 10 and later % 5 == 0, f"veskar: a click on a row far on left the target box at {later}")
        earlier = click_row(0.3)
        check(5 <= earlier < later and earlier % 5 == 0,
              f"veskar: a click on a row behind the block shown left the target box at {earlier} (was {later})")
        log(f"  waterfall rows clicked: the main window stepped to sweep {later - 5}, then back to {earlier - 5}")
        extra = {w: t for w, t in self.app.other_windows().items() if w != found}
        check(not extra, f"veskar: unexpected window {list(extra.values())} after the clicks")

    def screenshot(self, name):
        if self.screenshots:
            path = os.path.join(self.screenshots, name)
            self.app.save_grab(path)
            log(f"  screenshot {path}")
