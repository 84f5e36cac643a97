"""What the viewer draws: cubes, marker and surface texture, read back from
real frames and checked against positions and colours worked out here from
the scene's fixed camera, cube placement and light path."""
import math
import time

import harness

CORNERS = [(x, y, z) for x in (-0.5, 0.5) for y in (-0.5, 0.5) for z in (-0.5, 0.5)]
HIDDEN = 1.5 * math.pi  # the marker stands right behind cube 0, out of sight
# At HIDDEN, pi and 0 the light stands level with or behind the front of cube 0,
# so that face is lit evenly (no diffuse or highlight) and the marker leaves it
# clear: its colours are the texture's, only dimmer.


def outline(points):
    """Convex hull of the projected points, counter-clockwise in the window."""
    def half(seq):
        out = []
        for p in seq:
            while len(out) > 1 and ((out[-1][0] - out[-2][0]) * (p[1] - out[-2][1])
                                    - (out[-1][1] - out[-2][1]) * (p[0] - out[-2][0])) <= 0:
                out.pop()
            out.append(p)
        return out[:-1]
    pts = sorted(harness.project(p) for p in points)
    return half(pts) + half(reversed(pts))


def depth_inside(poly, p):
    """How far p lies inside the convex polygon (negative: outside)."""
    return min(((x1 - x0) * (p[1] - y0) - (y1 - y0) * (p[0] - x0)) / math.hypot(x1 - x0, y1 - y0)
               for (x0, y0), (x1, y1) in zip(poly, poly[1:] + poly[:1]))


def cube_outline(i):
    m = harness.model(harness.CUBES[i], 20 * i)
    return outline([[sum(m[c][r] * (*p, 1)[c] for c in range(4)) for r in range(3)] for p in CORNERS])


def grid(step, margin=2):
    return [(x, y) for x in range(margin, 1280 - margin, step) for y in range(margin, 720 - margin, step)]


def front(x, y):
    """Window point of (x, y) on the front face (z = 0.5) of cube 0."""
    return tuple(round(v) for v in harness.project((x, y, 0.5)))


def quadrants(width, height, tl, tr, bl, br):
    return lambda x, y: (tl if x < width / 2 else tr) if y < height / 2 else (bl if x < width / 2 else br)


def two_frames(viewer):
    """Two drawn frames, some frames apart."""
    grabs, deadline = [], time.monotonic() + 60
    while len(grabs) < 2:
        viewer.more_frames(10, max(0, deadline - time.monotonic()))
        grab = viewer.grab()
        if grab[2].strip(b"\0"):
            grabs.append(grab)
    return grabs


# One steady frame of a clean run for each (image, clock); tests share them.
SHOTS = {}


def hue(rgb):
    """Names a colour by its strong channels, whatever the light's strength."""
    top = max(rgb)
    strong = "".join(name for name, c in zip("rgb", rgb) if top and c >= 0.6 * top)
    return {"r": "red", "g": "green", "b": "blue", "rg": "yellow", "rgb": "white", "": "black"}.get(strong, strong)


GREY = harness.png(31, 29, quadrants(31, 29, (255,), (50,), (110,), (20,)), 8, 0)
# Alpha in another order than grey, and never equal to it.
GREY_ALPHA = harness.png(31, 29, quadrants(31, 29, (255, 200), (50, 30), (110, 255), (20, 120)), 8, 4)
STRIPE = range(23, 26)  # a white column in the right half of the odd-width image
RGB = harness.png(33, 19, lambda x, y: (255, 255, 255) if x in STRIPE else
                  quadrants(33, 19, (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0))(x, y), 8, 2)
ALPHA_SHADER = b"""#version 460 core
in vec2 TexCoord;
out vec4 FragColor;
uniform sampler2D texture0;
void main() { FragColor = vec4(vec3(texture(texture0, TexCoord).a), 1.0); }
"""
CORNER_HUES = {(-1, 1): "red", (1, 1): "green", (-1, -1): "blue", (1, -1): "yellow"}


