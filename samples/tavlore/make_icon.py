#!/usr/bin/env python3
"""Draws the sample product's icon and writes it as tavlore.ico beside this script.

    samples/tavlore/make_icon.py [OUTPUT.ico]

The icon is a rounded tile shaded from teal to blue with a white "T" on it, drawn at each
size with 4x4 samples a pixel so that its edges are smooth. The 16 and 32 pixel images are
32-bit bitmaps (with the 1-bit mask that the format still asks for), the 48 pixel image is
a PNG, so that the installer carries both kinds an icon file can hold. Only the standard
library is used; the same script always writes the same bytes.
"""
import struct
import sys
import zlib
from pathlib import Path

BITMAP_SIZES = (16, 32)
PNG_SIZES = (48,)
SAMPLES = 4   # per pixel and axis


def inside_tile(x, y):
    """The tile: the unit square less 1/16 at each side, corners rounded by 3/16."""
    margin, radius = 1 / 16, 3 / 16
    lo, hi = margin + radius, 1 - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and margin <= x <= 1 - margin and \
        margin <= y <= 1 - margin


def inside_letter(x, y):
    """The "T": a bar across the top and a stem down the middle, in the unit square."""
    bar = 0.22 <= x <= 0.78 and 0.22 <= y <= 0.38
    stem = 0.41 <= x <= 0.59 and 0.22 <= y <= 0.80
    return bar or stem


def draw(size):
    """Rows of (r, g, b, a) from the top, each channel 0..255."""
    teal, blue, white = (0x1A, 0xA8, 0x9C), (0x1F, 0x4E, 0xB4), (0xFF, 0xFF, 0xFF)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            cover = letter = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    if inside_tile(x, y):
                        cover += 1
                        letter += inside_letter(x, y)
            if cover == 0:
                row.append((0, 0, 0, 0))
                continue
            t = (px + py) / (2 * size - 2)   # top left teal, bottom right blue
            shade = [round(a + (b - a) * t) for a, b in zip(teal, blue)]
            mix = letter / cover
            rgb = [round(s + (w - s) * mix) for s, w in zip(shade, white)]
            row.append((*rgb, round(255 * cover / SAMPLES ** 2)))
        rows.append(row)
    return rows


def bitmap_image(size, rows):
    """An icon image as the format keeps a bitmap: its header (twice the height, for the
    colours and the mask), 32-bit BGRA rows from the bottom, then the AND mask, 1 bit a
    pixel, rows padded to 4 bytes, set where the image is fully transparent."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + colours + bytes(mask)


def png_image(size, rows):
    """A PNG of 8-bit RGBA, no filtering, without time or text chunks."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_file(images):
    """The icon file: its header, one 16-byte entry per image (a size of 256 is written
    as 0), then the images in that order."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("tavlore.ico")
    images = [(s, bitmap_image(s, draw(s))) for s in BITMAP_SIZES]
    images += [(s, png_image(s, draw(s))) for s in PNG_SIZES]
    target.write_bytes(icon_file(images))
    print(f"{target}: {', '.join(str(s) for s, _ in images)} pixels, {target.stat().st_size} bytes")


if __name__ == "__main__":
    main()
