#!/usr/bin/env python3
"""The native Windows tracker (quavlo.exe) under Wine in a virtual X server.

Starts quavlo.exe with Wine (a temporary prefix, with ALSA's null device as the sound card so that the wave output
really runs, unless WINEPREFIX names one that comes with its home) in a folder named in Cyrillic and Japanese, and
checks that:
  - --version prints the version, a bad argument ends with status 2 and says so;
  - a window titled "QuavloII" with a 900 x 520 client area appears and its picture is not blank;
  - notes typed with xdotool reach the pattern;
  - SAVE through Wine's common save dialog, to a name in Cyrillic and Japanese, writes the module bytes the typed
    notes require under exactly that name (read back with the Linux quavlo-cli dump);
  - LOAD of a file (named in both scripts) that is not a module shows the "Can not load" message box and keeps the
    song on the screen;
  - the WAV button records a song.wav with sound through the Win32 wave output into that folder;
  - closing the window ends the program with exit status 0, and its log, taken from the debugger output, has the
    Win32 start-up and shut-down lines, MIDI input opened (with no MIDI device under Wine) and closed, and no
    assertion;
  - quavlo.exe FILE starts with the saved song loaded (its name in the title, its notes on the screen), and LOAD
    through the open dialog takes another song named in both scripts;
  - quavlo-cli.exe dumps, repacks, exports and renders with such names as the Linux quavlo-cli does.
Reports the time to the first frame (figures only, no limits).

Usage: wine_session.py QUAVLO_EXE QUAVLO_CLI WINE_RUN QUAVLO_CLI_EXE
  QUAVLO_CLI is the Linux quavlo-cli; WINE_RUN is scripts/wine-run.sh; QUAVLO_CLI_EXE the Windows quavlo-cli.
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import app_session  # noqa: E402  (the Linux session: key presses, screenshots, the module dump)
import run_e2e  # noqa: E402  (Xvfb, window search, screenshots, close request)
from run_e2e import Failure, log, run, wait_for  # noqa: E402

# ALSA's null device stands in for a sound card: Wine's wave output opens it and plays in real time into nothing.
ASOUNDRC = "pcm.!default {\n  type null\n}\nctl.!default {\n  type hw\n  card 0\n}\n"
DEBUG_PREFIX = 'OutputDebugStringA "'
# A folder and file names outside every ANSI code page.
FOLDER = "ノート ноты"
TUNE = "мелодия 曲.qvl"
JUNK = "мусор ゴミ.qvl"
COPY = "コピー копия.qvl"


def windows_path(path):
    """The Unix path as Wine's drive Z: shows it."""
    return "Z:" + path.replace("/", "\\")


def debugger_lines(stderr_text):
    """The program's log lines as the debugger received them (Wine's +debugstr channel), escapes undone."""
    lines = []
    for line in stderr_text.splitlines():
        at = line.find(DEBUG_PREFIX)
        if at < 0 or not line.endswith('"'):
            continue
        text = line[at + len(DEBUG_PREFIX):-1]
        lines.append(text.replace("\\n", "").replace("\\\\", "\\"))
    return lines


