#!/usr/bin/env python3
"""Installs the build into a scratch prefix, as a packager would, and checks what a desktop needs of it.

  - both programs, runnable from the prefix (--version and --help need no display), each giving the build's version;
  - the desktop entry: valid for desktop-file-validate, opening a file with %f, naming the installed icon and
    the MIME type of the modules;
  - the MIME type: shared-mime-info builds its database from it, knowing .qvl files by name and by "QV";
  - the icon at each size, a PNG of that size;
  - the manual pages, compressed, which man formats without a warning;
  - the AppStream metadata: valid for appstreamcli (when at hand), launching the installed desktop entry,
    providing the MIME type, its newest release the build's version;
  - the changelog (Debian's format, newest entry the build's version) and the copyright file in share/doc/quavlo,
    compressed as Debian wants (gzip -9n: best compression, no time stamp);
  - with dpkg-deb at hand, the two .deb packages that cpack makes (quavlo and libquavlo-replay-dev) hold the
    installed files between them, owned by root, carry the build's version, the tracker's depends on SDL2, and
    (with lintian at hand) each passes lintian without an error or a warning.

Usage: install_check.py CMAKE BUILD_DIR VERSION
Exit status: 0 passed, 1 failed, 77 a needed tool is missing (the test is skipped).
"""

import configparser
import gzip
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SKIP = 77
MIME_TYPE = "audio/x-quavlo-module"
APP_ID = "io.github.quavlo.QuavloII"
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
    out = run([os.path.join(prefix, "bin", "quavlo-cli"), "--version"]).stdout.decode()
    if out != "quavlo-cli (QuavloII) %s\n" % version:
        raise Failure("quavlo-cli --version prints %r" % out)
    log("programs: quavlo %s, quavlo-cli %s" % (version, version))

    desktop = os.path.join(share, "applications", APP_ID + ".desktop")
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
        path = os.path.join(share, "man", "man1", page + ".gz")
        if not os.path.exists(path):
            raise Failure("no manual page " + page + ".gz")
        check_gzip(path)
        if shutil.which("man"):
            p = run(["man", "--warnings", "-l", path], env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING=""))
            if p.stderr.strip():
                raise Failure("man warns about %s: %s" % (page, p.stderr.decode(errors="replace")))
            name = page[:-2]
            if ("%s - " % name) not in p.stdout.decode(errors="replace").replace("\u2010", "-"):
                raise Failure("%s has no NAME line" % page)
    log("manual pages compressed, format cleanly")

    check_metainfo(share, version)
    check_docs(share, version)


def check_gzip(path):
    """Debian's form of a compressed file: best compression, and no time stamp, so that builds come out the same."""
    with open(path, "rb") as f:
        head = f.read(10)
    if head[:3] != b"\x1f\x8b\x08" or head[4:8] != b"\0\0\0\0" or head[8] != 2 or head[3] & 0x08:
        raise Failure("%s is not compressed with gzip -9n" % path)


def check_metainfo(share, version):
    path = os.path.join(share, "metainfo", APP_ID + ".metainfo.xml")
    if not os.path.exists(path):
        raise Failure("no AppStream metadata " + path)
    if shutil.which("appstreamcli"):
        run(["appstreamcli", "validate", "--no-net", path])
    else:
        log("no appstreamcli: the metadata is not validated")
    root = ET.parse(path).getroot()
    if root.findtext("id") != APP_ID:
        raise Failure("the metadata's id is %r" % root.findtext("id"))
    launchable = root.findtext("launchable[@type='desktop-id']")
    if not os.path.exists(os.path.join(share, "applications", launchable or "-")):
        raise Failure("the metadata launches %r, which is not installed" % launchable)
    if MIME_TYPE not in [m.text for m in root.findall("provides/mediatype")]:
        raise Failure("the metadata does not provide " + MIME_TYPE)
    releases = [r.get("version") for r in root.findall("releases/release")]
    if not releases or releases[0] != version:
        raise Failure("the metadata's releases are %s, not %s first" % (releases, version))
    image = root.findtext("screenshots/screenshot/image") or ""
    if not image.endswith("/v%s/docs/screenshot.png" % version):
        raise Failure("the metadata's screenshot is %r" % image)
    log("AppStream metadata valid, launches %s, provides %s; releases %s" % (launchable, MIME_TYPE,
                                                                             ", ".join(releases)))


