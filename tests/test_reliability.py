"""Faults as a user meets them: what the viewer prints, that its frames go on
and how it ends; a run under valgrind; memory over SOAK_SECONDS (30); a test
ended from outside leaving nothing. Usage:
test_reliability.py [sanitized] [Faults|Memcheck|Soak|Leftovers ...]"""
import math
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

import harness

SANITIZED = "sanitized" in sys.argv[1:]
VIEWER = os.environ["VIEWER_SANITIZED"] if SANITIZED else harness.VIEWER
SUPPRESSIONS = os.path.join(harness.SOURCE_DIR, "tests", "lsan.supp")
SANITIZER_ENV = {"ASAN_OPTIONS": "verify_asan_link_order=0:detect_leaks=1",
                 "UBSAN_OPTIONS": "print_stacktrace=1",
                 "LSAN_OPTIONS": "print_suppressions=0:suppressions=" + SUPPRESSIONS}

# What standard output must be, block by block (harness.message_blocks):
# each expected block is its kind and a pattern for the rest of it; a
# compile or link log is the driver's own text, so it need only be there.
READ = ("read", r"[^\n]+")
DIR_READ = ("read", r"[^\n]+: Is a directory")
V, F, P = ((kind, r"[\s\S]*\S[\s\S]*") for kind in ("VERTEX", "FRAGMENT", "PROGRAM"))


def IMAGE(reason):
    return [("image", ": " + reason)]


def HUGE(size):
    return IMAGE(r"%s pixels is larger than the largest texture this GL takes, 16384 pixels a side" % size)


def REFUSED(kind):
    return IMAGE(r"%s images are not read, save it as PNG" % kind)


def EMPTY(size):
    return IMAGE(r"its header gives an empty picture, %s pixels" % size)


def CUT(detail):
    return IMAGE("the file ends before its pixels do" + detail)


def CUT_SHORT(size, least, holds):
    return CUT(r": %s pixels take %d bytes, and it holds %d" % (size, least, holds))


def PALETTE(colours):
    return IMAGE(r"its pixels name colours past the end of its palette of %d" % colours)


# The light behind cube 0, the marker hidden there: the front face is lit
# evenly, so that every picture claimed shows there, dimmed.
CLOCK = 1.5 * math.pi
SHIPPED_V = harness.read("Shaders/OG_V.glsl")
SHIPPED_PNG = harness.read("test.png")
GARBAGE = bytes(range(1, 256)) * 64 + b"\0" + bytes(range(256)) * 64
BIG = 50 << 20
NO_LINK = b"#version 460 core\nout vec4 colour;\nvoid shade() { colour = vec4(1.0); }\n"


def regression(name):
    """An input that once made the image fuzz target fail."""
    return harness.read(os.path.join("fuzz/regressions", name))


# test.png at 16 bits a channel: each sample's high byte is test.png's, its
# low byte another (so a reader that keeps the low byte shows another
# picture), and near enough that rounding to 8 bits keeps the high byte too.
PNG_16 = harness.png(256, 256, lambda x, y: [b for c in harness.pixel(x, y) for b in (c, c ^ 0x40)], 16)

# test.png again in every other format that holds its colours exactly; at 16
# bits a channel the 8-bit picture is the same.
SAME_PICTURE = {
    "PNG, 16 bits a channel": PNG_16,
    "PPM, 16 bits a channel": subprocess.run(["convert", "png:-", "-alpha", "off", "ppm:-"], input=PNG_16,
                                             capture_output=True, check=True).stdout,
    "BMP with alpha": harness.convert("bmp"),
    "TGA, run-length": harness.tga_rle(256, 256, harness.pixel),
    "GIF": harness.convert("gif"),
    "BMP, rows top first": harness.bmp_top_first(256, 256, harness.pixel),
}


def directory(name):
    return {"change": lambda d: (os.remove(os.path.join(d, name)), os.mkdir(os.path.join(d, name)))}


def unreadable(name, nobody=True):
    return {"change": lambda d: os.chmod(os.path.join(d, name), 0), "nobody": nobody}


