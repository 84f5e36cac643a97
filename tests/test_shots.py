"""The installed command's pictures and readouts: --shot writes the frame the
viewer shows at the fixed clock (held against the tests' preload's frame,
read back by another reader), sequences by name and clock, bad input in one
line; --at holds the light of a plain run and of --watch; --fps counts what the tests' preload
counts, a stall's empty seconds too; the menu's command passes a failure to notify-send."""
import os
import re
import shlex
import shutil
import signal
import statistics
import subprocess
import tempfile
import time
import zlib

import harness

TOON = os.path.join(harness.SOURCE_DIR, "examples", "toon")
# The cubes stretched over the window by SCALE, each pixel a hash of its
# place, which packs to no less than its 3 bytes: a picture that reaches every
# edge (SCALE 4), or covers half of it (1.43), 1.41 MB packed: each gives
# the PNG's data chunk a length of 3 bytes, the third even and odd.
STRETCHED = """#version 460 core
layout(location = 0) in vec3 aPos;
void main() { gl_Position = vec4(aPos.xy * SCALE, 0.0, 1.0); }
"""
NOISE = b"""#version 460 core
out vec4 FragColor;
void main() {
    uvec2 p = uvec2(gl_FragCoord.xy);
    uint h = (p.x * 1973u + p.y * 9277u) * 0x5bd1e995u;
    h ^= h >> 15;
    FragColor = vec4(vec3(h & 255u, h >> 8 & 255u, h >> 16 & 255u) / 255.0, 1.0);
}
"""
ONE_LINE = r"viewer: [^\n]+\n"


def pixels(path):
    """A PNG's RGB bytes, as ImageMagick, not the writer, reads them."""
    done = subprocess.run(["convert", "png:" + path, "-depth", "8", "rgb:-"], capture_output=True, check=True,
                          timeout=120)
    return done.stdout


