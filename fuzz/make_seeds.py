#!/usr/bin/env python3
"""Writes valid images of every kind and variant a user may meet, small and
of odd sizes, by ImageMagick and Pillow (and, for the few kinds neither
writes, by a byte edit of one they do write): the image fuzzer's seeds, and
the images the tests hold to Pillow's reading of them. A file's name starts
with its kind (png-, gif-, bmp-, tga-, pgm-, ppm-, or one of a kind the
viewer does not read). With --regressions it writes instead the hand-made
inputs of fuzz/regressions/.
Usage: make_seeds.py [--regressions] OUTPUT_DIR
"""
import io
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import harness  # noqa: E402

SIZES = ((1, 1), (2, 3), (5, 3), (7, 5), (13, 7), (33, 17))


def sample(x, y, channel):
    """A 16-bit sample whose two bytes differ, and differ channel by channel;
    the alpha channel runs across the picture, from opaque."""
    if channel == 3:
        return 65535 - (x * 9001 + y * 3001) % 65536
    return (0x1234 + x * 40503 * (channel + 1) + y * 25031 * (3 - channel) + channel * 0x5A5A) % 65536


def pam(width, height):
    """The source picture, 16-bit RGBA, as a PAM for ImageMagick to read."""
    header = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height)
    body = b"".join(struct.pack(">4H", *(sample(x, y, c) for c in range(4))) for y in range(height)
                    for x in range(width))
    return header.encode() + body


def pillow_source(width, height, mode):
    """The source picture at 8 bits (16 for I;16) in one of Pillow's modes."""
    rgba = Image.frombytes("RGBA", (width, height), bytes(
        sample(x, y, c) >> 8 for y in range(height) for x in range(width) for c in range(4)))
    if mode == "I;16":
        return Image.frombytes("I;16", (width, height), b"".join(
            struct.pack("<H", sample(x, y, 1)) for y in range(height) for x in range(width)))
    if mode == "P":
        return rgba.convert("RGB").quantize(16)
    return rgba.convert(mode)


def magick(*options, fmt):
    """A writer by ImageMagick from the source picture, one run for every
    size. Without dithering, which takes it a second a picture."""
    def write(sizes):
        with tempfile.TemporaryDirectory() as d:
            sources = []
            for i, (width, height) in enumerate(sizes):
                sources.append(os.path.join(d, "%d.pam" % i))
                pathlib.Path(sources[-1]).write_bytes(pam(width, height))
            subprocess.run(["convert", *sources, "+dither", *options, "+adjoin", fmt + ":" + os.path.join(d, "%d")],
                           check=True)
            return [pathlib.Path(d, str(i)).read_bytes() for i in range(len(sizes))]
    return write


def each_size(write):
    """A writer of one picture as a writer for every size."""
    return lambda sizes: [write(width, height) for width, height in sizes]


def pillow(mode, fmt, **params):
    """A writer by Pillow from the source picture in `mode`."""
    def write(width, height):
        out = io.BytesIO()
        pillow_source(width, height, mode).save(out, fmt, **params)
        return out.getvalue()
    return each_size(write)


def pillow_animated(fmt, **params):
    """Two frames, the second of other colours: the first is the picture."""
    def write(width, height):
        first = pillow_source(width, height, "RGBA")
        second = first.transpose(Image.Transpose.ROTATE_180)
        out = io.BytesIO()
        first.save(out, fmt, save_all=True, append_images=[second], duration=100, loop=0, **params)
        return out.getvalue()
    return each_size(write)


def bmp_top_first(write):
    """An uncompressed BMP as `write` makes it, its rows stored top first."""
    def top_first(width, height, data):
        data = bytearray(data)
        at, bits = struct.unpack_from("<I", data, 10)[0], struct.unpack_from("<H", data, 28)[0]
        row = (width * bits + 31) // 32 * 4
        rows = [data[at + y * row:at + (y + 1) * row] for y in range(height)]
        data[at:at + row * height] = b"".join(reversed(rows))
        struct.pack_into("<i", data, 22, -height)
        return bytes(data)
    return lambda sizes: [top_first(w, h, data) for (w, h), data in zip(sizes, write(sizes))]


def edited(write, edit):
    """The files `write` makes, each edited by edit(bytearray)."""
    def write_edited(sizes):
        files = [bytearray(data) for data in write(sizes)]
        for data in files:
            edit(data)
        return [bytes(data) for data in files]
    return write_edited


def bmp_fields(**fields):
    """An edit of a BMP's header fields: bits (a pixel), compression, header (size)."""
    offsets = {"bits": (28, "<H"), "compression": (30, "<I"), "header": (14, "<I")}
    return lambda data: [struct.pack_into(offsets[k][1], data, offsets[k][0], v) for k, v in fields.items()]


