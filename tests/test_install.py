"""The viewer installed from BUILD_DIR into a prefix of one's own: typed
anywhere, through a link, given a scene's directory or an example's name,
the command shows the build tree's frame silently and ends with 0 on
Escape; it answers without a window; the manual names the prefix; entry,
icons and metadata validate."""
import os
import re
import shutil
import subprocess
import tempfile

import harness

with open(os.path.join(harness.SOURCE_DIR, "packaging", "changelog")) as f:
    VERSION = f.readline().split("(")[1].split(")")[0]
CLOCK = 1.0
# An example's line in the usage: its name, then its description further on.
EXAMPLE_LINE = re.compile(r"^  ([a-z-]+)  +\S", re.M)


class Installed(harness.TestCase):
    def setUp(self):
        self.prefix = harness.install(self.addCleanup)
        self.command = os.path.join(self.prefix, "bin", "viewer")

    def frame(self, command, cwd):
        return self.picture(cwd, fake_time=CLOCK, command=command)

    def test_command_shows_the_build_trees_frame_from_anywhere(self):
        reference = self.frame(None, self.stage())
        empty = tempfile.mkdtemp(prefix="viewer-empty-")
        self.addCleanup(shutil.rmtree, empty)
        self.assertTrue(self.frame([self.command], empty) == reference, "the command shows another frame")
        # A link to the command, as in a ~/bin of one's own, finds the files too.
        os.symlink(self.command, os.path.join(empty, "linked"))
        self.assertTrue(self.frame([os.path.join(empty, "linked")], "/") == reference, "through a link")
        self.assertEqual(os.listdir(empty), ["linked"], "the command wrote where it was started")

    def test_command_shows_the_scene_in_a_directory_named(self):
        # A scene of one's own: the installed one with a grey image.
        own = self.stage(image=harness.png(4, 4, [[128] * 4] * 4, 8, 0))
        reference = self.frame(None, own)
        self.assertFalse(reference == self.frame(None, self.stage()), "the scenes look alike")
        self.assertTrue(self.frame([self.command, own], "/") == reference, "viewer DIR shows another frame")
        relative = os.path.relpath(own, os.path.dirname(own))
        self.assertTrue(self.frame([self.command, "--", relative], os.path.dirname(own)) == reference, "a relative DIR")

    def test_command_shows_each_example_by_name(self):
        examples = sorted(os.listdir(os.path.join(harness.SOURCE_DIR, "examples")))
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "share", "viewer", "examples"))), examples)
        # --help lists them, a line each.
        listed = subprocess.run([self.command, "--help"], capture_output=True, text=True, timeout=120).stdout
        self.assertEqual(sorted(EXAMPLE_LINE.findall(listed)), examples, listed)
        for name in examples:
            with self.subTest(name):
                source = "examples/%s/" % name
                staged = self.stage(vertex=harness.read(source + "Shaders/OG_V.glsl"),
                                    fragment=harness.read(source + "Shaders/OG_F.glsl"))
                self.assertTrue(self.frame([self.command, "--example", name], "/") == self.frame(None, staged),
                                "viewer --example %s shows another frame" % name)

    def test_command_answers_without_a_window(self):
        data = os.path.join(self.prefix, "share", "viewer")
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}

        def run(*args):
            done = subprocess.run([self.command, *args], env=env, capture_output=True, text=True, timeout=30)
            return done.returncode, done.stdout, done.stderr

        status, out, err = run("--help")
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("Usage: viewer [DIR]\n"), out)
        self.assertIn("  viewer --new ~/myscene\n  viewer ~/myscene\n", out)
        self.assertEqual(run("-h"), (0, out, ""))
        # A name that is no example's: one line that names them all.
        names = " ".join(EXAMPLE_LINE.findall(out))
        for args in (["--example", "shiny"], ["--example"], ["--example", "../examples"]):
            with self.subTest(args):
                self.assertEqual(run(*args), (2, "", 'viewer: no example named "%s"; the examples are: %s\n'
                                              % ((args + [""])[1], names)))
        self.assertEqual(run("--version"), (0, "viewer %s\n" % VERSION, ""))
        # The scene check, installed beside the program, answers without a display too.
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "libexec", "viewer"))),
                         ["launch.so", "viewer", "viewer-check"])
        self.assertEqual(run("--check"), (0, "", ""))
        a_file = os.path.join(data, "test.png")
        for args, line in ((["/nonexistent"], "/nonexistent does not exist"),
                           ([a_file], "%s is not a directory" % a_file),
                           (["--frobnicate"], "unknown option --frobnicate"),
                           (["--example", "toon", data], "one example at most, not 2"),
                           ([data, data], "one directory at most, not 2")):
            with self.subTest(args):
                status, out, err = run(*args)
                self.assertEqual((status, out), (2, ""))
                self.assertEqual(err.split("\n", 1), ["viewer: " + line, run("--help")[1]])

    def test_manual_names_the_prefix_installed_into(self):
        manual = os.path.join(self.prefix, "share", "man", "man1", "viewer.1.gz")
        checked = subprocess.run(["man", "--warnings", "-l", manual], capture_output=True, text=True,
                                 env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"), timeout=120)
        self.assertEqual((checked.returncode, checked.stderr), (0, ""))
        self.assertIn("viewer ~/myscene", checked.stdout)
        self.assertIn(os.path.join(self.prefix, "share", "viewer"), checked.stdout.replace("\u2010\n", ""))
        self.assertNotIn("/usr/local", checked.stdout)
        whatis = subprocess.run(["lexgrog", manual], capture_output=True, text=True, timeout=120)
        self.assertEqual(whatis.stdout, '%s: "viewer - draw ten textured, lit cubes and a circling light with OpenGL"\n'
                         % manual)

    def test_software_centre_metadata(self):
        metainfo = os.path.join(self.prefix, "share", "metainfo", "org.example.viewer.metainfo.xml")
        checked = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo], capture_output=True, text=True,
                                 timeout=120)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        with open(metainfo) as f:
            self.assertIn("<launchable type=\"desktop-id\">viewer.desktop</launchable>", f.read())
        self.assertTrue(os.path.exists(os.path.join(self.prefix, "share", "applications", "viewer.desktop")))

    def test_menu_entry(self):
        entry = os.path.join(self.prefix, "share", "applications", "viewer.desktop")
        checked = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True, timeout=120)
        self.assertEqual((checked.returncode, checked.stdout), (0, ""))
        with open(entry) as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual(fields["Exec"], "viewer --notify")
        for size in (48, 128):
            icon = os.path.join(self.prefix, "share", "icons", "hicolor", "%dx%d" % (size, size), "apps",
                                fields["Icon"] + ".png")
            width, height, rows = harness.read_png(icon)
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
    harness.main()
