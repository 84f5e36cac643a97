"""The scene author's commands, installed from BUILD_DIR into a prefix of
one's own. --check: a table of scenes, each with one mistake (or none), and
the exact lines and status it gives, run with no display at all; its image
line is the one the real viewer prints for the same file. --watch: one run
on Xvfb through a table of saves of every kind, each the frame and messages
of a shot of the same files in the same window; under openbox the editor
keeps the focus; Ctrl-C leaves no process. --new: the copy draws
the frame of the scene it came from, as plain files; a non-empty DIR is
refused."""
import os
import re
import shutil
import signal
import subprocess
import tempfile

import harness

CLOCK = 1.0
NAMES = ("model, view, projection (mat4), lightPos, lightColor, objectColor, viewPos (vec3) and texture0"
         " (sampler2D)")
INPUTS = "0 (vec3 position), 1 (vec2 texture coordinate) and 2 (vec3 normal)"
V, F, IMAGE = "{dir}/Shaders/OG_V.glsl", "{dir}/Shaders/OG_F.glsl", "{dir}/test.png"
VERTEX = """#version 460 core
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec2 aTex;
layout(location = 2) in vec3 aNormal;
uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
out vec3 shade;
void main() { shade = aNormal + vec3(aTex, 1.0); gl_Position = projection * view * model * vec4(aPos, 1.0); }
"""
FRAGMENT = """#version 460 core
in vec3 shade;
out vec4 FragColor;
uniform vec3 objectColor;
uniform vec3 lightColor;
uniform sampler2D texture0;
void main() { FragColor = vec4(objectColor * lightColor * shade, 1.0) * texture(texture0, shade.xy); }
"""
NEVER_SET = ": uniform %s is never set by the viewer, which sets " + NAMES + ": use one of these names, or a constant"
MISSING = (": missing; the viewer reads the %s from here: create it, or name the directory that holds Shaders/ and"
           " test.png")
NO_IMAGE = (': missing; the viewer prints "failed to load test.png" and draws the cubes without a surface: put the'
            " image there")
LEGACY = " is not in core GLSL; "
MAIN = "void main() { FragColor = vec4(objectColor * lightColor * shade, 1.0) * texture(texture0, shade.xy); }"
JPEG = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9"


def swap(text, *pairs):
    """text with each (old, new) pair replaced, as bytes."""
    for old, new in pairs:
        assert old in text, old
        text = text.replace(old, new)
    return text.encode()


