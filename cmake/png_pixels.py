#!/usr/bin/env python3
"""Writes the pixels of an RGBA PNG as a C++ array of premultiplied ARGB words, so the program
can show the picture without starting Qt's image readers (which look through every image-format
plugin installed before decoding the first file).
Usage: png_pixels.py PICTURE.png OUTPUT.h"""
import struct
import sys
import zlib


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def read_rgba(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, header, packed = 8, None, b""
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            packed += body
        pos += 12 + length
    if header is None or not packed:
        sys.exit(f"{path}: no picture header or no picture data")
    width, height, depth, colour, _, _, interlace = header
    if colour != 6 or depth not in (8, 16) or interlace:
        sys.exit(f"{path}: only non-interlaced 8- or 16-bit RGBA pictures are handled")
    step = 4 * depth // 8
    stride = width * step
    rows = zlib.decompress(packed)
    previous = bytearray(stride)
    pixels = []
    for y in range(height):
        start = y * (stride + 1)
        kind, line = rows[start], bytearray(rows[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up = previous[i]
            corner = previous[i - step] if i >= step else 0
            line[i] = (line[i] + (0, left, up, (left + up) // 2, paeth(left, up, corner))[kind]) & 255
        # 16-bit samples keep their high byte.
        pixels += [tuple(line[x * step:(x + 1) * step:depth // 8]) for x in range(width)]
        previous = line
    return width, height, pixels


def main():
    source, target = sys.argv[1:3]
    width, height, pixels = read_rgba(source)
    def times_alpha(value, alpha):
        return (value * alpha + 127) // 255
    words = [(a << 24) | (times_alpha(r, a) << 16) | (times_alpha(g, a) << 8) | times_alpha(b, a)
             for r, g, b, a in pixels]
    lines = [f"// Made from {source.rsplit('/', 1)[-1]} by png_pixels.py while building.",
             "#pragma once", "",
             f"constexpr int kPictureWidth = {width};",
             f"constexpr int kPictureHeight = {height};",
             "alignas(4) constexpr unsigned int kPicturePixels[] = {"]
    lines += ["    " + ", ".join(f"0x{w:08x}" for w in words[i:i + 8]) + ","
              for i in range(0, len(words), 8)]
    lines.append("};")
    with open(target, "w") as f:
        f.write("\n".join(lines) + "\n")


main()
