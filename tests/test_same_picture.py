"""The shipped shader pair, tuned for a software rasteriser, draws the picture
of the plain Phong example (examples/phong/) within one step in every
channel: the faces its vertex shader drops could not be seen, at many
clocks, whatever the texture, and from cameras other than the viewer's own."""
import math

import harness

SHIPPED = (harness.read("Shaders/OG_V.glsl"), harness.read("Shaders/OG_F.glsl"))
PLAIN = (harness.read("examples/phong/Shaders/OG_V.glsl"), harness.read("examples/phong/Shaders/OG_F.glsl"))
# A full turn of the light: in front of cube 0 (pi/2), beside it (0, pi),
# behind it (1.5 pi) and in between, where the marker and cube 0 overlap.
CLOCKS = (0.0, 0.8, math.pi / 2, 2.5, math.pi, 4.0, 1.5 * math.pi, 5.5)
GREY = harness.png(16, 16, ([128] * 16 for _ in range(16)), 8, 0)


def look_at(eye, centre, up=(0, 1, 0)):
    """A right-handed view matrix as GLSL source, column by column."""
    def unit(v):
        return [c / math.hypot(*v) for c in v]

    def cross(a, b):
        return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]

    f = unit([c - e for c, e in zip(centre, eye)])
    s = unit(cross(f, up))
    u = cross(s, f)
    x, y, z = (sum(a * b for a, b in zip(v, eye)) for v in (s, u, f))
    columns = [(s[j], u[j], -f[j], 0) for j in range(3)] + [(-x, -y, z, 1)]
    return "mat4(%s)" % ", ".join("%.9g" % v for column in columns for v in column)


def seen_from(pair, eye, centre):
    """The pair with the camera moved in its source: "view" becomes a constant
    of both stages' text, so only the vertex shader's own reading of it can
    tell where the eye is."""
    declaration = b"uniform mat4 view;"
    assert pair[0].count(declaration) == 1, "the vertex shader no longer declares the view"
    constant = ("const mat4 view = %s;" % look_at(eye, centre)).encode()
    return pair[0].replace(declaration, constant), pair[1]


class SamePicture(harness.TestCase):
    def frame(self, pair, t, image=None):
        """A steady frame of a clean run of the viewer with `pair` staged."""
        out = "failed to load test.png\n" if image is False else ""
        return self.picture(self.stage(vertex=pair[0], fragment=pair[1], image=image), out=out, fake_time=t)

    def assertSamePicture(self, shipped, plain, what, corners=0):
        """Every channel within 1, but for up to `corners` single pixels."""
        self.assertEqual(shipped[:2], plain[:2])
        a, b = shipped[2], plain[2]
        if a == b:
            return
        width = shipped[0]
        apart = sorted({(i // 3 % width, i // 3 // width) for i in range(len(a)) if abs(a[i] - b[i]) > 1})
        lone = all(abs(x - u) > 1 or abs(y - v) > 1 for x, y in apart for u, v in apart if (x, y) != (u, v))
        if lone and len(apart) <= corners:
            return
        self.fail("%s: %d pixels differ by more than 1 in a channel, first at %s" % (what, len(apart), apart[:5]))

    def test_frames_at_fixed_clocks(self):
        frames = {}
        for t in CLOCKS:
            frames[t] = self.frame(SHIPPED, t)
            self.assertSamePicture(frames[t], self.frame(PLAIN, t), "t=%g" % t)
        # The clocks give distinct pictures: the light and the marker move.
        self.assertEqual(len({f[2] for f in frames.values()}), len(CLOCKS))

    def test_whatever_the_texture(self):
        # A missing image leaves the surface black, so only the highlight and
        # the marker show; a flat grey one shows the lighting alone.
        for image, name in ((False, "no image"), (GREY, "grey image")):
            for t in (math.pi / 2, 4.0):
                self.assertSamePicture(self.frame(SHIPPED, t, image), self.frame(PLAIN, t, image),
                                       "%s, t=%g" % (name, t))

    def test_from_other_cameras(self):
        # Eyes clear of every cube, some looking back at faces the viewer's
        # camera never sees: a shader that put the eye anywhere else would
        # drop thousands of visible pixels. What may differ is a lone pixel at
        # an outline's corner, where a face turned away and one turned towards
        # the eye meet in a sliver narrower than a pixel and the rasteriser's
        # rounding gives it to the first; these cameras show one each.
        home = self.frame(SHIPPED, 2.5)
        for eye, centre in (((-5, 2, 3), (0, 0, -5)), ((4, -3, -9), (0, 0, -2)), ((3, 4, 6), (0, 0, -4))):
            shipped = self.frame(seen_from(SHIPPED, eye, centre), 2.5)
            self.assertNotEqual(shipped[2], home[2], "the camera did not move")
            self.assertSamePicture(shipped, self.frame(seen_from(PLAIN, eye, centre), 2.5), "eye at %s" % (eye,),
                                   corners=2)


if __name__ == "__main__":
    harness.main()
