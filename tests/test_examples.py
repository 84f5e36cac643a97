"""The example scenes in examples/, one row of a table each, every one held
to a model of its own shaders worked out here: a ray is cast from the fixed
camera through each pixel of a grid into the scene's cubes, and what the
example's lighting makes of the point it meets is compared with the frame,
channel by channel. The grid is dense where a highlight falls, so that its
place and size are measured, and each row names a rival model (another
example's lighting) that its frames must tell apart at many of those pixels,
so the check can see the terms by which the two differ."""
import functools
import math
import os

import harness

FOCAL = 1 / math.tan(math.radians(45) / 2)
EYE = (0.0, 0.0, 3.0)
MARKER = 10  # the light's cube, after the ten cubes
# The light in front of cube 0, its cube in sight, throwing highlights on
# cubes 1 and 7; nearly behind cube 0, throwing them on cubes 1, 4 and 8,
# the largest on cube 8's face towards the camera, between its corners.
CLOCKS = (0.8, 4.7)


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def minus(a, b):
    return [a[0] - b[0], a[1] - b[1], a[2] - b[2]]


def unit(a):
    length = math.sqrt(dot(a, a))
    return [x / length for x in a]


def light(t):
    return (math.cos(t), 0.0, math.sin(t))


def ray(x, y):
    """The direction from the eye through the middle of window pixel (x, y)."""
    nx, ny = (x + 0.5) / 640 - 1, 1 - (y + 0.5) / 360
    return (nx * 1.7777778 / FOCAL, ny / FOCAL, -1.0)


@functools.cache
def matrices(t):
    """Each object's model matrix, by columns, at clock t."""
    return [harness.model(harness.CUBES[i], 20 * i) for i in range(10)] + [harness.model(light(t), 0)]


@functools.cache
def objects(t):
    """Each object's own axes in the world (its rotation's columns) and the
    eye in its own space, at clock t."""
    found = []
    for m in matrices(t):
        axes = [m[k][:3] for k in range(3)]
        found.append((axes, [dot(a, minus(EYE, m[3][:3])) for a in axes], minus(m[3][:3], EYE)))
    return found


@functools.cache
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
def surfaces(t, step, left=4, top=4, right=1276, bottom=716):
    """The pixels of a grid that show one face of one object, with their
    neighbours two pixels away on every side: {(x, y): (object, face, own
    point, normal)}."""
    found = {}
    for y in range(top, bottom, step):
        for x in range(left, right, step):
            hit = cast(t, x, y)
            if hit and all((lambda h: h and h[:2] == hit[:2])(cast(t, x + dx, y + dy))
                           for dx, dy in ((-2, 0), (2, 0), (0, -2), (0, 2))):
                found[x, y] = hit
    return found


def texel(face, own):
    """test.png's colour (0 to 1) where the face's texture coordinate falls
    at the point, or None where the texels around it differ, so that GL's
    filter blends them. The mesh maps each face's two other axes onto the
    image: x (y on the sides) across, and y (on the front and back) or -z up."""
    s = (own[1] if face[0] == 0 else own[0]) + 0.5
    t = own[1] + 0.5 if face[0] == 2 else 0.5 - own[2]
    return image_at(int(s * harness.SIZE), int((1 - t) * harness.SIZE))


@functools.cache
def image_at(column, row):
    around = {harness.pixel(min(max(column + dx, 0), 255), min(max(row + dy, 0), 255))[:3]
              for dx in range(-2, 3) for dy in range(-2, 3)}
    return [c / 255 for c in around.pop()] if len(around) == 1 else None


def phong(t, normal, point, halfway=False):
    """(diffuse, highlight) at a world point: the highlight from the light's
    reflection, or from the halfway vector, to the 32nd power, on faces
    turned towards the light only."""
    to_light, to_eye = unit(minus(light(t), point)), unit(minus(EYE, point))
    facing = dot(normal, to_light)
    if halfway:
        shine = dot(normal, unit([a + b for a, b in zip(to_light, to_eye)]))
    else:
        shine = 2 * facing * dot(normal, to_eye) - dot(to_eye, to_light)
    return max(facing, 0), max(shine, 0) ** 32 if facing > 0 else 0


def toon(t, normal, point):
    """Phong's terms cut: the diffuse light into four bands rounded down, the
    highlight into a full one where it passes one half."""
    diffuse, shine = phong(t, normal, point)
    return math.floor(diffuse * 4) / 4, float(diffuse > 0 and shine > 0.5)


def gouraud(t, normal, face, own, m):
    """Phong's terms at the three corners of the triangle that holds the
    point, blended by the point's weights in it. Every face is cut along the
    diagonal from its (-, -) corner to its (+, +) corner in its other two
    axes, taken in order."""
    a, b = [k for k in range(3) if k != face[0]]
    u, v = own[a], own[b]
    if u >= v:
        corners, weights = ((-0.5, -0.5), (0.5, -0.5), (0.5, 0.5)), (0.5 - u, u - v, v + 0.5)
    else:
        corners, weights = ((-0.5, -0.5), (-0.5, 0.5), (0.5, 0.5)), (0.5 - v, v - u, u + 0.5)
    terms = []
    for cu, cv in corners:
        corner = list(own)
        corner[a], corner[b] = cu, cv
        terms.append(phong(t, normal, world(m, corner)))
    return tuple(sum(w * term[k] for w, term in zip(weights, terms)) for k in range(2))


