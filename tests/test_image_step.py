"""The image step alone, as the fuzz target runs it (no GL, no X): each row a
file, made by Pillow, ImageMagick, netpbm or by hand, and what the step must
make of it: the picture Pillow reads (PILLOW), a picture stated in the row,
or the exact reason it is refused. Rows stand on each side of every line the
step draws. Argument: the image_step binary (tests/image_step.cpp).
tools/mutate.py imports this module and runs rows() against mutants."""
import io
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import harness

PILLOW = "Pillow's picture"
SHORT = "the file ends before its pixels do: "
PAST = "its pixels name colours past the end of its palette of "
DECODER = "%s pixels at %s a pixel is larger than the decoder takes, %s"
SIDE = "%s pixels is larger than the decoder takes, 16777216 pixels a side"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
CUT = "the file ends before its pixels do"
NOT_A_KIND = "the decoder says: Image not of any known type, or corrupt"
# Files of a special kind, for the rows that open no image: a directory, and
# a file its reader may not read (the driver runs as nobody under root).
DIRECTORY, UNREADABLE = "directory", "unreadable"


def picture(width, height, texels):
    """A stated picture: texels (r, g, b, a) top row first."""
    return (width, height, bytes(c for t in texels for c in t))


def grey(*values):
    return [(v, v, v, 255) for v in values]


def pil(image, fmt, **params):
    out = io.BytesIO()
    image.save(out, fmt, **params)
    return out.getvalue()


def pil_image(mode, width, height, colours=None):
    """A small picture of distinct texels in Pillow's `mode`; for "P", a
    palette of `colours` colours, the texels running through every index."""
    from PIL import Image
    if mode == "P":
        image = Image.new("P", (width, height))
        image.putpalette(bytes((i * 37 % 256, i * 91 % 256, 255 - i)[c] for i in range(colours) for c in range(3)))
        image.putdata([(x + y * width) % colours for y in range(height) for x in range(width)])
        return image
    rgba = Image.frombytes("RGBA", (width, height), bytes(
        (x * 50 + y * 7 + c * 90) % 256 if c < 3 else 255 - x * 20 for y in range(height) for x in range(width)
        for c in range(4)))
    return rgba.convert(mode)


def magick(*options, source=(5, 3)):
    """A picture written by ImageMagick; the last option names the format."""
    data = pil(pil_image("RGBA", *source), "png")
    return subprocess.run(["convert", "png:-", *options[:-1], options[-1] + ":-"], input=data,
                          capture_output=True, check=True).stdout


def netpbm(*commands):
    """A picture written by netpbm's tools: a pipeline of commands."""
    return subprocess.run(" | ".join(commands), shell=True, capture_output=True, check=True).stdout


def pnm(kind, width, height, largest, samples, head=None):
    """A binary PGM (5) or PPM (6) by hand: samples of one byte up to a
    largest of 255, else two, most significant first."""
    size = ">H" if largest > 255 else ">B"
    return (head or b"P%d\n%d %d\n%d\n" % (kind, width, height, largest)) + b"".join(
        struct.pack(size, s) for s in samples)


def pack(indices, bits):
    """Palette indices packed into bytes, the first in the high bits."""
    out, value, used = bytearray(), 0, 0
    for i in indices:
        value, used = value << bits | i, used + bits
        if used == 8:
            out.append(value)
            value, used = 0, 0
    if used:
        out.append(value << (8 - used))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


ADAM7 = [(8, 8, 0, 0), (8, 8, 4, 0), (4, 8, 0, 4), (4, 4, 2, 0), (2, 4, 0, 2), (2, 2, 1, 0), (1, 2, 0, 1)]


def last_interlaced(width, height):
    """The pixel an interlaced picture stores last."""
    return next((range(x0, width, sx)[-1], range(y0, height, sy)[-1]) for sx, sy, x0, y0 in reversed(ADAM7)
                if x0 < width and y0 < height)


def png_palette(width, height, bits, colours, index, filters=(0,), interlaced=False, extra=b"", plte=True,
                pieces=lambda stream: chunk(b"IDAT", stream), tail=b""):
    """A palette PNG by hand: index(x, y) for each pixel, each row filtered
    by the next of `filters` in turn, Adam7 passes when interlaced; tail
    follows the rows in the stream; pieces(stream) are the chunks that hold
    it."""
    raw, prior, n = bytearray(), None, 0
    for sx, sy, x0, y0 in ADAM7 if interlaced else [(1, 1, 0, 0)]:
        prior = None
        for y in range(y0, height, sy):
            row = pack([index(x, y) for x in range(x0, width, sx)], bits)
            if not row:
                continue
            up = prior or bytes(len(row))
            kind = filters[n % len(filters)]
            n += 1
            out = bytearray()
            for i, v in enumerate(row):
                a, b, c = row[i - 1] if i else 0, up[i], up[i - 1] if i else 0
                out.append((v - (0, a, b, (a + b) // 2, paeth(a, b, c), 0)[kind]) % 256)
            raw += bytes((kind,)) + out
            prior = row
    palette = bytes((i * 53 % 256, i * 29 % 256, 200 - i % 200)[c] for i in range(colours) for c in range(3))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bits, 3, 0, 0, interlaced))
            + (chunk(b"PLTE", palette) if plte else b"") + extra + pieces(zlib.compress(raw + tail))
            + chunk(b"IEND", b""))


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def text_chunk(size):
    """A PNG text chunk of size bytes."""
    return chunk(b"tEXt", b"k\0" + b"x" * (size - 2))


def apple(png, size=4):
    """A PNG as Apple's tools write it: a CgBI chunk first, of `size` bytes,
    and the stream as bare deflate."""
    out, at = bytearray(png[:8] + chunk(b"CgBI", b"\x50\x00\x20\x02"[:size].ljust(size, b"\0"))), 8
    while at < len(png):
        length, kind = struct.unpack_from(">I4s", png, at)
        body = png[at + 8:at + 8 + length]
        if kind == b"IDAT":
            deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
            body = deflate.compress(zlib.decompress(body)) + deflate.flush()
        out += chunk(kind, body)
        at += 12 + length
    return bytes(out)


def grey_png_claiming(width, height):
    """A grey 8-bit PNG whose stream holds a few zero bytes only."""
    return (png_header(width, height, 8, 0) + chunk(b"IDAT", zlib.compress(bytes(100))) + chunk(b"IEND", b""))


