#!/usr/bin/env python3
"""Draws the program's icons and logo bitmap and writes them as BMP files.

    python3 resources/images/make_images.py      (writes next to this script)

surficon.bmp   32x32, 32 bits with alpha: the program icon, a globe with a surf wave
surficon3.bmp  32x32, 32 bits with alpha: the same icon with a green "upgrade" arrow
veldabmp.bmp   100x60, 24 bits: the product logo for a button, the name on a blue panel

Only the standard library is used, and the output is the same on every run.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

TRANSPARENT = (0, 0, 0, 0)
OCEAN = (0, 96, 192)
OUTLINE = (0, 0, 128)
FOAM = (255, 255, 255)
SUN = (255, 224, 0)
MARK = (0, 160, 0)
FACE = (192, 192, 192)
PANEL = (0, 0, 128)
WAVE = (0, 96, 192)


def write_bmp(path, width, height, rows, alpha):
    """rows[y][x] is (r, g, b, a) with y from the top. Writes a bottom-up BMP:
    32 bits with a BITMAPV4HEADER and an alpha mask when alpha is true, else 24 bits."""
    bpp = 32 if alpha else 24
    stride = (width * bpp // 8 + 3) & ~3
    body = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for r, g, b, a in rows[y]:
            line += bytes((b, g, r, a)) if alpha else bytes((b, g, r))
        line += bytes(stride - len(line))
        body += line
    if alpha:
        info = struct.pack("<IiiHHIIiiII", 108, width, height, 1, 32, 3, len(body), 3780, 3780, 0, 0)
        info += struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
        info += struct.pack("<I", 0x73524742)  # colour space 'sRGB'
        info += bytes(36 + 12)  # endpoints and gamma, unused with sRGB
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 3780, 3780, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + body)


def coverage(inside, x, y, n=4):
    """Share of pixel (x, y) for which inside(px, py) holds, sampled n x n."""
    hits = 0
    for i in range(n):
        for j in range(n):
            if inside(x + (i + 0.5) / n, y + (j + 0.5) / n):
                hits += 1
    return hits / (n * n)


def blend(under, over, share):
    """over laid on under with the given share; both (r, g, b, a)."""
    if share <= 0:
        return under
    a_over = over[3] / 255 * share
    a_under = under[3] / 255
    a_out = a_over + a_under * (1 - a_over)
    if a_out == 0:
        return TRANSPARENT
    rgb = tuple(
        round((over[k] * a_over + under[k] * a_under * (1 - a_over)) / a_out) for k in range(3))
    return rgb + (round(a_out * 255),)


def draw_icon(upgrade):
    size = 32
    cx, cy, radius = 16.0, 16.0, 15.0
    rows = [[TRANSPARENT] * size for _ in range(size)]

    def paint(inside, color):
        for y in range(size):
            for x in range(size):
                share = coverage(inside, x, y)
                rows[y][x] = blend(rows[y][x], color + (255,), share)

    def in_disc(r):
        return lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r

    globe = in_disc(radius - 1)
    paint(in_disc(radius), OUTLINE)
    paint(globe, OCEAN)
    # the sun in the upper right of the globe
    paint(lambda px, py: (px - 21) ** 2 + (py - 9) ** 2 <= 16 and globe(px, py), SUN)

    # two surf waves across the lower half, each a band below a sine crest
    def wave(base, amplitude, phase):
        def inside(px, py):
            crest = base - amplitude * math.sin(px / 32 * 2 * math.pi * 1.5 + phase)
            return crest <= py <= crest + 2.2 and globe(px, py)
        return inside

    paint(wave(17.0, 2.5, 0.0), FOAM)
    paint(wave(23.0, 2.0, 1.2), FOAM)

    if upgrade:
        # a green disc with a white arrow pointing up, in the lower right corner
        mx, my, mr = 25.0, 25.0, 6.5
        paint(lambda px, py: (px - mx) ** 2 + (py - my) ** 2 <= mr * mr, MARK)
        paint(lambda px, py: (px - mx) ** 2 + (py - my) ** 2 <= (mr - 0.2) ** 2 and
              ((abs(px - mx) <= 1.2 and my - 2 <= py <= my + 4) or
               (my - 4.5 <= py <= my - 1 and abs(px - mx) <= (py - (my - 4.5)) * 1.0)),
              FOAM)
    return rows


# 5 x 7 letters of the product name; '#' is ink.
LETTERS = {
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".####"],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "d": ["....#", "....#", ".####", "#...#", "#...#", "#...#", ".####"],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "n": [".....", ".....", "####.", "#...#", "#...#", "#...#", "#...#"],
}


def draw_logo():
    width, height = 100, 60
    rows = [[FACE + (255,)] * width for _ in range(height)]

    def put(x, y, color):
        if 0 <= x < width and 0 <= y < height:
            rows[y][x] = color + (255,)

    # the panel: (4, 4) to (96, 44), corners cut by one pixel
    for y in range(4, 44):
        for x in range(4, 96):
            if (x in (4, 95)) and (y in (4, 43)):
                continue
            put(x, y, PANEL)

    # the name, letters scaled by 2 with 2 pixels between them, centred on the panel
    name, scale, gap = "Veldana", 2, 2
    text_width = len(name) * 5 * scale + (len(name) - 1) * gap
    x0, y0 = (width - text_width) // 2, 4 + (40 - 7 * scale) // 2
    for i, letter in enumerate(name):
        for row, bits in enumerate(LETTERS[letter]):
            for col, bit in enumerate(bits):
                if bit == "#":
                    for dy in range(scale):
                        for dx in range(scale):
                            put(x0 + i * (5 * scale + gap) + col * scale + dx,
                                y0 + row * scale + dy, FOAM)

    # a wave under the panel, two pixels thick
    for x in range(6, 94):
        y = round(51 + 3 * math.sin((x - 6) / 88 * 2 * math.pi * 2))
        put(x, y, WAVE)
        put(x, y + 1, WAVE)
    return rows


def main():
    write_bmp(os.path.join(HERE, "surficon.bmp"), 32, 32, draw_icon(False), True)
    write_bmp(os.path.join(HERE, "surficon3.bmp"), 32, 32, draw_icon(True), True)
    write_bmp(os.path.join(HERE, "veldabmp.bmp"), 100, 60, draw_logo(), False)


if __name__ == "__main__":
    main()
