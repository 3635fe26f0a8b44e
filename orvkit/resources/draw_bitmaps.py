#!/usr/bin/env python3
"""Draws the library's bitmaps as palette BMP files, with nothing but the standard library.

    python3 draw_bitmaps.py            # rewrites BACK.bmp, DYK.bmp and MAINICON.bmp beside it

The files are committed; run this only to change a picture.
  BACK      81 x 81, 256 colours: the about box's background tile. Made of waves whose periods
            divide 81, so that the tile repeats without a seam.
  DYK       142 x 34, 16 colours: "Did you know..." over a yellow rule, on the tip area's light
            yellow (RGB 255, 255, 204).
  MAINICON  32 x 32, 256 colours: the library's icon, a blue ring around an "O".
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write_bmp(path, width, height, palette, pixels, bits):
    """pixels: rows top to bottom of palette indices; bits: 4 or 8."""
    row_bytes = ((width * bits + 31) // 32) * 4
    body = bytearray()
    for row in reversed(pixels):  # BMP rows run bottom-up
        line = bytearray()
        if bits == 8:
            line.extend(row)
        else:
            for x in range(0, width, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < width else 0
                line.append((hi << 4) | lo)
        line.extend(b"\0" * (row_bytes - len(line)))
        body.extend(line)
    colours = 1 << bits
    table = bytearray()
    for i in range(colours):
        r, g, b = palette[i] if i < len(palette) else (0, 0, 0)
        table.extend(bytes((b, g, r, 0)))
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(body), 3780, 3780,
                       colours, 0)
    with open(path, "wb") as out:
        out.write(header + info + table + body)


def draw_back():
    size = 81
    tau = 2 * math.pi
    palette = []
    for i in range(256):
        t = i / 255
        palette.append((int(40 + 90 * t), int(70 + 110 * t), int(120 + 130 * t)))
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            u, v = x / size, y / size
            swirl = math.sin(tau * v + 0.8 * math.sin(tau * 2 * u))
            value = (math.sin(tau * (3 * u + v) + 1.7 * swirl)
                     + 0.6 * math.cos(tau * (u - 2 * v))
                     + 0.3 * math.sin(tau * 9 * (u + v)))
            row.append(max(0, min(255, int((value + 1.9) / 3.8 * 255))))
        pixels.append(row)
    write_bmp(os.path.join(HERE, "BACK.bmp"), size, size, palette, pixels, 8)


# A 5 x 7 pixel font for the letters the tip picture needs.
GLYPHS = {
    "D": ["1110.", "1..1.", "1...1", "1...1", "1...1", "1..1.", "1110."],
    "i": [".1...", ".....", "11...", ".1...", ".1...", ".1...", "111.."],
    "d": ["....1", "....1", ".1111", "1...1", "1...1", "1...1", ".1111"],
    "y": [".....", ".....", "1...1", "1...1", ".1111", "....1", ".111."],
    "o": [".....", ".....", ".111.", "1...1", "1...1", "1...1", ".111."],
    "u": [".....", ".....", "1...1", "1...1", "1...1", "1..11", ".11.1"],
    "k": ["1....", "1....", "1..1.", "1.1..", "11...", "1.1..", "1..1."],
    "n": [".....", ".....", "1.11.", "11..1", "1...1", "1...1", "1...1"],
    "w": [".....", ".....", "1...1", "1...1", "1.1.1", "1.1.1", ".1.1."],
    ".": [".....", ".....", ".....", ".....", ".....", "11...", "11..."],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}
WIDTHS = {"i": 3, ".": 2, " ": 3, "k": 4}


def draw_dyk():
    width, height = 142, 34
    palette = [(255, 255, 204), (0, 0, 0), (128, 96, 0), (255, 220, 0), (160, 160, 160),
               (0, 0, 160), (255, 255, 255)]
    pixels = [[0] * width for _ in range(height)]

    # "Did you know..." at twice the font's size, in dark blue, over a yellow rule.
    x0, y0, scale = 4, 5, 2
    for ch in "Did you know...":
        glyph = GLYPHS[ch]
        for gy, line in enumerate(glyph):
            for gx, cell in enumerate(line[:WIDTHS.get(ch, 5)]):
                if cell == "1":
                    for sy in range(scale):
                        for sx in range(scale):
                            pixels[y0 + gy * scale + sy][x0 + gx * scale + sx] = 5
        x0 += WIDTHS.get(ch, 5) * scale + 1
    for y in range(24, 27):
        for x in range(4, width - 4):
            pixels[y][x] = 3 if y < 26 else 2
    assert x0 <= width, x0
    write_bmp(os.path.join(HERE, "DYK.bmp"), width, height, palette, pixels, 4)


def draw_icon():
    size = 32
    palette = [(192, 192, 192), (0, 40, 140), (40, 110, 220), (255, 255, 255), (255, 200, 0)]
    pixels = [[0] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            d = math.hypot(x - 15.5, y - 15.5)
            if d <= 15:
                pixels[y][x] = 1 if d > 13 else 2
            if 6 <= d <= 9:
                pixels[y][x] = 3
            if d < 2.5:
                pixels[y][x] = 4
    write_bmp(os.path.join(HERE, "MAINICON.bmp"), size, size, palette, pixels, 8)


if __name__ == "__main__":
    draw_back()
    draw_dyk()
    draw_icon()
