#!/usr/bin/env python3
"""Draws the viewer's menu icon from the image the viewer puts on its cubes:
one cube seen from above a corner, test.png on its three visible faces, each
face as dim as the viewer's light leaves it, on a transparent background.

Reads 8-bit RGB or RGBA PNGs without interlacing, which is what
make_test_png.py writes. Only the standard library is used and the output is
the same bytes on every run.

Usage: make_icon.py IMAGE SIZE OUTPUT
"""
import math
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_test_png import png  # noqa: E402

SAMPLES = 4  # per pixel side, for smooth outer edges


def read_png(path):
    """(width, height, rows of (r, g, b, a)) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "%s: not a PNG" % path
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "%s: not 8-bit RGB(A)" % path
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 4 if colour == 6 else 3
    stride = width * channels
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append([tuple(row[x * channels:(x + 1) * channels]) + ((255,) if channels == 3 else ())
                     for x in range(width)])
        previous = row
    return width, height, rows


def faces(size):
    """The three visible faces as (origin, right edge, down edge, brightness)
    in icon pixels, each origin at the image's top-left corner: the top face,
    whose arrow points away from the eye, and the left and right sides, where
    the image stands upright."""
    c, r = size / 2, size * 0.47  # the near corner at the centre; outline radius
    dx, dy = r * math.cos(math.radians(30)), r / 2
    return [
        ((c - dx, c - dy), (dx, -dy), (dx, dy), 1.0),
        ((c - dx, c - dy), (dx, dy), (0, r), 0.8),
        ((c, c), (dx, -dy), (0, r), 0.6),
    ]


def main():
    image, size, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    width, height, texels = read_png(image)
    shapes = faces(size)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total, covered = [0, 0, 0], 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px, py = x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES
                    for (ox, oy), (ax, ay), (bx, by), light in shapes:
                        # Solves (px, py) = origin + s * a + t * b for the face.
                        det = ax * by - ay * bx
                        s = ((px - ox) * by - (py - oy) * bx) / det
                        t = (ax * (py - oy) - ay * (px - ox)) / det
                        if 0 <= s < 1 and 0 <= t < 1:
                            texel = texels[int(t * height)][int(s * width)]
                            for i in range(3):
                                total[i] += texel[i] * light
                            covered += 1
                            break
            n = SAMPLES * SAMPLES
            row += [round(v / covered) for v in total] + [round(255 * covered / n)] if covered else [0, 0, 0, 0]
        rows.append(row)
    with open(out, "wb") as f:
        f.write(png(size, size, rows))


if __name__ == "__main__":
    main()