class Shots(harness.TestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix = harness.install(cls.addClassCleanup)
        cls.command = os.path.join(cls.prefix, "bin", "viewer")
        cls.references = {}

    def setUp(self):
        self.out = tempfile.mkdtemp(prefix="viewer-shots-")
        self.addCleanup(shutil.rmtree, self.out, True)

    def reference(self, cwd, clock, out=""):
        """The viewer's own frame at that clock through the tests' preload, once per scene and clock."""
        if (cwd, clock) not in self.references:
            self.references[cwd, clock] = self.picture(cwd, out, fake_time=clock)[2]
        return self.references[cwd, clock]

    def run_command(self, *args, display=None, env=None):
        """The installed command with no X display of the test's (or a dead one), no GL override."""
        env = dict({k: v for k, v in os.environ.items() if k not in list(harness.GL_OVERRIDE) + ["DISPLAY"]},
                   **(env or {}))
        if display:
            env["DISPLAY"] = display
        done = subprocess.run([self.command, *args], env=env, capture_output=True, text=True, timeout=120,
                              stdin=subprocess.DEVNULL, cwd=self.out)
        return done.returncode, done.stdout, done.stderr

    def test_shot_is_the_viewers_frame(self):
        shipped, no_image = self.stage(), self.stage(image=False)
        noise, half = (self.stage(vertex=STRETCHED.replace("SCALE", scale).encode(), fragment=NOISE)
                       for scale in ("4.0", "1.43"))
        # Each with no X server to be had: DISPLAY unset, or naming none.
        for name, scene, cwd, display, out in (
                ("shipped scene", [], shipped, None, ""),
                ("noise to every edge, more than 64 KiB packed", [noise], noise, None, ""),
                ("noise over half the window", [half], half, None, ""),
                ("an example", ["--example", "toon"], TOON, ":9999", ""),
                ("a message on standard output", [no_image], no_image, None, harness.IMAGE_LINE + "\n")):
            with self.subTest(name):
                result = self.run_command("--shot", "frame.png", "--at", "2.0", *scene, display=display)
                self.assertEqual(result, (0, out, ""))
                self.assertTrue(pixels(os.path.join(self.out, "frame.png")) == self.reference(cwd, 2.0, out),
                                "%s: the shot is another picture than the viewer's at 2.0 s" % name)
                # Its rows and nothing after: libpng and ImageMagick pass over bytes past the last.
                chunks = harness.png_chunks(os.path.join(self.out, "frame.png"))
                self.assertEqual(len(zlib.decompress(chunks[b"IDAT"])), 720 * (1 + 1280 * 3), name)
                if cwd in (noise, half):
                    packed = len(chunks[b"IDAT"])
                    self.assertEqual((packed > 1 << 16, packed >> 16 & 1), (True, int(cwd == half)), packed)
                os.remove(os.path.join(self.out, "frame.png"))

    def test_sequence_frames_each_at_its_own_clock(self):
        self.assertEqual(self.run_command("--shot", "f-%02d.png", "--at", "0.5", "--until", "0.7", "--step", "0.1"),
                         (0, "", ""))
        self.assertEqual(sorted(os.listdir(self.out)), ["f-00.png", "f-01.png", "f-02.png"])
        shots = [pixels(os.path.join(self.out, "f-%02d.png" % k)) for k in range(3)]
        self.assertEqual(len(set(shots)), 3, "frames of a sequence alike")
        for k, shot in enumerate(shots):
            self.assertTrue(shot == self.reference(self.stage(), 0.5 + k * 0.1), "frame %d at another clock" % k)

    def test_sequence_lengths(self):
        # Each side of the last step, within rounding and past it; each side of the rounding's slack, a millionth
        # of a step.
        for at, until, step, count in (("0.5", "0.7", "0.1", 3), ("0.5", "0.6999", "0.1", 2), ("1", "1", "0.3", 1),
                                       ("0", "1", "0.25", 5), ("0", "1.2499", "0.25", 5), ("0", "1.25", "0.25", 6),
                                       ("0", "0.9999995", "1", 2), ("0", "0.9999985", "1", 1)):
            with self.subTest((at, until, step)):
                shutil.rmtree(self.out)
                os.mkdir(self.out)
                self.assertEqual(self.run_command("--shot", "%%-%d.png", "--at", at, "--until", until, "--step", step),
                                 (0, "", ""))
                self.assertEqual(sorted(os.listdir(self.out)), sorted("%%-%d.png" % k for k in range(count)))

    def test_bad_input_is_one_line(self):
        os.mkdir(os.path.join(self.out, "taken"))
        os.mkdir(os.path.join(self.out, "d1"))
        seq = ("--until", "1", "--step", "0.5")
        long = "none/" + "x" * (4095 - len(self.out) - len("/none/9.png")) + "%d.png"
        for args, status, line in (
                (["--at", "abc"], 2, 'viewer: --at takes seconds, 0 or more: "abc"'),
                (["--at", "-1"], 2, 'viewer: --at takes seconds, 0 or more: "-1"'),
                (["--at", "nan"], 2, 'viewer: --at takes seconds, 0 or more: "nan"'),
                (["--at", "1x"], 2, 'viewer: --at takes seconds, 0 or more: "1x"'),
                (["--at", " 1"], 2, 'viewer: --at takes seconds, 0 or more: " 1"'),
                (["--step", "0", "--until", "1"], 2, 'viewer: --step takes seconds, more than 0: "0"'),
                (["--at", "2", *seq], 2, 'viewer: --until comes before --at: "1"'),
                (["--until", "1e9", "--step", "0.001"], 2,
                 "viewer: --at, --until and --step give 1000000000001 frames, more than 100000"),
                (["--until", "1"], 2, "viewer: --until needs --step"),
                (["--at"], 2, "viewer: --at needs a number of seconds")):
            with self.subTest(args):
                result = self.run_command("--shot", "s-%d.png", *args)
                self.assertEqual(result[:2], (status, ""))
                self.assertEqual(result[2].split("\n")[0], line)
        for shot, args, status, line in (
                ("plain.png", seq, 2, 'viewer: a sequence\'s FILE holds one number, as in frame-%04d.png: "{}"'),
                ("%d-%d.png", seq, 2, 'viewer: a sequence\'s FILE holds one number, as in frame-%04d.png: "{}"'),
                ("%s.png", seq, 2, 'viewer: a sequence\'s FILE holds one number, as in frame-%04d.png: "{}"'),
                ("%123d.png", seq, 2, 'viewer: a sequence\'s FILE holds one number, as in frame-%04d.png: "{}"'),
                ("%/d.png", seq, 2, 'viewer: a sequence\'s FILE holds one number, as in frame-%04d.png: "{}"'),
                ("%:d.png", seq, 2, 'viewer: a sequence\'s FILE holds one number, as in frame-%04d.png: "{}"'),
                ("none/%012d.png", seq, 2, "viewer: cannot write %s/none/%012d.png: %s/none: No such file or directory"
                 % (self.out, 0, self.out)),
                ("none/%90d.png", seq, 2, "viewer: cannot write %s/none/%90d.png: %s/none: No such file or directory"
                 % (self.out, 0, self.out)),
                ("none/50%.png", (), 2, "viewer: cannot write {}: %s/none: No such file or directory" % self.out),
                ("none/x.png", (), 2, "viewer: cannot write {}: " + os.path.join(self.out, "none")
                 + ": No such file or directory"),
                ("taken", (), 1, "viewer: cannot write {}: Is a directory"),
                # The most frames there may be; a number in the directory; a name of 4095 bytes at the last
                # frame, 9, and of 4096 at the last, 10.
                ("plain.png", ("--until", "99999", "--step", "1"), 2, 'viewer: a sequence\'s FILE holds one number, as'
                 ' in frame-%04d.png: "{}"'),
                ("d%d/f.png", ("--until", "0", "--step", "1"), 2, "viewer: cannot write %s/d0/f.png: %s/d0: No such"
                 " file or directory" % (self.out, self.out)),
                (long, ("--until", "9", "--step", "1"), 2, "viewer: cannot write %s: %s/none: No such file or"
                 " directory" % (os.path.join(self.out, long).replace("%d", "0"), self.out)),
                (long, ("--until", "10", "--step", "1"), 2, 'viewer: FILE is too long a name: "{}"')):
            with self.subTest(shot):
                path = os.path.join(self.out, shot)
                self.assertEqual(self.run_command("--shot", shot, *args), (status, "", line.format(path) + "\n"))
        self.assertEqual(sorted(os.listdir(self.out)), ["d1", "taken"], "a failed shot left files")
        for args in (["--check", "--at", "1"], ["--new", "x", "--fps"]):
            with self.subTest(args):
                status, out, err = self.run_command(*args)
                line = "viewer: --at and --fps go with a plain run, --watch or --shot, not " + args[0]
                self.assertEqual((status, out, err.split("\n")[0]), (2, "", line))

    def launched(self, *args, **kw):
        """The installed command on the test's display, Mesa's override set, the tests' preload counting."""
        return self.viewer(self.out, command=[self.command, *args], **kw)

    def test_at_holds_the_light(self):
        for args in (["--at", "2.0"], ["--watch", "--at", "2.0"]):
            with self.subTest(args):
                viewer = self.launched(*args)
                viewer.wait_window()
                first = viewer.steady()
                started = viewer.events()[-1][1]
                viewer.until(lambda: viewer.events()[-1][1] > started + 1e9, "a second's frames")
                viewer.more_frames(2)
                later = viewer.grab()
                viewer.escape()
                self.assertEqual(viewer.wait(), (0, "", ""))
                self.assertTrue(first == later, "the light moved within a second")
                self.assertTrue(first[2] == self.reference(self.stage(), 2.0), "held at another clock")
                self.assertFalse(first[2] == self.reference(self.stage(), 2.5), "a frame at another clock alike")

    def test_fps_counts_the_frames_shown(self):
        # Rows: a run as it comes, and one stopped for 2.5 s after its first
        # frames, whose seconds without a swap each read 0 frames.
        for stall in (0, 2.5):
            with self.subTest(stall=stall):
                viewer = self.launched("--fps")
                if stall:
                    viewer.wait_frames(3)
                    os.killpg(viewer.proc.pid, signal.SIGSTOP)
                    time.sleep(stall)  # the stall itself, the input
                    os.killpg(viewer.proc.pid, signal.SIGCONT)
                viewer.until(lambda: viewer.stderr().count("\n") >= 5, "five seconds' lines")
                viewer.kill()
                lines = viewer.stderr().split("\n")[:5]
                swaps = [e[1] / 1e9 for e in viewer.events() if e[0] == "frame"]
                if stall:
                    self.assertIn("0 frames in 1 s", lines)
                for k, line in enumerate(lines, 1):
                    times = [(b - a) * 1e3 for a, b in zip(swaps, swaps[1:]) if swaps[0] + k - 1 < b <= swaps[0] + k]
                    if not times:
                        self.assertEqual(line, "0 frames in 1 s")
                        continue
                    found = re.fullmatch(r"(\d+) frames in 1 s: median (\d+\.\d\d) ms, slowest (\d+\.\d\d) ms",
                                         line)
                    self.assertTrue(found, line)
                    for shown, counted in zip(map(float, found.groups()),
                                              (len(times), statistics.median(times), max(times))):
                        self.assertAlmostEqual(shown, counted, delta=counted / 10, msg="second %d: %s" % (k, line))

    def test_menu_entry_passes_failures_to_notify_send(self):
        with open(os.path.join(self.prefix, "share", "applications", "viewer.desktop")) as f:
            command = shlex.split(re.search(r"^Exec=(.*)$", f.read(), re.M).group(1))
        stand_in = os.path.join(self.out, "bin")
        os.mkdir(stand_in)
        record = os.path.join(self.out, "notified")
        with open(os.path.join(stand_in, "notify-send"), "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\0" "$@" >> %s\n' % record)
        os.chmod(os.path.join(stand_in, "notify-send"), 0o755)
        path = stand_in + ":" + os.environ["PATH"]
        for name, kw, notified in (("no 4.6 context", {"gl_override": False}, True),
                                   # Where the machine has a notify-send of its own, with no desktop to
                                   # reach, it fails: its words must not follow the line.
                                   ("no notify-send", {"gl_override": False, "path": os.environ["PATH"]}, False),
                                   ("a good start", {}, False)):
            with self.subTest(name):
                viewer = self.launched(*command[1:], gl_override=kw.get("gl_override", True),
                                       env={"PATH": kw.get("path", path)})
                if kw:
                    status, out, err = viewer.wait()
                    self.assertEqual((status, out), (1, ""))
                    self.assertRegex(err, r"\Aviewer: cannot create a 1280x720 window [^\n]+ viewer --notify\n\Z")
                else:
                    viewer.wait_window(2)
                    viewer.escape()
                    self.assertEqual(viewer.wait(), (0, "", ""))
                sent = harness.read(record).decode().split("\0")[:-1] if os.path.exists(record) else []
                self.assertEqual(sent, ["-i", "viewer", "Viewer", err.rstrip("\n")] if notified else [])
                if os.path.exists(record):
                    os.remove(record)
        # The launcher's own line, typed without --notify, stays in the terminal.
        status, out, err = self.launched("--no-such-option", env={"PATH": path}).wait()
        self.assertEqual((status, out, err.split("\n")[0]), (2, "", "viewer: unknown option --no-such-option"))
        self.assertFalse(os.path.exists(record), "notified without --notify")


if __name__ == "__main__":
    harness.main()
