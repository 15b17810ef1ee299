#!/usr/bin/env python3
"""Regenerate Varnello's icons from the pixel art in resources/icons/.

The artwork lives in small XPM files, one per image, so it can be edited in any
text editor (or GIMP). This script turns them into:

  resources/varnello.ico   program icon: 32, 22, 16, 14, 12 and 10 px, 16 colours
  resources/exit.ico       Exit button: 32 px in 16 colours and in monochrome
  resources/hicolor/<n>x<n>/apps/varnello.png   for desktop installation
                           (16, 22, 32; 48, 64 and 128 scaled up from 32, the
                           last two at whole multiples so the pixels stay sharp)

Only the standard library is used: the ICO images are plain BMP-in-ICO with a
4-bit (or 1-bit) palette and an AND mask, the PNGs are RGBA written via zlib.
The output is byte-for-byte deterministic, so `--check` can tell whether the
committed binaries still match their sources.

Usage: make-icons.py [--check]
"""

import os
import re
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "resources")
SRC = os.path.join(RES, "icons")

# The classic Windows 16-colour palette, in its usual index order.
PALETTE16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
PALETTE2 = [(0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)]

PROGRAM_SIZES = [32, 22, 16, 14, 12, 10]
PNG_SIZES = {16: 16, 22: 22, 32: 32, 48: 32, 64: 32, 128: 32}  # PNG size -> source image size


class ArtError(Exception):
    pass


def read_xpm(path):
    """Return (width, height, pixels) with pixels as rows of (r, g, b) or None."""
    with open(path, encoding="ascii") as f:
        text = f.read()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    strings = re.findall(r'"([^"]*)"', text)
    name = os.path.basename(path)
    if not strings:
        raise ArtError(f"{name}: no XPM strings found")
    try:
        width, height, ncolors, cpp = (int(v) for v in strings[0].split()[:4])
    except ValueError:
        raise ArtError(f"{name}: bad XPM values line {strings[0]!r}")
    if cpp != 1:
        raise ArtError(f"{name}: only one character per pixel is supported")
    if len(strings) != 1 + ncolors + height:
        raise ArtError(f"{name}: expected {ncolors} colours and {height} rows, "
                       f"found {len(strings) - 1} strings")
    colours = {}
    for line in strings[1:1 + ncolors]:
        m = re.fullmatch(r"(.)\s+c\s+(\S+)\s*", line)
        if not m:
            raise ArtError(f"{name}: bad colour line {line!r}")
        key, value = m.groups()
        if value.lower() == "none":
            colours[key] = None
        elif re.fullmatch(r"#[0-9A-Fa-f]{6}", value):
            colours[key] = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
        else:
            raise ArtError(f"{name}: colour {value!r} must be None or #RRGGBB")
    rows = []
    for y, line in enumerate(strings[1 + ncolors:]):
        if len(line) != width:
            raise ArtError(f"{name}: row {y} has {len(line)} pixels, not {width}")
        try:
            rows.append([colours[ch] for ch in line])
        except KeyError as e:
            raise ArtError(f"{name}: row {y} uses undefined colour key {e}")
    return width, height, rows


def bmp_rows(indices, bits):
    """Pack rows of palette indices bottom-up, each row padded to 4 bytes."""
    out = bytearray()
    per_byte = 8 // bits
    for row in reversed(indices):
        packed = bytearray()
        for x in range(0, len(row), per_byte):
            byte = 0
            for i in range(per_byte):
                v = row[x + i] if x + i < len(row) else 0
                byte |= v << (8 - bits * (i + 1))
            packed.append(byte)
        packed.extend(b"\0" * (-len(packed) % 4))
        out += packed
    return bytes(out)


def ico_image(name, art, palette):
    """One BMP-in-ICO image: header, palette, colour (XOR) bits, AND mask."""
    width, height, rows = art
    bits = 4 if len(palette) == 16 else 1
    indices, mask = [], []
    for y, row in enumerate(rows):
        irow, mrow = [], []
        for x, rgb in enumerate(row):
            if rgb is None:  # transparent: black under a set mask bit
                irow.append(0)
                mrow.append(1)
            elif rgb in palette:
                irow.append(palette.index(rgb))
                mrow.append(0)
            else:
                raise ArtError(f"{name}: pixel ({x}, {y}) colour #%02X%02X%02X is not in the "
                               f"{len(palette)}-colour palette" % rgb)
        indices.append(irow)
        mask.append(mrow)
    xor_bits = bmp_rows(indices, bits)
    and_bits = bmp_rows(mask, 1)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0,
                         len(xor_bits) + len(and_bits), 0, 0, len(palette), 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + pal + xor_bits + and_bits, bits, len(palette)


def ico_file(images):
    """images: list of (name, art, palette). Returns the .ico bytes."""
    built = [(art[0], art[1]) + ico_image(name, art, palette) for name, art, palette in images]
    out = struct.pack("<HHH", 0, 1, len(built))
    offset = 6 + 16 * len(built)
    for width, height, data, bits, ncolors in built:
        out += struct.pack("<BBBBHHII", width, height, ncolors % 256, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data, _, _ in built)


def png_file(art, size):
    """RGBA PNG of the art, scaled to size x size by nearest neighbour."""
    width, height, rows = art
    raw = bytearray()
    for y in range(size):
        raw.append(0)  # filter type: none
        src = rows[y * height // size]
        for x in range(size):
            rgb = src[x * width // size]
            raw += bytes((0, 0, 0, 0)) if rgb is None else bytes(rgb + (255,))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def load(stem, size):
    name = f"{stem}.xpm"
    art = read_xpm(os.path.join(SRC, name))
    if art[0] != size or art[1] != size:
        raise ArtError(f"{name}: is {art[0]}x{art[1]}, expected {size}x{size}")
    return name, art


def outputs():
    """Map of path relative to resources/ -> bytes."""
    program = {size: load(f"varnello-{size}", size) for size in PROGRAM_SIZES}
    result = {
        "varnello.ico": ico_file([(n, a, PALETTE16) for n, a in program.values()]),
        # The colour image first: readers that take the first 32 px image get it.
        "exit.ico": ico_file([load("exit-32", 32) + (PALETTE16,),
                              load("exit-32-mono", 32) + (PALETTE2,)]),
    }
    for size, source in PNG_SIZES.items():
        path = f"hicolor/{size}x{size}/apps/varnello.png"
        result[path] = png_file(program[source][1], size)
    return result


def main(argv):
    check = argv[1:] == ["--check"]
    if argv[1:] and not check:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    try:
        files = outputs()
    except (ArtError, OSError) as e:
        print(f"make-icons: {e}", file=sys.stderr)
        return 1
    stale = []
    for rel, data in files.items():
        path = os.path.join(RES, rel)
        try:
            with open(path, "rb") as f:
                same = f.read() == data
        except FileNotFoundError:
            same = False
        if same:
            continue
        if check:
            stale.append(rel)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print(f"wrote resources/{rel}")
    if stale:
        print("make-icons: out of date, run scripts/make-icons.py: "
              + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
