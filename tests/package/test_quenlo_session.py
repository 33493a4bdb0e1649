#!/usr/bin/env python3
"""packaging/quenlo-session in a tree laid out as an installation (bin/, share/sounder/),
with a stand-in quenlo that reports the folder it was started in and its arguments:
where the working folder is, that the shipped table is copied only when none is there,
and that whatever keeps it from starting quenlo there is said, with status 1."""

import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SESSION = os.path.join(SOURCE, "packaging", "quenlo-session")
SHIPPED = "shipped table\n"
CALIBRATED = "calibrated table\n"

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


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def tool(folder, name, script):
    """A stand-in for a system tool, found first on PATH."""
    write(os.path.join(folder, name), "#!/bin/sh\n" + script)
    os.chmod(os.path.join(folder, name), 0o755)


def run(prefix, env, cwd, path="/usr/bin:/bin", launcher=None):
    env = {k: v for k, v in dict(env, PATH=path).items() if v is not None}
    r = subprocess.run([launcher or os.path.join(prefix, "bin", "quenlo-session"), "-x", "a b"], cwd=cwd, env=env,
                       capture_output=True, text=True, timeout=30)
    return r


def started_in(r):
    """The folder quenlo was started in and its arguments, from what it printed."""
    text = r.stdout
    if not text.endswith("\n-x\na b\n"):
        return None
    return text[: -len("\n-x\na b\n")]


def successes(tmp, prefix, home, elsewhere):
    data = os.path.join(tmp, "data")
    kept = os.path.join(tmp, "kept", "sounder")
    write(os.path.join(kept, "digpot.cfg"), CALIBRATED)
    # A calibrated table the user may not write to, and one reached through a link.
    locked = os.path.join(tmp, "locked", "sounder")
    write(os.path.join(locked, "digpot.cfg"), CALIBRATED)
    os.chmod(os.path.join(locked, "digpot.cfg"), 0o444)
    linked = os.path.join(tmp, "linked", "sounder")
    write(os.path.join(tmp, "elsewhere table"), CALIBRATED)
    os.makedirs(linked)
    os.symlink(os.path.join(tmp, "elsewhere table"), os.path.join(linked, "digpot.cfg"))
    odd = os.path.join(tmp, "-odd name\nwith a newline\n")
    # (XDG_DATA_HOME or None for unset, HOME, the working folder expected, its table)
    return [
        (None, home, os.path.join(home, ".local", "share", "sounder"), SHIPPED),
        ("", home, os.path.join(home, ".local", "share", "sounder"), SHIPPED),
        (data, home, os.path.join(data, "sounder"), SHIPPED),
        # A relative name is no base folder at all: it would depend on where the
        # launcher happens to start.
        ("relative/data", home, os.path.join(home, ".local", "share", "sounder"), SHIPPED),
        (os.path.join(tmp, "kept"), home, kept, CALIBRATED),
        (os.path.join(tmp, "locked"), home, locked, CALIBRATED),
        (os.path.join(tmp, "linked"), home, linked, CALIBRATED),
        (odd, home, os.path.join(odd, "sounder"), SHIPPED),
        # An unusable HOME does not matter where XDG_DATA_HOME is usable.
        (data, None, os.path.join(data, "sounder"), SHIPPED),
    ]


def check_successes(tmp, prefix, home, elsewhere):
    for xdg, home_value, folder, table in successes(tmp, prefix, home, elsewhere):
        what = f"XDG_DATA_HOME={xdg!r} HOME={home_value!r}"
        before = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        r = run(prefix, {"HOME": home_value, "XDG_DATA_HOME": xdg}, elsewhere)
        check(r.returncode == 0, f"{what}: status {r.returncode}, {r.stderr}")
        check(r.stderr == "", f"{what}: said {r.stderr!r}")
        check(started_in(r) == folder, f"{what}: quenlo saw {r.stdout!r}, expected {folder}")
        path = os.path.join(folder, "digpot.cfg")
        check(os.path.isfile(path) and open(path).read() == table, f"{what}: table in {folder}")
        check(sorted(os.listdir(folder)) == (before or ["digpot.cfg"]), f"{folder} holds {sorted(os.listdir(folder))}")
        check(os.listdir(elsewhere) == [], f"{what}: made {os.listdir(elsewhere)} in the folder it was started in")
    linked = os.path.join(tmp, "linked", "sounder", "digpot.cfg")
    check(os.path.islink(linked), "a table reached through a link was replaced")


