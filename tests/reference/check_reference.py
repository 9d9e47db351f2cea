#!/usr/bin/env python3
"""Runs quavlo-cli over every reference module and compares its dump, repack and render with the expected files.

Usage: check_reference.py [--runner PROGRAM] QUAVLO_CLI REFERENCE_DIR
--runner starts quavlo-cli through PROGRAM (scripts/wine-run.sh for the Windows build).
Exits 0 when everything matches, 1 on a mismatch, 77 (skip) when the reference directory is absent.
"""
import gzip
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

SKIP = 77


def run(cli, args, cwd):
    result = subprocess.run(cli + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        raise RuntimeError("quavlo-cli %s exited with %d: %s" % (" ".join(args), result.returncode,
                                                                 result.stderr.decode(errors="replace").strip()))
    return result.stdout


def compare_wav(got, expected):
    """None when the headers are equal and every sample is within 1, else a description of the first difference."""
    if got[:44] != expected[:44]:
        return "header differs: got %s, expected %s" % (got[:44].hex(), expected[:44].hex())
    if len(got) != len(expected):
        return "length differs: got %d bytes, expected %d" % (len(got), len(expected))
    count = (len(got) - 44) // 2
    a = struct.unpack("<%dh" % count, got[44:44 + 2 * count])
    b = struct.unpack("<%dh" % count, expected[44:44 + 2 * count])
    for i in range(count):
        if abs(a[i] - b[i]) > 1:
            return "sample %d (block %d, offset %d) is %d, expected %d" % (i, i // 1102, i % 1102, a[i], b[i])
    return None


def render_args(args):
    """The manifest's render arguments as this quavlo-cli takes them. The expected files were made when
    --seconds S ended a render with the first whole block of 1102 samples that reached S seconds; the command now
    stops at round(S * 22050) samples, so the check asks for the length of those whole blocks."""
    out = list(args)
    for i in range(len(out) - 1):
        if out[i] == "--seconds":
            blocks = math.ceil(float(out[i + 1]) * 22050 / 1102)
            out[i + 1] = "%.9f" % (blocks * 1102 / 22050)
    return out


def main():
    argv = sys.argv[1:]
    runner = []
    if argv[:1] == ["--runner"] and len(argv) > 1:
        runner, argv = [argv[1]], argv[2:]
    if len(argv) != 2:
        print(__doc__)
        return 2
    cli, ref = runner + [argv[0]], argv[1]
    manifest_path = os.path.join(ref, "manifest.json")
    if not os.path.isfile(manifest_path):
        print("SKIP: no reference songs at %s (they live beside the repository, in shared/reference)" % ref)
        return SKIP
    with open(manifest_path) as f:
        manifest = json.load(f)
    failures = 0
    checks = 0
    with tempfile.TemporaryDirectory() as work:
        for vector in manifest["vectors"]:
            name = vector["name"]
            module = os.path.join(ref, vector["file"])

            def check(what, problem):
                nonlocal failures, checks
                checks += 1
                if problem:
                    failures += 1
                    print("FAIL %s %s: %s" % (name, what, problem))
                else:
                    print("ok   %s %s" % (name, what))

            try:
                if "dump" in vector:
                    got = json.loads(run(cli, ["dump", module], work))
                    with open(os.path.join(ref, vector["dump"])) as f:
                        expected = json.load(f)
                    check("dump", None if got == expected else "got %s" % json.dumps(got))
                if "repack" in vector:
                    out = os.path.join(work, name + ".qvl")
                    run(cli, ["repack", module, out], work)
                    with open(out, "rb") as f, open(os.path.join(ref, vector["repack"]), "rb") as g:
                        got, expected = f.read(), g.read()
                    check("repack", None if got == expected else "got %s, expected %s" % (got.hex(), expected.hex()))
                for render in vector.get("render", []):
                    out = os.path.join(work, name + ".wav")
                    run(cli, ["render", module, out] + render_args(render["args"]), work)
                    with open(out, "rb") as f:
                        got = f.read()
                    with gzip.open(os.path.join(ref, render["expect"]), "rb") as g:
                        expected = g.read()
                    check("render %s" % " ".join(render["args"]), compare_wav(got, expected))
            except RuntimeError as e:
                check("run", str(e))
    print("%d of %d reference checks passed" % (checks - failures, checks))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