class WineSession(app_session.Session):
    def window_titled(self, title):
        ids = run(["xdotool", "search", "--name", "^%s$" % title], self.env, check=False).stdout.split()
        return ids[-1].decode() if ids else None

    def dialog(self, title, path):
        """Waits for Wine's common file dialog titled title, types path as the file name and confirms. A name that
        lost keys on a busy machine gets the dialog's own error box: that is dismissed and the name typed again."""
        for attempt in range(3):
            did = wait_for(lambda: self.window_titled(title), 30, 'no "%s" dialog appeared' % title)
            time.sleep(1.0)  # the dialog fills its list after mapping
            self.xdo("windowfocus", "--sync", did)
            # Alt+N ("File name:") puts the focus into the file name box; what it holds is typed over.
            self.xdo("key", "alt+n")
            self.xdo("key", "ctrl+a")
            self.xdo("type", "--delay", 40, windows_path(path))
            time.sleep(0.3)
            self.xdo("key", "Return")
            try:
                wait_for(lambda: not self.window_titled(title), 10, 'the "%s" dialog did not close' % title)
                break
            except Failure:
                if attempt == 2:
                    raise
                log('the "%s" dialog is still open: typing the name again' % title)
                self.xdo("key", "Return")
                time.sleep(1.0)
        time.sleep(0.3)

    def save_melody(self, cli, path):
        """SAVE (Ctrl+S) to path through the save dialog; checks the module's notes with quavlo-cli dump. A name
        that lost or changed keys on the way is reported with what the folder holds, and the save done again."""
        folder = os.path.dirname(path)
        for attempt in range(3):
            self.hold("Control_L", "s")
            self.dialog("Save As", path)
            try:
                wait_for(lambda: os.path.exists(path), 10, "%s was not written" % os.path.basename(path))
                break
            except Failure:
                log("%s was not written; the folder holds %s" % (os.path.basename(path), os.listdir(folder)))
                if attempt == 2:
                    raise
                self.dismiss_error()
        return app_session.check_melody(cli, path)

    def dismiss_error(self):
        """Closes the tracker's "ERROR" message box, if one is open."""
        box = self.window_titled("ERROR")
        if box:
            self.xdo("windowfocus", "--sync", box)
            self.xdo("key", "Return")
            wait_for(lambda: not self.window_titled("ERROR"), 10, "the message box did not close")


def session(quavlo, cli, wine_run, cli_exe, display, workdir):
    env = dict(os.environ)
    env.pop("WAYLAND_DISPLAY", None)
    env.update(DISPLAY=display, XAUTHORITY="/dev/null", WINEDEBUG="-all,+debugstr")
    if not env.get("WINEPREFIX"):
        # A prefix of its own, whose home (where Wine links the user's folders, and ALSA reads .asoundrc) lives
        # as long as the prefix. A prefix given from outside comes with its home (scripts/wine-test.sh).
        home = os.path.join(workdir, "home")
        os.makedirs(home)
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write(ASOUNDRC)
        env.update(HOME=home, WINEPREFIX=os.path.join(workdir, "prefix"))
    if not os.path.isdir(env["WINEPREFIX"]):
        started = time.time()
        run([wine_run, "wineboot", "--init"], env, timeout=300)
        log("new Wine prefix made in %.1f s" % (time.time() - started))

    check_command_line(wine_run, quavlo, env)

    folder = os.path.join(workdir, FOLDER)
    os.makedirs(folder)
    out_path = os.path.join(workdir, "program.out")
    err_path = os.path.join(workdir, "program.err")
    started = time.time()
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        program = subprocess.Popen([wine_run, quavlo], cwd=folder, env=env, stdout=out, stderr=err)
    try:
        wid = run_e2e.find_window(env, program, timeout=60)
        # Wine names the window as it creates it, before it is shown.
        info = wait_for(lambda: (lambda i: i if i.get("Map State") == "IsViewable" else None)(
            run_e2e.window_info(env, wid)), 30, "the window was not shown")
        size = (info.get("Width"), info.get("Height"))
        if size != ("900", "520"):
            raise Failure("client area is %sx%s, not 900x520" % size)
        s = WineSession(env, wid)
        wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 30, "the window's picture stayed blank")
        log("window 900x520; first frame on screen %.0f ms after start (including the polling)" %
            ((time.time() - started) * 1000))
        fresh = s.settled_shot()

        # A click on the title picture activates the window, as a user's first click does, so the keys go to it.
        s.click(450, 30)
        typed = s.type_melody(fresh)
        log("typed a melody of eight notes")

        tune = os.path.join(folder, TUNE)
        notes = s.save_melody(cli, tune)
        log("saved %s through Wine's save dialog: %d notes, %d bytes" % (TUNE, notes, os.path.getsize(tune)))

        junk = os.path.join(folder, JUNK)
        with open(junk, "wb") as f:
            f.write(b"this is not a module\n")
        s.hold("Control_L", "l")
        s.dialog("Open", junk)
        box = wait_for(lambda: s.window_titled("ERROR"), 20, 'no "ERROR" message box after loading junk.qvl')
        s.xdo("windowfocus", "--sync", box)
        s.xdo("key", "Return")
        wait_for(lambda: not s.window_titled("ERROR"), 10, "the message box did not close")
        kept = s.settled_shot()
        if run_e2e.differing_pixels(typed, kept) != 0:
            raise Failure("loading a file that is not a module changed the song on the screen")
        log('LOAD of %s showed the "ERROR" box and kept the song' % JUNK)

        # The WAV button (x 5..105, y 205..235): the song plays through the wave output and is recorded.
        s.click(55, 220)
        wav = os.path.join(folder, "song.wav")
        wait_for(lambda: os.path.exists(wav), 10, "no song.wav appeared")
        time.sleep(2.0)
        s.click(55, 220)
        time.sleep(0.5)
        samples = app_session.check_wav(wav)
        log("WAV button recorded song.wav through the wave output: %d samples (%.1f s)" % (samples, samples / 22050))

        run_e2e.close_and_expect_exit(display, wid, program)
        log("closing the window ended quavlo.exe with status 0")
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()

    lines = debugger_lines(open(err_path, "rb").read().decode(errors="replace"))
    for line in ("g_init_display", "PLATFORM WIN32", "AUDIO == WIN32_AUDIO", "init sounds", "deinit sounds",
                 "g_deinit_display", "MIDI: closed"):
        if line not in lines:
            raise Failure('the debugger output has no line "%s"' % line)
    asserts = [line for line in lines if line.startswith("assert:")]
    if asserts:
        raise Failure("the log holds an assertion: " + asserts[0])
    # MIDI input ran, with or without a device (Wine has none without an ALSA sequencer), and closed.
    midi = [line for line in lines if line.startswith("MIDI: Windows MIDI") or line.startswith("MIDI: connected")]
    if not midi:
        raise Failure("the debugger output has no line of MIDI input opened")
    log("debugger output: %d log lines, Win32 start-up and shut-down, %s, no assertion" % (len(lines), midi[0]))

    cli_with_unicode_names(cli_exe, cli, wine_run, env, folder, tune)
    start_with_file(quavlo, wine_run, env, display, folder, tune, fresh)


