#!/usr/bin/env python3
"""Derives every shipped icon from the one picture, vesk-32.png (32 x 32, 16 colours).

The window uses vesk-32.png as it is. The larger hicolor PNGs repeat each pixel (48 px repeats
every other one), the SVG draws the same pixels as squares, and vesk.ico holds the same 32 x 32,
16-colour picture for Windows. Run it after editing vesk-32.png; --check only reports stale files.
Standard library only, so that the build needs nothing to read or write images.
"""
import struct
import sys
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE / "vesk-32.png"
SOURCE_SIZE = 32
PNG_SIZES = (48, 64, 128, 256)
PNG_MAGIC = b"\x89PNG\r\n\x1a\n"


def read_png(path):
    """Returns (palette, alphas, rows of palette indices) of a palette PNG."""
    data = path.read_bytes()
    if not data.startswith(PNG_MAGIC):
        raise SystemExit(f"{path}: not a PNG")
    pos, idat, palette, alphas = len(PNG_MAGIC), b"", [], []
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        pos += length + 12
        if kind == b"IHDR":
            width, height, depth, colour_type, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if colour_type != 3 or interlace != 0 or depth not in (4, 8):
                raise SystemExit(f"{path}: want a non-interlaced 4- or 8-bit palette PNG")
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, length, 3)]
        elif kind == b"tRNS":
            alphas = list(body)
        elif kind == b"IDAT":
            idat += body
    alphas += [255] * (len(palette) - len(alphas))
    raw = zlib.decompress(idat)
    stride = (width * depth + 7) // 8
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        row = unfilter(line[0], bytearray(line[1:]), previous)
        if depth == 8:
            rows.append(list(row[:width]))
        else:
            rows.append([(row[x // 2] >> (4 if x % 2 == 0 else 0)) & 0xF for x in range(width)])
        previous = row
    return palette, alphas, rows


def unfilter(kind, row, previous):
    # Palette rows are one byte per step back, so "left" is always the previous byte.
    for i in range(len(row)):
        left = row[i - 1] if i else 0
        up = previous[i]
        up_left = previous[i - 1] if i else 0
        if kind == 1:
            row[i] = (row[i] + left) & 0xFF
        elif kind == 2:
            row[i] = (row[i] + up) & 0xFF
        elif kind == 3:
            row[i] = (row[i] + (left + up) // 2) & 0xFF
        elif kind == 4:
            p = left + up - up_left
            pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
            pred = left if pa <= pb and pa <= pc else up if pb <= pc else up_left
            row[i] = (row[i] + pred) & 0xFF
    return row


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png_bytes(palette, alphas, rows):
    """A 4-bit palette PNG: 16 colours fit, and the file stays small."""
    size = len(rows)
    raw = b"".join(
        b"\0" + bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2)) for row in rows)
    return (PNG_MAGIC
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
            + chunk(b"PLTE", b"".join(bytes(c) for c in palette))
            + chunk(b"tRNS", bytes(alphas))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def scaled(rows, size):
    # Nearest neighbour: at a whole factor every pixel becomes a square; at 48 every other
    # pixel is doubled, which keeps the picture filling the frame.
    return [[rows[y * SOURCE_SIZE // size][x * SOURCE_SIZE // size] for x in range(size)]
            for y in range(size)]


def svg_bytes(palette, alphas, rows):
    """The same pixels as squares, one rectangle per run of a colour along a row."""
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             "<!-- vesk's icon: generated from vesk-32.png by make_icons.py, pixel for pixel. -->",
             f'<svg xmlns="http://www.w3.org/2000/svg" width="{SOURCE_SIZE}" '
             f'height="{SOURCE_SIZE}" viewBox="0 0 {SOURCE_SIZE} {SOURCE_SIZE}" '
             'shape-rendering="crispEdges">']
    for y, row in enumerate(rows):
        x = 0
        while x < SOURCE_SIZE:
            index, start = row[x], x
            while x < SOURCE_SIZE and row[x] == index:
                x += 1
            if alphas[index] == 0:
                continue
            colour = "#%02x%02x%02x" % palette[index]
            lines.append(f'  <rect x="{start}" y="{y}" width="{x - start}" height="1" '
                         f'fill="{colour}"/>')
    lines.append("</svg>")
    return ("\n".join(lines) + "\n").encode()


def ico_bytes(palette, alphas, rows):
    """One 32 x 32, 4-bit image: a bottom-up bitmap, then the mask (1 = transparent)."""
    size = SOURCE_SIZE
    pixels = b"".join(bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
                      for row in reversed(rows))
    mask = b"".join(
        int("".join("1" if alphas[i] == 0 else "0" for i in row), 2).to_bytes(size // 8, "big")
        for row in reversed(rows))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(pixels) + len(mask),
                         0, 0, len(palette), 0)
    image = header + colours + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", size, size, len(palette), 0, 1, 4, len(image), 6 + 16)
    return directory + image


def derived_files():
    palette, alphas, rows = read_png(SOURCE)
    if len(rows) != SOURCE_SIZE or len(rows[0]) != SOURCE_SIZE or len(palette) != 16:
        raise SystemExit(f"{SOURCE}: want 32 x 32 pixels in 16 colours")
    files = {SOURCE.name: png_bytes(palette, alphas, rows)}
    for size in PNG_SIZES:
        files[f"vesk-{size}.png"] = png_bytes(palette, alphas, scaled(rows, size))
    files["vesk.svg"] = svg_bytes(palette, alphas, rows)
    files["vesk.ico"] = ico_bytes(palette, alphas, rows)
    return files


def main():
    check = sys.argv[1:] == ["--check"]
    stale = []
    for name, content in derived_files().items():
        path = HERE / name
        if path.exists() and path.read_bytes() == content:
            continue
        if check:
            stale.append(name)
        else:
            path.write_bytes(content)
            print(f"wrote {path}")
    if stale:
        print("stale icons (run data/icons/make_icons.py): " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
