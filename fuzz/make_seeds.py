#!/usr/bin/env python3
"""Writes the image fuzzer's seeds, a small file of every kind the decoder
knows, or with --regressions the hand-made inputs of fuzz/regressions/.
Usage: make_seeds.py [--regressions] OUTPUT_DIR
"""
import os
import pathlib
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402

SOURCE = os.path.join(harness.SOURCE_DIR, "test.png")
SIZE = "12x9!"  # odd sizes, so that rows need padding in every format that pads

# file name: ImageMagick options before the output. Half transparent, at one alpha level:
ALPHA = ["-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel"]
GREY = ["-colorspace", "Gray"]


def png_type(colour_type, depth):
    return ["-define", "png:color-type=%d" % colour_type, "-define", "png:bit-depth=%d" % depth]


PNG = {"png-grey-%d.png" % d: GREY + png_type(0, d) for d in (1, 2, 4, 8, 16)}
# ImageMagick picks a palette's bit depth from the number of colours.
PNG.update({"png-palette-%d-colours.png" % 2 ** d: ["-colors", str(2 ** d), "-define", "png:color-type=3"]
            for d in (1, 2, 4, 8)})
for d in (8, 16):
    PNG.update({"png-rgb-%d.png" % d: png_type(2, d), "png-grey-alpha-%d.png" % d: GREY + ALPHA + png_type(4, d),
                "png-rgba-%d.png" % d: ALPHA + png_type(6, d)})
PNG["png-palette-transparent.png"] = ["-transparent", "rgb(20,20,20)", "-colors", "16", "-define", "png:color-type=3"]
PNG.update({name.replace(".png", "-interlaced.png"): opts + ["-interlace", "PNG"] for name, opts in list(PNG.items())})
OTHERS = {
    "jpeg-baseline.jpg": ["-quality", "75"],
    "jpeg-progressive.jpg": ["-interlace", "JPEG"],
    "jpeg-grey.jpg": GREY,
    "gif-still.gif": [],
    "gif-transparent.gif": ["-transparent", "rgb(20,20,20)"],
    "bmp-24.bmp": ["-type", "TrueColor"],
    "bmp-32-alpha.bmp": ALPHA,
    "bmp-palette.bmp": ["-colors", "16", "-type", "Palette", "-compress", "None"],
    "bmp-mono.bmp": ["-monochrome"],
    "tga-24.tga": ["-alpha", "off", "-compress", "None"],
    "tga-32-rle.tga": ALPHA + ["-compress", "RLE"],
    "tga-grey.tga": ["-alpha", "off", "-type", "Grayscale", "-compress", "None"],
    "tga-palette-rle.tga": ["-colors", "16", "-type", "Palette", "-compress", "RLE"],
    "psd-rgb.psd": ["-alpha", "off", "-compress", "None"],
    "psd-rgba-rle.psd": ALPHA + ["-compress", "RLE"],
    "hdr.hdr": [],
    "pgm-8.pgm": GREY + ["-depth", "8"],
    "pgm-16.pgm": GREY + ["-depth", "16"],
    "ppm-8.ppm": ["-depth", "8"],
    "ppm-16.ppm": ["-depth", "16"],
}
# Written in the older BMP version, without the colour-space header.
BMP3 = {"bmp-24.bmp", "bmp-palette.bmp"}


def convert(out_dir, name, options):
    subprocess.run(["convert", SOURCE, "-resize", SIZE] + options
                   + [("BMP3:" if name in BMP3 else "") + os.path.join(out_dir, name)], check=True)


def gif_animated(out_dir):
    # Two frames, the second moved and partly transparent, so that disposal and
    # the frame's own offset are both read.
    subprocess.run(["convert", "-delay", "10", "-dispose", "Background", "(", SOURCE, "-resize", SIZE, ")",
                    "(", SOURCE, "-resize", "6x4!", "-repage", "+3+2", ")", "-loop", "0",
                    os.path.join(out_dir, "gif-animated.gif")], check=True)


def pic_rgb(y):
    return bytes(c for x in range(7) for c in (x * 30, y * 50, 255 - x * 30))


# Softimage PIC, which ImageMagick does not write: RGB with run-length alpha
# (one run a row: count, value), and mixed run-length (a literal of two
# pixels, then a run of the rest).
MIXED = bytes((1, 10, 20, 30, 40, 50, 60, 0x80, 0, 5, 90, 100, 110))
PICS = {"pic-rgb-alpha.pic": harness.pic(7, 5, [(0, 0xE0, pic_rgb), (1, 0x10, lambda y: bytes((7, 40 * y)))]),
        "pic-mixed.pic": harness.pic(7, 5, [(2, 0xE0, lambda y: MIXED)])}


def gif_screen(width, height):
    """A valid GIF: one 8x8 red frame on a width x height screen."""
    return subprocess.run(["convert", "-size", "8x8", "xc:red", "-page", "%dx%d+0+0" % (width, height), "gif:-"],
                          capture_output=True, check=True).stdout


# Each class a header can mislead in, by name: (file, what the viewer does).
REGRESSIONS = {
    # Rows stored top first: a negative height, of which the decoder takes
    # the size.
    "bmp-top-down-claims-11x41734": harness.bmp(11, -41734, 24, bytes(67)),
    "bmp-top-down-claims-16384x43000-without-pixels": harness.bmp(16384, -43000, 24, bytes(64)),
    # No pixels at all.
    "pnm-p6-alone": b"P6",
    "pgm-0-rows": b"P5 1 0 255",
    "bmp-os2-16384x0": harness.bmp(16384, 0, 24, header=12),
    # Pixels cut off, or never there.
    "pgm-header-claims-256x256": b"P5 256 256 255\n",
    "tga-header-alone": harness.tga(128, 128),
    "tga-cut-after-4-of-16384-pixels": harness.tga(128, 128, pixels=bytes(range(16))),
    "bmp-header-claims-16384x16384-in-12-kib": harness.bmp(16384, 16384, 32, bytes(12 << 10)),
    "ppm-header-claims-16384x16384-in-12-kib": b"P6 16384 16384 255\n" + bytes(12 << 10),
    # Four-bit indices up to 15 into a palette of two colours: the decoder
    # would take the other colours from memory the file never filled.
    "bmp-4-bit-indices-past-a-2-colour-palette": harness.bmp(
        4, 2, 4, bytes((0x01, 0xEF, 0, 0, 0x10, 0x32, 0, 0)), palette=bytes((0, 0, 255, 0, 255, 0, 0, 0))),
    # The same in a PNG: 8-bit indices up to 7 into a palette of three.
    "png-8-bit-indices-past-a-3-colour-palette": harness.png(4, 2, [[0, 1, 2, 1], [2, 7, 0, 1]], 8, 3,
                                                             palette=bytes(range(9))),
    # Valid: a frame of 8x8 pixels on a larger screen.
    "gif-8x8-frame-on-1200x1000-screen": gif_screen(1200, 1000),
    "gif-8x8-frame-on-16384x16384-screen": gif_screen(16384, 16384),
}


def main():
    out_dir = sys.argv[-1]
    os.makedirs(out_dir, exist_ok=True)
    files = REGRESSIONS if sys.argv[1] == "--regressions" else PICS
    for name, data in files.items():
        pathlib.Path(out_dir, name).write_bytes(data)
    if files is PICS:
        for name, options in {**PNG, **OTHERS}.items():
            convert(out_dir, name, options)
        gif_animated(out_dir)


if __name__ == "__main__":
    main()
