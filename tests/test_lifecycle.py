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
