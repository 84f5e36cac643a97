"""The example scenes in examples/, one row of a table each: every one
compiles and links silently, shows the light's cube as a lamp, draws another
frame than the shipped scene (but for the plain Phong one, which must draw
the same), and one property read from its pixels shows it does what its name
says. Where each pixel should land is worked out here by casting a ray from
the fixed camera through it into the scene's cubes."""
import functools
import math
import os

import harness

FOCAL = 1 / math.tan(math.radians(45) / 2)
EYE = (0.0, 0.0, 3.0)
HIDDEN = 1.5 * math.pi  # the light's cube right behind cube 0, out of sight
# At 4.7 s the light, nearly behind cube 0, throws its reflection to the eye
# from the face of cube 8 that looks at the camera, close to the middle of
# that face's top edge: between two corners, neither of which sees much of it.
HIGHLIGHT = 4.7
SHINY = 8  # that cube
GREY = harness.png(16, 16, ([128] * 16 for _ in range(16)), 8, 0)  # the lighting alone
MARKER = 10  # the light's cube, after the ten cubes
FRONT = (466, 186, 814, 534)  # the window's box around the front face of cube 0


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def minus(a, b):
    return [x - y for x, y in zip(a, b)]


def light(t):
    return (math.cos(t), 0.0, math.sin(t))


def ray(x, y):
    """The direction from the eye through the middle of window pixel (x, y)."""
    nx, ny = (x + 0.5) / 640 - 1, 1 - (y + 0.5) / 360
    return (nx * 1.7777778 / FOCAL, ny / FOCAL, -1.0)


@functools.cache
def objects(t):
    """Each object's own axes in the world (its rotation's columns) and the
    eye in its own space, at clock t."""
    found = []
    for m in [harness.model(harness.CUBES[i], 20 * i) for i in range(10)] + [harness.model(light(t), 0)]:
        axes = [m[k][:3] for k in range(3)]
        found.append((axes, [dot(a, minus(EYE, m[3][:3])) for a in axes], minus(m[3][:3], EYE)))
    return found


def cast(t, x, y):
    """(object, face, point in the object's own space, world normal) of what
    the ray through pixel (x, y) meets first at clock t, or None. A face is
    (axis, side) in the object's own space; objects 0-9 are the cubes, 10 the
    light's."""
    d, best = ray(x, y), None
    length = dot(d, d)
    for i, (axes, origin, centre) in enumerate(objects(t)):
        # Passing further from the centre than a corner, the ray misses.
        along = dot(d, centre)
        if dot(centre, centre) - along * along / length > 0.75:
            continue
        direction = [dot(a, d) for a in axes]
        near, far, face = -math.inf, math.inf, None
        for k in range(3):
            if direction[k] == 0:
                if abs(origin[k]) > 0.5:
                    break
                continue
            a, b = (-0.5 - origin[k]) / direction[k], (0.5 - origin[k]) / direction[k]
            if min(a, b) > near:
                near, face = min(a, b), (k, -1 if a < b else 1)
            far = min(far, max(a, b))
        else:
            if 0 < near <= far and (best is None or near < best[0]):
                own = [o + near * c for o, c in zip(origin, direction)]
                best = (near, i, face, own, [face[1] * c for c in axes[face[0]]])
    return best and best[1:]


@functools.cache
def surfaces(t, step=8, left=4, top=4, right=1276, bottom=716):
    """The pixels of a grid that show one face of one object, with their
    neighbours two pixels away on every side: (x, y, object, face, own
    point, normal)."""
    found = []
    for y in range(top, bottom, step):
        for x in range(left, right, step):
            hit = cast(t, x, y)
            if hit and all((lambda h: h and h[:2] == hit[:2])(cast(t, x + dx, y + dy))
                           for dx, dy in ((-2, 0), (2, 0), (0, -2), (0, 2))):
                found.append((x, y) + tuple(hit))
    return found


def scene(name):
    path = "examples/%s/Shaders/" % name
    return harness.read(path + "OG_V.glsl"), harness.read(path + "OG_F.glsl")


def grey(rgb):
    return sum(rgb) / 3


