#!/usr/bin/env python3
"""Reads the resources back from the Windows executables of the cross build and checks them.

Each program must carry:
  - the icon group 1 with the icon at 16, 24, 32, 48, 64, 128 and 256 pixels, 32 bits a pixel, each image what its
    group entry says (a bitmap of that size, or a PNG of that size), the drawing's blue ground in every one;
  - version information: ProductName "QuavloII", ProductVersion and FileVersion the project's version, the fixed
    file and product version fields the same numbers, OriginalFilename the file's own name;
  - a manifest that asks for UTF-8 as the code page, per-monitor DPI awareness (v2) and common controls 6.

Usage: pe_resources.py VERSION EXE...
Exit status: 0 passed, 1 failed.
"""

import re
import struct
import sys
import zlib

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]


class Failure(Exception):
    pass


def pe_resources(data):
    """{type: {name: bytes}} of the first language of every resource in a PE32+ file."""
    if data[:2] != b"MZ":
        raise Failure("not an MZ executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise Failure("no PE header")
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        raise Failure("not a 64-bit (PE32+) executable")
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, optional + 112 + 2 * 8)  # data directory 2: resources
    if rsrc_size == 0:
        raise Failure("no resource directory")
    table = optional + optional_size
    for i in range(sections):
        _, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if rva <= rsrc_rva < rva + max(vsize, raw_size):
            base = raw_ptr + rsrc_rva - rva
            delta = rva - raw_ptr
            break
    else:
        raise Failure("the resource directory lies in no section")

    def directory(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
            yield name, target

    resources = {}
    for rtype, t in directory(0):
        for name, n in directory(t & 0x7FFFFFFF):
            _, leaf = next(directory(n & 0x7FFFFFFF))
            data_rva, size = struct.unpack_from("<II", data, base + leaf)
            resources.setdefault(rtype, {})[name] = data[data_rva - delta:data_rva - delta + size]
    return resources


def png_size(image):
    if image[:8] != b"\x89PNG\r\n\x1a\n" or image[12:16] != b"IHDR":
        raise Failure("an icon image is neither a bitmap nor a PNG")
    return struct.unpack_from(">II", image, 16)


def png_pixels(image):
    """The middle pixel (0xRRGGBB) of the first row of an 8-bit RGB PNG."""
    width = png_size(image)[0]
    at, chunks = 8, b""
    while at < len(image):
        length, kind = struct.unpack_from(">I4s", image, at)
        if kind == b"IDAT":
            chunks += image[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(chunks)
    method, row = raw[0], bytearray(raw[1:1 + 3 * width])
    # The first row's filters see a row of zeros above: Up is none, Paeth takes the left byte, Average half of it.
    for i in range(3, len(row)):
        left = row[i - 3]
        row[i] = (row[i] + (left if method in (1, 4) else left // 2 if method == 3 else 0)) & 0xFF
    middle = 3 * (width // 2)
    return int.from_bytes(row[middle:middle + 3], "big")


def check_icons(res):
    groups = res.get(RT_GROUP_ICON, {})
    if 1 not in groups:
        raise Failure("no icon group 1 (the window's and Explorer's icon)")
    group = groups[1]
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    if kind != 1:
        raise Failure("icon group 1 is not an icon")
    sizes = []
    for i in range(count):
        w, h, _, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        w, h = w or 256, h or 256
        image = res.get(RT_ICON, {}).get(icon_id)
        if image is None or len(image) != size:
            raise Failure("icon image %d (%dx%d) is missing or not of its stated size" % (icon_id, w, h))
        if bits != 32:
            raise Failure("the %dx%d icon has %d bits a pixel, not 32" % (w, h, bits))
        if image[:4] == b"\x28\0\0\0":
            bw, bh, _, bbits = struct.unpack_from("<iiHH", image, 4)
            if (bw, bh, bbits) != (w, 2 * h, 32):
                raise Failure("the %dx%d icon's bitmap is %dx%d at %d bits" % (w, h, bw, bh // 2, bbits))
            # The middle of the top row, bottom-up rows of blue, green, red, alpha: the navy frame of the ground.
            top = 40 + ((h - 1) * w + w // 2) * 4
            blue, green, red, alpha = image[top:top + 4]
            colour = red << 16 | green << 8 | blue
        else:
            if png_size(image) != (w, h):
                raise Failure("the %dx%d icon's PNG is %dx%d" % ((w, h) + png_size(image)))
            colour = png_pixels(image)
        if colour & 0xFFFF00 != 0 or colour & 0xFF == 0:
            raise Failure("the %dx%d icon's top edge is #%06X, not the icon's blue" % (w, h, colour))
        sizes.append(w)
    if sorted(sizes) != ICON_SIZES:
        raise Failure("icon sizes %s, not %s" % (sorted(sizes), ICON_SIZES))


def version_strings(block):
    """The StringFileInfo values of a VS_VERSIONINFO block, and its fixed file information."""
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        raise Failure("the version information has no fixed part")
    numbers = struct.unpack_from("<IIII", block, fixed + 8)
    strings = {}
    text = block.decode("utf-16-le", errors="replace")
    for key in ("ProductName", "ProductVersion", "FileVersion", "OriginalFilename", "FileDescription"):
        m = re.search(key + "\0+([^\0]+)\0", text)
        if m:
            strings[key] = m.group(1)
    return numbers, strings


def check_version(res, version, exe_name):
    block = res.get(RT_VERSION, {}).get(1)
    if block is None:
        raise Failure("no version information")
    (file_ms, file_ls, product_ms, product_ls), strings = version_strings(block)
    major, minor, patch = (int(p) for p in version.split("."))
    want = (major << 16 | minor, patch << 16)
    if (file_ms, file_ls) != want or (product_ms, product_ls) != want:
        raise Failure("the fixed version fields are not %s.0" % version)
    expected = {"ProductName": "QuavloII", "ProductVersion": version, "FileVersion": version,
                "OriginalFilename": exe_name}
    for key, value in expected.items():
        if strings.get(key) != value:
            raise Failure('%s is "%s", not "%s"' % (key, strings.get(key), value))
    return strings.get("FileDescription", "")


def check_manifest(res):
    manifest = res.get(RT_MANIFEST, {}).get(1)
    if manifest is None:
        raise Failure("no manifest (resource 1 of type 24)")
    text = manifest.decode("utf-8")
    wants = [
        (r"<activeCodePage[^>]*>\s*UTF-8\s*</activeCodePage>", "UTF-8 as the active code page"),
        (r"<dpiAwareness[^>]*>\s*PerMonitorV2\b", "per-monitor DPI awareness v2"),
        (r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"', "common controls 6"),
        (r'requestedExecutionLevel level="asInvoker"', "no elevation"),
    ]
    for pattern, what in wants:
        if not re.search(pattern, text):
            raise Failure("the manifest does not ask for " + what)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    version = sys.argv[1]
    failed = 0
    for path in sys.argv[2:]:
        name = path.replace("\\", "/").rsplit("/", 1)[-1]
        try:
            res = pe_resources(open(path, "rb").read())
            check_icons(res)
            description = check_version(res, version, name)
            check_manifest(res)
            print("%s: icon at %s pixels, version %s (%s), manifest with UTF-8, PerMonitorV2, common controls 6"
                  % (name, "/".join(map(str, ICON_SIZES)), version, description))
        except (Failure, struct.error, zlib.error, UnicodeDecodeError) as e:
            print("%s: %s" % (name, e))
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main())
