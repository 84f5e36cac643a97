"""The viewer's life as a user sees it: a silent run that keeps presenting
frames, the two ways to end it, a shrunk window, shader failures that do not
stop it. The start-up failures that end it are in test_reliability.py."""
import harness


class Running(harness.TestCase):
    def start(self, fake_time=None, **files):
        viewer = self.viewer(self.stage(**files), fake_time=fake_time)
        viewer.wait_window(3)
        return viewer

    def test_silent_run_presents_frames_until_escape(self):
        viewer = self.start()
        first = viewer.grab()
        viewer.more_frames(30)
        second = viewer.grab()
        self.assertEqual(first[:2], (1280, 720))
        # The light circles with the clock, so a later frame differs.
        self.assertNotEqual(first[2], second[2], "no new frame was presented")
        viewer.escape()
        self.assertEqual(viewer.wait(), (0, "", ""))

    def test_shrunk_window_keeps_its_first_viewport(self):
        # Nothing follows the window's size: shrunk, it shows the lower-left
        # part of the same 1280x720 picture, cut at the top and the right.
        viewer = self.start(fake_time=2.0)
        whole = viewer.steady()
        viewer.x("xdotool", "windowsize", "--sync", viewer.window, "960", "540", check=True)
        part = viewer.steady()
        self.assertEqual(part[:2], (960, 540))
        # Within a few levels: the rasteriser's tiles fall differently on a
        # framebuffer of another height.
        for y in range(0, 540, 7):
            row = part[2][y * 960 * 3:(y + 1) * 960 * 3]
            same = whole[2][(y + 180) * 1280 * 3:((y + 180) * 1280 + 960) * 3]
            self.assertLessEqual(max(abs(a - b) for a, b in zip(row, same)), 3, "row %d" % y)
        viewer.escape()
        self.assertEqual(viewer.wait(), (0, "", ""))

    def test_escape_tapped_between_two_slow_frames_ends_the_run(self):
        # Each frame costs a loop of sines at every pixel, some 300 to 500 ms
        # on llvmpipe (Mesa 25's is the quicker); a 30 ms tap then falls
        # between two polls of the key, and must still end the run, every time.
        slow = ("#version 460 core\nout vec4 FragColor;\nvoid main() { float c = gl_FragCoord.x;\n"
                "for (int i = 0; i < 300; i++) c = fract(sin(c) * 43758.5);\nFragColor = vec4(c, 0, 0, 1); }\n")
        for tap in range(3):
            viewer = self.start(fragment=slow.encode())
            frames = [event[1] for event in viewer.events() if event[0] == "frame"]
            self.assertGreater(min(b - a for a, b in zip(frames, frames[1:])), 100e6, "frames are not slow")
            viewer.x("xdotool", "windowfocus", "--sync", viewer.window, "keydown", "Escape", "sleep", "0.03",
                     "keyup", "Escape", check=True)
            self.assertEqual(viewer.wait(10), (0, "", ""), "tap %d" % tap)

    def test_close_request_ends_the_run(self):
        viewer = self.start()
        viewer.close()
        self.assertEqual(viewer.wait(), (0, "", ""))

    def test_shader_failure_is_reported_at_once_and_the_loop_goes_on(self):
        viewer = self.start(fragment=False)
        viewer.more_frames(10)
        # SIGKILL flushes nothing: whatever is on standard output by now was
        # flushed when it was printed.
        viewer.kill()
        out = viewer.stdout()
        self.assertTrue(out.startswith("ERROR::SHADER::FILE_NOT_SUCCESSFULLY_READ: "), out)
        self.assertEqual(out.count(harness.SEPARATOR + "\n"), 3, out)
        self.assertTrue(out.endswith(harness.SEPARATOR + "\n"), out)


if __name__ == "__main__":
    harness.main()
