#!/usr/bin/env python3
"""Installs the build into a scratch prefix, as a packager would, and checks what a desktop needs of it.

  - both programs, runnable from the prefix (--version and --help need no display);
  - the desktop entry: valid for desktop-file-validate, opening a file with %f, naming the installed icon and
    the MIME type of the modules;
  - the MIME type: shared-mime-info builds its database from it, knowing .qvl files by name and by "QV";
  - the icon at each size, a PNG of that size;
  - the manual pages, which man formats without a warning;
  - with dpkg-deb at hand, the .deb that cpack makes holds the same files and depends on SDL2.

Usage: install_check.py CMAKE BUILD_DIR VERSION
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import configparser
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
MIME_TYPE = "audio/x-quavlo-module"
ICON_SIZES = (32, 64, 128, 256)


class Failure(Exception):
    pass


def log(msg):
    print("install: " + msg, flush=True)


def run(cmd, **kw):
    p = subprocess.run(cmd, capture_output=True, timeout=300, **kw)
    if p.returncode != 0:
        raise Failure("%s failed (%d): %s%s" % (" ".join(cmd), p.returncode, p.stdout.decode(errors="replace"),
                                                p.stderr.decode(errors="replace")))
    return p


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise Failure(path + " is not a PNG picture")
    return struct.unpack(">II", head[16:24])


def check_prefix(prefix, version):
    share = os.path.join(prefix, "share")
    for program in ("quavlo", "quavlo-cli"):
        path = os.path.join(prefix, "bin", program)
        if not os.access(path, os.X_OK):
            raise Failure("bin/%s is missing or not executable" % program)
    out = run([os.path.join(prefix, "bin", "quavlo"), "--version"]).stdout.decode()
    if out != "QuavloII %s\n" % version:
        raise Failure("quavlo --version prints %r" % out)
    if "--scale" not in run([os.path.join(prefix, "bin", "quavlo"), "--help"]).stdout.decode():
        raise Failure("quavlo --help does not list --scale")
    run([os.path.join(prefix, "bin", "quavlo-cli"), "--help"])
    log("programs: quavlo %s, quavlo-cli" % version)

    desktop = os.path.join(share, "applications", "quavlo.desktop")
    run(["desktop-file-validate", desktop])
    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str
    entry.read(desktop)
    d = entry["Desktop Entry"]
    if d.get("Exec", "").split() != ["quavlo", "%f"]:
        raise Failure("the desktop entry runs %r, not 'quavlo %%f'" % d.get("Exec"))
    if MIME_TYPE not in d.get("MimeType", "").split(";"):
        raise Failure("the desktop entry does not open " + MIME_TYPE)
    for size in ICON_SIZES:
        icon = os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), "apps", d.get("Icon", "") + ".png")
        if not os.path.exists(icon):
            raise Failure("no icon %s" % icon)
        if png_size(icon) != (size, size):
            raise Failure("%s measures %dx%d" % ((icon,) + png_size(icon)))
    log("desktop entry valid, opens %s with %%f; icon at %s pixels" % (MIME_TYPE, ", ".join(map(str, ICON_SIZES))))

    mime = os.path.join(share, "mime")
    run(["update-mime-database", mime])
    globs = open(os.path.join(mime, "globs2")).read().splitlines()
    if not any(line.split(":")[1:3] == [MIME_TYPE, "*.qvl"] for line in globs if not line.startswith("#")):
        raise Failure("the MIME database does not know *.qvl: %s" % globs)
    magic = open(os.path.join(mime, "magic"), "rb").read()
    entry_at = magic.find((":" + MIME_TYPE + "]\n").encode())
    if entry_at < 0 or b">0=\x00\x02QV" not in magic[entry_at:entry_at + 64]:
        raise Failure("the MIME database has no magic \"QV\" at offset 0 for " + MIME_TYPE)
    log("MIME database: *.qvl and \"QV\" at offset 0 are %s" % MIME_TYPE)

    for page in ("quavlo.1", "quavlo-cli.1"):
        path = os.path.join(share, "man", "man1", page)
        if not os.path.exists(path):
            raise Failure("no manual page " + page)
        if shutil.which("man"):
            p = run(["man", "--warnings", "-l", path], env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING=""))
            if p.stderr.strip():
                raise Failure("man warns about %s: %s" % (page, p.stderr.decode(errors="replace")))
            name = page[:-2]
            if ("%s - " % name) not in p.stdout.decode(errors="replace").replace("\u2010", "-"):
                raise Failure("%s has no NAME line" % page)
    log("manual pages format cleanly")


def check_deb(cmake, build, workdir):
    if not shutil.which("dpkg-deb") or not shutil.which("dpkg-shlibdeps"):
        log("no dpkg-deb/dpkg-shlibdeps: the .deb is not checked")
        return
    cpack = os.path.join(os.path.dirname(cmake), "cpack")
    out = os.path.join(workdir, "deb")
    run([cpack, "-G", "DEB", "-B", out, "--config", os.path.join(build, "CPackConfig.cmake")], cwd=build)
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    if len(debs) != 1:
        raise Failure("cpack made %s" % debs)
    deb = os.path.join(out, debs[0])
    listing = run(["dpkg-deb", "-c", deb]).stdout.decode()
    for path in ("./usr/bin/quavlo", "./usr/bin/quavlo-cli", "./usr/share/applications/quavlo.desktop",
                 "./usr/share/mime/packages/quavlo.xml", "./usr/share/man/man1/quavlo.1",
                 "./usr/share/icons/hicolor/256x256/apps/quavlo.png"):
        if path not in listing:
            raise Failure("%s lacks %s" % (debs[0], path))
    depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.decode()
    if "libsdl2" not in depends:
        raise Failure("%s does not depend on SDL2: %s" % (debs[0], depends))
    log("%s holds the programs, desktop entry, MIME type, icon and manual pages; depends on %s" %
        (debs[0], depends.strip()))


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    cmake, build, version = sys.argv[1:]
    missing = [t for t in ("desktop-file-validate", "update-mime-database") if not shutil.which(t)]
    if missing:
        log("skipped, missing: " + " ".join(missing) + " (scripts/setup.sh installs them)")
        return SKIP
    workdir = tempfile.mkdtemp(prefix="quavlo-install-")
    try:
        prefix = os.path.join(workdir, "prefix")
        run([cmake, "--install", build, "--prefix", prefix])
        check_prefix(prefix, version)
        check_deb(cmake, build, workdir)
    except Failure as e:
        log("FAILED: " + str(e))
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
