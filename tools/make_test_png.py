#!/usr/bin/env python3
"""Writes the viewer's surface image: a 256x256 8-bit RGBA PNG.

The four quadrants have different colours (top left red, top right green,
bottom left blue, bottom right yellow) and a white arrow points up, so a
flipped or mirrored face shows at a glance. Only the standard library is
used and the output is the same bytes on every run.

Usage: make_test_png.py [OUTPUT]   (default: test.png)
"""
import struct
import sys
import zlib

SIZE = 256
QUADRANTS = {  # (top, left) -> colour
    (True, True): (220, 40, 40),
    (True, False): (40, 200, 60),
    (False, True): (50, 80, 230),
    (False, False): (235, 210, 40),
}


def pixel(x, y):
    """Colour of the pixel x columns from the left, y rows from the top."""
    # Arrow: a triangle head over a shaft, centred, pointing at the top edge.
    cx = SIZE // 2
    in_head = 40 <= y < 110 and abs(x - cx) <= (y - 40) * 0.8
    in_shaft = 110 <= y < 216 and abs(x - cx) <= 14
    if in_head or in_shaft:
        return (255, 255, 255, 255)
    # A dark frame one texel wide keeps each face's edges visible.
    if x in (0, SIZE - 1) or y in (0, SIZE - 1):
        return (20, 20, 20, 255)
    return QUADRANTS[(y < SIZE // 2, x < SIZE // 2)] + (255,)


def png(width, height, rows, depth=8, colour_type=6):
    """A PNG of the given rows of channel bytes (RGBA 8-bit by default); the
    tests use it for images of other kinds."""
    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)

    raw = b"".join(b"\0" + bytes(row) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "test.png"
    rows = [[c for x in range(SIZE) for c in pixel(x, y)] for y in range(SIZE)]
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, rows))


if __name__ == "__main__":
    main()
