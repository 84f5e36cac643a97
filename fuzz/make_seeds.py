#!/usr/bin/env python3
"""Writes the image fuzzer's seed corpus: one small file of every kind the
decoder knows, so that fuzzing starts inside each format rather than having
to find its signature. Most are converted from the viewer's own test.png by
ImageMagick; Softimage PIC, which ImageMagick does not write, is written here.

Usage: make_seeds.py OUTPUT_DIR
"""
import os
import struct
import subprocess
import sys

SOURCE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "test.png")
SIZE = "12x9!"  # odd sizes, so that rows need padding in every format that pads

# file name: ImageMagick options before the output, output format
PNG = {
    "png-grey-%d.png" % d: ["-colorspace", "Gray", "-define", "png:color-type=0", "-define", "png:bit-depth=%d" % d]
    for d in (1, 2, 4, 8, 16)
}
PNG.update({
    # ImageMagick picks the bit depth from the number of colours.
    "png-palette-%d-colours.png" % 2 ** d: ["-colors", str(2 ** d), "-define", "png:color-type=3"] for d in (1, 2, 4, 8)
})
PNG.update({
    "png-rgb-8.png": ["-define", "png:color-type=2", "-define", "png:bit-depth=8"],
    "png-rgb-16.png": ["-define", "png:color-type=2", "-define", "png:bit-depth=16"],
    "png-grey-alpha-8.png": ["-colorspace", "Gray", "-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel",
                             "-define", "png:color-type=4", "-define", "png:bit-depth=8"],
    "png-grey-alpha-16.png": ["-colorspace", "Gray", "-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel",
                              "-define", "png:color-type=4", "-define", "png:bit-depth=16"],
    "png-rgba-8.png": ["-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel", "-define", "png:color-type=6",
                       "-define", "png:bit-depth=8"],
    "png-rgba-16.png": ["-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel", "-define", "png:color-type=6",
                        "-define", "png:bit-depth=16"],
    "png-palette-transparent.png": ["-transparent", "rgb(20,20,20)", "-colors", "16", "-define",
                                    "png:color-type=3"],
})
PNG.update({name.replace(".png", "-interlaced.png"): opts + ["-interlace", "PNG"] for name, opts in list(PNG.items())})
OTHERS = {
    "jpeg-baseline.jpg": ["-quality", "75"],
    "jpeg-progressive.jpg": ["-interlace", "JPEG"],
    "jpeg-grey.jpg": ["-colorspace", "Gray"],
    "gif-still.gif": [],
    "gif-transparent.gif": ["-transparent", "rgb(20,20,20)"],
    "bmp-24.bmp": ["-type", "TrueColor"],
    "bmp-32-alpha.bmp": ["-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel"],
    "bmp-palette.bmp": ["-colors", "16", "-type", "Palette", "-compress", "None"],
    "bmp-mono.bmp": ["-monochrome"],
    "tga-24.tga": ["-alpha", "off", "-compress", "None"],
    "tga-32-rle.tga": ["-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel", "-compress", "RLE"],
    "tga-grey.tga": ["-alpha", "off", "-type", "Grayscale", "-compress", "None"],
    "tga-palette-rle.tga": ["-colors", "16", "-type", "Palette", "-compress", "RLE"],
    "psd-rgb.psd": ["-alpha", "off", "-compress", "None"],
    "psd-rgba-rle.psd": ["-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel", "-compress", "RLE"],
    "hdr.hdr": [],
    "pgm-8.pgm": ["-colorspace", "Gray", "-depth", "8"],
    "pgm-16.pgm": ["-colorspace", "Gray", "-depth", "16"],
    "ppm-8.ppm": ["-depth", "8"],
    "ppm-16.ppm": ["-depth", "16"],
}
PREFIX = {".bmp": {"bmp-24.bmp": "BMP3:", "bmp-palette.bmp": "BMP3:"}}


def convert(out_dir, name, options):
    prefix = PREFIX.get(os.path.splitext(name)[1], {}).get(name, "")
    subprocess.run(["convert", SOURCE, "-resize", SIZE] + options + [prefix + os.path.join(out_dir, name)],
                   check=True)


def gif_animated(out_dir):
    # Two frames, the second moved and partly transparent, so that disposal and
    # the frame's own offset are both read.
    subprocess.run(["convert", "-delay", "10", "-dispose", "Background", "(", SOURCE, "-resize", SIZE, ")",
                    "(", SOURCE, "-resize", "6x4!", "-repage", "+3+2", ")", "-loop", "0",
                    os.path.join(out_dir, "gif-animated.gif")], check=True)


def pic(width, height, packets):
    """A Softimage PIC: its header, the channel packets (chained, 8 bits,
    encoding, channels) and then each row's data, packet by packet."""
    header = struct.pack(">I", 0x5380F634) + struct.pack(">f", 3.71) + b"seed".ljust(80, b"\0") + b"PICT"
    header += struct.pack(">HHfHH", width, height, 1.0, 3, 0)
    descriptors = b"".join(struct.pack("BBBB", i + 1 < len(packets), 8, kind, mask)
                           for i, (kind, mask, _) in enumerate(packets))
    rows = b"".join(row(y) for y in range(height) for _, _, row in packets)
    return header + descriptors + rows


def pic_seeds(out_dir):
    width, height = 7, 5
    rgb = lambda y: bytes(c for x in range(width) for c in (x * 30, y * 50, 255 - x * 30))  # noqa: E731
    # Pure run-length alpha: one run of the whole row (count, then the value).
    alpha_runs = lambda y: bytes((width, 40 * y))  # noqa: E731
    # Mixed run-length: a literal of two pixels, then a long run of the rest.
    mixed = lambda y: (bytes((1,)) + bytes((10, 20, 30, 40, 50, 60))  # noqa: E731
                       + bytes((0x80 | 0,)) + struct.pack(">H", width - 2) + bytes((90, 100, 110)))
    seeds = {
        "pic-rgb-alpha.pic": pic(width, height, [(0, 0xE0, rgb), (1, 0x10, alpha_runs)]),
        "pic-mixed.pic": pic(width, height, [(2, 0xE0, mixed)]),
    }
    for name, data in seeds.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, options in {**PNG, **OTHERS}.items():
        convert(out_dir, name, options)
    gif_animated(out_dir)
    pic_seeds(out_dir)


if __name__ == "__main__":
    main()