def check_failures(tmp, prefix, home, elsewhere):
    """What keeps it from starting quenlo in its folder: a message naming it, status 1,
    quenlo not started, and the user's files as they were."""
    as_file = os.path.join(tmp, "a file")
    write(as_file, "not a folder\n")
    blocked = os.path.join(tmp, "blocked")
    write(os.path.join(blocked, "sounder"), "a file where the folder should be\n")
    dangling = os.path.join(tmp, "dangling")
    os.makedirs(os.path.join(dangling, "sounder"))
    os.symlink("/nonexistent/calibrated.cfg", os.path.join(dangling, "sounder", "digpot.cfg"))
    # Tools that fail as they do on a read-only file system and on a full disk (a copy
    # cut short), so that the cases run as any user, root included.
    read_only = os.path.join(tmp, "read-only tools")
    tool(read_only, "mkdir", "for a; do :; done\necho \"mkdir: cannot create directory '$a': Read-only file system\" >&2\n"
         "exit 1\n")
    full = os.path.join(tmp, "full disk tools")
    tool(full, "cp", "for a; do from=$to; to=$a; done\nhead -c 5 \"$from\" > \"$to\"\n"
         "echo \"cp: error writing '$to': No space left on device\" >&2\nexit 1\n")
    no_shipped = os.path.join(tmp, "no shipped", "usr")
    install(no_shipped)
    os.remove(os.path.join(no_shipped, "share", "sounder", "digpot.cfg"))
    no_quenlo = os.path.join(tmp, "no quenlo", "usr")
    install(no_quenlo)
    os.remove(os.path.join(no_quenlo, "bin", "quenlo"))
    fresh = os.path.join(tmp, "fresh")
    # (what, installation, XDG_DATA_HOME, HOME, PATH before the system's, words of the
    # message, the folder expected empty after, or None)
    cases = [
        ("XDG_DATA_HOME a file", prefix, as_file, home, None, ["cannot make the working folder", as_file], None),
        ("a file where the folder is", prefix, blocked, home, None,
         ["cannot make the working folder", os.path.join(blocked, "sounder")], None),
        ("read-only", prefix, os.path.join(tmp, "ro"), home, read_only, ["cannot make the working folder",
                                                                          "Read-only file system"], None),
        ("full disk", prefix, os.path.join(fresh, "full"), home, full,
         ["cannot copy the shipped gain table", "No space left on device"], os.path.join(fresh, "full", "sounder")),
        ("no shipped table", no_shipped, os.path.join(fresh, "none"), home, None,
         ["holds no digpot.cfg", os.path.join(no_shipped, "bin", "..", "share", "sounder", "digpot.cfg")],
         os.path.join(fresh, "none", "sounder")),
        ("a link to no table", prefix, dangling, home, None, ["/nonexistent/calibrated.cfg", "left as it is"], None),
        ("no quenlo", no_quenlo, os.path.join(fresh, "noq"), home, None, ["quenlo is not beside it"], None),
        # Not /.local/share/sounder, nor a folder below the one it was started in.
        ("HOME unset", prefix, None, None, None, ["HOME is not an absolute path"], None),
        ("HOME empty", prefix, "relative", "", None, ["HOME is not an absolute path"], None),
        ("HOME relative", prefix, None, "home", None, ["HOME is not an absolute path ('home')"], None),
    ]
    # The desktop's notifications, where there are any, are told the same.
    notices = os.path.join(tmp, "notices")
    notify = os.path.join(tmp, "notify tools")
    tool(notify, "notify-send", f"printf '%s|' \"$@\" > '{notices}'\n")
    for what, installed, xdg, home_value, tools, words, empty in cases:
        if os.path.exists(notices):
            os.remove(notices)
        r = run(installed, {"HOME": home_value, "XDG_DATA_HOME": xdg}, elsewhere,
                path=(tools + ":" if tools else "") + notify + ":/usr/bin:/bin")
        told = open(notices).read() if os.path.exists(notices) else ""
        check(told.startswith("--urgency=critical|--app-name=quenlo|--|quenlo cannot start|") and
              r.stderr.startswith("quenlo-session: ") and told.endswith("|" + r.stderr[len("quenlo-session: "):-1] + "|"),
              f"{what}: the desktop was told {told!r}")
        check(r.returncode == 1, f"{what}: status {r.returncode}")
        check(r.stdout == "", f"{what}: quenlo was started: {r.stdout!r}")
        check(r.stderr.startswith("quenlo-session: ") and r.stderr.count("\n") == 1 and
              all(w in r.stderr for w in words), f"{what}: said {r.stderr!r}, expected {words}")
        if empty:
            check(os.listdir(empty) == [], f"{what}: left {os.listdir(empty)} in {empty}")
    check(open(as_file).read() == "not a folder\n", "XDG_DATA_HOME, a file, was changed")
    link = os.path.join(dangling, "sounder", "digpot.cfg")
    check(os.path.islink(link) and os.readlink(link) == "/nonexistent/calibrated.cfg",
          "a link to a table not there was replaced")
    check(os.listdir(elsewhere) == [], f"made {os.listdir(elsewhere)} in the folder it was started in")


def main():
    with tempfile.TemporaryDirectory() as tmp:
        prefix = os.path.join(tmp, "usr")
        install(prefix)
        home = os.path.join(tmp, "home of a user")
        elsewhere = os.path.join(tmp, "elsewhere")
        os.makedirs(elsewhere)
        check_successes(tmp, prefix, home, elsewhere)
        check_failures(tmp, prefix, home, elsewhere)
        # Installed below a folder whose name holds a newline.
        odd_prefix = os.path.join(tmp, "opt\n", "usr")
        install(odd_prefix)
        r = run(odd_prefix, {"HOME": home, "XDG_DATA_HOME": os.path.join(tmp, "odd prefix")}, elsewhere)
        check(r.returncode == 0 and started_in(r) == os.path.join(tmp, "odd prefix", "sounder"),
              f"installed below a name with a newline: status {r.returncode}, {r.stdout!r} {r.stderr!r}")
        # Started through a link to it in a folder of the user's, and through a link to that.
        links = os.path.join(tmp, "home of a user", "bin")
        os.makedirs(links)
        os.symlink(os.path.join(prefix, "bin", "quenlo-session"), os.path.join(links, "quenlo-session"))
        os.symlink("quenlo-session", os.path.join(links, "qs"))
        for name in ["quenlo-session", "qs"]:
            folder = os.path.join(tmp, "linked launcher " + name)
            r = run(prefix, {"HOME": home, "XDG_DATA_HOME": folder}, elsewhere, launcher=os.path.join(links, name))
            table = os.path.join(folder, "sounder", "digpot.cfg")
            check(r.returncode == 0 and started_in(r) == os.path.join(folder, "sounder") and
                  os.path.isfile(table) and open(table).read() == SHIPPED,
                  f"started through a link {name}: status {r.returncode}, {r.stdout!r} {r.stderr!r}")
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