# name: (files as harness.stage takes them, or "pipe", "directory" or "loop" in a file's place, the directory checked
# below the staged one, expected lines).
# "…" in a line stands for the driver's own words; "{viewer}" for the line the viewer prints.
CHECKS = {
    "sound": ({}, "", []),
    "misspelled uniform": ({"fragment": swap(FRAGMENT, ("lightColor", "lightColour"))}, "",
                           [F + NEVER_SET % "lightColour"]),
    "vec4 where the viewer sends vec3": (
        {"fragment": swap(FRAGMENT, ("vec3 lightColor", "vec4 lightColor"), ("lightColor *", "lightColor.rgb *"))},
        "", [F + ": uniform lightColor is declared vec4, but the viewer sends a vec3: declare it as vec3 lightColor"]),
    "a matrix of another size, in the vertex stage": (
        {"vertex": swap(VERTEX, ("mat4 model;", "mat3 model;"), ("model * vec4(aPos, 1.0)", "vec4(model * aPos, 1)"))},
        "", [V + ": uniform model is declared mat3, but the viewer sends a mat4: declare it as mat4 model"]),
    "a uniform of its own": (
        {"fragment": swap(FRAGMENT, ("out vec4", "uniform float iTime;\nout vec4"), ("shade, 1.0)", "shade, iTime)"))},
        "", [F + NEVER_SET % "iTime"]),
    "a uniform array of its own": ({"fragment": swap(FRAGMENT, ("out vec4", "uniform float w[2];\nout vec4"),
                                                     ("shade, 1.0)", "shade, w[1])"))}, "", [F + NEVER_SET % "w"]),
    "a uniform of its own, named by a macro": (
        {"fragment": swap(FRAGMENT, ("out vec4", "#define NAME(x) my##x\nuniform float NAME(Time);\nout vec4"),
                          ("shade, 1.0)", "shade, NAME(Time))"))}, "", [F + NEVER_SET % "myTime"]),
    "a uniform of its own, 300 letters long": (
        {"fragment": swap(FRAGMENT, ("out vec4", "uniform float %s;\nout vec4" % ("u" * 300)),
                          ("shade, 1.0)", "shade, %s)" % ("u" * 300)))}, "", [F + NEVER_SET % ("u" * 300)]),
    "uniforms of its own, declared in both stages, each used in one": (
        {"vertex": swap(VERTEX, ("out vec3", "uniform float onlyV, onlyF;\nout vec3"), ("aTex, 1.0", "aTex, onlyV")),
         "fragment": swap(FRAGMENT, ("out vec4", "uniform float onlyV, onlyF;\nout vec4"),
                          ("shade, 1.0)", "shade, onlyF)"))}, "", [V + NEVER_SET % "onlyV", F + NEVER_SET % "onlyF"]),
    "built-ins read: gl_DepthRange, gl_VertexID": (
        {"vertex": swap(VERTEX, ("vec3(aTex, 1.0)", "vec3(aTex, gl_VertexID)")),
         "fragment": swap(FRAGMENT, ("shade, 1.0)", "shade, gl_DepthRange.far)"))}, "", []),
    "a colour output whose name begins with gl": ({"fragment": swap(FRAGMENT, ("FragColor", "glow"))}, "", []),
    "the sampler under another name": ({"fragment": swap(FRAGMENT, ("texture0", "tex"))}, "", [F + NEVER_SET % "tex"]),
    "the sampler of another kind": (
        {"fragment": swap(FRAGMENT, ("sampler2D texture0", "sampler3D texture0"), ("shade.xy", "shade"))}, "",
        [F + ": uniform texture0 is declared sampler3D, but the viewer sends a sampler2D: declare it as sampler2D"
         " texture0"]),
    "an input at location 3": ({"vertex": swap(VERTEX, ("location = 2", "location = 3"))}, "",
                               [V + ": input aNormal at location 3 is never fed; the viewer feeds locations " + INPUTS
                                + ": give it one of these with layout(location = N)"]),
    "a uniform of one type in one stage, of another in the other": (
        {"vertex": swap(VERTEX, ("out vec3", "uniform vec4 lightColor;\nout vec3"),
                        ("aTex, 1.0", "aTex, lightColor.x"))},
        "", [F + ": does not link with " + V + ": error: …; make the two stages' declarations agree"]),
    "a position of another type": ({"vertex": swap(VERTEX, ("vec3 aPos", "vec4 aPos"), ("vec4(aPos, 1.0)", "aPos"))},
                                   "", [V + ": input aPos at location 0 is declared vec4, but the viewer feeds a vec3"
                                        " position there: declare it as vec3"]),
    "an input of another type": ({"vertex": swap(VERTEX, ("vec2 aTex;", "vec3 aTex;"), ("aTex, 1.0", "aTex"))}, "",
                                 [V + ": input aTex at location 1 is declared vec3, but the viewer feeds a vec2 texture"
                                  " coordinate there: declare it as vec2"]),
    "a missing fragment file": ({"fragment": False}, "", [F + MISSING % "fragment shader"]),
    "an unknown error on line 7": ({"fragment": swap(FRAGMENT, ("void main() {", "void main() { nonsense;"))}, "",
                                   [F + ":7: does not compile: …; correct the fragment shader there"]),
    "a #version the driver does not know": ({"fragment": swap(FRAGMENT, ("460", "470"))}, "",
                                            [F + ":1: does not compile: …; correct the fragment shader there"]),
    "an error about a name that reads warning": ({"fragment": swap(FRAGMENT, ("main() {", "main() { warning;"))}, "",
                                                 [F + ":7: does not compile: error: `warning' undeclared; correct the"
                                                  " fragment shader there"]),
    "an input the vertex stage never writes": (
        {"fragment": swap(FRAGMENT, ("in vec3 shade;", "in vec3 shade;\nin vec3 other;"), ("* shade", "* other"))},
        "", [F + ":3: the fragment stage's in other is never written by the vertex stage; declare it out, of the same"
             " type, in the vertex shader and write it there"]),
    "stages of two types": ({"fragment": swap(FRAGMENT, ("in vec3", "in vec4"), ("r * shade,", "r * shade.xyz,"))},
                            "", [F + ":2: the vertex stage's out shade is a vec3, but the fragment stage's in shade a"
                                 " vec4; declare both of one type: `in vec3 shade;`"]),
    "stages of two types, the input declared over two lines": (
        {"fragment": swap(FRAGMENT, ("in vec3", "in\nvec4"), ("r * shade,", "r * shade.xyz,"))},
        "", [F + ": the vertex stage's out shade is a vec3, but the fragment stage's in shade a vec4; declare both of"
             " one type"]),
    "no #version, a comment first": ({"fragment": swap(FRAGMENT, ("#version 460 core\n", "// lit\n"))}, "", [
        F + ":1: no #version line, so the driver reads this file as GLSL 1.10; a 4.6 core shader begins with:"
        " `#version 460 core`"]),
    "#version after a line": ({"fragment": swap(FRAGMENT, ("#version 460 core\nin vec3 shade;",
                                                           "in vec3 shade;\n#version 460 core"))}, "",
                              [F + ":2: #version comes after other lines; make it the file's first line"]),
    "gl_FragColor": ({"fragment": swap(FRAGMENT, ("out vec4 FragColor;\n", ""), ("FragColor =", "gl_FragColor ="))},
                     "", [F + ":6: gl_FragColor" + LEGACY + "declare an output of your own, out vec4 FragColor;"
                          " before main, and write that: `" + MAIN + "`"]),
    "gl_FragData": ({"fragment": swap(FRAGMENT, ("out vec4 FragColor;\n", ""), ("FragColor =", "gl_FragData[0] ="))},
                    "", [F + ":6: gl_FragData" + LEGACY + "declare an output of your own, out vec4 FragColor;"
                         " before main, and write that: `" + MAIN + "`"]),
    "texture2D": ({"fragment": swap(FRAGMENT, ("texture(", "texture2D("))}, "",
                  [F + ":7: texture2D" + LEGACY + "texture() reads every kind of sampler: `" + MAIN + "`"]),
    "texture2DProj": ({"fragment": swap(FRAGMENT, ("texture(texture0, shade.xy)", "texture2DProj(texture0, shade)"))},
                      "", [F + ":7: texture2DProj" + LEGACY + "textureProj() reads every kind of sampler: `"
                           + MAIN.replace("texture(texture0, shade.xy)", "textureProj(texture0, shade)") + "`"]),
    "textureCube": ({"fragment": swap(FRAGMENT, ("sampler2D", "samplerCube"),
                                      ("texture(texture0, shade.xy)", "textureCube(texture0, shade)"))},
                    "", [F + ":7: textureCube" + LEGACY + "texture() reads every kind of sampler: `"
                         + MAIN.replace("shade.xy)", "shade)") + "`"]),
    "attribute": ({"vertex": swap(VERTEX, ("layout(location = 0) in", "attribute"))}, "",
                  [V + ":2: attribute" + LEGACY + "a vertex input is declared in, at the location the viewer feeds (0"
                   " position, 1 texture coordinate, 2 normal): `layout(location = N) in vec3 aPos;`"]),
    "varying": ({"vertex": swap(VERTEX, ("out vec3", "varying vec3"))}, "",
                [V + ":8: varying" + LEGACY + "what the vertex stage passes on is declared out: `out vec3 shade;`"]),
    "a missing semicolon": ({"fragment": swap(FRAGMENT, ("texture0;", "texture0"))}, "", [
        F + ":6: this statement lacks its closing semicolon; end it with one: `uniform sampler2D texture0;`"]),
    "a missing semicolon, the next statement after a blank and a comment, over two lines": (
        {"fragment": swap(FRAGMENT, ("texture0;\nvoid main() { ", "texture0\n /* lit */ void main() {\n"))}, "",
        [F + ":6: this statement lacks its closing semicolon; end it with one: `uniform sampler2D texture0;`"]),
    "a missing semicolon, the next statement after a character of this one": (
        {"fragment": swap(FRAGMENT, ("lightColor;\nuniform sampler2D texture0;\nvoid", "lightColor[1\n] void"))}, "",
        [F + ":6: this statement lacks its closing semicolon; end it with one: `…`"]),
    "a missing semicolon, a blank and a comment before the last line": (
        {"fragment": swap(FRAGMENT, ("texture0;", "texture0 // the image\n\n  // lit"))}, "",
        [F + ":6: this statement lacks its closing semicolon; end it with one: `uniform sampler2D texture0;`"]),
    "a warning and an error": ({"fragment": swap(FRAGMENT, ("main() {", "main() { float u; FragColor = vec4(u); x;"))},
                               "", [F + ":7: warning: `u' used uninitialized",
                                    F + ":7: does not compile: error: `x' undeclared; correct the fragment shader"
                                    " there"]),
    "depth but no colour written": ({"fragment": swap(FRAGMENT, ("FragColor =", "gl_FragDepth = 0.5; vec4 unused ="))},
                                    "", [F + ": writes no colour, so the viewer draws whatever the GPU leaves there;"
                                         " write one in main, to an output declared before it: out vec4 FragColor;"]),
    "no gl_Position written": ({"vertex": swap(VERTEX, ("gl_Position =", "vec4 unused ="))}, "", [
        V + ": never writes gl_Position, so no cube reaches the screen; set it in main: gl_Position = projection *"
        " view * model * vec4(aPos, 1.0);"]),
    "#version 330 core": ({"vertex": swap(VERTEX, ("460", "330")), "fragment": swap(FRAGMENT, ("460", "330"))}, "",
                          []),
    "an unused uniform": ({"fragment": swap(FRAGMENT, ("out vec4", "uniform float unused;\nout vec4"))}, "", []),
    "a JPEG image": ({"image": JPEG}, "", ["{viewer}"]),
    "an image cut off": ({"image": harness.read("test.png")[:300]}, "", ["{viewer}"]),
    "a missing image": ({"image": False}, "", [IMAGE + NO_IMAGE]),
    "a missing vertex shader, the others there": ({"vertex": False}, "", [V + MISSING % "vertex shader"]),
    "a pipe and a directory where files belong": ({"fragment": "pipe", "image": "pipe", "vertex": "directory"}, "", [
        V + ": a directory, where the viewer reads the vertex shader: make it a file",
        F + ": not a regular file but a pipe or a device, on which the viewer would wait or read without end; it reads"
        " the fragment shader from here: make it a file",
        IMAGE + ": not a regular file but a pipe or a device, on which the viewer would wait or read without end: make"
        " it an image file"]),
    "a fragment shader that is a link to itself": ({"fragment": "loop"}, "", [
        F + ": cannot be read (Too many levels of symbolic links); the viewer reads the fragment shader from here:"
        " make it readable"]),
    "a directory that is not a scene": ({}, "Shaders", ["{dir}/Shaders/Shaders/OG_V.glsl" + MISSING % "vertex shader",
                                                        "{dir}/Shaders/Shaders/OG_F.glsl" + MISSING % "fragment shader",
                                                        "{dir}/Shaders/test.png" + NO_IMAGE]),
}
CHECK_MISUSE = "Usage: viewer --check [DIR | --example NAME]\n"

