#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Draws Dotloom's icon from the 16 x 16 dot pattern below: a pale tile with a framed "D" and
a strip of weave. Writes dotloom.svg, dotloom-<size>.png and dotloom.ico for the Windows
build: up to 64 pixels each dot a block of whole pixels, so the dots stay sharp (at sizes that
are no multiple of 16, some rows and columns of dots one pixel wider, spread evenly); at 128
and 256 pixels
the shapes of the SVG (rounded tile, rounded dots with a gap between them), smoothed by 4 x 4
samples a pixel, as a desktop would draw the scalable icon. Run it again after changing the
pattern; its output is kept in the repository so that building needs no Python."""

import argparse
import os
import struct
import zlib

PATTERN = [
    "................",
    ".wwwwwwwwwwwwww.",
    ".w############w.",
    ".w#wwwwwwwwww#w.",
    ".w#w####wwwww#w.",
    ".w#w#www#wwww#w.",
    ".w#w#wwww#www#w.",
    ".w#w#wwww#www#w.",
    ".w#w#wwww#www#w.",
    ".w#w#www#wwww#w.",
    ".w#w####wwwww#w.",
    ".w#bwbwbwbwbw#w.",
    ".w#wbwbwbwbwb#w.",
    ".w############w.",
    ".wwwwwwwwwwwwww.",
    "................",
]
COLOURS = {"w": (0xF6, 0xF3, 0xE9), "#": (0x1E, 0x1E, 0x1E), "b": (0x2A, 0x6F, 0xDB)}
SHARP_SIZES = (16, 32, 48, 64)
SMOOTH_SIZES = (128, 256)
# The SVG's geometry, in pattern cells: the tile, and each dot inside its cell.
TILE = (1.0, 1.0, 14.0, 14.0, 1.5)
DOT_INSET, DOT_SIDE, DOT_RADIUS = 0.05, 0.9, 0.2
SAMPLES = 4
# The sizes Windows' shell asks for at display scales from 100 to 200 %; 256 is kept as PNG,
# as the system expects at that size.
ICO_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)


def rgba(mark):
    return (*COLOURS[mark], 255) if mark in COLOURS else (0, 0, 0, 0)


def sharp_rows(size):
    """Each pixel takes the dot under its centre: whole blocks, no blending."""
    cells = len(PATTERN)
    at = [(2 * pixel + 1) * cells // (2 * size) for pixel in range(size)]
    return [b"".join(bytes(rgba(PATTERN[y][x])) for x in at) for y in at]


def in_rounded_rect(px, py, x, y, width, height, radius):
    if not (x <= px <= x + width and y <= py <= y + height):
        return False
    dx = max(x + radius - px, 0.0, px - (x + width - radius))
    dy = max(y + radius - py, 0.0, py - (y + height - radius))
    return dx * dx + dy * dy <= radius * radius


def colour_at(u, v):
    """The SVG's colour at point (u, v) in pattern cells, None outside the tile."""
    column, row = int(u), int(v)
    if 0 <= row < len(PATTERN) and 0 <= column < len(PATTERN[row]):
        mark = PATTERN[row][column]
        if mark in "#b" and in_rounded_rect(u, v, column + DOT_INSET, row + DOT_INSET, DOT_SIDE,
                                            DOT_SIDE, DOT_RADIUS):
            return COLOURS[mark]
    return COLOURS["w"] if in_rounded_rect(u, v, *TILE) else None


def smooth_rows(size):
    step = len(PATTERN) / size
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            red = green = blue = covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = colour_at((x + (sx + 0.5) / SAMPLES) * step,
                                       (y + (sy + 0.5) / SAMPLES) * step)
                    if colour:
                        red, green, blue = red + colour[0], green + colour[1], blue + colour[2]
                        covered += 1
            if covered:  # colour averaged over the covered samples, coverage as alpha
                row += bytes((round(red / covered), round(green / covered),
                              round(blue / covered), round(255 * covered / SAMPLES ** 2)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


def rows_for(size):
    return sharp_rows(size) if size <= max(SHARP_SIZES) else smooth_rows(size)


def png(size):
    rows = [b"\0" + row for row in rows_for(size)]  # filter type: none

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def ico_bitmap(size):
    """An icon image in the classic form: a 32-bit bottom-up DIB of twice the height (colour
    and mask), then the 1-bit mask with a set bit for every transparent pixel."""
    colour, mask = bytearray(), bytearray()
    mask_stride = (size + 31) // 32 * 4
    for row in reversed(rows_for(size)):
        mask_row = bytearray(mask_stride)
        for x in range(size):
            red, green, blue, alpha = row[4 * x:4 * x + 4]
            colour += bytes((blue, green, red, alpha))
            if alpha == 0:
                mask_row[x // 8] |= 0x80 >> (x % 8)
        mask += mask_row
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def ico():
    images = [png(size) if size >= 256 else ico_bitmap(size) for size in ICO_SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(ICO_SIZES, images):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image),
                                 offset)
        offset += len(image)
    return directory + b"".join(images)


def svg():
    # The tile is one rounded rectangle; each ink or weave pixel is a slightly rounded dot.
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 16 16">',
             '<rect x="1" y="1" width="14" height="14" rx="1.5" fill="#%02x%02x%02x"/>' %
             COLOURS["w"]]
    for y, line in enumerate(PATTERN):
        for x, mark in enumerate(line):
            if mark in "#b":
                parts.append('<rect x="%d.05" y="%d.05" width="0.9" height="0.9" rx="0.2" '
                             'fill="#%02x%02x%02x"/>' % (x, y, *COLOURS[mark]))
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder", nargs="?", default=os.path.dirname(os.path.abspath(__file__)),
                        help="where to write the icons (default: beside this script)")
    out = parser.parse_args().folder
    with open(os.path.join(out, "dotloom.svg"), "w", encoding="ascii") as file:
        file.write(svg())
    for size in SHARP_SIZES + SMOOTH_SIZES:
        with open(os.path.join(out, f"dotloom-{size}.png"), "wb") as file:
            file.write(png(size))
    with open(os.path.join(out, "dotloom.ico"), "wb") as file:
        file.write(ico())


if __name__ == "__main__":
    main()
