#!/usr/bin/env python3
"""QuavloII-setup.exe under Wine in a virtual X server as large as a high-density screen (2560 x 1600).

In a fresh Wine prefix, for all users (/S) and then for the current user alone (/S /CurrentUser), checks that:
  - the silent install puts quavlo.exe, quavlo-cli.exe, the readme and the uninstaller into Program Files (or
    %LOCALAPPDATA%\\Programs), and the Start-menu entry in place;
  - the registry holds the .qvl association (quavlo.exe "%1" opens it, with the program's icon) and the entry in the
    installed programs, with the version and the uninstaller, in HKLM (or HKCU), and nothing in the other hive;
  - starting a song named in Cyrillic and Japanese through the association (the shell's open, as a double-click
    does; for the current user the command the association names, as Wine's shell reads no per-user association)
    opens the installed tracker with the song loaded (its name in the title), at scale 2, the largest that fits
    this screen;
  - the silent uninstall found in the registry leaves no file and no registry key of the program behind.
With QUAVLO_WINE_SHOT=FILE.png the installed tracker's window is saved there as a picture.

Usage: wine_install.py SETUP_EXE WINE_RUN VERSION SONG
  WINE_RUN is scripts/wine-run.sh; SONG a module that becomes the song opened through the association.
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots, close request)
import wine_session  # noqa: E402  (the Wine prefix with its sound card)
from run_e2e import Failure, log, run, wait_for  # noqa: E402

SONG = "ноты 曲.qvl"
PROGID = "QuavloII.Module"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\QuavloII"


def wine(wine_run, env, *args, timeout=120, check=True):
    p = subprocess.run([wine_run] + list(args), env=env, capture_output=True, timeout=timeout)
    if check and p.returncode != 0:
        raise Failure("wine %s: status %d, %s" % (" ".join(args), p.returncode, p.stderr.decode(errors="replace")))
    return p


def reg_values(wine_run, env, key):
    """The values of a registry key as {name: data} ("" for the default value), or None when there is no key."""
    p = wine(wine_run, env, "reg", "query", key, check=False)
    if p.returncode != 0:
        return None
    values = {}
    for line in p.stdout.decode("utf-8", errors="replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values["" if parts[0] == "(Default)" else parts[0]] = parts[2] if len(parts) == 3 else ""
    return values


def exported_registry(wine_run, env, workdir, hive):
    """The whole of a hive's Software branch, as reg exports it."""
    out = os.path.join(workdir, "export.reg")
    wine(wine_run, env, "reg", "export", hive + r"\Software", wine_session.windows_path(out), "/y")
    data = open(out, "rb").read()
    os.remove(out)
    return data.decode("utf-16" if data[:2] == b"\xff\xfe" else "utf-8", errors="replace")


