"""The README's shell blocks, taken from README.md and run as written, one
after another as a reader would, in a fresh clone of the committed HEAD with
nothing built or installed beforehand; a block marked in README.md's source
with <!-- README test leaves out: REASON --> is left out, and said so. Blocks
run in a home of their own with ~/.local/bin on PATH, at a fixed clock; one
that starts the viewer runs on the test's X server, and each window it opens
must show the frame of the scene its command names and end on Escape, the
block printing nothing. The package block installs on this machine, so it
runs as root (scripts/test-readme.sh) and the package is purged after."""
import os
import re
import shutil
import subprocess
import tempfile
import time

import harness

CLOCK = 1.0
BLOCK = re.compile(r"^(?:<!-- README test leaves out: (?P<why>.*?) -->\n)?```sh\n(?P<body>.*?)^```$", re.S | re.M)
# A line that starts the viewer, and what it names: an example, a directory
# or nothing (the installed scene).
VIEWER_LINE = re.compile(r"^viewer(?: --example (?P<example>\S+)| (?P<dir>[^\s#-][^\s#]*))?\s*(?:#.*)?$")


def installed():
    return subprocess.run(["dpkg-query", "-W", "-f", "${Status}", "viewer"], capture_output=True,
                          text=True, timeout=120).stdout == "install ok installed"


def blocks():
    """(heading, body, reason left out or None) of each shell block."""
    text = harness.read("README.md").decode()
    found = []
    for block in BLOCK.finditer(text):
        headings = re.findall(r"^#+ (.*)$", text[:block.start()], re.M)
        found.append((headings[-1], block.group("body"), block.group("why")))
    return found


class Readme(harness.TestCase):
    def setUp(self):
        if os.getuid() != 0:
            self.skipTest("the package block installs on this machine, as root")
        if installed():
            self.skipTest("a viewer package is installed here already, which the package block would replace")
        self.addCleanup(lambda: installed() and subprocess.run(["apt-get", "purge", "-y", "-qq", "viewer"],
                                                               stdout=subprocess.DEVNULL, check=True, timeout=120))
        top = tempfile.mkdtemp(prefix="viewer-readme-")
        self.addCleanup(shutil.rmtree, top, True)
        self.clone, self.home = os.path.join(top, "clone"), os.path.join(top, "home")
        os.mkdir(self.home)
        subprocess.run(["git", "clone", "-q", harness.SOURCE_DIR, self.clone], check=True, timeout=120)
        self.env = {"HOME": self.home, "PATH": os.path.join(self.home, ".local", "bin") + ":" + os.environ["PATH"]}

    def run_block(self, heading, body):
        """Runs a block without a display, as far as its first failure, with
        the "y" a user types when apt asks to install what the package
        recommends."""
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "LD_PRELOAD", "WAYLAND_DISPLAY")}
        env.update(self.env, FAKE_GLFW_TIME=repr(CLOCK))
        done = subprocess.run(["bash", "-e", "-c", body], cwd=self.clone, env=env, input="y\n",
                              capture_output=True, text=True, timeout=1800)
        self.assertEqual(done.returncode, 0, "%s: the block failed:\n%s\n%s%s"
                         % (heading, body, done.stdout[-3000:], done.stderr[-3000:]))

    def run_viewer_block(self, heading, body, starts):
        """Runs a block that starts the viewer once for each of `starts` (its
        lines that do), grabbing each window's frame, ended by Escape."""
        viewer = self.viewer(self.clone, command=["bash", "-e", "-c", body], fake_time=CLOCK, env=self.env)
        frames = []
        for _ in starts:
            viewer.wait_window()
            frames.append(viewer.steady())
            viewer.x("xdotool", "windowfocus", "--sync", viewer.window, "keydown", "Escape", check=True)
            # Held until the window is gone: the block goes on, so the
            # viewer's exit shows only there.
            viewer.until(lambda: not viewer.x("xdotool", "search", "--onlyvisible", "--name", "^title$").stdout,
                         "the window closed by Escape")
            viewer.x("xdotool", "keyup", "Escape", check=True)
        self.assertEqual(viewer.wait(), (0, "", ""), heading)
        for line, frame in zip(starts, frames):
            wanted = VIEWER_LINE.match(line)
            if wanted["example"]:
                source = "examples/%s/Shaders/" % wanted["example"]
                scene = self.stage(vertex=harness.read(source + "OG_V.glsl"),
                                   fragment=harness.read(source + "OG_F.glsl"))
            elif wanted["dir"]:
                scene = re.sub(r"^~(?=/|$)", self.home, wanted["dir"])
            else:
                scene = self.stage()
            self.assertTrue(frame == self.picture(scene, fake_time=CLOCK), "%s: %s shows another frame"
                            % (heading, line))

    def test_blocks_as_written(self):
        shipped = self.picture(self.stage(), fake_time=CLOCK)
        ran = 0
        for heading, body, why in blocks():
            if why:
                print("left out, under \"%s\": %s\n  because %s" % (heading, body.strip().replace("\n", "\n  "), why))
                continue
            started = time.monotonic()
            starts = [line.strip() for line in body.splitlines() if VIEWER_LINE.match(line.strip())]
            if starts:
                self.run_viewer_block(heading, body, starts)
            else:
                self.run_block(heading, body)
            ran += 1
            took = time.monotonic() - started
            print("ran, under \"%s\", in %.0f s: %s" % (heading, took, body.strip().replace("\n", "; ")))
            # scripts/run.sh saves its headless run's last frame, at the
            # clock fixed here the shipped scene's.
            if "scripts/run.sh" in body:
                shot = subprocess.run(["convert", os.path.join(self.clone, "build", "screenshot.png"), "ppm:-"],
                                      capture_output=True, check=True, timeout=120).stdout
                self.assertTrue(harness.parse_ppm(shot) == shipped, "the screenshot shows another frame")
        self.assertGreaterEqual(ran, 3)


if __name__ == "__main__":
    harness.main()
