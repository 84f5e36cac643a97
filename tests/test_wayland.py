"""The viewer on a Wayland desktop, WAYLAND_DISPLAY and DISPLAY both set: it
must come up as an X11 window on Xwayland, not as a Wayland client, show the
picture it shows on a plain X server, and end in silence on an Escape that
takes a real key's way (keyboard, compositor, Xwayland, window). weston runs
on its X11 back end, nested in a private Xvfb that stands in for the screen
and keyboard, which its headless back end lacks. With GLFW 3.4, which prefers
Wayland, this holds only because the viewer asks for X11; Debian 12's GLFW
3.3 is X11 only."""
import math
import os
import re
import shutil
import subprocess
import tempfile

import harness

SOCKET = "wayland-viewer"
CLOCK = 1.5 * math.pi  # the marker stands behind the middle cube


class Weston:
    """weston with Xwayland on a private Xvfb, in a runtime directory of its
    own. `display` is Xwayland's."""

    def __init__(self):
        self.screen = harness.Xvfb()
        self.runtime = tempfile.mkdtemp(prefix="viewer-wayland-")
        self.log = open(os.path.join(self.runtime, "weston.log"), "w+")
        # weston makes Xwayland's socket there but not the directory, which
        # a desktop system has from boot and a fresh chroot lacks.
        if not os.path.isdir("/tmp/.X11-unix"):
            os.mkdir("/tmp/.X11-unix")
            os.chmod("/tmp/.X11-unix", 0o1777)
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, DISPLAY=self.screen.display)
        env.pop("WAYLAND_DISPLAY", None)
        # Room for the window with its frame beside the shell's panel, so
        # that the shell has no reason to shrink it.
        self.proc = subprocess.Popen(
            ["weston", "--backend=x11-backend.so", "--use-pixman", "--xwayland", "--no-config", "--idle-time=0",
             "--socket=" + SOCKET, "--width=1600", "--height=900"],
            env=env, stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)

        def listening():
            found = re.search(r"listening on display (:\d+)", self.output())
            return found and os.path.exists(os.path.join(self.runtime, SOCKET)) and found.group(1)
        harness.poll(lambda: listening() or self.proc.poll() is not None, 30)
        self.display = listening()
        if not self.display:
            output = self.output()
            self.stop()
            raise RuntimeError("weston did not start:\n" + output)

    def press_escape(self):
        """Escape on the keyboard weston reads: held over a few frames, as in
        Viewer.escape."""
        subprocess.run(["xdotool", "keydown", "Escape", "sleep", "0.3", "keyup", "Escape"],
                       env=dict(os.environ, DISPLAY=self.screen.display), check=True)

    def output(self):
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
        shutil.rmtree(self.runtime, ignore_errors=True)
        self.screen.stop()


class WaylandDesktop(harness.TestCase):
    def test_x11_window_on_xwayland_shows_the_scene_and_escape_ends_it(self):
        expected = self.picture(fake_time=CLOCK)
        weston = Weston()
        self.addCleanup(weston.stop)
        # Found by xdotool on Xwayland's display: an X11 window there.
        viewer = self.viewer(display=weston.display, fake_time=CLOCK,
                             env={"WAYLAND_DISPLAY": SOCKET, "XDG_RUNTIME_DIR": weston.runtime})
        viewer.wait_window()
        shown = viewer.steady()
        self.assertEqual(shown[:2], (1280, 720))
        worst = max(abs(a - b) for a, b in zip(shown[2], expected[2]))
        self.assertLessEqual(worst, 3, "the picture on Xwayland differs from the one on Xvfb")
        self.assertTrue(harness.poll(lambda: viewer.x("xdotool", "getwindowfocus").stdout.strip() == viewer.window, 10),
                        "weston never gave the window the keyboard")
        weston.press_escape()
        self.assertEqual(viewer.wait(), (0, "", ""))


if __name__ == "__main__":
    harness.main()
