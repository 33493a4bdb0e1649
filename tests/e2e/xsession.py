"""Driving real windows from outside: windows found by process, real pointer and
keyboard input through xdotool, the clipboard through xclip and the window's pixels
through ImageMagick's import. Nothing here looks inside the programs."""

import os
import struct
import subprocess
import time


class CheckFailed(Exception):
    pass


def fail(what):
    raise CheckFailed(what)


def check(condition, what):
    if not condition:
        fail(what)


def run(*argv, timeout=10, data=None):
    return subprocess.run(argv, capture_output=True, timeout=timeout, input=data)


def log(text):
    print(text, flush=True)


def poll(predicate, timeout, interval=0.1):
    """Calls predicate until it gives a true value or the time runs out; returns the
    value and the seconds waited (None when it never came)."""
    start = time.monotonic()
    while True:
        value = predicate()
        waited = time.monotonic() - start
        if value:
            return value, waited
        if waited > timeout:
            return None, waited
        time.sleep(interval)


class Shot:
    """One grab of a window: 24-bit RGB rows."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    @staticmethod
    def from_ppm(data):
        fields, pos = [], 0
        while len(fields) < 4:  # magic, width, height, maximum value
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        check(fields[0] == b"P6" and fields[3] == b"255", "grab is not an 8-bit PPM")
        width, height = int(fields[1]), int(fields[2])
        return Shot(width, height, data[pos + 1:pos + 1 + width * height * 3])

    def region(self, box, hole=None):
        """The pixels of box, less those of hole (a box inside it) where given."""
        x, y, w, h = box
        rows = []
        for row in range(y, y + h):
            start = (row * self.width + x) * 3
            if hole and hole[1] <= row < hole[1] + hole[3]:
                rows.append(self.pixels[start:start + (hole[0] - x) * 3])
                rows.append(self.pixels[start + (hole[0] + hole[2] - x) * 3:start + w * 3])
            else:
                rows.append(self.pixels[start:start + w * 3])
        return b"".join(rows)

    def colours(self, box):
        data = self.region(box)
        return zip(data[0::3], data[1::3], data[2::3])

    def count(self, box, test):
        return sum(1 for c in self.colours(box) if test(c))

    def dominant(self, box):
        tally = {}
        for c in self.colours(box):
            tally[c] = tally.get(c, 0) + 1
        return max(tally, key=tally.get)

    def differing(self, other, box):
        a, b = self.region(box), other.region(box)
        return sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])


def set_clipboard_text(text):
    # xclip stays behind to serve the text until another client takes the clipboard, so
    # it must not hold on to our output.
    subprocess.run(["xclip", "-selection", "clipboard", "-i"], input=text.encode(), timeout=5,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def png_size(data):
    check(data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", "clipboard data is not a PNG")
    return struct.unpack(">II", data[16:24])


class Program:
    """One program under test, started in its own working directory, and its windows."""

    def __init__(self, name, binary, workdir, title, logdir, extra_env=None):
        self.name, self.title = name, title
        self.out = open(os.path.join(logdir, name + ".log"), "w")
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", **(extra_env or {}))
        # In sanitizer builds Qt's D-Bus client leaves a block for the exit to free, which
        # LeakSanitizer would turn into a failed exit code; leaks are the unit tests' job.
        if "detect_leaks" not in env.get("ASAN_OPTIONS", ""):
            env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        self.started = time.monotonic()
        self.process = subprocess.Popen([binary], cwd=workdir, env=env, stdout=self.out, stderr=subprocess.STDOUT)
        self.window = None
        self.x = self.y = 0

    def windows(self):
        """Visible top-level windows of the program, with their titles."""
        r = run("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid))
        found = {}
        for wid in r.stdout.decode().split():
            found[wid] = run("xdotool", "getwindowname", wid).stdout.decode().strip()
        return found

    def wait_for_window(self, timeout):
        def main_window():
            check(self.process.poll() is None, f"{self.name} ended before showing its window")
            for wid, title in self.windows().items():
                if title == self.title:
                    return wid
            return None

        wid, _ = poll(main_window, timeout, 0.05)
        check(wid is not None, f"{self.name}: no window titled '{self.title}' within {timeout} s")
        self.window = wid
        elapsed = time.monotonic() - self.started
        geometry = run("xdotool", "getwindowgeometry", "--shell", wid).stdout.decode()
        g = dict(line.split("=", 1) for line in geometry.split())
        self.x, self.y = int(g["X"]), int(g["Y"])
        return elapsed, (int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"]))

    def other_windows(self):
        return {w: t for w, t in self.windows().items() if w != self.window}

    def wait_for_dialog(self, timeout=15):
        found, _ = poll(lambda: self.other_windows(), timeout)
        check(found, f"{self.name}: no dialog appeared within {timeout} s")
        return found

    def fill_dialog(self, wid, text, timeout=15):
        """Types into a dialog's focused text box once the dialog has the keyboard, checks
        what arrived (through the clipboard) and presses Enter until the dialog closes."""
        def focused():
            return run("xdotool", "getwindowfocus").stdout.decode().strip() == wid

        _, waited = poll(focused, timeout)
        check(focused(), f"{self.name}: dialog never got the keyboard")
        time.sleep(0.3)
        for _ in range(3):
            self.keys("ctrl+a")
            self.type(text)
            if self.copy_focused_text() == text:
                break
        else:
            fail(f"{self.name}: could not type '{text}' into the dialog")
        for _ in range(3):
            self.keys("Return")  # a completion popup may take the first one
            gone, _ = poll(lambda: wid not in self.windows(), 5)
            if gone:
                return
        fail(f"{self.name}: the dialog did not close after Enter")

    def copy_focused_text(self):
        sentinel = "e2e-sentinel-%d" % time.monotonic_ns()
        set_clipboard_text(sentinel)
        self.keys("ctrl+a", "ctrl+c")

        def copied():
            r = run("xclip", "-selection", "clipboard", "-o", timeout=5)
            text = r.stdout.decode()
            return (text,) if r.returncode == 0 and text != sentinel else None

        got, _ = poll(copied, 5)
        return got[0] if got else None

    def expect_no_dialog(self, when):
        extra = self.other_windows()
        if extra:
            wid, title = next(iter(extra.items()))
            path = os.path.join(os.path.dirname(self.out.name), f"{self.name}-unexpected.png")
            run("import", "-window", wid, path)
            fail(f"{self.name}: unexpected window '{title}' {when} (grabbed to {path})")

    def grab(self):
        r = run("import", "-window", self.window, "-depth", "8", "ppm:-")
        check(r.returncode == 0, f"{self.name}: window grab failed: {r.stderr.decode().strip()}")
        return Shot.from_ppm(r.stdout)

    def grab_screen(self):
        """The whole screen as the failure left it, for whoever reads the log."""
        path = os.path.join(os.path.dirname(self.out.name), f"screen-at-{self.name}-failure.png")
        if run("import", "-window", "root", path, timeout=20).returncode == 0:
            log(f"  screen grabbed to {path}")

    def save_grab(self, path):
        r = run("import", "-window", self.window, path)
        check(r.returncode == 0, f"cannot write screenshot {path}")

    def click(self, x, y):
        """A real left click at window coordinates."""
        run("xdotool", "mousemove", str(self.x + x), str(self.y + y), "click", "1")

    def click_box(self, box):
        x, y, w, h = box
        self.click(x + w // 2, y + h // 2)

    def keys(self, *names):
        run("xdotool", "key", "--delay", "30", *names)

    def type(self, text):
        run("xdotool", "type", "--delay", "10", text)

    def replace_text(self, box, text):
        """Select-all in an edit box and type over it."""
        self.click_box(box)
        self.keys("ctrl+a")
        self.type(text)

    def read_text(self, box):
        """An edit box's text, copied to the clipboard with the keyboard and read back."""
        self.click_box(box)
        text = self.copy_focused_text()
        check(text is not None, f"{self.name}: nothing copied from the edit box at {box}")
        return text

    def wait_until(self, predicate, timeout, what, interval=0.1):
        """Polls the window's pixels until predicate(shot) holds; returns the shot and the time."""
        def probe():
            check(self.process.poll() is None, f"{self.name} ended while waiting for {what}")
            shot = self.grab()
            return shot if predicate(shot) else None

        shot, waited = poll(probe, timeout, interval)
        check(shot is not None, f"{self.name}: {what} not seen within {timeout} s")
        return shot, waited

    def wait_settled(self, box, timeout=10, quiet=0.4, hole=None):
        """Waits until a region (less the hole inside it, where given: a line that goes on
        changing by itself) stops changing for `quiet` seconds."""
        last, since = self.grab(), time.monotonic()
        start = since
        while time.monotonic() - start < timeout:
            time.sleep(0.1)
            shot = self.grab()
            if shot.region(box, hole) != last.region(box, hole):
                last, since = shot, time.monotonic()
            elif time.monotonic() - since >= quiet:
                return shot
        fail(f"{self.name}: region {box} still changing after {timeout} s")

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            fail(f"{self.name} still running {timeout} s after being told to end")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.out.close()
