"""Every valid image a user may meet, as ImageMagick and Pillow write them
(fuzz/make_seeds.py), shows the picture Pillow reads from the same file: the
viewer's image step and upload, in a real context, read back texel by texel
by the image probe. A file of a kind the viewer does not read gets the reason
that says so. Argument: the image_probe binary."""
import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile

from PIL import Image

import harness

PROBE = sys.argv.pop(1)

# Kinds not read, by the start of the generator's file names: the reason.
NOT_READ = {
    "jpeg-": "JPEG images are not read, save it as PNG",
    "psd-": "Photoshop images are not read, save it as PNG",
    "pic-": "Softimage PIC images are not read, save it as PNG",
    "hdr": "Radiance HDR images are not read, save it as PNG",
    "pbm-": "PBM images are not read, save it as PNG",
    "pgm-plain": "plain-text PGM images are not read, save it as binary PGM or PNG",
    "ppm-plain": "plain-text PPM images are not read, save it as binary PPM or PNG",
    "pam-": "PAM images are not read, save it as PNG",
    "pfm-": "PFM images are not read, save it as PNG",
    "bmp-run-length": "run-length BMP images are not read, save it uncompressed or as PNG",
    "bmp-2-bits": "BMP images of 2 bits a pixel are not read, save it as PNG",
    "bmp-holding-a-png": "BMP images holding a PNG are not read, save it as PNG",
    "bmp-holding-a-jpeg": "BMP images holding a JPEG are not read, save it as PNG",
    "bmp-os2-v2": "OS/2 2.x BMP images are not read, save it as PNG",
    "tga-right-to-left": "TGA images stored right to left are not read, save it as PNG",
}


def pillow_rgba(path):
    """Pillow's picture, top row first, as 8-bit RGBA, and the channels to
    compare in a transparent and in an opaque texel. 16-bit grey is scaled
    onto 0 to 255 here, every other mode converted by Pillow."""
    with Image.open(path) as image:
        if image.mode in ("I", "I;16", "I;16B"):
            grey = (round(v * 255 / 65535) for v in image.getdata())
            return image.size, bytes(c for g in grey for c in (g, g, g, 255)), range(4), range(4)
        frame = image.tile[0][1] if image.tile else None
        rgba = image.convert("RGBA")
        if image.format == "TGA" and has_alpha_bit(path):
            # Readers differ on a 16-bit TGA's alpha bit: Pillow 9 (Debian
            # 12) takes it for unused, Pillow 11 (Debian 13) a set bit for
            # transparent; the viewer, as the writers of such files mean it,
            # for opaque. So its alpha is read here.
            rgba.putalpha(Image.frombytes("L", image.size, tga_alpha_bits(path)))
        if image.format != "GIF":
            return image.size, rgba.tobytes(), range(4), range(4)
        # Where the viewer differs from Pillow on purpose: a GIF's screen
        # outside its first frame stays transparent black, as browsers show
        # it, where Pillow fills it with the background colour. And a GIF's
        # transparent pixel has no colour of its own: Pillow gives it the
        # palette's entry, the viewer black; only its alpha is compared.
        left, top, right, bottom = frame
        for box in ((0, 0, rgba.width, top), (0, bottom, rgba.width, rgba.height), (0, 0, left, rgba.height),
                    (right, 0, rgba.width, rgba.height)):
            rgba.paste((0, 0, 0, 0), box)
        return image.size, rgba.tobytes(), range(3, 4), range(4)


def has_alpha_bit(path):
    """Whether a TGA is of 16 bits a pixel with one of them alpha."""
    head = pathlib.Path(path).read_bytes()[:18]
    return head[16] == 16 and head[17] & 0x0F == 1


def tga_alpha_bits(path):
    """A 16-bit TGA's alpha bits, raw or in runs, as 255 where set, top row first."""
    data = pathlib.Path(path).read_bytes()
    width, height = struct.unpack_from("<HH", data, 12)
    at, pixels = 18 + data[0], []
    while len(pixels) < width * height:
        count, repeat = 1, False
        if data[2] == 10:
            count, repeat = (data[at] & 0x7F) + 1, data[at] & 0x80
            at += 1
        pixels += [data[at + 1]] * count if repeat else data[at + 1:at + 2 * count:2]
        at += 2 if repeat else 2 * count
    rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
    return bytes(255 if p & 0x80 else 0 for row in (rows if data[17] & 0x20 else reversed(rows)) for p in row)


def differences(size, got, expected, transparent, opaque):
    """Where the probe's texels and Pillow's differ by more than 1, in the
    channels compared."""
    found = []
    for i in range(0, len(expected), 4):
        channels = transparent if expected[i + 3] == 0 else opaque
        if any(abs(got[i + c] - expected[i + c]) > 1 for c in channels):
            found.append(((i // 4) % size[0], (i // 4) // size[0], tuple(got[i:i + 4]), tuple(expected[i:i + 4])))
    return found


def parse(output):
    """The probe's output: a list of ("loaded", (w, h), RGBA) or ("refused", reason)."""
    results, at = [], 0
    while at < len(output):
        end = output.index(b"\n", at)
        line = output[at:end].decode()
        at = end + 1
        if line.startswith("refused "):
            results.append(("refused", line[len("refused "):]))
            continue
        loaded = re.fullmatch(r"loaded (\d+) (\d+)", line)
        assert loaded, "unexpected probe output %r" % line
        size = int(loaded.group(1)), int(loaded.group(2))
        results.append(("loaded", size, output[at:at + size[0] * size[1] * 4]))
        at += size[0] * size[1] * 4
    return results


class Images(harness.TestCase):
    def test_every_valid_image_shows_pillows_picture(self):
        directory = tempfile.mkdtemp(prefix="viewer-images-")
        self.addCleanup(subprocess.run, ["rm", "-rf", directory])
        subprocess.run([sys.executable, os.path.join(harness.SOURCE_DIR, "fuzz", "make_seeds.py"), directory],
                       check=True)
        names = sorted(os.listdir(directory))
        paths = [os.path.join(directory, name) for name in names]
        probe = self.viewer(command=[PROBE, *paths], preload=False)
        status, _, err = probe.wait(300)
        self.assertEqual((status, err), (0, ""))
        probe.out.seek(0)
        results = parse(probe.out.read())
        self.assertEqual(len(results), len(names))
        read = 0
        for name, path, result in zip(names, paths, results):
            with self.subTest(name):
                reason = next((r for kind, r in NOT_READ.items() if name.startswith(kind)), None)
                if reason:
                    self.assertEqual(result, ("refused", reason))
                    continue
                self.assertEqual(result[0], "loaded", result[1])
                size, expected, transparent, opaque = pillow_rgba(path)
                self.assertEqual(result[1], size)
                found = differences(size, result[2], expected, transparent, opaque)
                self.assertEqual(found[:3], [], "%d texels differ from Pillow's" % len(found))
                read += 1
        print("%d images read as Pillow reads them, %d of kinds not read" % (read, len(names) - read))
        self.assertGreaterEqual(read, 250)


if __name__ == "__main__":
    harness.main()