# name: (the image, or the files for harness.stage with perhaps a change to
# the staged directory and a run as nobody; standard output)
CASES = {
    "vertex missing": ({"vertex": False}, [READ, V, F, P]),
    "fragment missing": ({"fragment": False}, [READ, V, F, P]),
    "vertex empty": ({"vertex": b""}, [V, P]),
    "fragment empty": ({"fragment": b""}, [F, P]),
    "vertex a directory": (directory("Shaders/OG_V.glsl"), [DIR_READ, V, F, P]),
    "fragment a directory": (directory("Shaders/OG_F.glsl"), [DIR_READ, V, F, P]),
    "vertex unreadable": (unreadable("Shaders/OG_V.glsl"), [READ, V, F, P]),
    "fragment unreadable": (unreadable("Shaders/OG_F.glsl"), [READ, V, F, P]),
    # Root reads whatever the permissions say.
    "vertex unreadable, run as root": (unreadable("Shaders/OG_V.glsl", False),
                                       [] if os.geteuid() == 0 else [READ, V, F, P]),
    "vertex binary garbage": ({"vertex": GARBAGE}, [V, P]),
    "fragment binary garbage": ({"fragment": GARBAGE}, [F, P]),
    "vertex 50 MB, valid": ({"vertex": SHIPPED_V + b"// padding\n" * (BIG // 11)}, []),
    "fragment 50 MB of garbage": ({"fragment": GARBAGE[:255] * (BIG // 255)}, [F, P]),
    "vertex syntax error": ({"vertex": SHIPPED_V.replace(b";", b"", 1)}, [V, P]),
    "fragment syntax error": ({"fragment": b"#version 460 core\nvoid main() { oops }\n"}, [F, P]),
    "pair that does not link": ({"fragment": NO_LINK}, [P]),
    "image missing": ({"image": False}, [("image", "")]),
    "image zero bytes": (b"", IMAGE("the file is empty")),
    "image truncated": (SHIPPED_PNG[:len(SHIPPED_PNG) // 2], CUT("")),
    "image not an image": (b"GIF? no: plain text\n",
                           IMAGE(r"the decoder says: Image not of any known type, or corrupt")),
    "image a directory": (directory("test.png"), IMAGE("Is a directory")),
    "image unreadable": (unreadable("test.png"), IMAGE("Permission denied")),
    "image grey": (harness.png(5, 3, [[9, 99, 199, 255, 0]] * 3, 8, 0), []),
    "image grey and alpha": (harness.png(5, 3, [[9, 0, 99, 80, 199, 255, 255, 9, 0, 0]] * 3, 8, 4), []),
    "image RGB, odd width": (harness.png(5, 3, [range(15)] * 3, 8, 2), []),
    "image 16384 wide": (harness.png(16384, 1, lambda x, y: (x * 255 // 16383, 255 - x * 255 // 16383, 90, 255)), []),
    "image 16385 wide": (harness.png(16385, 1, [[90] * 65540]), HUGE("16385x1")),
    "image 16-bit PGM, maxval 65535": (regression("pgm-16-bit"), []),
    "image 16-bit PPM, maxval 65535": (regression("ppm-16-bit"), []),
    "image JPEG": (harness.convert("jpg"), REFUSED("JPEG")),
    "image malformed JPEG": (regression("jpeg-huffman-table-overrun"), REFUSED("JPEG")),
    "image Softimage PIC": (harness.pic(2, 2, [(0, 0xE0, lambda y: bytes(range(6)))]), REFUSED("Softimage PIC")),
    "image Radiance HDR": (harness.convert("hdr"), REFUSED("Radiance HDR")),
    "image PGM whose largest sample value is 0": (b"P5 2 1 0\n\0\0",
                                                  IMAGE("its PNM header gives a largest sample value of 0, "
                                                        "outside 1 to 65535")),
    "image PGM with a sample past its largest value": (b"P5 2 1 15\n\x0f\x10", IMAGE(
        "its pixels hold a value of 16, past the largest its header gives, 15")),
    "image PNM header number of ten digits": (b"P5 1 4294967297 255\n" + bytes(4),
                                              IMAGE("its PNM header holds a number too large to read")),
    "image 16-bit PGM with a ten-digit comment": (
        regression("pgm-16-bit").replace(b"P5\n", b"P5\n# 20261208174334\n"), []),
    "image Photoshop, half transparent": (regression("psd-half-transparent-valid"), REFUSED("Photoshop")),
    "image BMP of 381 bytes claiming 7x11700000": (regression("bmp-381-bytes-claims-7x11700000"),
                                                   HUGE("7x11700000")),
    "image GIF of 142 bytes claiming 65535x1200": (regression("gif-142-bytes-claims-65535x1200"),
                                                   HUGE("65535x1200")),
    "image PNG chunk claiming 2 GiB": (regression("png-idat-claims-2-gib"), CUT("")),
    "image TGA of 123 bytes claiming 34 million pixels": (regression("tga-rle-claims-34-mpixels"),
                                                          CUT_SHORT("4140x8224", 1329993, 123)),
    "image BMP rows top first, claiming 11x41734": (regression("bmp-top-down-claims-11x41734"), HUGE("11x41734")),
    "image BMP rows top first, 1x20000": (harness.bmp_top_first(1, 20000, lambda x, y: (y % 256, 0, 0)),
                                          HUGE("1x20000")),
    "image BMP rows top first, header claiming 16384x43000": (
        regression("bmp-top-down-claims-16384x43000-without-pixels") + bytes(40 << 10), HUGE("16384x43000")),
    "image PNM of two bytes": (regression("pnm-p6-alone"), EMPTY("0x0")),
    "image PGM of no rows": (regression("pgm-0-rows"), EMPTY("1x0")),
    "image OS/2 BMP claiming 16384x0": (regression("bmp-os2-16384x0"), EMPTY("16384x0")),
    "image PGM header claiming 256x256": (regression("pgm-header-claims-256x256"),
                                          CUT_SHORT("256x256", 65551, 15)),
    "image TGA header alone": (regression("tga-header-alone"), CUT_SHORT("128x128", 65554, 18)),
    "image TGA cut after 4 of 16384 pixels": (regression("tga-cut-after-4-of-16384-pixels"),
                                              CUT_SHORT("128x128", 65554, 34)),
    "image TGA header claiming 16384x16384 in 16 KiB": (harness.tga(16384, 16384, pixels=bytes(16 << 10)),
                                                        CUT_SHORT("16384x16384", (1 << 30) + 18, (16 << 10) + 18)),
    "image BMP header claiming 16384x16384 in 12 KiB": (regression("bmp-header-claims-16384x16384-in-12-kib"),
                                                        CUT_SHORT("16384x16384", (1 << 30) + 54, 12342)),
    "image PPM header claiming 16384x16384 in 12 KiB": (regression("ppm-header-claims-16384x16384-in-12-kib"),
                                                        CUT_SHORT("16384x16384", 3 * (1 << 28) + 19, 12307)),
    "image BMP cut in its last row": (harness.convert("BMP3")[:-400], CUT_SHORT("256x256", 196662, 196262)),
    "image BMP whose indices pass its palette's end": (regression("bmp-4-bit-indices-past-a-2-colour-palette"),
                                                       PALETTE(2)),
    "image PNG whose indices pass its palette's end": (regression("png-8-bit-indices-past-a-3-colour-palette"),
                                                       PALETTE(3)),
    "image BMP of 16 colours": (harness.convert("-colors", "16", "-type", "Palette", "BMP3"), []),
    "image BMP of 2 colours": (harness.convert("-monochrome", "BMP3"), []),
    "image PNG of 5 colours, interlaced": (harness.convert("-colors", "5", "-interlace", "PNG", "png8"), []),
    "image PNG whose pixel stream uses a distance code deflate leaves undefined": (
        regression("png-distance-code-30-copies-unwritten-bytes"),
        IMAGE("its compressed pixels are corrupt: invalid distance code")),
    "image GIF cut short": (harness.convert("gif")[:500], CUT("")),
    "image GIF, 400x300 frame amid a 1200x1000 screen": (
        subprocess.run(["convert", "-size", "400x300", "gradient:red-blue", "+dither", "-colors", "64", "-page",
                        "1200x1000+400+350", "gif:-"], capture_output=True, check=True).stdout, []),
    "image GIF, 8x8 frame on a 16384x16384 screen": (
        regression("gif-8x8-frame-on-16384x16384-screen"),
        IMAGE("decoding it would take a block of 1024 MiB, out of proportion to a file of 48 bytes")),
    # A valid 16-bit RGBA PNG of 16384x16384 is refused by its header alone;
    # the rows stay out, as they take seconds to compress.
    "image PNG of 16384x16384 at 16 bits a channel": (
        harness.png(16384, 16384, [], 16),
        IMAGE("16384x16384 pixels at 16 bits a channel inflate to more than the decoder takes, 2 GiB; "
              "save it at 8 bits")),
}


class Run(harness.TestCase):
    maxDiff = None  # sanitizer reports in full

    def start(self, setup=None, display=True, wrapper=(), env=None, **kw):
        """Runs the viewer on a staged directory; setup is a case's."""
        files = dict({"image": setup} if isinstance(setup, bytes) else setup or {})
        change, nobody = files.pop("change", None), files.pop("nobody", False)
        d = self.stage(**files)
        if change:
            change(d)
        env = dict(SANITIZER_ENV, **(env or {}))
        if SANITIZED or wrapper:
            env["VIEWER_KEEP_LOADED"] = "1"  # see preload.c
        command, preload = kw.pop("command", None) or [*wrapper, os.path.realpath(VIEWER)], True
        if nobody and os.geteuid() == 0:
            # Everything the unprivileged run needs is copied where it can read it.
            os.chmod(d, 0o755)
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", shutil.copy(VIEWER, d)]
            preload = shutil.copy(harness.PRELOAD_LIB, d)
            env["LSAN_OPTIONS"] = env["LSAN_OPTIONS"].replace(SUPPRESSIONS, shutil.copy(SUPPRESSIONS, d))
            # A home of its own, as a user has: Mesa keeps its shader cache
            # there, and says so on standard error when it cannot.
            home = os.path.join(d, "home")
            os.mkdir(home)
            shutil.chown(home, "nobody", "nogroup")
            env.update(HOME=home, XDG_CACHE_HOME=os.path.join(home, ".cache"))
        return self.viewer(d, display=display, env=env, command=command, preload=preload, **kw)


class Faults(Run):
    def test_bad_inputs(self):
        for name, (setup, expected) in CASES.items():
            with self.subTest(name):
                viewer = self.start(setup, fake_time=CLOCK)
                try:
                    self.check_run(viewer, setup, expected)
                finally:
                    viewer.kill()  # at once, should the case fail

    def check_run(self, viewer, setup, expected):
        viewer.wait_window(3)
        # Every message was flushed, whole, before the first frames.
        early = viewer.stdout()
        self.assertBlocks(early, expected)
        viewer.more_frames(3)  # the frame loop goes on
        # The pictures are checked by the other runs: this one looks for memory errors.
        picture = viewer.steady() if not expected and not SANITIZED else None
        viewer.escape()
        self.assertEqual(viewer.wait(60), (0, early, ""))
        if picture:
            image = setup if isinstance(setup, bytes) else setup.get("image") or SHIPPED_PNG
            self.assertFrontShows(picture, harness.pillow_texels(image), CLOCK)

    def assertBlocks(self, out, expected):
        """Standard output is the expected blocks, each (kind, pattern)."""
        blocks = harness.message_blocks(out)
        self.assertEqual([kind for kind, _ in blocks], [kind for kind, _ in expected], out)
        for (kind, text), (_, pattern) in zip(blocks, expected):
            self.assertRegex(text, r"\A(?:%s)\Z" % pattern, kind)

    def test_refusing_an_image_costs_no_more_than_a_normal_start(self):
        def cost(image):
            """Seconds to the third frame, and the peak resident MiB then."""
            start = time.time()
            viewer = self.start(image)
            viewer.wait_window(3)
            seconds = time.time() - start
            with open("/proc/%d/status" % viewer.proc.pid) as f:
                peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:")) / 1024
            viewer.escape()
            self.assertEqual(viewer.wait(60)[0], 0)
            return seconds, peak

        normal = cost(SHIPPED_PNG)
        for name in ("image BMP header claiming 16384x16384 in 12 KiB",
                     "image PPM header claiming 16384x16384 in 12 KiB",
                     "image TGA header claiming 16384x16384 in 16 KiB",
                     "image TGA of 123 bytes claiming 34 million pixels",
                     "image BMP rows top first, header claiming 16384x43000", "image PNG chunk claiming 2 GiB",
                     "image GIF, 8x8 frame on a 16384x16384 screen", "image PNG of 16384x16384 at 16 bits a channel"):
            with self.subTest(name):
                seconds, peak = cost(CASES[name][0])
                print("%s: %+.2f s, %+.1f MiB against the shipped image"
                      % (name, seconds - normal[0], peak - normal[1]))
                self.assertLess(seconds, normal[0] + 1)
                self.assertLess(peak, normal[1] + 64)

    def test_every_format_shows_the_same_picture(self):
        frames = {}
        for name, image in {"PNG": SHIPPED_PNG, **SAME_PICTURE}.items():
            # A fixed clock: the same light, so the same picture.
            viewer = self.start(image, fake_time=1.0)
            viewer.wait_window(3)
            frames[name] = viewer.grab()
            viewer.escape()
            self.assertEqual(viewer.wait(60), (0, "", ""), name)
        for name in SAME_PICTURE:
            self.assertTrue(frames[name] == frames["PNG"], "the %s image shows another picture" % name)

    def test_start_up_failures(self):
        # Each line names the step that failed, then the windowing library's
        # reason, which its version may word otherwise; a failing GL loader
        # has no reason of its own to give, and none is left over from the
        # windowing library's start. Without Mesa's override llvmpipe offers
        # 4.5, which the line names, with the command that asks for 4.6; the
        # Mesa version is as its packager gives it (Debian 13: 25.0.7-2+deb13u1).
        offered = ("; this display's GL offers OpenGL 4.5 core at most (4.5 (Core Profile) Mesa ", r"[0-9][^ ,]*",
                   ", llvmpipe (", r"[^\n]*", "); Mesa's override asks it for 4.6: MESA_GL_VERSION_OVERRIDE=4.6 "
                   "MESA_GLSL_VERSION_OVERRIDE=460 viewer")
        # Through the command users type, the advice ends in the command as
        # typed, an argument the shell would split quoted.
        prefix = harness.install(self.addCleanup)
        odd = harness.stage(os.path.join(prefix, "it's a scene"))
        typed = offered[:-1] + (offered[-1] + " -- '%s'" % odd.replace("'", "'\\''"),)
        for name, kw, step, reason, advice in (
                ("no display", {"display": None}, "initialise GLFW",
                 "X11: The DISPLAY environment variable is missing", r"[^\n]*"),
                ("no 4.6 core context", {"gl_override": False},
                 "create a 1280x720 window with an OpenGL 4.6 core context", "GLX: Failed to create context",
                 r": GLXBadFBConfig" + "".join(p if i % 2 else re.escape(p) for i, p in enumerate(offered))),
                ("no 4.6 core context, through the command",
                 {"gl_override": False, "command": [os.path.join(prefix, "bin", "viewer"), "--", odd]},
                 "create a 1280x720 window with an OpenGL 4.6 core context", "GLX: Failed to create context",
                 r": GLXBadFBConfig" + "".join(p if i % 2 else re.escape(p) for i, p in enumerate(typed))),
                ("GL loader failing", {"env": {"VIEWER_FAIL_GL_LOADER": "1"}}, "load the OpenGL 4.6 entry points",
                 None, None)):
            with self.subTest(name):
                status, out, err = self.start(**kw).wait(60)
                self.assertEqual((status, out), (1, ""))
                line = "viewer: cannot " + step
                if reason is None:
                    self.assertEqual(err, line + "\n")
                else:
                    self.assertRegex(err, r"\A%s: %s%s\n\Z" % (re.escape(line), re.escape(reason), advice))

    def test_x_server_going_away(self):
        with harness.Xvfb() as own:
            viewer = self.start(display=own.display)
            viewer.wait_window(3)
            own.proc.kill()
            status, out, err = viewer.wait(30)
        self.assertEqual(out, "")
        # Xlib notices the lost connection and exits with one of its two
        # reports, by whether its read or write failed as a broken connection
        # or with another error; unless the viewer was writing to it at that
        # moment: then the write's SIGPIPE ends it first.
        display = re.escape(own.display)
        xlib = (r"X connection to %s broken \(explicit kill or server shutdown\)\.\r\n|XIO:  fatal IO error \d+ "
                r"\([^\n]*\) on X server \"%s\"\r\n      after \d+ requests \(\d+ known processed\) with \d+ events "
                r"remaining\.\r\n") % (display, display)
        if status == -signal.SIGPIPE:
            return
        self.assertEqual(status, 1)
        if harness.DRIVER == "zink" and not re.fullmatch(xlib, err):
            # Unless Xlib sees the loss first, zink's swapchain does; the next
            # swap then fails with an X error, which Xlib reports as it exits.
            self.assertRegex(err, r"\A(MESA: error: zink: [^\n]*\n)+X Error of failed request:  GLXBadCurrentWindow\n"
                                  r"(  [^\n]*\n)*  Minor opcode of failed request:  11 \(X_GLXSwapBuffers\)\n"
                                  r"(  [^\n]*\n)*\Z")
        else:
            self.assertRegex(err, r"\A(?:%s)\Z" % xlib)


class Memcheck(Run):
    def test_normal_run_has_no_error_in_the_programs_code(self):
        report = os.path.join(self.stage(), "valgrind.xml")
        wrapper = ["valgrind", "--xml=yes", "--xml-file=" + report, "--leak-check=full", "--num-callers=50"]
        # No rasteriser threads: valgrind runs one thread at a time anyway.
        viewer = self.start(wrapper=wrapper, env={"LP_NUM_THREADS": "0"})
        viewer.wait_window(3, timeout=300)
        # Held until the end: a frame takes long under valgrind.
        viewer.x("xdotool", "windowfocus", "--sync", viewer.window, "keydown", "Escape")
        self.addCleanup(viewer.x, "xdotool", "keyup", "Escape")
        self.assertEqual(viewer.wait(120), (0, "", ""))
        root = ET.parse(report).getroot()
        self.assertEqual([s.findtext("state") for s in root.iter("status")], ["RUNNING", "FINISHED"])
        # An error is the program's when its innermost frame past valgrind's
        # own replacements (malloc, memcpy) lies in the viewer: where it read,
        # wrote or allocated, or, for a library's bad access, where the block
        # came from. Errors wholly inside the driver, X or ld.so are theirs.
        ours = []
        for error in root.iter("error"):
            for stack in error.iter("stack"):
                objs = [f.findtext("obj") or "" for f in stack.iter("frame")]
                first = next((o for o in objs if "/vgpreload_" not in o), "")
                if first == os.path.realpath(VIEWER):
                    calls = " < ".join(f.findtext("fn") or "?" for f in stack.iter("frame"))
                    ours.append("%s: %s" % (error.findtext("kind"), calls))
        self.assertEqual(ours, [])


def slope(points):
    """The least-squares slope of (x, y) points."""
    mx, my = (sum(c) / len(points) for c in zip(*points))
    return sum((x - mx) * (y - my) for x, y in points) / sum((x - mx) ** 2 for x, _ in points)


class Soak(Run):
    def test_memory_stays_flat_and_frames_keep_coming(self):
        seconds = float(os.environ.get("SOAK_SECONDS", 30))
        warm_up = max(10.0, seconds / 10)
        viewer = self.start()
        viewer.wait_window(3)
        samples = []  # (seconds into the run, resident KiB), one a second
        start = time.time()
        while time.time() - start < seconds:
            self.assertIsNone(viewer.proc.poll(), viewer.stderr())
            with open("/proc/%d/status" % viewer.proc.pid) as f:
                rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
            samples.append((time.time() - start, rss))
            time.sleep(1)
        settled = [s for s in samples if s[0] >= warm_up]
        growth = max(s[1] for s in settled) - settled[0][1]
        # The allocator's bytes in use at each frame after the warm-up,
        # fitted against the frame's number: a block kept every frame shows
        # as its size, where resident memory hides it in the heap's free
        # pages for minutes.
        frames = [e for e in viewer.events() if e[0] == "frame"]
        heap = [(i, e[3]) for i, e in enumerate(frames) if e[1] >= frames[0][1] + warm_up * 1e9]
        per_frame = slope(heap)
        recent = sum(1 for e in frames if e[1] >= frames[-1][1] - 2e9)
        print("soak: %d s, %d frames; resident %.1f MiB after %d s of warm-up, %.1f MiB at the end, largest growth "
              "%+.2f MiB; the heap %+.1f bytes a frame; %d frames in the last 2 s"
              % (seconds, len(frames), settled[0][1] / 1024, warm_up, samples[-1][1] / 1024, growth / 1024,
                 per_frame, recent))
        self.assertLess(growth, 1024, "resident memory grew by %d KiB" % growth)
        self.assertLess(abs(per_frame), 8, "the heap grows by %.1f bytes a frame" % per_frame)
        self.assertGreater(recent, 0, "no frame presented at the end")
        viewer.escape()
        self.assertEqual(viewer.wait(60), (0, "", ""))


class Leftovers(harness.TestCase):
    """A test ended from outside, as CTest ends one at its timeout (SIGKILL
    to the test's process) or a person does (SIGTERM), leaves no process:
    here a test holding a run of viewer --watch on Xvfb (hold_watch)."""

    def test_a_test_ended_from_outside_leaves_nothing(self):
        for sig in (signal.SIGKILL, signal.SIGTERM):
            with self.subTest(signal.Signals(sig).name):
                # Its files, the installed tree among them, go with the directory.
                scratch = self.stage()
                ready = os.path.join(scratch, "ready")
                held = subprocess.Popen([sys.executable, __file__, "--hold-watch", ready], stdin=subprocess.PIPE,
                                        env=dict(os.environ, TMPDIR=scratch))
                self.addCleanup(held.stdin.close)
                self.addCleanup(held.kill)
                self.assertTrue(harness.poll(lambda: os.path.exists(ready) or held.poll() is not None, 120),
                                "the watch did not show its window")
                token = harness.pathlib.Path(ready).read_text()
                self.addCleanup(harness.poll, lambda token=token: harness.end(token), 30)
                names = sorted(harness.marked(token).values())
                self.assertTrue({"Xvfb", "viewer"} <= set(names), names)
                held.send_signal(sig)
                held.wait(10)
                self.assertTrue(harness.poll(lambda: not harness.marked(token), 30), harness.marked(token))


def hold_watch(ready):
    """A test's process as it runs viewer --watch on its own Xvfb: it writes
    its token to `ready` once the window shows, then waits to be ended."""
    token = harness.guard()
    server = harness.Xvfb()
    prefix = harness.install(lambda *a: None)
    directory = harness.stage()
    watch = harness.Viewer(server.display, directory, command=[prefix + "/bin/viewer", "--watch", directory])
    watch.wait_window(2)
    harness.pathlib.Path(ready + ".new").write_text(token)
    os.rename(ready + ".new", ready)
    select.select([sys.stdin], [], [], 120)
    watch.dispose()
    server.stop()


if __name__ == "__main__" and sys.argv[1:2] == ["--hold-watch"]:
    hold_watch(sys.argv[2])
elif __name__ == "__main__":
    harness.main(sys.argv[:1] + [a for a in sys.argv[1:] if a != "sanitized"])