def png_header(width, height, depth, colour_type):
    """A PNG's signature and header alone."""
    body = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + body + struct.pack(">I", zlib.crc32(b"IHDR" + body))


def png_cut_in_data(width, height, depth, colour_type):
    """A PNG's header and the start of its first data chunk, cut off there:
    newer decoders' header read goes on to the first data chunk, looking for
    a transparency chunk, and calls a file without one corrupt."""
    return png_header(width, height, depth, colour_type) + struct.pack(">I", 1 << 16) + b"IDAT"


def bmp_indexed(width, height, bits, colours, index, header=40, pad_last=True, cut=0, pad=0, gap=0):
    """An uncompressed palette BMP by hand (negative height: top row first),
    its rows padded with `pad`, `gap` bytes between palette and pixels, cut
    short by `cut` bytes."""
    rows = [pack([index(x, y) for x in range(width)], bits) for y in range(abs(height))]
    rows = [row + bytes((pad,)) * (-len(row) % 4) for row in rows]
    if not pad_last:
        rows[-1] = rows[-1][:(width * bits + 7) // 8]
    entry = 3 if header == 12 else 4
    palette = bytes((i * 40 % 256, 255 - i % 256, i * 7 % 256, 0)[c] for i in range(colours) for c in range(entry))
    palette += bytes(gap)
    data = harness.bmp(width, height, bits, b"".join(rows), header=header, palette=palette)
    return data[:len(data) - cut]


def bmp_fields(data, **fields):
    """A BMP with header fields edited: at (its pixels' offset), header
    (size), bits, compression."""
    data = bytearray(data)
    for name, value in fields.items():
        offset, size = {"at": (10, "<I"), "header": (14, "<I"), "bits": (28, "<H"), "compression": (30, "<I")}[name]
        struct.pack_into(size, data, offset, value)
    return bytes(data)


def png_palette_cut(width, height):
    """A palette PNG's header, a palette of one colour, and the start of its
    first data chunk."""
    return png_cut_in_data(width, height, 8, 3)[:33] + chunk(b"PLTE", bytes(3)) + png_cut_in_data(1, 1, 8, 3)[33:]


def tga(width, height, bits, image_type, pixels, descriptor=0, ident=b"", colour_map=(0, 0, 0), cut=0):
    """A TGA by hand: colour_map is (first, length, bits an entry)."""
    first, length, entry = colour_map
    data = struct.pack("<BBBHHBHHHHBB", len(ident), 1 if length else 0, image_type, first, length, entry, 0, 0,
                       width, height, bits, descriptor) + ident + pixels
    return data[:len(data) - cut]


def tga16(x, y, alpha):
    """A 16-bit TGA pixel: 5 bits a colour, the top bit alpha."""
    return struct.pack("<H", alpha << 15 | (x * 9 % 32) << 10 | (y * 13 % 32) << 5 | (x + y) % 32)


def gif_screen(width, height, frame=8):
    return subprocess.run(["convert", "-size", "%dx%d" % (frame, frame), "xc:red", "-page",
                           "%dx%d+0+0" % (width, height), "gif:-"], capture_output=True, check=True).stdout


def regression(name):
    return harness.read("fuzz/regressions/" + name)


def refused_regressions():
    """The fuzz regressions refused, each with the reason its manifest gives."""
    lines = harness.read("fuzz/regressions.txt").decode().splitlines()
    return [("fuzz-" + name, regression(name), reason) for name, reason in (line.split("\t") for line in lines)
            if reason != "loads"]


ONE_SHORT = {1: 1, 4: 15, 8: 255}
# 20000 palette indices below 255 that repeat nothing, from a linear
# congruential generator.
NOISE, _seed = [], 1
for _ in range(20000):
    _seed = (_seed * 1103515245 + 12345) % (1 << 31)
    NOISE.append((_seed >> 16) % 255)


def inflate_limit_rows():
    """16-bit PNG headers at the decoder's limit of 2 GiB - 1 inflated (two
    bytes a sample, a filter byte a row), largest each way, within its own
    check of 2^30 bytes a picture: only 16 bits a sample get there."""
    rows = []
    for colour_type, channels, width in ((0, 1, 32768), (2, 3, 1024), (4, 2, 32768), (6, 4, 16384)):
        tallest = (1 << 30) // width // channels
        fits = min(tallest, ((1 << 31) - 1) // (2 * width * channels + 1))
        for height in {tallest, fits}:
            name = "png-16-bit-type-%d-%dx%d-header" % (colour_type, width, height)
            over = 2 * width * height * channels + height > (1 << 31) - 1
            rows.append((name, png_cut_in_data(width, height, 16, colour_type), (
                "%dx%d pixels at 16 bits a channel inflate to more than the decoder takes, 2 GiB; save it at 8 bits"
                % (width, height)) if over else "the file ends before its pixels do", 1 << 24))
    return rows


def palette_rows():
    """BMP and PNG palettes one colour short and exactly full, at each depth
    the step checks: the largest index the palette holds loads, one past it
    is refused."""
    rows = []
    for bits, short in ONE_SHORT.items():
        # The decoder counts an OS/2 1.x palette 4 entries short (as if
        # its header took 24 bytes): palettes as it counts them.
        for header, more in ((40, 0), (12, 4)):
            kind = "bmp-%d-%d-bit" % (header, bits)
            rows += [
                (kind + "-palette-full", bmp_indexed(5, 3, bits, short + 1 + more,
                                                     lambda x, y: (x * 3 + y) % (short + 1), header), PILLOW),
                (kind + "-palette-one-short", bmp_indexed(5, 3, bits, short + more,
                                                          lambda x, y: short - 1 if x == 4 else 0, header), PILLOW),
                (kind + "-index-past-one-short", bmp_indexed(5, 3, bits, short + more, lambda x, y: short * (x == 4),
                                                             header), PAST + str(short))]
        rows += [("png-%d-bit-palette-full" % bits,
                  png_palette(5, 3, bits, short + 1, lambda x, y: (x + y) % (short + 1)), PILLOW)]
        for kind in range(5):
            # Indices that change along the row and down it, so that each
            # filter's prediction differs from the others'.
            def fits(x, y):
                return (x * 5 + y * 3) % short if x != y else short - 1
            rows += [("png-%d-bit-palette-one-short-filter-%d" % (bits, kind),
                      png_palette(7, 4, bits, short, fits, (kind,)), PILLOW),
                     ("png-%d-bit-index-past-one-short-filter-%d" % (bits, kind),
                      png_palette(7, 4, bits, short, lambda x, y: short if (x, y) == (6, 3) else fits(x, y), (kind,)),
                      PAST + str(short))]
    return rows


def rows():
    """(name, file bytes, expected[, largest texture]) for every row."""
    from PIL import Image
    five = [(x * 50 % 256, 7, 255 - x, 255) for x in range(5)]
    return [
        # Kinds not read, by their first bytes, each side of the signature.
        ("jpeg", magick("jpg"), "JPEG images are not read, save it as PNG"),
        ("jpeg-ff-d8-then-not-ff", b"\xff\xd8\x00" + bytes(40), NOT_A_KIND),
        ("psd", magick("psd"), "Photoshop images are not read, save it as PNG"),
        ("psd-8bp-then-not-s", b"8BPX" + bytes(40), NOT_A_KIND),
        # Softimage PIC's and Radiance's signatures, by hand.
        ("pic", b"\x53\x80\xf6\x34" + bytes(100), "Softimage PIC images are not read, save it as PNG"),
        ("pic-3-bytes-of-signature", b"\x53\x80\xf6\x00" + bytes(100), NOT_A_KIND),
        ("hdr", magick("hdr"), "Radiance HDR images are not read, save it as PNG"),
        ("hdr-hash-then-not-question-mark", b"#!" + bytes(40), NOT_A_KIND),
        ("pbm-plain-2-bytes", b"P1", "PBM images are not read, save it as PNG"),
        ("pbm", netpbm("pbmmake -black 3 2"), "PBM images are not read, save it as PNG"),
        ("pgm-plain", netpbm("pgmmake 0.5 3 2", "pnmtoplainpnm"),
         "plain-text PGM images are not read, save it as binary PGM or PNG"),
        ("ppm-plain", netpbm("ppmmake red 3 2", "pnmtoplainpnm"),
         "plain-text PPM images are not read, save it as binary PPM or PNG"),
        ("pam", netpbm("ppmmake red 3 2", "pamtopam"), "PAM images are not read, save it as PNG"),
        ("pfm-colour", netpbm("ppmmake red 3 2", "pamtopfm"), "PFM images are not read, save it as PNG"),
        ("pfm-grey", netpbm("pgmmake 0.5 3 2", "pamtopfm"), "PFM images are not read, save it as PNG"),
        ("p-alone", b"P", NOT_A_KIND),
        ("p-then-8", b"P8 3 2 255\n" + bytes(6), NOT_A_KIND),
        # Binary PNM, netpbm's scaling: v x 255 / largest, rounded.
        ("pgm-255", pnm(5, 5, 1, 255, [0, 1, 127, 254, 255]), picture(5, 1, grey(0, 1, 127, 254, 255))),
        ("pgm-256-two-bytes", pnm(5, 5, 1, 256, [0, 1, 128, 255, 256]), picture(5, 1, grey(0, 1, 128, 254, 255))),
        ("pgm-1", pnm(5, 3, 1, 1, [0, 1, 1]), picture(3, 1, grey(0, 255, 255))),
        ("pgm-65535", pnm(5, 4, 1, 65535, [0, 128, 0x1234, 65535]), picture(4, 1, grey(0, 0, 18, 255))),
        ("pgm-65536", pnm(5, 1, 1, 65535, [1], head=b"P5 1 1 65536\n"),
         "its PNM header gives a largest sample value of 65536, outside 1 to 65535"),
        ("pgm-0", pnm(5, 1, 1, 1, [0], head=b"P5 1 1 0\n"),
         "its PNM header gives a largest sample value of 0, outside 1 to 65535"),
        ("pgm-sample-past-largest", pnm(5, 2, 1, 15, [15, 16]),
         "its pixels hold a value of 16, past the largest its header gives, 15"),
        ("pgm-16-bit-sample-past-largest", pnm(5, 2, 1, 1000, [1000, 1001]),
         "its pixels hold a value of 1001, past the largest its header gives, 1000"),
        ("ppm-two-rows-bottom-first", pnm(6, 2, 2, 255, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]),
         picture(2, 2, [(1, 2, 3, 255), (4, 5, 6, 255), (7, 8, 9, 255), (10, 11, 12, 255)])),
        ("pgm-comments-and-blanks", pnm(5, 2, 1, 255, [9, 200], head=b"P5\t#w\r2 #h\n\x0b1\f# 12345678901\n255\n"),
         picture(2, 1, grey(9, 200))),
        ("pgm-comment-right-after-magic", pnm(5, 2, 1, 255, [9, 200], head=b"P5# c\n2 1 255\n"),
         picture(2, 1, grey(9, 200))),
        # Bytes 8 and 14, each beside netpbm's blanks (9 to 13), are none.
        *[("pgm-byte-%d-before-width" % byte, b"P5%c2 1 255\n\x01\x02" % byte,
           "its header gives an empty picture, 0x0 pixels") for byte in (8, 14)],
        # "/" and ":", beside the digits, end a number.
        *[("pgm-%s-after-width" % name, b"P5 2%s 1 255\n\x01\x02" % byte,
           "its header gives an empty picture, 2x0 pixels")
          for name, byte in (("slash", b"/"), ("colon", b":"))],
        ("pgm-leading-zeros", pnm(5, 1, 1, 255, [1], head=b"P5 00000000001 1 255\n"), picture(1, 1, grey(1))),
        ("pgm-9-digits", b"P5 999999999 1 255\n",
         "999999999x1 pixels is larger than the largest texture this GL takes, 16384 pixels a side"),
        ("pgm-10-digits", pnm(5, 1, 1, 255, [1], head=b"P5 1000000001 1 255\n"),
         "its PNM header holds a number too large to read"),
        ("pgm-256-one-byte-short", pnm(5, 2, 1, 256, [1, 2])[:-1], SHORT + "2x1 pixels take 15 bytes, and it holds 14"),
        ("pgm-one-byte-short", pnm(5, 3, 2, 255, [1, 2, 3, 4, 5]),
         SHORT + "3x2 pixels take 17 bytes, and it holds 16"),
        ("ppm-16-bit-one-byte-short", pnm(6, 1, 1, 300, [1, 2, 3])[:-1],
         SHORT + "1x1 pixels take 17 bytes, and it holds 16"),
        ("pgm-by-netpbm", netpbm("pgmramp -lr 6 2", "pamdepth 1023"),
         (6, 2, bytes(c for v in (0, 51, 102, 153, 204, 255) * 2 for c in (v, v, v, 255)))),
        ("ppm-by-netpbm", netpbm("ppmmake rgb:10/80/ff 2 1", "pamdepth 4095"),
         picture(2, 1, [(16, 128, 255, 255)] * 2)),
        # Sizes: empty, at the largest texture and past it, and with a
        # largest texture over 16384.
        ("pgm-0-wide", b"P5 0 1 255\n", "its header gives an empty picture, 0x1 pixels"),
        ("pgm-16384-wide", pnm(5, 16384, 1, 255, [7] * 16384), picture(16384, 1, grey(7) * 16384)),
        ("pgm-16385-wide", pnm(5, 16385, 1, 255, [7] * 16385),
         "16385x1 pixels is larger than the largest texture this GL takes, 16384 pixels a side"),
        ("pgm-16385-high", pnm(5, 1, 16385, 255, [7] * 16385),
         "1x16385 pixels is larger than the largest texture this GL takes, 16384 pixels a side"),
        ("pgm-16384-wide-gl-takes-16383", pnm(5, 16384, 1, 255, [7] * 16384), picture(16384, 1, grey(7) * 16384),
         16383),
        ("pgm-20000-wide-gl-takes-20000", pnm(5, 20000, 1, 255, [7] * 20000), picture(20000, 1, grey(7) * 20000),
         20000),
        ("pgm-16384-high-gl-takes-16383", pnm(5, 1, 16384, 255, [7] * 16384), picture(1, 16384, grey(7) * 16384),
         16383),
        ("pgm-20000-high-gl-takes-20000", pnm(5, 1, 20000, 255, [7] * 20000), picture(1, 20000, grey(7) * 20000),
         20000),
        ("pgm-20000-high-gl-takes-19999", pnm(5, 1, 20000, 255, [7] * 20000),
         "1x20000 pixels is larger than the largest texture this GL takes, 19999 pixels a side", 19999),
        # BMP kinds by header size and compression.
        # OS/2 1.x whose first pixels, where a longer header keeps its
        # compression, read 1 (run-length): uncompressed all the same.
        ("bmp-12-pixels-like-compression-1",
         harness.bmp(2, 2, 24, bytes((9, 8, 7, 5, 1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0)), header=12), PILLOW),
        ("bmp-12-os2-1", magick("-alpha", "off", "-type", "TrueColor", "bmp2"), PILLOW),
        ("bmp-40", magick("-alpha", "off", "-type", "TrueColor", "bmp3"), PILLOW),
        ("bmp-108-or-124", magick("bmp"), PILLOW),
        ("bmp-40-bitfields-at-24-bits", bmp_fields(pil(pil_image("RGB", 5, 3), "bmp"), compression=3), NOT_A_KIND),
        ("bmp-16-os2-2", bmp_fields(magick("bmp3"), header=16), "OS/2 2.x BMP images are not read, save it as PNG"),
        ("bmp-64-os2-2", bmp_fields(magick("bmp3"), header=64), "OS/2 2.x BMP images are not read, save it as PNG"),
        ("bmp-52", bmp_fields(magick("bmp3"), header=52),
         "BMP images with a 52-byte header are not read, save it as PNG"),
        *[("bmp-compression-%d" % c, bmp_fields(magick("bmp3"), compression=c), reason) for c, reason in (
            (1, "run-length BMP images are not read, save it uncompressed or as PNG"),
            (2, "run-length BMP images are not read, save it uncompressed or as PNG"),
            (4, "BMP images holding a JPEG are not read, save it as PNG"),
            (5, "BMP images holding a PNG are not read, save it as PNG"),
            (6, "BMP images of compression type 6 are not read, save it uncompressed or as PNG"),
            (7, NOT_A_KIND),
            (10, NOT_A_KIND),
            (11, "BMP images of compression type 11 are not read, save it uncompressed or as PNG"),
            (12, "BMP images of compression type 12 are not read, save it uncompressed or as PNG"),
            (13, "BMP images of compression type 13 are not read, save it uncompressed or as PNG"),
            (14, NOT_A_KIND))],
        ("bmp-2-bits", bmp_fields(bmp_indexed(5, 3, 4, 4, lambda x, y: 0), bits=2),
         "BMP images of 2 bits a pixel are not read, save it as PNG"),
        ("bmp-64-bits", bmp_fields(magick("bmp3"), bits=64),
         "BMP images of 64 bits a pixel are not read, save it as PNG"),
        ("bmp-2-bits-bitfields", bmp_fields(bmp_indexed(5, 3, 4, 4, lambda x, y: 0), bits=2, compression=3),
         NOT_A_KIND),
        ("bmp-os2-2-bits", harness.bmp(4, 1, 2, bytes(4), header=12, palette=bytes(3 * 8)),
         "the decoder says: Corrupt BMP"),
        # A run-length BMP cut in its compression field, and not.
        ("bmp-rle-33-bytes", bmp_fields(magick("bmp3"), compression=1)[:33], NOT_A_KIND),
        ("bmp-rle-34-bytes", bmp_fields(magick("bmp3"), compression=1)[:34],
         "run-length BMP images are not read, save it uncompressed or as PNG"),
        # Rows top first and bottom first, the last one's padding there or not.
        ("bmp-24-bottom-first", pil(pil_image("RGB", 5, 3), "bmp"), PILLOW),
        ("bmp-24-top-first", harness.bmp_top_first(5, 3, lambda x, y: five[x][:3] if y else (y, x, 9)), PILLOW),
        ("bmp-4-bit-top-first", bmp_indexed(5, -3, 4, 16, lambda x, y: x * 3 + y), PILLOW),
        ("bmp-last-row-unpadded", bmp_indexed(5, 3, 8, 256, lambda x, y: x + y * 5, pad_last=False), PILLOW),
        ("bmp-last-row-one-byte-short", bmp_indexed(5, 3, 8, 256, lambda x, y: x + y, pad_last=False, cut=1),
         SHORT + "5x3 pixels take 1099 bytes, and it holds 1098"),
        ("bmp-os2-last-row-one-byte-short", bmp_indexed(5, 3, 8, 256, lambda x, y: x, header=12, pad_last=False, cut=1),
         SHORT + "5x3 pixels take 815 bytes, and it holds 814"),
        ("bmp-8-bit-index-past-at-x-0", bmp_indexed(9, 1, 8, 255, lambda x, y: 255 if x == 0 else x), PAST + "255"),
        ("bmp-8-bit-index-past-at-x-8", bmp_indexed(9, 1, 8, 255, lambda x, y: 255 if x == 8 else x), PAST + "255"),
        # Padding is no pixel, whatever it holds.
        ("bmp-8-bit-padding-past-the-palette", bmp_indexed(9, 1, 8, 255, lambda x, y: x, pad=0xFF), PILLOW),
        # 33 one-bit pixels: a row of 5 bytes, padded to 8.
        ("bmp-1-bit-33-wide-index-past-in-second-row", bmp_indexed(33, 2, 1, 1, lambda x, y: x == 32 and y == 0),
         PAST + "1"),
        ("bmp-1-bit-33-wide-last-row-one-byte-short", bmp_indexed(33, 2, 1, 2, lambda x, y: 0, pad_last=False, cut=1),
         SHORT + "33x2 pixels take 75 bytes, and it holds 74"),
        # An OS/2 palette of 259 entries, 255 as the decoder counts them, and
        # 2 bytes before the pixels.
        ("bmp-12-8-bit-gap-after-the-palette", bmp_indexed(2, 1, 8, 259, lambda x, y: 255 * x, header=12, gap=2),
         PAST + "255"),
        # A palette of 255 entries, then 3 bytes before the pixels.
        ("bmp-8-bit-gap-of-3-after-the-palette", bmp_indexed(2, 1, 8, 255, lambda x, y: 255 * x, gap=3),
         PAST + "255"),
        # Bytes after the pixels are none of them.
        ("bmp-8-bit-bytes-after-the-pixels", bmp_indexed(2, 1, 8, 255, lambda x, y: x) + b"\xff" * 8, PILLOW),
        ("bmp-8-bit-one-byte-last-row-index-past", bmp_indexed(1, 2, 8, 255, lambda x, y: 255 * y, pad_last=False),
         PAST + "255"),
        ("bmp-1-bit-bad-index-in-last-row", bmp_indexed(9, 2, 1, 1, lambda x, y: x == 8 and y == 1), PAST + "1"),
        ("bmp-8-bit-palette-empty", bmp_indexed(2, 1, 8, 0, lambda x, y: 0), PAST + "0"),
        *palette_rows(),
        *inflate_limit_rows(),
        # PNG: interlaced palettes, colour types by size.
        ("png-1-bit-interlaced-one-short", png_palette(13, 11, 1, 1, lambda x, y: 0, (1, 2, 3, 4, 0), True), PILLOW),
        ("png-4-bit-interlaced-index-past", png_palette(13, 11, 4, 15, lambda x, y: 15 if (x, y) == (12, 9) else x,
                                                        (4, 3), True), PAST + "15"),
        # Interlaced, the last pixel stored past the palette or not: sizes at
        # which each of Adam7's numbers changes a pass's size.
        *[("png-8-bit-interlaced-%dx%d-%s" % (w, h, name), png_palette(
            w, h, 8, 255, lambda x, y: last if (x, y) == last_interlaced(w, h) else (x * 7 + y * 3) % 250,
            (0, 1, 2, 3, 4), True), want)
          for w, h in ((29, 33), (26, 22), (1, 3), (3, 4), (4, 5))
          for name, last, want in (("last-index-past", 255, PAST + "255"), ("last-index-in", 254, PILLOW))],
        # 100 rows of noise, 50 of zeros, the noise again: it repeats 30150
        # bytes back, further than a window of 16 KiB holds once the zeros
        # have filled a buffer of output.
        ("png-8-bit-distance-30150", png_palette(
            200, 250, 8, 255, lambda x, y: NOISE[y % 150 * 200 + x] if y % 150 < 100 else 0), PILLOW),
        ("png-8-bit-palette-missing", png_palette(2, 1, 8, 0, lambda x, y: 255, plte=False), NOT_A_KIND),
        ("png-1-bit-9-wide-index-past-at-x-8", png_palette(9, 1, 1, 1, lambda x, y: x == 8), PAST + "1"),
        # Unknown critical chunks named one letter off CgBI, PLTE and IDAT,
        # between an empty data chunk, where the decoder's header read stops,
        # and the pixels; the data split in two within the stream.
        *[("png-chunk-%s-between-data" % name.decode(), png_palette(2, 1, 8, 3, lambda x, y: 7 * x, pieces=lambda d: (
            chunk(b"IDAT", b"") + chunk(name, bytes(765)) + chunk(b"IDAT", d))), PAST + "3")
          for name in (b"CgBJ", b"PLTf", b"IDAx")],
        ("png-data-a-byte-a-chunk", png_palette(9, 2, 8, 3, lambda x, y: 7 * (x == 8 and y == 1), pieces=lambda d: (
            b"".join(chunk(b"IDAT", d[i:i + 1]) for i in range(len(d))))), PAST + "3"),
        # The stream goes on past the rows, with bytes that are no index.
        ("png-stream-past-the-rows", png_palette(2, 1, 8, 3, lambda x, y: x, tail=b"\xff" * 20),
         picture(2, 1, [(0, 0, 200, 255), (53, 29, 199, 255)])),
        ("png-interlaced-stream-past-the-rows", png_palette(3, 5, 8, 3, lambda x, y: x, (0,), True, tail=b"\xff" * 64),
         picture(3, 5, [(0, 0, 200, 255), (53, 29, 199, 255), (106, 58, 198, 255)] * 5)),
        # RGB with a suggested palette of 3 colours: no indices at all.
        ("png-rgb-with-a-suggested-palette", harness.png(2, 1, [[10, 20, 30, 200, 100, 50]], 8, 2, palette=bytes(9)),
         PILLOW),
        # Paeth's choice where the left, upper and upper left bytes tie two
        # ways; one wrong choice makes index 1 read as 255.
        *[("png-paeth-left-%d-up-%d-upper-left-%d" % (a, b, c), png_palette(
            2, 2, 8, 255, lambda x, y: ((c, b), (a, 1))[y][x], (0, 4)), PILLOW) for a, b, c in ((5, 2, 3), (0, 3, 1))],
        ("png-paeth-first-column-0-to-4", png_palette(4, 5, 8, 255, lambda x, y: 255 if (x, y) == (3, 4) else y, (4,)),
         PAST + "255"),
        # Rows that inflate to far more than one buffer of output, the one
        # index past the palette last.
        ("png-8-bit-300x300-last-index-past", png_palette(300, 300, 8, 255, lambda x, y: 255 * (x == y == 299)),
         PAST + "255"),
        # Apple's PNGs, read as the decoder reads them: no colour swapped.
        ("png-apple", apple(png_palette(4, 1, 8, 3, lambda x, y: x % 3)),
         picture(4, 1, [(0, 0, 200, 255), (53, 29, 199, 255), (106, 58, 198, 255), (0, 0, 200, 255)])),
        ("png-apple-index-past", apple(png_palette(4, 1, 8, 3, lambda x, y: 7 * (x == 3))), PAST + "3"),
        ("png-apple-cgbi-of-8-bytes", apple(png_palette(4, 1, 8, 3, lambda x, y: x % 3), 8),
         "its CgBI chunk is not Apple's, of 4 bytes, but of 8"),
        ("png-8-bit-filter-5", png_palette(3, 2, 8, 255, lambda x, y: 254, (5,)),
         "the decoder says: Corrupt PNG"),
        ("png-rgb", pil(pil_image("RGB", 5, 3), "png"), PILLOW),
        ("png-grey-alpha", pil(pil_image("LA", 5, 3), "png"), PILLOW),
        # The decoder's own size limits, each side of each: 2^24 pixels a
        # side; a PNG's sides times bytes a pixel (a palette's at four)
        # within 1 GiB; BMP's, TGA's and GIF's within an int.
        ("png-rgba-16384x16384", png_cut_in_data(16384, 16384, 8, 6), CUT),
        ("png-rgba-16384x16385", png_cut_in_data(16384, 16385, 8, 6), DECODER % ("16384x16385", "4 bytes", "1 GiB")),
        ("png-palette-16384x16384", png_palette_cut(16384, 16384), CUT),
        ("png-palette-16384x16385", png_palette_cut(16384, 16385), DECODER % ("16384x16385", "4 bytes", "1 GiB")),
        ("png-grey-16777216x64", png_cut_in_data(1 << 24, 64, 8, 0), CUT, 1 << 30),
        ("png-grey-16777216x65", png_cut_in_data(1 << 24, 65, 8, 0), DECODER % ("16777216x65", "1 byte", "1 GiB"),
         1 << 30),
        ("png-grey-16777217x1", png_cut_in_data((1 << 24) + 1, 1, 8, 0), SIDE % "16777217x1", 1 << 30),
        ("png-rgb-16384x21845", png_cut_in_data(16384, 21845, 8, 2), CUT, 1 << 30),
        ("png-rgb-16384x21846", png_cut_in_data(16384, 21846, 8, 2), DECODER % ("16384x21846", "3 bytes", "1 GiB")),
        ("png-grey-alpha-16384x32768", png_cut_in_data(16384, 32768, 8, 4), CUT, 1 << 30),
        ("png-grey-alpha-16384x32769", png_cut_in_data(16384, 32769, 8, 4),
         DECODER % ("16384x32769", "2 bytes", "1 GiB")),
        ("png-apple-rgba-16384x16385",
         PNG_SIGNATURE + chunk(b"CgBI", b"\x50\x00\x20\x02") + png_cut_in_data(16384, 16385, 8, 6)[8:],
         DECODER % ("16384x16385", "4 bytes", "1 GiB")),
        ("png-chunk-IHDX-first", png_cut_in_data(16384, 16385, 8, 6).replace(b"IHDR", b"IHDX"), NOT_A_KIND),
        ("png-chunk-CgBJ-first", PNG_SIGNATURE + chunk(b"CgBJ", bytes(4)) + png_cut_in_data(16384, 16385, 8, 6)[8:],
         NOT_A_KIND),
        *(("png-colour-type-%d-16777216x65" % kind, png_cut_in_data(1 << 24, 65, 8, kind), NOT_A_KIND, 1 << 30)
          for kind in (1, 5, 7)),
        ("bmp-1x16777216", harness.bmp(1, 1 << 24), SHORT + "1x16777216 pixels take 67108917 bytes, and it holds 54",
         1 << 30),
        ("bmp-1x16777217", harness.bmp(1, (1 << 24) + 1), SIDE % "1x16777217", 1 << 30),
        ("bmp-24-bit-32768x21845", harness.bmp(32768, 21845), SHORT + "32768x21845 pixels take 2147450934 bytes, and"
         " it holds 54", 32768),
        ("bmp-24-bit-32768x21846", harness.bmp(32768, 21846), DECODER % ("32768x21846", "3 bytes", "2 GiB"), 32768),
        ("bmp-32-bit-32768x16383", harness.bmp(32768, 16383, 32), SHORT + "32768x16383 pixels take 2147352630 bytes,"
         " and it holds 54", 32768),
        ("bmp-32-bit-32768x16384", harness.bmp(32768, 16384, 32), DECODER % ("32768x16384", "4 bytes", "2 GiB"), 32768),
        ("bmp-16777216x1", harness.bmp(1 << 24, 1), SHORT + "16777216x1 pixels take 50331702 bytes, and it holds 54",
         1 << 30),
        ("bmp-16777217x1", harness.bmp((1 << 24) + 1, 1), SIDE % "16777217x1", 1 << 30),
        ("tga-24-bit-65535x10922", harness.tga(65535, 10922, 24), SHORT + "65535x10922 pixels take 2147319828 bytes,"
         " and it holds 18", 65535),
        ("tga-24-bit-65535x10923", harness.tga(65535, 10923, 24), DECODER % ("65535x10923", "3 bytes", "2 GiB"), 65535),
        ("gif-screen-65535x8192", gif_screen(65535, 8192), "decoding it would take a block of 2048 MiB, out of"
         " proportion to a file of %d bytes" % len(gif_screen(65535, 8192)), 65535),
        ("gif-screen-65535x8193", gif_screen(65535, 8193), DECODER % ("65535x8193", "4 bytes", "2 GiB"), 65535),
        ("png-16-bit-rgba-16384-square", png_cut_in_data(16384, 16384, 16, 6),
         "16384x16384 pixels at 16 bits a channel inflate to more than the decoder takes, 2 GiB; save it at 8 bits"),
        # GIF and the decoder's block limit.
        ("gif", pil(pil_image("P", 5, 3, 7), "gif"), PILLOW),
        ("gif-screen-16384-square", gif_screen(16384, 16384),
         "decoding it would take a block of 1024 MiB, out of proportion to a file of 48 bytes"),
        # 16384 x 16001 x 4 bytes: 1000 MiB and 64 KiB, rounded up.
        ("gif-screen-16384x16001", gif_screen(16384, 16001),
         "decoding it would take a block of 1001 MiB, out of proportion to a file of %d bytes"
         % len(gif_screen(16384, 16001))),
        # A grey 8282 x 4051 PNG inflates into 4051 x 8283 bytes, 32 MiB and
        # one byte, from a few: the first block the decoder asks for.
        ("png-grey-8282x4051-of-a-few-bytes", grey_png_claiming(8282, 4051),
         "decoding it would take a block of 33 MiB, out of proportion to a file of %d bytes"
         % len(grey_png_claiming(8282, 4051))),
        # 69 bytes may have blocks of 69 x 64 KiB + 16 MiB = 21299200 bytes:
        # 1300 rows of 16383 + 1 inflate to that, 2387 of 8922 + 1 to one more.
        ("png-grey-16383x1300-block-at-the-limit", grey_png_claiming(16383, 1300), "the decoder says: Corrupt PNG"),
        ("png-grey-8922x2387-block-one-past", grey_png_claiming(8922, 2387),
         "decoding it would take a block of 21 MiB, out of proportion to a file of 69 bytes"),
        # TGA: an identification field and a colour map before the pixels.
        ("tga-id-and-colour-map", pil(pil_image("P", 5, 3, 9), "tga", id_section=b"made by Pillow"), PILLOW),
        ("tga-id-and-colour-map-rle", pil(pil_image("P", 5, 3, 9), "tga", id_section=b"x" * 200,
                                          compression="tga_rle"), PILLOW),
        ("tga-24-top-first", pil(pil_image("RGB", 5, 3), "tga", orientation=1), PILLOW),
        ("tga-32-rle", pil(pil_image("RGBA", 5, 3), "tga", compression="tga_rle"), PILLOW),
        ("tga-right-to-left", tga(1, 1, 24, 2, b"abc", descriptor=0x10),
         "TGA images stored right to left are not read, save it as PNG"),
        ("tga-8-bit-map-one-byte-short", tga(2, 1, 8, 1, bytes(3 * 3 + 2), ident=b"id", colour_map=(0, 3, 24), cut=1),
         SHORT + "2x1 pixels take 31 bytes, and it holds 30"),
        ("tga-8-bit-map-whole", tga(2, 1, 8, 1, bytes((9, 8, 7, 1, 2, 3, 1, 0)), ident=b"id", colour_map=(0, 2, 24)),
         picture(2, 1, [(3, 2, 1, 255), (7, 8, 9, 255)])),
        ("tga-rle-map-one-byte-short", tga(2, 1, 8, 9, bytes(9) + b"\x81\x01", colour_map=(0, 3, 24), cut=1),
         SHORT + "2x1 pixels take 29 bytes, and it holds 28"),
        ("tga-rle-map-40-pixels-in-one-run", tga(40, 1, 8, 9, bytes((1, 2, 3, 4, 5, 6)) + b"\xa7\x01",
                                                 colour_map=(0, 2, 24)), picture(40, 1, [(6, 5, 4, 255)] * 40)),
        ("tga-15-bit-map-one-byte-short", tga(1, 1, 8, 1, bytes(2 * 4 + 1), colour_map=(0, 4, 15), cut=1),
         SHORT + "1x1 pixels take 27 bytes, and it holds 26"),
        ("tga-rle-129-pixels-one-byte-short", tga(129, 1, 24, 10, bytes(8), cut=1),
         SHORT + "129x1 pixels take 26 bytes, and it holds 25"),
        ("tga-24-one-byte-short", tga(2, 2, 24, 2, bytes(12), cut=1),
         SHORT + "2x2 pixels take 30 bytes, and it holds 29"),
        # 16-bit TGA, its top bit alpha (set: opaque), raw and in runs.
        *[("tga-16-alpha-%s-%s" % (kind, order), tga(3, 2, 16, image_type, pixels, descriptor=1 | flag), PILLOW)
          for order, flag in (("bottom-first", 0), ("top-first", 0x20))
          for kind, image_type, pixels in (
              ("raw", 2, b"".join(tga16(x, y, (x + y) % 2) for y in range(2) for x in range(3))),
              ("rle", 10, b"\x81" + tga16(0, 0, 1) + b"\x01" + tga16(1, 1, 0) + tga16(2, 2, 1)
               + b"\x02" + tga16(0, 3, 0) + tga16(4, 1, 1) + tga16(5, 2, 0)))],
        ("tga-16-alpha-after-an-id-field", tga(3, 1, 16, 2, tga16(0, 0, 1) + tga16(1, 0, 0) + tga16(2, 0, 1),
                                               descriptor=1, ident=b"\x00\x80" * 3), PILLOW),
        ("tga-16-alpha-stated", tga(2, 1, 16, 2, b"\x1f\x80\x00\x7c", descriptor=0x21),
         picture(2, 1, [(0, 0, 255, 255), (255, 0, 0, 0)])),
        ("tga-16-no-alpha-bits", tga(2, 1, 16, 2, b"\x1f\x80\x00\x7c", descriptor=0x20),
         picture(2, 1, [(0, 0, 255, 255), (255, 0, 0, 255)])),
        ("tga-16-alpha-rle-cut-in-run", tga(3, 1, 16, 10, b"\x02\x00\x80\x00\x80"),
         "the file ends before its pixels do"),
        # Fuzz regressions that load, with their pictures: 16-bit PNM
        # stated (netpbm's scaling), the GIF's frame on a transparent screen.
        ("fuzz-pgm-16-bit", regression("pgm-16-bit"), picture(5, 3, grey(
            *(round(v * 255 / 65535) for v in struct.unpack(">15H", regression("pgm-16-bit")[13:]))))),
        ("fuzz-ppm-16-bit", regression("ppm-16-bit"), picture(5, 3, [tuple(
            round(v * 255 / 65535) for v in struct.unpack(">3H", regression("ppm-16-bit")[13 + 6 * i:19 + 6 * i]))
            + (255,) for i in range(15)])),
        ("fuzz-gif-8x8-frame-on-1200x1000-screen", regression("gif-8x8-frame-on-1200x1000-screen"), picture(
            1200, 1000, [(255, 0, 0, 255) if x < 8 and y < 8 else (0, 0, 0, 0)
                         for y in range(1000) for x in range(1200)])),
        # Signatures past their fourth byte, and fields past 16 bits.
        ("psd-version-1-by-hand", b"8BPS\x01" + bytes(40), "Photoshop images are not read, save it as PNG"),
        ("pic-by-hand", harness.pic(2, 1, [(0, 0xE0, lambda y: bytes(6))]),
         "Softimage PIC images are not read, save it as PNG"),
        ("bmp-pixels-at-65590", bmp_fields(pil(pil_image("RGB", 1, 1), "bmp"), at=65590),
         SHORT + "1x1 pixels take 65593 bytes, and it holds 58"),
        ("png-16-mib-text-chunk-then-index-past", png_palette(5, 1, 8, 3, lambda x, y: x, extra=text_chunk(1 << 24)),
         PAST + "3"),
        ("png-64-kib-text-chunk-then-index-past", png_palette(5, 1, 8, 3, lambda x, y: x, extra=text_chunk(1 << 16)),
         PAST + "3"),
        *refused_regressions(),
        ("missing", None, "missing"),
        ("directory", DIRECTORY, "Is a directory"),
        ("unreadable", UNREADABLE, "Permission denied"),
        # A TGA whose identification field is 66 bytes long starts with
        # "B", and is still no BMP.
        ("tga-starting-with-b", tga(2, 1, 24, 2, bytes((1, 2, 3, 4, 5, 6)), ident=b"i" * 66),
         picture(2, 1, [(3, 2, 1, 255), (6, 5, 4, 255)])),
        ("empty", b"", "the file is empty"),
        ("grey-png-by-pillow", pil(Image.new("L", (3, 2), 77), "png"), PILLOW),
    ]


def rgba(line):
    """The driver's line as (width, height, RGBA top row first) as GL would
    sample it: the format's channels, G and B 0 and A 1 where it has none,
    then the swizzle."""
    _, width, height, fmt, swizzle, data = line.split(" ")
    width, height, data = int(width), int(height), bytes.fromhex(data)
    count = {"RED": 1, "RG": 2, "RGB": 3, "RGBA": 4}[fmt]
    row = width * count
    if fmt == "RGBA" and swizzle == "-,-,-,-":
        return width, height, b"".join(data[y * row:(y + 1) * row] for y in reversed(range(height)))
    out = bytearray()
    for y in reversed(range(height)):
        for x in range(width):
            texel = list(data[y * row + x * count:y * row + (x + 1) * count]) + [0, 0, 255][count - 1:]
            texel = texel[:4] if count < 4 else texel
            names = {"RED": 0, "GREEN": 1, "BLUE": 2, "ALPHA": 3}
            if swizzle != "-,-,-,-":
                texel = [255 if s == "ONE" else 0 if s == "ZERO" else texel[names[s]] for s in swizzle.split(",")]
            out += bytes(texel)
    return width, height, bytes(out)


def expected_of(name, data, want):
    if want == PILLOW:
        return harness.pillow_texels(data)
    return want


def outcomes(binary, files):
    """The driver's line for each (path, largest texture)."""
    command, copy = [binary], None
    if os.geteuid() == 0:
        # A copy of its own beside the files, which nobody may run wherever
        # the build is.
        handle, copy = tempfile.mkstemp(prefix="image_step-", dir=os.path.dirname(files[0][0]))
        os.close(handle)
        shutil.copy(binary, copy)
        os.chmod(copy, 0o755)
        command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", copy]
    for path, largest in files:
        command += ["--largest=%d" % largest, path]
    try:
        lines = subprocess.run(command, capture_output=True, check=True, timeout=20).stdout.decode().splitlines()
    finally:
        if copy:
            os.unlink(copy)
    assert len(lines) == len(files), "%d lines for %d files" % (len(lines), len(files))
    return lines


def prepare(directory):
    """Writes every row's file into directory: [(name, path, largest, expected)]."""
    prepared = []
    os.chmod(directory, 0o755)
    for row in rows():
        name, data, want = row[:3]
        path = os.path.join(directory, name)
        if data == DIRECTORY:
            os.mkdir(path)
        elif data is not None:
            pathlib.Path(path).write_bytes(b"unreadable" if data == UNREADABLE else data)
            os.chmod(path, 0 if data == UNREADABLE else 0o644)
        prepared.append((name, path, row[3] if len(row) > 3 else 16384, expected_of(name, data, want)))
    return prepared


def wrong(binary, prepared):
    """The rows whose outcome differs: (name, what the step gave, expected)."""
    found = []
    for (name, _, _, want), line in zip(prepared, outcomes(binary, [(p, n) for _, p, n, _ in prepared])):
        if isinstance(want, str):
            got = "missing" if line == harness.IMAGE_LINE else line[len(harness.IMAGE_LINE) + 2:] \
                if line.startswith(harness.IMAGE_LINE + ": ") else line[:60]
            if got != want:
                found.append((name, got, want))
        elif not line.startswith("loaded "):
            found.append((name, line, want[:2]))
        elif rgba(line) != want:
            got = rgba(line)
            at = next((i for i in range(min(len(got[2]), len(want[2]))) if got[2][i] != want[2][i]), None)
            found.append((name, "%dx%d, byte %s: %s" % (got[0], got[1], at, got[2][at] if at is not None else "-"),
                          "%dx%d: %s" % (want[0], want[1], want[2][at] if at is not None else "-")))
    return found


class ImageStep(unittest.TestCase):
    def test_each_row(self):
        directory = tempfile.mkdtemp(prefix="viewer-image-step-")
        self.addCleanup(shutil.rmtree, directory, True)
        prepared = prepare(directory)
        found = wrong(BINARY, prepared)
        self.assertEqual(found, [], "%d of %d rows: (row, the step's outcome, expected)" % (len(found), len(prepared)))
        print("%d rows as expected" % len(prepared))


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    harness.main()
