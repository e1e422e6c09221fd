#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""Draws Dotloom's icon from the 16 x 16 dot pattern below: a pale tile with a framed "D" and
a strip of weave. Writes dotloom.svg and dotloom-<size>.png (whole-pixel scaling, so the dots
stay sharp). Run it again after changing the pattern; its output is kept in the repository
so that building needs no Python."""

import os
import struct
import sys
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
SIZES = (16, 32, 48, 64)


def png(size):
    scale = size // len(PATTERN)
    rows = []
    for line in PATTERN:
        row = bytearray([0])  # filter type: none
        for mark in line:
            pixel = (*COLOURS[mark], 255) if mark in COLOURS else (0, 0, 0, 0)
            row += bytes(pixel) * scale
        rows += [bytes(row)] * scale

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


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
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(out, "dotloom.svg"), "w", encoding="ascii") as file:
        file.write(svg())
    for size in SIZES:
        with open(os.path.join(out, f"dotloom-{size}.png"), "wb") as file:
            file.write(png(size))


if __name__ == "__main__":
    main()
