# SPDX-License-Identifier: MIT
# Copyright (c) 2026 The Dotloom authors
"""A recognisable Bitfile for the end-to-end test and the README screenshot: a frame, the
word "Dotloom" in a small pixel font and a strip of woven cloth."""

WIDTH, HEIGHT, SIZE = 96, 48, 576

# 5 x 7 glyphs, drawn twice as large.
GLYPHS = {
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "t": [".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "m": [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
}


def black_pixels():
    """The set of (x, y) pixels that are black."""
    pixels = set()
    for x in range(WIDTH):
        pixels.update({(x, 0), (x, HEIGHT - 1)})
    for y in range(HEIGHT):
        pixels.update({(0, y), (WIDTH - 1, y)})

    text, scale, advance = "Dotloom", 2, 12
    left = (WIDTH - (len(text) * advance - 2)) // 2
    for index, char in enumerate(text):
        for row, line in enumerate(GLYPHS[char]):
            for column, mark in enumerate(line):
                if mark != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        pixels.add((left + index * advance + column * scale + dx, 6 + row * scale + dy))

    # Cloth: a herringbone twill, its diagonal ribs turning every 22 columns.
    for y in range(26, 42):
        for x in range(4, 92):
            if (x + y) % 4 < 2 if (x - 4) // 22 % 2 == 0 else (x - y) % 4 < 2:
                pixels.add((x, y))
    return pixels


def encode(pixels):
    """The 576 bytes of a Bitfile: 6 bands of 8 rows, a byte per column, top pixel in bit 0."""
    data = bytearray(SIZE)
    for x, y in pixels:
        data[96 * (y // 8) + x] |= 1 << (y % 8)
    return bytes(data)


if __name__ == "__main__":
    import argparse

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="the Bitfile to write")
    with open(parser.parse_args().out, "wb") as out:
        out.write(encode(black_pixels()))
