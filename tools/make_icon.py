#!/usr/bin/env python3
"""Draws the menu icon, the same bytes on every run: a cube seen from above a
corner, IMAGE on its three faces, each as dim as the viewer's light leaves it,
on a clear background. Usage: make_icon.py IMAGE SIZE OUTPUT"""
import math
import os
import pathlib
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402

SAMPLES = 4  # per pixel side, for smooth outer edges


def faces(size):
    """The three visible faces as (origin, right edge, down edge, brightness)
    in icon pixels, each origin at the image's top-left corner: the top face,
    whose arrow points away from the eye, and the left and right sides, where
    the image stands upright."""
    c, r = size / 2, size * 0.47  # the near corner at the centre; outline radius
    dx, dy = r * math.cos(math.radians(30)), r / 2
    return [((c - dx, c - dy), (dx, -dy), (dx, dy), 1.0), ((c - dx, c - dy), (dx, dy), (0, r), 0.8),
            ((c, c), (dx, -dy), (0, r), 0.6)]


def main():
    image, size, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    width, height, texels = harness.read_png(image)
    shapes = faces(size)

    def pixel(x, y):
        """The mean of SAMPLES x SAMPLES points in the pixel, clear where no face lies."""
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
                        total = [v + c * light for v, c in zip(total, texel)]
                        covered += 1
                        break
        return [round(v / covered) for v in total] + [round(255 * covered / SAMPLES ** 2)] if covered else [0] * 4
    pathlib.Path(out).write_bytes(harness.png(size, size, pixel))


if __name__ == "__main__":
    main()