SCENE = ["Shaders/OG_V.glsl", "Shaders/OG_F.glsl", "test.png"]
FLAT = "#version 460 core\nout vec4 FragColor;\nvoid main() { FragColor = vec4(%s, 1.0); }\n"
# One run of --watch --at 2.0, started with Shaders/ away: how each save is made, the file, what it holds (None:
# the shipped file). A burst's ten are renames, each whole, as a save-all makes them, and read once a frame at most.
# A file deleted is made again only after a few frames, and left empty for a few more. A file not the scene's is
# not read.
SAVES = [
    ("rename", "Shaders", None),
    ("in place", "Shaders/OG_F.glsl", (FLAT % "0.8, 0.2, 0.6").encode()),
    ("rename", "Shaders/OG_F.glsl", b"#version 460 core\nvoid main() { nonsense }\n"),
    ("cp over", "Shaders/OG_F.glsl", None),
    ("rename", "Shaders/OG_V.glsl", harness.read("Shaders/OG_V.glsl").replace(b"(FragPos, 1", b"(FragPos / 2, 1")),
    ("in place", "Shaders/OG_V.glsl", None),
    ("cp over", "test.png", harness.png(48, 20, lambda x, y: (x * 5, 200), colour_type=4)),
    ("delete and create", "test.png", JPEG),
    ("rename", "test.png", None),
    ("delete and create", "Shaders/OG_V.glsl",
     harness.read("Shaders/OG_V.glsl").replace(b"(FragPos, 1", b"(FragPos * 0.75, 1")),
    ("burst of ten", "Shaders/OG_F.glsl", (FLAT % "0.1, 0.2, 0.9").encode()),
    ("in place", "Shaders/Shaders", b"not the scene's"),
    ("directory swapped", "Shaders/OG_V.glsl", None),
]