class Examples(harness.TestCase):
    frames = {}

    def frame(self, name, t, image=None):
        """A steady frame of a silent run of the example (None: the shipped
        scene) at clock t, shared by the checks."""
        if (name, t, image) not in self.frames:
            vertex, fragment = scene(name) if name else (None, None)
            self.frames[name, t, image] = self.picture(self.stage(vertex=vertex, fragment=fragment, image=image),
                                                       fake_time=t)
        return self.frames[name, t, image]

    def draws_the_shipped_picture(self, name):
        for t in (0.8, 2.5, HIDDEN, HIGHLIGHT):
            ours, shipped = self.frame(name, t)[2], self.frame(None, t)[2]
            worst = max(abs(a - b) for a, b in zip(ours, shipped))
            self.assertLessEqual(worst, 1, "t=%g" % t)
            print("%s: at most %d apart from the shipped frame at t=%g" % (name, worst, t))

    def keeps_the_texels(self, name):
        # The front of cube 0, which faces the camera, wherever the light is:
        # in front (0.8 and 2.34 s, the light's cube on one side or the
        # other), beside it and behind it. Texture coordinates run from (0, 0)
        # at its bottom left corner to (1, 1) at its top right; only texels
        # amid others of their colour are compared, clear of the blending.
        checked = 0
        for t in (0.8, 2.34, math.pi, HIDDEN):
            frame = self.frame(name, t)
            for x, y, i, face, own, _ in surfaces(t, 6, *FRONT):
                if (i, face) != (0, (2, 1)):
                    continue
                column, row = int((own[0] + 0.5) * harness.SIZE), int((0.5 - own[1]) * harness.SIZE)
                texel = harness.pixel(column, row)[:3]
                if any(harness.pixel(min(max(column + dx, 0), 255), min(max(row + dy, 0), 255))[:3] != texel
                       for dx in (-2, 2) for dy in (-2, 2)):
                    continue
                shown = harness.pixel_at(frame, x, y)
                self.assertLessEqual(max(abs(a - b) for a, b in zip(shown, texel)), 1,
                                     "t=%g at %s: %s for the texel %s" % (t, (x, y), shown, texel))
                checked += 1
        self.assertGreater(checked, 4000)
        print("%s: %d pixels of cube 0's front at four clocks show their texels' colours" % (name, checked))

    def carries_the_normals(self, name):
        frame, checked = self.frame(name, HIDDEN), 0
        for x, y, i, _, _, normal in surfaces(HIDDEN, 8):
            want = (255,) * 3 if i == MARKER else tuple(round((c * 0.5 + 0.5) * 255) for c in normal)
            shown = harness.pixel_at(frame, x, y)
            self.assertLessEqual(max(abs(a - b) for a, b in zip(shown, want)), 2,
                                 "%s at %s: %s for the normal %s" % (i, (x, y), shown, normal))
            checked += 1
        faces = {(i, face) for _, _, i, face, _, _ in surfaces(HIDDEN, 8)}
        self.assertGreater(len(faces), 15)
        print("%s: %d pixels on %d faces show their normals' colours" % (name, checked, len(faces)))

    def mirror_point(self):
        """The window pixel where the light's reflection in cube 8's face
        towards the camera reaches the eye, and that face."""
        m = harness.model(harness.CUBES[SHINY], 20 * SHINY)
        normal, centre = [-c for c in m[2][:3]], [c - 0.5 * a for c, a in zip(m[3][:3], m[2][:3])]
        lamp = light(HIGHLIGHT)
        above_eye, above_lamp = dot(normal, minus(EYE, centre)), dot(normal, minus(lamp, centre))
        mirrored = [c - 2 * above_lamp * n for c, n in zip(lamp, normal)]
        point = [e + (m_ - e) * above_eye / (above_eye + above_lamp) for e, m_ in zip(EYE, mirrored)]
        x, y, z = point[0], point[1], point[2] - EYE[2]
        pixel = (round(640 * (1 + FOCAL / 1.7777778 * x / -z) - 0.5), round(360 * (1 - FOCAL * y / -z) - 0.5))
        self.assertEqual(cast(HIGHLIGHT, *pixel)[:2], (SHINY, (2, -1)), "the mirror point is not in sight")
        return pixel

    def loses_the_highlight_between_corners(self, name):
        spot = self.mirror_point()
        phong = grey(harness.pixel_at(self.frame(None, HIGHLIGHT, GREY), *spot))
        ours = grey(harness.pixel_at(self.frame(name, HIGHLIGHT, GREY), *spot))
        # Lit, but without the highlight per-fragment Phong puts there.
        self.assertGreater(phong, 240, "no highlight in the shipped frame at %s" % (spot,))
        self.assertLess(ours, phong - 80, spot)
        self.assertGreater(ours, 0.2 * 128 + 2, "not lit at %s" % (spot,))
        print("%s: %.0f at the mirror point %s, where the shipped Phong shows %.0f" % (name, ours, spot, phong))

    def spreads_the_highlight(self, name):
        mirror = self.mirror_point()
        around = surfaces(HIGHLIGHT, 2, mirror[0] - 100, mirror[1] - 100, mirror[0] + 100, mirror[1] + 100)

        def spot(frame):
            # Brighter than any diffuse light can make the grey image.
            return {(x, y) for x, y, i, *_ in around if i != MARKER
                    and grey(harness.pixel_at(frame, x, y)) > 1.2 * 128 + 2}

        phong, ours = spot(self.frame(None, HIGHLIGHT, GREY)), spot(self.frame(name, HIGHLIGHT, GREY))
        self.assertGreater(len(phong), 20)
        self.assertGreater(len(ours), 1.5 * len(phong))
        # Centred where Phong's is: the brightest pixel near the mirror point.
        near = [p for p in ours if abs(p[0] - mirror[0]) <= 6 and abs(p[1] - mirror[1]) <= 6]
        self.assertTrue(near, "no highlight at the mirror point %s" % (mirror,))
        print("%s: a highlight of %d grid pixels at the mirror point %s, Phong's %d"
              % (name, len(ours), mirror, len(phong)))

    def paints_few_tones(self, name):
        levels, shipped = {}, {}
        for t in (0.8, HIGHLIGHT):
            ours, phong = self.frame(name, t, GREY), self.frame(None, t, GREY)
            for x, y, i, face, *_ in surfaces(t, 8):
                if i != MARKER:
                    levels.setdefault((t, i, face), set()).add(harness.pixel_at(ours, x, y))
                    shipped.setdefault((t, i, face), set()).add(harness.pixel_at(phong, x, y))
        busiest = max(levels, key=lambda k: len(shipped[k]))
        self.assertGreater(len(shipped[busiest]), 30, "no face with a smooth gradient to cut into tones")
        # Four at most: two neighbouring tones, with and without the highlight.
        self.assertLessEqual(max(len(v) for v in levels.values()), 4)
        self.assertGreater(max(len(v) for v in levels.values()), 1, "not one face with two tones")
        print("%s: at most %d tones on a face (%d faces), where the shipped frame shows up to %d"
              % (name, max(len(v) for v in levels.values()), len(levels), len(shipped[busiest])))

    def test_every_example(self):
        table = {
            "phong": self.draws_the_shipped_picture,
            "unlit": self.keeps_the_texels,
            "gouraud": self.loses_the_highlight_between_corners,
            "blinn-phong": self.spreads_the_highlight,
            "toon": self.paints_few_tones,
            "normals": self.carries_the_normals,
        }
        self.assertEqual(sorted(os.listdir(os.path.join(harness.SOURCE_DIR, "examples"))), sorted(table))
        # The light's cube beside cube 0, its front face in full view.
        lamp = [(x, y) for x, y, i, *_ in surfaces(math.pi) if i == MARKER]
        self.assertGreater(len(lamp), 500)
        for name, check in table.items():
            with self.subTest(name):
                frame = self.frame(name, math.pi)
                dim = [(p, harness.pixel_at(frame, *p)) for p in lamp if min(harness.pixel_at(frame, *p)) < 250]
                self.assertEqual(dim[:5], [], "the light's cube is not a lamp")
                if name != "phong":
                    # Not the shipped picture give or take a rounding: thousands
                    # of channel values apart by more than a few levels.
                    apart = sum(abs(a - b) > 8 for a, b in zip(frame[2], self.frame(None, math.pi)[2]))
                    self.assertGreater(apart, 5000, "too near the shipped scene's frame")
                    print("%s: %d channel values apart from the shipped frame's by more than 8" % (name, apart))
                check(name)


if __name__ == "__main__":
    harness.main()