class Scene(harness.TestCase):
    def shot(self, image=None, t=HIDDEN):
        """A steady frame of a clean run on `image` at clock t."""
        if (image, t) not in SHOTS:
            SHOTS[image, t] = self.picture(self.stage(image=image), fake_time=t)
        return SHOTS[image, t]

    def test_ten_cubes_where_the_camera_puts_them(self):
        frame = self.shot()
        self.assertEqual(frame[:2], (1280, 720))
        outlines = [cube_outline(i) for i in range(10)]
        for i, mine in enumerate(outlines):
            # Points only cube i can cover; the marker is hidden behind cube 0.
            own = [p for p in grid(8) if depth_inside(mine, p) > 4
                   and all(depth_inside(o, p) < -4 for o in outlines if o is not mine)]
            self.assertGreater(len(own), 10, "cube %d has no place of its own to look at" % i)
            dark = [p for p in own if harness.pixel_at(frame, *p) == (0, 0, 0)]
            self.assertEqual(dark[:5], [], "cube %d not drawn where it belongs" % i)
        empty = [p for p in grid(10) if all(depth_inside(o, p) < -3 for o in outlines)]
        self.assertGreater(len(empty), 4000)
        stray = [p for p in empty if harness.pixel_at(frame, *p) != (0, 0, 0)]
        self.assertEqual([(p, harness.pixel_at(frame, *p)) for p in stray[:5]], [], "drawn where no cube belongs")

    def test_marker_solid_where_the_clock_puts_it(self):
        # At pi and 0 the marker stands left and right of cube 0, its front face
        # flush with cube 0's; whatever the picture, so the image tests' runs serve.
        runs = {math.pi: GREY, 0.0: RGB}
        spots = {}
        for t, image in runs.items():
            x, z = math.cos(t), math.sin(t)
            face = outline([(x + dx, dy, z + 0.5) for dx in (-0.5, 0.5) for dy in (-0.5, 0.5)])
            # Cubes that could stand in front: their corners reach 0.866 from the centre.
            nearer = [cube_outline(i) for i in range(10) if harness.CUBES[i][2] + 0.87 > z + 0.5]
            spots[t] = [p for p in grid(6) if depth_inside(face, p) > 3
                        and all(depth_inside(o, p) < -3 for o in nearer)]
            self.assertGreater(len(spots[t]), 2000)
            frame = self.shot(image, t)
            dim = [(p, harness.pixel_at(frame, *p)) for p in spots[t] if min(harness.pixel_at(frame, *p)) < 250]
            self.assertEqual(dim[:5], [], "marker at t=%g not solid light colour" % t)
        for t, other in ((math.pi, 0.0), (0.0, math.pi)):
            frame = self.shot(runs[other], other)
            white = [p for p in spots[t] if min(harness.pixel_at(frame, *p)) >= 250]
            self.assertLess(len(white), len(spots[t]) / 10, "marker still at its t=%g place at t=%g" % (t, other))

    def test_texture_upright_on_the_front_of_cube_0(self):
        frame = self.shot()
        for (sx, sy), name in CORNER_HUES.items():
            for d in (0.2, 0.3, 0.4):
                self.assertEqual(hue(harness.pixel_at(frame, *front(sx * d, sy * d))), name, (sx * d, sy * d))

    def test_surfaces_lit_as_the_shaders_light_them(self):
        # The light in front of cube 0, to its right and to its left: the
        # diffuse term reaches the front face, the marker covers half of it.
        for image in (GREY, GREY_ALPHA, RGB):
            for t in (1.0, math.pi - 1.0):
                x, z = math.cos(t), math.sin(t)
                marker = outline([(x + dx, dy, z + dz) for dx, dy, dz in CORNERS])
                with self.subTest(image=len(image), t=t):
                    self.assertFrontShows(self.shot(image, t), harness.pillow_texels(image), t,
                                          where=lambda *p: depth_inside(marker, p) < -3)

    def test_surface_alpha_reaches_the_shaders(self):
        # A fragment shader that shows the surface's alpha as grey: one where
        # the image has none, the image's own where it has.
        def alpha(texels, clock, px, py):
            u, v = harness.front_point(px, py)
            return (round(255 * harness.sample(texels, u + 0.5, v + 0.5)[3]),) * 3

        for image in (GREY, GREY_ALPHA, RGB):
            frame = self.picture(self.stage(image=image, fragment=ALPHA_SHADER), fake_time=HIDDEN)
            self.assertFrontShows(frame, harness.pillow_texels(image), HIDDEN, 2, alpha)

    def test_odd_width_rgb_image_without_skew(self):
        frame = self.shot(RGB, 0.0)
        for (sx, sy), name in CORNER_HUES.items():
            for x in (-0.4, -0.1) if sx < 0 else (0.1, 0.4):
                self.assertEqual(hue(harness.pixel_at(frame, *front(x, sy * 0.25))), name, (x, sy * 0.25))
        stripe = (STRIPE.start + len(STRIPE) / 2) / 33 - 0.5
        for y in (-0.4, -0.2, 0, 0.2, 0.4):
            self.assertEqual(hue(harness.pixel_at(frame, *front(stripe, y))), "white", "stripe bent at y=%g" % y)

    if harness.DRIVER == "zink":
        def test_zink_draws_the_frame_llvmpipe_draws(self):
            # The same clock, so the same picture, within the few levels that
            # two rasterisers may round differently.
            frame = self.picture(fake_time=HIDDEN, driver="llvmpipe")
            ours = self.shot()
            self.assertEqual(ours[:2], frame[:2])
            worst = max(abs(a - b) for a, b in zip(ours[2], frame[2]))
            self.assertLessEqual(worst, 3)

    def test_unreadable_image_reported_once_while_the_scene_runs(self):
        truncated = harness.read("test.png")[:600]
        for image, end, reason in ((False, harness.Viewer.escape, ""),
                                   (truncated, harness.Viewer.close, ": the file ends before its pixels do"),
                                   (b"not an image\n" * 40, harness.Viewer.escape,
                                    ": the decoder says: Image not of any known type, or corrupt")):
            viewer = self.viewer(self.stage(image=image))
            viewer.wait_window()
            frames = two_frames(viewer)
            end(viewer)
            self.assertEqual(viewer.wait()[:2], (0, "failed to load test.png%s\n" % reason))
            self.assertTrue(frames[0] != frames[1], "the picture does not move")


if __name__ == "__main__":
    harness.main()