def files_under(root):
    """Every file and folder below root, as relative paths, leaving out temporary folders."""
    found = set()
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d.lower() != "temp"]
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def save_png(rows, path):
    raw = b"".join(b"\0" + b"".join(struct.pack(">I", v)[1:] for v in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def install_and_remove(setup, wine_run, version, env, display, workdir, song, mode):
    drive_c = os.path.join(env["WINEPREFIX"], "drive_c")
    user = os.listdir(os.path.join(drive_c, "users"))
    user = [u for u in user if u.lower() != "public"][0]
    if mode == "AllUsers":
        folder = os.path.join(drive_c, "Program Files", "QuavloII")
        menu = os.path.join(drive_c, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")
        hive, other = "HKLM", "HKCU"
        windows_folder = r"C:\Program Files\QuavloII"
    else:
        folder = os.path.join(drive_c, "users", user, "AppData", "Local", "Programs", "QuavloII")
        menu = os.path.join(drive_c, "users", user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                            "Programs")
        hive, other = "HKCU", "HKLM"
        windows_folder = r"C:\users\%s\AppData\Local\Programs\QuavloII" % user
    before = files_under(drive_c)

    started = time.time()
    wine(wine_run, env, setup, "/S", "/" + mode)
    installed = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    if installed != ["LICENSE.txt", "README.txt", "THIRD-PARTY.txt", "quavlo-cli.exe", "quavlo.exe", "uninstall.exe"]:
        raise Failure("the install folder holds %s" % installed)
    if not os.path.exists(os.path.join(menu, "QuavloII.lnk")):
        raise Failure("no Start-menu entry QuavloII.lnk")
    log("%s: silent install in %.1f s into %s, with the Start-menu entry" % (mode, time.time() - started,
                                                                            windows_folder))

    exe = windows_folder + r"\quavlo.exe"
    classes = hive + r"\Software\Classes"
    expected = {
        classes + r"\.qvl": {"": PROGID},
        classes + "\\" + PROGID + r"\shell\open\command": {"": '"%s" "%%1"' % exe},
        classes + "\\" + PROGID + r"\DefaultIcon": {"": '"%s",0' % exe},
        hive + "\\" + UNINSTALL: {"DisplayName": "QuavloII", "DisplayVersion": version,
                                  "DisplayIcon": '"%s",0' % exe,
                                  "QuietUninstallString": '"%s\\uninstall.exe" /%s /S' % (windows_folder, mode)},
    }
    for key, want in expected.items():
        values = reg_values(wine_run, env, key)
        if values is None:
            raise Failure("no registry key " + key)
        for name, data in want.items():
            if values.get(name) != data:
                raise Failure("%s\\%s is %r, not %r" % (key, name or "(Default)", values.get(name), data))
    if reg_values(wine_run, env, other + r"\Software\Classes" + "\\" + PROGID) is not None:
        raise Failure("the association was also written to " + other)
    log("%s: the registry holds the .qvl association and the uninstall entry in %s" % (mode, hive))

    shutil.copyfile(song, os.path.join(workdir, SONG))
    if mode == "AllUsers":
        # The shell opens the song as a double-click does: through the association. Started without pipes: the
        # tracker would hold them open, and a wait for their end would last as long as it.
        subprocess.run([wine_run, "start", "/unix", os.path.join(workdir, SONG)], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)
    else:
        # Wine's shell reads associations from HKLM alone (Windows merges in the user's own), so the command the
        # association names is run as the shell would run it.
        command = reg_values(wine_run, env, classes + "\\" + PROGID + r"\shell\open\command")[""]
        program, _, argument = command[1:].partition('" ')
        argument = argument.replace("%1", wine_session.windows_path(os.path.join(workdir, SONG))).strip('"')
        subprocess.Popen([wine_run, program, argument], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    s = wine_session.WineSession(env, None)
    wid = wait_for(lambda: s.window_titled("QuavloII - " + SONG), 60,
                   "opening %s through the association showed no window with its name" % SONG)
    info = wait_for(lambda: (lambda i: i if i.get("Map State") == "IsViewable" else None)(
        run_e2e.window_info(env, wid)), 30, "the window was not shown")
    if (info.get("Width"), info.get("Height")) != ("1800", "1040"):
        raise Failure("the tracker opened at %sx%s, not at scale 2 (1800x1040)" % (info.get("Width"),
                                                                                  info.get("Height")))
    s = wine_session.WineSession(env, wid)
    wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 30, "the window's picture stayed blank")
    shot_path = os.environ.get("QUAVLO_WINE_SHOT")
    if shot_path and mode == "AllUsers":
        save_png(s.settled_shot(), shot_path)
        log("the installed tracker's window saved as " + shot_path)
    log('%s: "%s" opened through the association in the installed tracker, at scale 2' % (mode, SONG))
    run_e2e.close_window(display, wid)
    wait_for(lambda: not s.window_titled("QuavloII - " + SONG), 20, "the tracker did not close")

    # The uninstaller copies itself away and returns at once: its work is done when the folder is gone.
    quiet = reg_values(wine_run, env, hive + "\\" + UNINSTALL)["QuietUninstallString"]
    program, _, arguments = quiet[1:].partition('" ')
    wine(wine_run, env, program, *arguments.split())
    wait_for(lambda: not os.path.exists(folder), 60, "the uninstaller left %s" % windows_folder)
    wait_for(lambda: not os.path.exists(os.path.join(menu, "QuavloII.lnk")), 10, "the Start-menu entry stayed")
    os.remove(os.path.join(workdir, SONG))
    # The per-user programs folder (%LOCALAPPDATA%\Programs) is the system's, shared by every per-user program.
    left = sorted(files_under(drive_c) - before - {os.path.join("users", user, "AppData", "Local", "Programs")})
    if left:
        raise Failure("the uninstall left files behind: %s" % left[:10])
    for h in ("HKLM", "HKCU"):
        text = exported_registry(wine_run, env, workdir, h).lower()
        for trace in ("quavlo", "\\.qvl]"):
            at = text.find(trace)
            if at >= 0:
                raise Failure("the uninstall left a registry trace in %s: %s" % (h, text[max(0, at - 80):at + 40]))
    log("%s: the silent uninstall left no file and no registry key behind" % mode)


def session(setup, wine_run, version, song, display, workdir):
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    # No menu builder: the Start-menu entry stays in the prefix instead of becoming a desktop entry in the home (with
    # Wine's own bookkeeping of it in the registry, which the uninstaller cannot know about).
    env.update(DISPLAY=display, XAUTHORITY="/dev/null", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    home = os.path.join(workdir, "home")
    os.makedirs(home)
    with open(os.path.join(home, ".asoundrc"), "w") as f:
        f.write(wine_session.ASOUNDRC)
    env.update(HOME=home, WINEPREFIX=os.path.join(workdir, "prefix"))
    started = time.time()
    run([wine_run, "wineboot", "--init"], env, timeout=300)
    log("new Wine prefix made in %.1f s" % (time.time() - started))
    try:
        for mode in ("AllUsers", "CurrentUser"):
            install_and_remove(setup, wine_run, version, env, display, workdir, song, mode)
    finally:
        # Stopped before the prefix is removed, which it would otherwise write its registry back into.
        run(["wineserver", "-k"], env, timeout=30, check=False)


def main():
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    setup, wine_run, version, song = sys.argv[1:]
    setup, wine_run, song = (os.path.abspath(a) for a in (setup, wine_run, song))
    if not os.path.exists(setup):
        log("no installer at %s: build the installer-windows target" % setup)
        return 1
    return run_e2e.in_xvfb("quavlo-wine-install-", ("Xvfb", "xdotool", "xwininfo", "wine"),
                           lambda display, workdir: session(setup, wine_run, version, song, display, workdir),
                           screen="2560x1600x24")


if __name__ == "__main__":
    sys.exit(main())
