"""The installed viewer without a package: `cmake --install` into a prefix of
one's own, then the command typed in an empty directory, or reached through
a symbolic link elsewhere, shows the same frame as the build tree's program
at a fixed clock, prints nothing and ends with 0 on Escape; the menu entry
passes desktop-file-validate and names that command and an installed icon.

Needs BUILD_DIR, the build tree to install from, besides the harness's
variables.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness

sys.path.insert(0, os.path.join(harness.SOURCE_DIR, "tools"))
from make_icon import read_png  # noqa: E402

BUILD_DIR = os.environ["BUILD_DIR"]
CLOCK = 1.0
X = None


def setUpModule():
    global X
    X = harness.Xvfb()


def tearDownModule():
    X.stop()


class Installed(unittest.TestCase):
    def setUp(self):
        self.prefix = tempfile.mkdtemp(prefix="viewer-prefix-")
        self.addCleanup(shutil.rmtree, self.prefix, ignore_errors=True)
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", self.prefix], check=True,
                       stdout=subprocess.DEVNULL)

    def frame(self, command, cwd):
        viewer = harness.Viewer(X.display, cwd, fake_time=CLOCK, command=command)
        try:
            viewer.wait_window()
            frame = harness.steady(viewer)
            viewer.escape()
            self.assertEqual(viewer.wait(), (0, "", ""), command)
        finally:
            viewer.kill()
        return frame

    def test_command_shows_the_build_trees_frame_from_anywhere(self):
        reference = self.frame(None, harness.stage())
        empty = tempfile.mkdtemp(prefix="viewer-empty-")
        self.addCleanup(shutil.rmtree, empty)
        command = os.path.join(self.prefix, "bin", "viewer")
        self.assertTrue(self.frame([command], empty) == reference, "the command shows another frame")
        # A link to the command, as in a ~/bin of one's own, finds the files too.
        os.symlink(command, os.path.join(empty, "linked"))
        self.assertTrue(self.frame([os.path.join(empty, "linked")], "/") == reference, "through a link")
        self.assertEqual(os.listdir(empty), ["linked"], "the command wrote where it was started")

    def test_menu_entry(self):
        entry = os.path.join(self.prefix, "share", "applications", "viewer.desktop")
        checked = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        self.assertEqual((checked.returncode, checked.stdout), (0, ""))
        with open(entry) as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(fields["Exec"], "viewer")
        for size in (48, 128):
            icon = os.path.join(self.prefix, "share", "icons", "hicolor", "%dx%d" % (size, size), "apps",
                                fields["Icon"] + ".png")
            width, height, rows = read_png(icon)
            self.assertEqual((width, height), (size, size), icon)
            # A picture of test.png on a cube: its four colours and the white
            # arrow, at one brightness or another, on a clear background.
            self.assertEqual([rows[y][x][3] for x, y in ((0, 0), (size - 1, 0), (0, size - 1))], [0, 0, 0])
            seen = set()
            for row in rows:
                for r, g, b, a in row:
                    top = max(r, g, b)
                    if a == 255 and top > 60:
                        seen.add("".join(n for n, c in zip("rgb", (r, g, b)) if c >= 0.6 * top))
            self.assertLessEqual({"r", "g", "b", "rg", "rgb"}, seen, icon)

if __name__ == "__main__":
    unittest.main(verbosity=2)