def world(m, own):
    """A point in an object's own space carried into the world by its model matrix."""
    return [m[3][k] + own[0] * m[0][k] + own[1] * m[1][k] + own[2] * m[2][k] for k in range(3)]


def shade(name, t, hit, shine=True):
    """The (r, g, b), 0 to 255 unrounded, the example `name` gives the point
    `hit` at clock t (without its highlight if not `shine`), or None where
    the image's texels blend."""
    i, face, own, normal = hit
    if i == MARKER:
        return (255.0,) * 3  # a lamp in the light's colour
    if name == "normals":
        return tuple(255 * (c * 0.5 + 0.5) for c in normal)
    surface = texel(face, own)
    if surface is None or name == "unlit":
        return surface and tuple(255 * c for c in surface)
    m = matrices(t)[i]
    point = world(m, own)
    diffuse, highlight = (phong(t, normal, point) if name == "phong" else phong(t, normal, point, True)
                          if name == "blinn-phong" else toon(t, normal, point) if name == "toon"
                          else gouraud(t, normal, face, own, m))
    return tuple(255 * min(max((0.2 + diffuse) * c + 0.5 * highlight * shine, 0), 1) for c in surface)


@functools.cache
def shade_at(name, t, x, y, shine=True):
    return shade(name, t, grid(t)[x, y], shine)


def near_an_edge(name, t, hit):
    """Whether the point lies within rounding of a step in the model: the
    edge of the light (the highlight ends there), or a toon band's or
    spot's edge."""
    m = matrices(t)[hit[0]]
    point = world(m, hit[2])
    facing = dot(hit[3], unit(minus(light(t), point)))
    shine = phong(t, hit[3], point)[1]
    return hit[0] != MARKER and (abs(facing) < 0.01 or name == "toon" and (
        abs(facing * 4 - round(facing * 4)) < 0.01 or abs(shine - 0.5) < 0.02))


@functools.cache
def grid(t):
    """Every pixel of a coarse grid, and a fine one around each highlight
    either Phong or Blinn-Phong throws."""
    coarse = surfaces(t, 8)
    points = dict(coarse)
    for (x, y), hit in coarse.items():
        if hit[0] != MARKER:
            point = world(matrices(t)[hit[0]], hit[2])
            if phong(t, hit[3], point, True)[1] > 0.02:
                points.update(surfaces(t, 2, max(x - 8, 4), max(y - 8, 4), min(x + 8, 1276), min(y + 8, 716)))
    return points


def scene(name):
    path = "examples/%s/Shaders/" % name
    return harness.read(path + "OG_V.glsl"), harness.read(path + "OG_F.glsl")


# name: (the rival it must differ from, the fewest pixels its highlight covers)
TABLE = {
    "phong": ("blinn-phong", 1000),
    "blinn-phong": ("phong", 2000),
    "toon": ("phong", 300),
    "gouraud": ("phong", 1000),
    "normals": ("unlit", 0),
    "unlit": ("phong", 0),
}
TOLERANCE = 2  # levels each channel may be off by: the model rounds to 0.5 on llvmpipe and zink


class Examples(harness.TestCase):

    def holds_to_its_model(self, name, rival, least):
        """The frame at each clock matches the model at every pixel of the
        grid but those on a step; counts the pixels where the rival's model
        is far off, and those where the highlight adds light, in the model
        and in the frame."""
        checked, apart, worst, shown_shine, model_shine = 0, 0, 0, 0, 0
        for t in CLOCKS:
            vertex, fragment = scene(name)
            frame, wrong = self.picture(self.stage(vertex=vertex, fragment=fragment), fake_time=t), []
            for (x, y), hit in grid(t).items():
                want = shade_at(name, t, x, y)
                if want is None or near_an_edge(name, t, hit):
                    continue
                shown, other = harness.pixel_at(frame, x, y), shade_at(rival, t, x, y)
                dull = shade_at(name, t, x, y, False)
                off = max(abs(a - b) for a, b in zip(shown, want))
                if off > TOLERANCE:
                    wrong.append(((x, y), hit[:2], shown, tuple(round(c) for c in want)))
                worst, checked = max(worst, off), checked + 1
                apart += other is not None and max(abs(a - b) for a, b in zip(other, want)) > 4 * TOLERANCE
                model_shine += max(a - b for a, b in zip(want, dull)) > 8
                shown_shine += max(a - b for a, b in zip(shown, dull)) > 8
            self.assertEqual(wrong[:5], [], "t=%g: %d pixels off by more than %d: (pixel, object and face, shown, "
                             "model)" % (t, len(wrong), TOLERANCE))
        self.assertGreater(checked, 15000)
        self.assertGreater(apart, 1000, "too few pixels where %s and %s differ" % (name, rival))
        self.assertGreaterEqual(model_shine, least, "too small a highlight to measure")
        print("%s: %d pixels at clocks %s within %d levels of the model (worst %.1f); %d of them where %s's "
              "model is off by more than %d; a highlight over %d pixels, the model's %d"
              % (name, checked, CLOCKS, TOLERANCE, worst, apart, rival, 4 * TOLERANCE, shown_shine, model_shine))

    def test_every_example(self):
        self.assertEqual(sorted(os.listdir(os.path.join(harness.SOURCE_DIR, "examples"))), sorted(TABLE))
        for name, (rival, least) in TABLE.items():
            with self.subTest(name):
                try:
                    self.holds_to_its_model(name, rival, least)
                finally:
                    # A row's failed run must not leave its window for the next to find.
                    self.doCleanups()


if __name__ == "__main__":
    harness.main()