def check_command_line(wine_run, quavlo, env):
    """--version prints to the standard output it was given; a bad argument is refused with status 2."""
    p = subprocess.run([wine_run, quavlo, "--version"], env=env, capture_output=True, timeout=120)
    printed = p.stdout.decode(errors="replace")
    if p.returncode != 0 or not re.fullmatch(r"QuavloII \d+\.\d+\.\d+\n", printed):
        raise Failure("quavlo.exe --version gave status %d and printed %r" % (p.returncode, printed))
    p = subprocess.run([wine_run, quavlo, "--scale", "5"], env=env, capture_output=True, timeout=60)
    said = p.stderr.decode(errors="replace")
    if p.returncode != 2 or "--scale takes 1, 2 or 3, not '5'" not in said:
        raise Failure("quavlo.exe --scale 5 gave status %d and said %r" % (p.returncode, said))
    log("quavlo.exe --version printed %r; --scale 5 was refused with status 2" % printed.strip())


def cli_with_unicode_names(cli_exe, cli, wine_run, env, folder, tune):
    """quavlo-cli.exe with file names in both scripts: its dump is the Linux quavlo-cli's, and repack, header and
    render write files under exactly the names given."""
    def cli_run(*args):
        p = subprocess.run([wine_run, cli_exe] + list(args), cwd=folder, env=env, capture_output=True, timeout=120)
        if p.returncode != 0:
            raise Failure("quavlo-cli.exe %s: status %d, %s" % (" ".join(args), p.returncode,
                                                                  p.stderr.decode(errors="replace")))
        return p.stdout

    # A relative name, and a full one in Windows form.
    dumped = cli_run("dump", TUNE)
    if dumped != subprocess.run([cli, "dump", tune], capture_output=True, timeout=30).stdout:
        raise Failure("quavlo-cli.exe dump of %s differs from the Linux quavlo-cli's" % TUNE)
    cli_run("repack", windows_path(tune), COPY)
    app_session.check_melody(cli, os.path.join(folder, COPY))
    cli_run("header", TUNE, "楽譜.h")
    header = open(os.path.join(folder, "楽譜.h"), "rb").read()
    if not header.startswith(b"const byte ______[]="):
        raise Failure("the header of 楽譜.h starts %r" % header[:40])
    cli_run("render", TUNE, "песня.wav", "--seconds", "2")
    app_session.check_wav(os.path.join(folder, "песня.wav"))
    p = subprocess.run([wine_run, cli_exe, "dump", "нет такого.qvl"], cwd=folder, env=env, capture_output=True,
                       timeout=60)
    said = p.stderr.decode(errors="replace")
    if p.returncode != 2 or "cannot read 'нет такого.qvl'" not in said:
        raise Failure("quavlo-cli.exe dump of a missing file gave status %d and said %r" % (p.returncode, said))
    log("quavlo-cli.exe dumped, repacked, exported and rendered with names in Cyrillic and Japanese")