def no_display():
    """The environment of a machine with no display and no GL override."""
    env = dict(os.environ)
    for key in ["DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD"] + list(harness.GL_OVERRIDE) + list(harness.ZINK):
        env.pop(key, None)
    return env


class Authoring(harness.TestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix = harness.install(cls.addClassCleanup)
        cls.command = os.path.join(cls.prefix, "bin", "viewer")

    def run_command(self, *args, env=None):
        done = subprocess.run([self.command, *args], env=env or no_display(), capture_output=True, text=True,
                              timeout=60)
        return done.returncode, done.stdout, done.stderr

    def viewer_line(self, directory):
        """What the real viewer prints about the image in directory."""
        viewer = self.viewer(directory)
        viewer.wait_window()
        viewer.escape()
        status, out, err = viewer.wait()
        blocks = harness.message_blocks(out)
        self.assertEqual([kind for kind, _ in blocks], ["image"], out)
        return harness.IMAGE_LINE + blocks[0][1]

    def test_check_names_each_mistake(self):
        for name, (files, below, expected) in CHECKS.items():
            with self.subTest(name):
                files = dict({"vertex": VERTEX.encode(), "fragment": FRAGMENT.encode()}, **files)
                specials = {"pipe": os.mkfifo, "directory": os.mkdir, "loop": lambda path: os.symlink(path, path)}
                directory = self.stage(**{k: False if v in specials else v for k, v in files.items()})
                for key, name in (("vertex", V), ("fragment", F), ("image", IMAGE)):
                    if files.get(key) in specials:
                        specials[files[key]](name.replace("{dir}", directory))
                status, out, err = self.run_command("--check", os.path.join(directory, below))
                self.assertEqual((status, err), (1 if expected else 0, ""), out)
                lines = [line.replace("{dir}", directory) for line in expected]
                if lines == ["{viewer}"]:
                    lines = [self.viewer_line(directory)]
                    self.assertNotEqual(lines, [harness.IMAGE_LINE], "the image's line gives no reason")
                patterns = [".+".join(re.escape(part) for part in line.split("…")) for line in lines]
                got = out.split("\n")
                self.assertEqual(got.pop(), "", out)
                self.assertEqual(len(got), len(patterns), out)
                for line, pattern in zip(got, patterns):
                    self.assertRegex(line, "^%s$" % pattern)

    def test_check_passes_the_shipped_scene_and_every_example(self):
        examples = sorted(os.listdir(os.path.join(harness.SOURCE_DIR, "examples")))
        for args in [[]] + [["--example", name] for name in examples]:
            with self.subTest(args):
                self.assertEqual(self.run_command("--check", *args), (0, "", ""))

    def test_check_misuse_and_no_context(self):
        check = os.path.join(self.prefix, "libexec", "viewer", "viewer-check")
        for args, line in ((["a", "b"], "one directory at most, not 2"), (["-x"], "unknown option -x"),
                           (["/nonexistent"], "cannot enter /nonexistent: No such file or directory")):
            with self.subTest(args):
                done = subprocess.run([check, *args], env=no_display(), capture_output=True, text=True, timeout=60)
                self.assertEqual((done.returncode, done.stdout, done.stderr),
                                 (2, "", "viewer --check: %s\n%s" % (line, CHECK_MISUSE)))
        status, out, err = self.run_command("--check", "/nonexistent")
        self.assertEqual((status, out, err.split("\n")[0]), (2, "", "viewer: /nonexistent does not exist"))
        # Where the GL will not go past 4.5, one line that names what there is.
        status, out, err = self.run_command("--check", env=dict(no_display(), MESA_GL_VERSION_OVERRIDE="4.5"))
        self.assertEqual((status, out), (3, ""))
        self.assertRegex(err, r"^viewer --check: no OpenGL 4\.6 core context here: the GL offers 4\.5 .*\n$")
        # The check run directly: a scene as its argument; "/" joined with no second slash; a path that fills
        # getcwd's 4096 bytes; a working directory removed; a software GL it starts again told 4.6 and GLSL 460.
        deep = tempfile.mkdtemp(prefix="viewer-deep-")
        self.addCleanup(shutil.rmtree, deep, True)
        while len(deep) < 4095:
            deep += "/" + "d" * min(200, 4095 - len(deep) - 1)
        os.makedirs(deep)
        gone = tempfile.mkdtemp(prefix="viewer-gone-")
        self.addCleanup(shutil.rmtree, gone, True)
        for command, env, expected in (
                ([check, os.path.join(harness.SOURCE_DIR, "examples", "toon")], {}, (0, "", "")),
                ([check, "/"], {}, (1, "/Shaders/OG_V.glsl" + MISSING % "vertex shader", "")),
                ([check, deep], {}, (1, deep + "/Shaders/OG_V.glsl" + MISSING % "vertex shader", "")),
                (["sh", "-c", 'cd "$1" && rmdir "$1" && exec "$0"', check, gone], {},
                 (2, "", "viewer --check: cannot tell the scene's directory: No such file or directory")),
                ([check], {"GALLIUM_DRIVER": "softpipe"}, (0, "", "")),
                ([check], {"MESA_GLSL_VERSION_OVERRIDE": "450"}, (0, "", ""))):
            with self.subTest(command[-1], env=env):
                done = subprocess.run(command, env=dict(no_display(), **env), capture_output=True, text=True,
                                      timeout=60, cwd=harness.SOURCE_DIR)
                self.assertEqual((done.returncode, *(text.split("\n")[0] for text in (done.stdout, done.stderr))),
                                 expected)

    def test_new_copies_plain_files_that_draw_the_same(self):
        data = os.path.join(self.prefix, "share", "viewer")
        home = tempfile.mkdtemp(prefix="viewer-home-")
        self.addCleanup(shutil.rmtree, home, True)
        os.mkdir(os.path.join(home, "empty"))
        for target, args, source in (("myscene", [], []), ("empty", [], []),
                                     ("mytoon", ["--from", "toon"], ["--example", "toon"])):
            with self.subTest(target):
                made = os.path.join(home, target)
                self.assertEqual(self.run_command("--new", made, *args), (0, "", ""))
                found = sorted(os.path.relpath(os.path.join(d, f), made) for d, _, fs in os.walk(made) for f in fs)
                self.assertEqual(found, ["Shaders/OG_F.glsl", "Shaders/OG_V.glsl", "test.png"])
                origin = os.path.join(data, "examples", args[1]) if args else data
                for name in found:
                    self.assertFalse(os.path.islink(os.path.join(made, name)), name)
                    self.assertEqual(harness.pathlib.Path(made, name).read_bytes(),
                                     harness.pathlib.Path(origin, name).read_bytes(), name)
                if target != "empty":
                    self.assertTrue(self.picture("/", fake_time=CLOCK, command=[self.command, made])
                                    == self.picture("/", fake_time=CLOCK, command=[self.command, *source]),
                                    "the new scene draws another frame")
        for args, status, line in ((["--new", os.path.join(home, "myscene")], 1,
                                    "viewer: %s is not empty; name a new or empty directory\n"
                                    % os.path.join(home, "myscene")),
                                   (["--new", os.path.join(data, "test.png")], 1, "viewer: %s exists and is not a"
                                    " directory; name a new one\n" % os.path.join(data, "test.png")),
                                   (["--new", os.path.join(home, "x"), "--from", "shiny"], 2,
                                    'viewer: no example named "shiny"; the examples are: '),
                                   (["--new", ""], 2, "viewer: --new needs the directory to make\nUsage: "),
                                   (["--new", os.path.join(home, "x"), "extra"], 2,
                                    "viewer: --new takes its directory, and --from NAME, only\nUsage: ")):
            with self.subTest(args):
                got = self.run_command(*args)
                self.assertEqual(got[:2], (status, ""))
                # A line that ends is the whole of stderr; the others go on with the usage.
                self.assertTrue(got[2] == line if line.endswith("\n") else got[2].startswith(line), got[2])
        self.assertFalse(os.path.exists(os.path.join(home, "x")))

    def save(self, watch, directory, how, name, content):
        """Saves as an editor would; returns the files the watch names."""
        path, saves = os.path.join(directory, name), [name] * (name in SCENE)
        if name == "Shaders":
            return os.rename(path + ".away", path) or ["Shaders/OG_V.glsl", "Shaders/OG_F.glsl"]
        if how == "directory swapped":  # the file removed, then the whole directory replaced by one that has it
            shaders, new = os.path.join(directory, "Shaders"), os.path.join(directory, "Shaders.new")
            shutil.copytree(shaders, new)
            harness.pathlib.Path(new, os.path.basename(name)).write_bytes(harness.read(name) if content is None
                                                                          else content)
            os.unlink(path)
            watch.more_frames(3)
            os.rename(shaders, shaders + ".old")
            os.rename(new, shaders)
            return SCENE[:2]
        if how == "delete and create":
            os.unlink(path)
            saves = SCENE[:2] if name in SCENE[:2] else saves
            for partner in set(saves) - {name}:
                harness.pathlib.Path(directory, partner).write_bytes(harness.read(partner))
            before = watch.stdout(), watch.stderr()
            watch.more_frames(3)
            with open(path, "wb") as made:  # made, and left empty for a while
                watch.more_frames(3)
                self.assertEqual((watch.stdout(), watch.stderr()), before, "reported while %s is gone or empty" % name)
                made.write(harness.read(name) if content is None else content)
            return saves
        burst = [(FLAT % ("0.%d, 0.5, 0.5" % i)).encode() for i in range(9)] * how.startswith("burst")
        for data in burst + [harness.read(name) if content is None else content]:
            new = path + ".new" * (how not in ("in place", "delete and create"))
            harness.pathlib.Path(new).write_bytes(data)
            if new != path:
                subprocess.run(["cp" if how == "cp over" else "mv", new, path], check=True)
        return saves

    def shot(self, directory, frame):
        self.addCleanup(harness.pathlib.Path(directory + ".png").unlink, True)
        status, out, err = self.run_command("--shot", directory + ".png", "--at", "2.0", directory)
        self.assertEqual((status, err), (0, ""))
        rgb = subprocess.run(["convert", directory + ".png", "-depth", "8", "rgb:-"], capture_output=True, check=True)
        return out, rgb.stdout == frame  # a frame's difference in full would take minutes to print

    def test_watch_reloads_each_save_in_the_same_viewer(self):
        directory = self.stage()
        os.rename(os.path.join(directory, "Shaders"), os.path.join(directory, "Shaders.away"))
        # Standard input closed, so that the watch's own descriptor may be 0.
        watch = self.viewer(directory, command=["sh", "-c", 'exec "$@" <&-', "sh", self.command, "--watch", "--at",
                                                "2.0", directory])
        window = watch.wait_window(frames=2)
        self.assertEqual(self.shot(directory, watch.grab()[2]), (watch.stdout(), True), "the first frame")
        for how, name, content in SAVES:
            what, out, err, shown = "%s of %s" % (how, name), watch.stdout(), watch.stderr(), watch.frames()
            saves = self.save(watch, directory, how, name, content)
            lines = "".join("viewer: %s/%s changed: reloaded\n" % (directory, save) for save in saves)
            watch.until(lambda: watch.stderr().count("\n") >= err.count("\n") + len(saves), what)
            watch.more_frames(3)
            reads = watch.stderr()[len(err):].count(lines) if how.startswith("burst") else 1
            self.assertTrue(1 <= reads <= watch.frames() - shown, "%s: %d reads" % (what, reads))
            self.assertEqual(watch.stderr()[len(err):], lines * reads, what)
            self.assertEqual(self.shot(directory, watch.grab()[2]), (watch.stdout()[len(out):], True), what)
            self.assertEqual(watch.x("xdotool", "search", "--name", "^title$").stdout.split(), [window], what)
        watch.escape()
        self.assertEqual(watch.wait()[0], 0)

    def test_watch_keeps_the_editor_focused_and_ends_as_asked(self):
        # A server of its own: the window manager leaves its mark on the root window when it ends.
        server = harness.Xvfb()
        self.addCleanup(server.stop)
        env = dict(os.environ, DISPLAY=server.display)
        for command in (["openbox", "--sm-disable"], ["xterm", "-fn", "fixed", "-T", "editor"]):
            process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.addCleanup(lambda p=process: p.terminate() or p.wait(10))
        for end, status in (("Ctrl-C", 130), ("close", 0)):
            with self.subTest(end):
                directory = self.stage()
                watch = self.viewer(directory, server.display, command=[self.command, "--watch", directory])
                watch.wait_window(frames=2)
                focused = watch.x("xdotool", "search", "--sync", "--name", "^editor$").stdout.split()[0]
                watch.x("xdotool", "windowactivate", "--sync", focused, timeout=10)
                for saved in range(1, 4):
                    self.save(watch, directory, "rename", "Shaders/OG_F.glsl", None)
                    watch.until(lambda: watch.stderr().count("\n") == saved, "save %d" % saved)
                    watch.more_frames(2)
                    self.assertEqual(watch.x("xdotool", "getwindowfocus").stdout.split(), [focused])
                os.killpg(watch.proc.pid, signal.SIGINT) if end == "Ctrl-C" else watch.close()
                self.assertEqual(watch.wait(), (status, "", "viewer: %s/Shaders/OG_F.glsl changed: reloaded\n"
                                                % directory * 3))
                self.assertTrue(harness.poll(lambda: not self.group_alive(watch.proc.pid), 10), "a process is left")

    @staticmethod
    def group_alive(group):
        try:
            os.killpg(group, 0)
            return True
        except ProcessLookupError:
            return False


if __name__ == "__main__":
    harness.main()