def tga_16(alpha, runs=False):
    """A 16-bit TGA (5 bits a colour, the top bit alpha or unused), which
    neither writes: the source picture's top bits, by hand. In runs, pixels
    come in pairs, so that both kinds of packet occur."""
    def write(width, height):
        def texel(x, y):
            r, g, b, a = (sample(x // 2 * 2 if runs else x, y, c) >> 11 for c in range(4))
            return struct.pack("<H", (a >> 4 if alpha else 0) << 15 | r << 10 | g << 5 | b)
        header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10 if runs else 2, 0, 0, 0, 0, 0, width, height, 16,
                             1 if alpha else 0)
        pixels = [texel(x, y) for y in reversed(range(height)) for x in range(width)]
        if not runs:
            return header + b"".join(pixels)
        packets, i = [], 0
        while i < len(pixels):
            n = 1
            while i + n < len(pixels) and n < 128 and pixels[i + n] == pixels[i]:
                n += 1
            if n > 1:
                packets.append(bytes((0x80 | (n - 1),)) + pixels[i])
            else:
                while i + n < len(pixels) and n < 128 and pixels[i + n] != pixels[i + n - 1]:
                    n += 1
                packets.append(bytes((n - 1,)) + b"".join(pixels[i:i + n]))
            i += n
        return header + b"".join(packets)
    return each_size(write)


GREY = ("-colorspace", "Gray")
NO_ALPHA = ("-alpha", "off")


def png_type(colour_type, depth, *more):
    return magick(*more, "-define", "png:color-type=%d" % colour_type, "-define", "png:bit-depth=%d" % depth,
                  fmt="png")


# Each variant: file name (without the size), writer.
VALID = {
    **{"png-grey-%d.png" % d: png_type(0, d, *GREY, *NO_ALPHA) for d in (1, 2, 4, 8, 16)},
    **{"png-grey-alpha-%d.png" % d: png_type(4, d, *GREY) for d in (8, 16)},
    **{"png-rgb-%d.png" % d: png_type(2, d, *NO_ALPHA) for d in (8, 16)},
    **{"png-rgba-%d.png" % d: png_type(6, d) for d in (8, 16)},
    **{"png-palette-%d-colours.png" % 2 ** d: magick(*NO_ALPHA, "-colors", str(2 ** d), fmt="png8")
       for d in (1, 2, 4, 8)},
    "png-palette-transparent.png": magick("-channel", "A", "-threshold", "50%", "+channel", "-colors", "16",
                                          fmt="png8"),
    "png-rgba-8-interlaced.png": magick("-interlace", "PNG", fmt="png32"),
    "png-rgb-16-interlaced.png": magick(*NO_ALPHA, "-interlace", "PNG", fmt="png48"),
    "png-grey-2-interlaced.png": png_type(0, 2, *GREY, *NO_ALPHA, "-interlace", "PNG"),
    "png-palette-16-colours-interlaced.png": magick(*NO_ALPHA, "-colors", "16", "-interlace", "PNG", fmt="png8"),
    "png-pillow-grey-16.png": pillow("I;16", "png"),
    "png-pillow-palette.png": pillow("P", "png"),
    "png-pillow-grey-alpha.png": pillow("LA", "png"),
    "png-pillow-1-bit.png": pillow("1", "png"),
    "png-animated.png": pillow_animated("png"),
    "gif-still.gif": magick(*NO_ALPHA, "-colors", "256", fmt="gif"),
    "gif-transparent.gif": magick("-channel", "A", "-threshold", "50%", "+channel", "-colors", "256", fmt="gif"),
    "gif-interlaced.gif": magick(*NO_ALPHA, "-colors", "256", "-interlace", "GIF", fmt="gif"),
    "gif-pillow.gif": pillow("P", "gif"),
    "gif-frame-on-a-larger-screen.gif": magick(*NO_ALPHA, "-colors", "256", "-set", "page",
                                               "%[fx:w+3]x%[fx:h+2]+2+1", fmt="gif"),
    "gif-animated.gif": pillow_animated("gif"),
    "bmp-1.bmp": magick(*NO_ALPHA, *GREY, "-colors", "2", fmt="bmp3"),
    "bmp-4.bmp": magick(*NO_ALPHA, "-colors", "16", "-type", "Palette", "-compress", "None", fmt="bmp3"),
    "bmp-8.bmp": magick(*NO_ALPHA, "-colors", "200", "-type", "Palette", "-compress", "None", fmt="bmp3"),
    "bmp-16-565.bmp": magick(*NO_ALPHA, "-define", "bmp:subtype=RGB565", fmt="bmp"),
    "bmp-16-555.bmp": magick(*NO_ALPHA, "-define", "bmp:subtype=RGB555", fmt="bmp"),
    "bmp-24.bmp": magick(*NO_ALPHA, "-type", "TrueColor", fmt="bmp3"),
    "bmp-32-alpha.bmp": magick("-type", "TrueColorAlpha", fmt="bmp"),
    "bmp-os2.bmp": magick(*NO_ALPHA, "-type", "TrueColor", fmt="bmp2"),
    "bmp-24-top-first.bmp": bmp_top_first(magick(*NO_ALPHA, "-type", "TrueColor", fmt="bmp3")),
    "bmp-pillow-8.bmp": pillow("P", "bmp"),
    "bmp-pillow-grey.bmp": pillow("L", "bmp"),
    "bmp-pillow-24.bmp": pillow("RGB", "bmp"),
    "tga-grey.tga": magick(*GREY, *NO_ALPHA, "-type", "Grayscale", "-compress", "None", fmt="tga"),
    "tga-palette.tga": magick(*NO_ALPHA, "-colors", "16", "-type", "Palette", "-compress", "None", fmt="tga"),
    "tga-24.tga": magick(*NO_ALPHA, "-compress", "None", fmt="tga"),
    "tga-32.tga": magick("-compress", "None", fmt="tga"),
    "tga-32-rle.tga": magick("-compress", "RLE", fmt="tga"),
    "tga-palette-rle.tga": magick(*NO_ALPHA, "-colors", "16", "-type", "Palette", "-compress", "RLE", fmt="tga"),
    "tga-pillow-grey-top-first.tga": pillow("L", "tga", orientation=1),
    "tga-pillow-grey-alpha.tga": pillow("LA", "tga"),
    "tga-pillow-palette.tga": pillow("P", "tga"),
    "tga-pillow-24-rle.tga": pillow("RGB", "tga", compression="tga_rle"),
    "tga-pillow-32-top-first.tga": pillow("RGBA", "tga", orientation=1),
    "tga-pillow-32-rle-top-first.tga": pillow("RGBA", "tga", compression="tga_rle", orientation=1),
    "tga-16.tga": tga_16(False),
    "tga-16-alpha.tga": tga_16(True),
    "tga-16-alpha-rle.tga": tga_16(True, runs=True),
    **{"pgm-%d-bits.pgm" % d: magick(*GREY, "-depth", str(d), fmt="pgm") for d in (1, 4, 8, 10, 12, 16)},
    **{"ppm-%d-bits.ppm" % d: magick("-depth", str(d), fmt="ppm") for d in (2, 5, 8, 12, 16)},
    "pgm-pillow-8.pgm": pillow("L", "ppm"),
    "ppm-pillow.ppm": pillow("RGB", "ppm"),
}

# Valid files of kinds the viewer does not read, in one size each.
NOT_READ = {
    "jpeg-baseline.jpg": magick(*NO_ALPHA, fmt="jpg"),
    "jpeg-progressive.jpg": magick(*NO_ALPHA, "-interlace", "JPEG", fmt="jpg"),
    "psd-rgba.psd": magick(fmt="psd"),
    "hdr.hdr": magick(*NO_ALPHA, fmt="hdr"),
    "pbm-binary.pbm": pillow("1", "ppm"),
    "pbm-plain.pbm": magick(*NO_ALPHA, "-compress", "None", fmt="pbm"),
    "pgm-plain.pgm": magick(*GREY, "-compress", "None", fmt="pgm"),
    "ppm-plain.ppm": magick("-compress", "None", fmt="ppm"),
    "pam-rgba.pam": magick(fmt="pam"),
    "pfm-rgb.pfm": magick(fmt="pfm"),
    "bmp-run-length-8.bmp": magick(*NO_ALPHA, "-colors", "200", "-type", "Palette", "-compress", "RLE",
                                   fmt="bmp3"),
    # Kinds neither writes, each a header edit of a file that is read: the
    # reason comes from the header alone.
    "bmp-2-bits.bmp": edited(magick(*NO_ALPHA, "-colors", "4", "-type", "Palette", fmt="bmp3"), bmp_fields(bits=2)),
    "bmp-holding-a-png.bmp": edited(magick(*NO_ALPHA, fmt="bmp3"), bmp_fields(bits=0, compression=5)),
    "bmp-holding-a-jpeg.bmp": edited(magick(*NO_ALPHA, fmt="bmp3"), bmp_fields(bits=0, compression=4)),
    "bmp-os2-v2.bmp": edited(magick(*NO_ALPHA, fmt="bmp3"), bmp_fields(header=64)),
    "tga-right-to-left.tga": edited(pillow("RGB", "tga"), lambda data: data.__setitem__(17, data[17] | 0x10)),
}


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
    out_dir = pathlib.Path(sys.argv[-1])
    out_dir.mkdir(parents=True, exist_ok=True)
    if sys.argv[1] == "--regressions":
        for name, data in REGRESSIONS.items():
            (out_dir / name).write_bytes(data)
        return
    for name, data in PICS.items():
        (out_dir / name).write_bytes(data)
    for files, sizes in ((VALID, SIZES), (NOT_READ, SIZES[3:4])):
        for name, write in files.items():
            stem, ext = os.path.splitext(name)
            for (width, height), data in zip(sizes, write(sizes)):
                (out_dir / ("%s-%dx%d%s" % (stem, width, height, ext))).write_bytes(data)


if __name__ == "__main__":
    main()
