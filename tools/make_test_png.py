#!/usr/bin/env python3
"""Writes the viewer's surface image, test.png: harness.pixel's picture as a
256x256 8-bit RGBA PNG, the same bytes on every run.

Usage: make_test_png.py [OUTPUT]   (default: test.png)
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "test.png"
    with open(out, "wb") as f:
        f.write(harness.png(harness.SIZE, harness.SIZE, harness.pixel))


if __name__ == "__main__":
    main()