def check_docs(share, version):
    doc = os.path.join(share, "doc", "quavlo")
    changelog = os.path.join(doc, "changelog.gz")
    if not os.path.exists(changelog):
        raise Failure("no " + changelog)
    check_gzip(changelog)
    with gzip.open(changelog, "rt") as f:
        first = f.readline()
    if not first.startswith("quavlo (%s) unstable; " % version):
        raise Failure("the changelog begins %r" % first)
    copyright_file = os.path.join(doc, "copyright")
    if not os.path.exists(copyright_file):
        raise Failure("no " + copyright_file)
    with open(copyright_file) as f:
        text = f.read()
    if not text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"):
        raise Failure("the copyright file is not in the machine-readable format")
    if "\nLicense: MIT\n Permission is hereby granted" not in text:
        raise Failure("the copyright file does not hold the MIT license")
    log("changelog.gz (%s) and copyright in share/doc/quavlo" % version)


def check_deb(cmake, build, installed, workdir, version):
    if not shutil.which("dpkg-deb") or not shutil.which("dpkg-shlibdeps"):
        log("no dpkg-deb/dpkg-shlibdeps: the .deb is not checked")
        return
    cpack = os.path.join(os.path.dirname(cmake), "cpack")
    out = os.path.join(workdir, "deb")
    run([cpack, "-G", "DEB", "-B", out, "--config", os.path.join(build, "CPackConfig.cmake")], cwd=build)
    debs = sorted(f for f in os.listdir(out) if f.endswith(".deb"))
    want = sorted(["quavlo_%s_amd64.deb" % version, "libquavlo-replay-dev_%s_amd64.deb" % version])
    if debs != want:
        raise Failure("cpack made %s, not %s" % (debs, want))
    # Between them the packages hold exactly what the install puts in place, each file once.
    in_debs = []
    for name in debs:
        deb = os.path.join(out, name)
        listing = run(["dpkg-deb", "-c", deb]).stdout.decode().splitlines()
        in_debs += [line.split()[-1][len("./usr/"):] for line in listing if not line.startswith("d")]
        if any(not line.startswith(("-rw-r--r-- root/root", "-rwxr-xr-x root/root", "drwxr-xr-x root/root"))
               for line in listing):
            raise Failure("%s has files not root:root 0644/0755: %s" % (name, listing))
        deb_version = run(["dpkg-deb", "-f", deb, "Version"]).stdout.decode().strip()
        if deb_version != version:
            raise Failure("%s has the version %s" % (name, deb_version))
        if name.startswith("quavlo_"):
            depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.decode()
            if "libsdl2" not in depends:
                raise Failure("%s does not depend on SDL2: %s" % (name, depends))
            log("%s: root:root, version %s; depends on %s" % (name, version, depends.strip()))
        else:
            package = run(["dpkg-deb", "-f", deb, "Package"]).stdout.decode().strip()
            if not any(f.endswith("/libquavlo_replay.a") for f in in_debs) or package != "libquavlo-replay-dev":
                raise Failure("%s is not the replayer's development package" % name)
            log("%s: root:root, version %s, the replayer's header, library, CMake and pkg-config files" %
                (name, version))
        if shutil.which("lintian"):
            p = subprocess.run(["lintian", "--fail-on", "error,warning", "--tag-display-limit", "0", deb],
                               capture_output=True, timeout=300)
            tags = p.stdout.decode(errors="replace").strip()
            if p.returncode != 0:
                raise Failure("lintian on %s: %s" % (name, tags or p.stderr.decode(errors="replace")))
            log("lintian on %s: no error, no warning" % name + (" (%s)" % tags.replace("\n", "; ") if tags else ""))
        else:
            log("no lintian: %s is not linted" % name)
    if sorted(in_debs) != installed:
        raise Failure("the packages hold %s; the install %s" % (sorted(in_debs), installed))


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
        # The files as installed, before the MIME check builds its database in the prefix.
        installed = sorted(os.path.relpath(os.path.join(d, f), prefix) for d, _, files in os.walk(prefix)
                           for f in files)
        check_prefix(prefix, version)
        check_deb(cmake, build, installed, workdir, version)
    except Failure as e:
        log("FAILED: " + str(e))
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
