#!/usr/bin/env python3
"""Checks regions of a PNG screenshot (8-bit RGB or RGBA, as the application writes them).

    pixels.py PNG CHECK...     each CHECK one argument, the picture decoded once:
      "size W H"               the picture is W x H pixels
      "lit X Y W H"            most pixels of the rectangle are not black
      "black X Y W H"          every pixel of the rectangle is black

Exits 1 with a message naming the first check that fails."""
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, width, height, channels = 8, b"", 0, 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour not in (2, 6):
                sys.exit(f"{path}: only 8-bit RGB or RGBA is read here")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line
    return width, height, channels, rows


def check(path, picture, words):
    width, height, channels, rows = picture
    kind = words[0]
    if kind == "size":
        want = (int(words[1]), int(words[2]))
        if (width, height) != want:
            sys.exit(f"{path}: {width} x {height}, expected {want[0]} x {want[1]}")
        return
    x, y, w, h = (int(round(float(v))) for v in words[1:5])
    if x < 0 or y < 0 or x + w > width or y + h > height or w <= 0 or h <= 0:
        sys.exit(f"{path}: the rectangle {x},{y} {w}x{h} is not inside {width} x {height}")
    step = max(1, min(w, h) // 40)
    total = lit = 0
    for yy in range(y, y + h, step):
        row = rows[yy]
        for xx in range(x, x + w, step):
            r, g, b = row[xx * channels:xx * channels + 3]
            total += 1
            lit += (r + g + b) > 24
    if kind == "lit" and lit < 0.8 * total:
        sys.exit(f"{path}: only {lit} of {total} pixels in {x},{y} {w}x{h} are lit")
    if kind == "black" and lit > 0:
        sys.exit(f"{path}: {lit} of {total} pixels in {x},{y} {w}x{h} are not black")


def main():
    path = sys.argv[1]
    picture = read_png(path)
    for words in sys.argv[2:]:
        check(path, picture, words.split())


main()
