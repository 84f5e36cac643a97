"""Every valid image a user may meet, as ImageMagick and Pillow write them
(fuzz/make_seeds.py), shows the picture Pillow reads from the same file
(harness.pillow_texels, which says where the viewer differs on purpose): the
viewer's image step and upload, in a real context, read back texel by texel
by the image probe. A file of a kind the viewer does not read gets the reason
that says so. Argument: the image_probe binary."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

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


def differences(size, got, expected, alpha_only):
    """Where the probe's texels and the expected ones differ by more than 1.
    With alpha_only, a transparent texel's colour is not compared: a GIF's
    transparent pixel has no colour of its own (Pillow gives it the
    palette's entry, the viewer black)."""
    found = []
    for i in range(0, len(expected), 4):
        channels = range(3, 4) if alpha_only and expected[i + 3] == 0 else range(4)
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
        self.addCleanup(shutil.rmtree, directory, True)
        subprocess.run([sys.executable, os.path.join(harness.SOURCE_DIR, "fuzz", "make_seeds.py"), directory],
                       check=True, timeout=120)
        names = sorted(os.listdir(directory))
        paths = [os.path.join(directory, name) for name in names]
        probe = self.viewer(command=[PROBE, *paths], preload=False)
        status, _, err = probe.wait(300)
        self.assertEqual((status, err), (0, ""))
        results = parse(probe.stdout_bytes())
        self.assertEqual(len(results), len(names))
        read = 0
        for name, path, result in zip(names, paths, results):
            with self.subTest(name):
                reason = next((r for kind, r in NOT_READ.items() if name.startswith(kind)), None)
                if reason:
                    self.assertEqual(result, ("refused", reason))
                    continue
                self.assertEqual(result[0], "loaded", result[1])
                width, height, expected = harness.pillow_texels(pathlib.Path(path).read_bytes())
                self.assertEqual(result[1], (width, height))
                found = differences((width, height), result[2], expected, name.endswith(".gif"))
                self.assertEqual(found[:3], [], "%d texels differ from Pillow's" % len(found))
                read += 1
        print("%d images read as Pillow reads them, %d of kinds not read" % (read, len(names) - read))
        self.assertGreaterEqual(read, 250)


if __name__ == "__main__":
    harness.main()