def start_with_file(quavlo, wine_run, env, display, folder, tune, fresh):
    """quavlo.exe FILE starts with the song loaded; LOAD through the open dialog takes another such name."""
    with open(os.path.join(folder, "..", "second.err"), "wb") as err:
        program = subprocess.Popen([wine_run, quavlo, tune], cwd=folder, env=env, stdout=subprocess.DEVNULL,
                                   stderr=err)
    try:
        s = WineSession(env, None)
        wid = wait_for(lambda: s.window_titled("QuavloII - " + TUNE), 60,
                       "no window titled with the song's name after quavlo.exe FILE")
        s = WineSession(env, wid)
        wait_for(lambda: run_e2e.distinct_colours(s.shot()) >= 4, 30, "the window's picture stayed blank")
        loaded = s.settled_shot()
        if run_e2e.differing_pixels(fresh, loaded) == 0:
            raise Failure("quavlo.exe FILE shows the empty song")
        log('quavlo.exe "%s" started with the song loaded, its name in the title' % TUNE)

        s.click(450, 30)
        for attempt in range(3):
            s.hold("Control_L", "l")
            s.dialog("Open", os.path.join(folder, COPY))
            try:
                wait_for(lambda: s.window_titled("QuavloII - " + COPY), 10,
                         "LOAD of %s did not name it in the title" % COPY)
                break
            except Failure:
                # A name that lost keys on the way names no file: "Can not load", and the name is typed again.
                log("LOAD of %s did not take it" % COPY)
                if attempt == 2:
                    raise
                s.dismiss_error()
        log('LOAD through the open dialog took "%s"' % COPY)
        run_e2e.close_and_expect_exit(display, wid, program)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def session_in_own_server(quavlo, cli, wine_run, cli_exe, display, workdir):
    """The session; a Wine server it started for a prefix of its own is stopped before the prefix is removed
    (it would write the registry back into the removed folder)."""
    own_prefix = not os.environ.get("WINEPREFIX")
    try:
        session(quavlo, cli, wine_run, cli_exe, display, workdir)
    finally:
        if own_prefix:
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.path.join(workdir, "prefix")),
                           capture_output=True, timeout=30)


def main():
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    quavlo, cli, wine_run, cli_exe = (os.path.abspath(a) for a in sys.argv[1:])
    return run_e2e.in_xvfb("quavlo-wine-", ("Xvfb", "xdotool", "xwininfo", "wine"),
                           lambda display, workdir: session_in_own_server(quavlo, cli, wine_run, cli_exe, display,
                                                                          workdir))


if __name__ == "__main__":
    sys.exit(main())
