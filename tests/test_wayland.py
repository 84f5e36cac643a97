"""The viewer on a Wayland desktop (weston nested in a private Xvfb, for the
keyboard its headless back end lacks): with WAYLAND_DISPLAY set, GLFW 3.4
would prefer Wayland, but the viewer comes up as an X11 window on Xwayland,
shows its picture and ends in silence on an Escape that takes a real key's
way. Debian 12's GLFW 3.3 is X11 only."""
import math
import os
import re
import shutil
import subprocess
import tempfile

import harness

SOCKET = "wayland-viewer"
CLOCK = 1.5 * math.pi  # the marker stands behind the middle cube


class WaylandDesktop(harness.TestCase):
    def weston(self):
        """weston with Xwayland on a private Xvfb, in a runtime directory of
        its own, ended with the test; returns (Xwayland's display, the
        runtime directory, the Xvfb's display)."""
        screen = harness.Xvfb()
        self.addCleanup(screen.stop)
        runtime = tempfile.mkdtemp(prefix="viewer-wayland-")
        self.addCleanup(shutil.rmtree, runtime, True)
        log = tempfile.TemporaryFile("w+")
        self.addCleanup(log.close)
        # weston makes Xwayland's socket there but not the directory, which
        # a desktop system has from boot and a fresh chroot lacks.
        if not os.path.isdir("/tmp/.X11-unix"):
            os.mkdir("/tmp/.X11-unix")
            os.chmod("/tmp/.X11-unix", 0o1777)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, DISPLAY=screen.display)
        env.pop("WAYLAND_DISPLAY", None)
        # Room for the window with its frame beside the shell's panel, so
        # that the shell has no reason to shrink it.
        weston = subprocess.Popen(["weston", "--backend=x11-backend.so", "--use-pixman", "--xwayland", "--no-config",
                                   "--idle-time=0", "--socket=" + SOCKET, "--width=1600", "--height=900"],
                                  env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        self.addCleanup(weston.wait, 10)
        self.addCleanup(weston.terminate)

        def listening():
            log.seek(0)
            found = re.search(r"listening on display (:\d+)", log.read())
            return found and os.path.exists(os.path.join(runtime, SOCKET)) and found.group(1)
        harness.poll(lambda: listening() or weston.poll() is not None, 30)
        log.seek(0)
        self.assertTrue(listening(), "weston did not start:\n" + log.read())
        return listening(), runtime, screen.display

    def test_x11_window_on_xwayland_shows_the_scene_and_escape_ends_it(self):
        expected = self.picture(fake_time=CLOCK)
        display, runtime, screen = self.weston()
        # Found by xdotool on Xwayland's display: an X11 window there.
        viewer = self.viewer(display=display, fake_time=CLOCK, env={"WAYLAND_DISPLAY": SOCKET,
                                                                    "XDG_RUNTIME_DIR": runtime})
        viewer.wait_window()
        shown = viewer.steady()
        self.assertEqual(shown[:2], (1280, 720))
        worst = max(abs(a - b) for a, b in zip(shown[2], expected[2]))
        self.assertLessEqual(worst, 3, "the picture on Xwayland differs from the one on Xvfb")
        self.assertTrue(harness.poll(lambda: viewer.x("xdotool", "getwindowfocus").stdout.strip() == viewer.window, 10),
                        "weston never gave the window the keyboard")
        viewer.escape(keyboard=screen)  # the keyboard weston reads
        self.assertEqual(viewer.wait(), (0, "", ""))


if __name__ == "__main__":
    harness.main()
