"""What tests, benchmark and generators share, imported as `harness`: runs of
the viewer on a private X server, its staged directory, image files. CTest
sets VIEWER, SOURCE_DIR, PRELOAD_LIB and WM_CLOSE; VIEWER_GL_DRIVER picks
llvmpipe (4.6 by Mesa's override, the default) or zink (a genuine 4.6).
"""
import atexit
import functools
import math
import os
import pathlib
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

SOURCE_DIR = os.environ.get("SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VIEWER = os.environ.get("VIEWER", "build/viewer")
PRELOAD_LIB = os.environ.get("PRELOAD_LIB", "")
WM_CLOSE = os.environ.get("WM_CLOSE", "")

GL_OVERRIDE = {"MESA_GL_VERSION_OVERRIDE": "4.6", "MESA_GLSL_VERSION_OVERRIDE": "460"}
# zink must be loaded as a DRI driver of its own: named only as the back end
# of the software DRI driver (GALLIUM_DRIVER alone), it gives a 4.6 context
# whose frames never reach the X window.
ZINK = {"LIBGL_ALWAYS_SOFTWARE": "1", "GALLIUM_DRIVER": "zink", "MESA_LOADER_DRIVER_OVERRIDE": "zink"}
DRIVERS = {"llvmpipe": GL_OVERRIDE, "zink": ZINK}
DRIVER = os.environ.get("VIEWER_GL_DRIVER", "llvmpipe")
# CTest's code for a test that could not run.
SKIPPED = 77
# What closes each of the viewer's shader and program messages.
SEPARATOR = " -- " + "-" * 51 + " -- "
# The first lines of the viewer's messages on standard output, by kind of block.
READ_LINE = "ERROR::SHADER::FILE_NOT_SUCCESSFULLY_READ: "
HEADERS = {"ERROR::SHADER_COMPILATION_ERROR of type: VERTEX": "VERTEX",
           "ERROR::SHADER_COMPILATION_ERROR of type: FRAGMENT": "FRAGMENT",
           "ERROR::PROGRAM_LINKING_ERROR of type: PROGRAM": "PROGRAM"}
IMAGE_LINE = "failed to load test.png"


def message_blocks(out):
    """Standard output as the list of its messages: ("read", what follows the
    line's fixed words), ("VERTEX" | "FRAGMENT" | "PROGRAM", log) for a
    compile or link block (header, the driver's log, separator), ("image",
    what follows "failed to load test.png"). Anything else, a log holding a
    line that starts a block, or a block left open fails."""
    blocks, lines = [], out.split("\n")
    assert lines.pop() == "", "standard output does not end with a line's end: %r" % out[-80:]
    while lines:
        line = lines.pop(0)
        if line.startswith(READ_LINE):
            blocks.append(("read", line[len(READ_LINE):]))
        elif line.startswith(IMAGE_LINE):
            blocks.append(("image", line[len(IMAGE_LINE):]))
        elif line in HEADERS:
            log = []
            while lines and not (lines[0].startswith((READ_LINE, IMAGE_LINE)) or lines[0] in HEADERS
                                 or lines[0] == SEPARATOR):
                log.append(lines.pop(0))
            assert lines and lines.pop(0) == SEPARATOR, "the %s block is not closed: %r" % (HEADERS[line], out)
            blocks.append((HEADERS[line], "\n".join(log)))
        else:
            raise AssertionError("stray text on standard output: %r in %r" % (line, out))
    return blocks


# The scene: cube i stands at CUBES[i], turned 20 i degrees about (1, 0.3, 0.5).
CUBES = [(0, 0, 0), (2, 5, -15), (-1.5, -2.2, -2.5), (-3.8, -2, -12.3), (2.4, -0.4, -3.5),
         (-1.7, 3, -7.5), (1.3, -2, -2.5), (1.5, 2, -2.5), (1.5, 0.2, -1.5), (-1.3, 1, -1.5)]


FOCAL = 1 / math.tan(math.radians(45) / 2)
ASPECT = 1.7777778
AMBIENT = 0.2  # objectColor, white light


def project(p):
    """Window column and row (from the top) of a world point: camera 3 units
    back on +z, 45 degree field of view, 16:9, 1280x720."""
    x, y, z = p[0], p[1], p[2] - 3
    return 640 * (1 + FOCAL / ASPECT * x / -z), 360 * (1 - FOCAL * y / -z)


def front_point(px, py):
    """The point (x, y) of cube 0's front face, z = 0.5, that the centre of
    window pixel (px, py) shows: the eye's ray through it, 2.5 units on."""
    return 2.5 * ((px + 0.5) / 640 - 1) * ASPECT / FOCAL, 2.5 * (1 - (py + 0.5) / 360) / FOCAL


def sample(texels, s, t):
    """What GL's linear filter gives at texture coordinate (s, t) of an image
    of texels (width, height, RGBA top row first) handed over bottom row
    first, repeated: four channels from 0 to 1."""
    width, height, data = texels
    x, y = s * width - 0.5, t * height - 0.5
    x0, y0 = math.floor(x), math.floor(y)
    fx, fy = x - x0, y - y0

    def texel(i, j):
        k = ((height - 1 - j % height) * width + i % width) * 4
        return data[k:k + 4]
    corners = ((texel(x0, y0), (1 - fx) * (1 - fy)), (texel(x0 + 1, y0), fx * (1 - fy)),
               (texel(x0, y0 + 1), (1 - fx) * fy), (texel(x0 + 1, y0 + 1), fx * fy))
    return [sum(c[k] * w for c, w in corners) / 255 for k in range(4)]


def lit_front(texels, clock, px, py):
    """The (r, g, b) the shipped shaders give window pixel (px, py) on cube
    0's front face, lit by the light at `clock`: ambient and diffuse on the
    surface, the highlight's 32nd power added, as the fragment shader does."""
    u, v = front_point(px, py)
    light = (math.cos(clock) - u, -v, math.sin(clock) - 0.5)
    eye = (-u, -v, 2.5)
    facing = light[2] / math.hypot(*light)  # the face's normal is +z
    shine = (2 * facing * eye[2] - sum(a * b for a, b in zip(eye, light)) / math.hypot(*light)) / math.hypot(*eye)
    shine = max(shine, 0) ** 32 if facing > 0 else 0
    surface = sample(texels, u + 0.5, v + 0.5)
    return tuple(round(255 * min(max((AMBIENT + max(facing, 0)) * c + 0.5 * shine, 0), 1)) for c in surface[:3])


def pillow_texels(data):
    """An image file's picture as the viewer is to show it, read by Pillow:
    (width, height, 8-bit RGBA top row first). Two readings differ from
    Pillow's own, each on purpose: a GIF's screen outside its first frame
    stays transparent black, as browsers show it, where Pillow fills it with
    the background colour; and a 16-bit TGA's alpha bit, on which readers
    differ (Pillow 9, on Debian 12, takes it for unused, Pillow 11, on Debian
    13, a set bit for transparent), is read here as its writers mean it, a
    set bit for opaque."""
    import io
    from PIL import Image  # only the image tests need Pillow
    with Image.open(io.BytesIO(data)) as image:
        if image.mode in ("I", "I;16", "I;16B"):
            grey = (round(v * 255 / 65535) for v in image.getdata())
            return image.width, image.height, bytes(c for g in grey for c in (g, g, g, 255))
        frame = image.tile[0][1] if image.tile else None
        rgba = image.convert("RGBA")
        if image.format == "TGA" and data[16] == 16 and data[17] & 0x0F == 1:
            rgba.putalpha(Image.frombytes("L", image.size, tga_alpha_bits(data)))
        if image.format == "GIF":
            left, top, right, bottom = frame
            for box in ((0, 0, rgba.width, top), (0, bottom, rgba.width, rgba.height), (0, 0, left, rgba.height),
                        (right, 0, rgba.width, rgba.height)):
                rgba.paste((0, 0, 0, 0), box)
        return image.width, image.height, rgba.tobytes()


def tga_alpha_bits(data):
    """A 16-bit TGA's alpha bits, raw or in runs, as 255 where set, top row first."""
    width, height = struct.unpack_from("<HH", data, 12)
    at, pixels = 18 + data[0], []
    while len(pixels) < width * height:
        count, repeat = 1, False
        if data[2] == 10:
            count, repeat = (data[at] & 0x7F) + 1, data[at] & 0x80
            at += 1
        pixels += [data[at + 1]] * count if repeat else data[at + 1:at + 2 * count:2]
        at += 2 if repeat else 2 * count
    rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
    return bytes(255 if p & 0x80 else 0 for row in (rows if data[17] & 0x20 else reversed(rows)) for p in row)


def model(position, degrees, axis=(1, 0.3, 0.5)):
    """A model matrix, by columns: translation times a rotation about the axis."""
    x, y, z = (a / math.sqrt(sum(b * b for b in axis)) for a in axis)
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    k = 1 - c
    return [(c + k * x * x, k * x * y + s * z, k * x * z - s * y, 0),
            (k * x * y - s * z, c + k * y * y, k * y * z + s * x, 0),
            (k * x * z + s * y, k * y * z - s * x, c + k * z * z, 0), (*position, 1)]


class Xvfb:
    """A private 1280x720x24 X server on a free display."""

    def __init__(self):
        read_fd, write_fd = os.pipe()
        # -noreset: a server that resets when its last client leaves turns
        # away a viewer that connects meanwhile.
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x720x24", "-nolisten",
                                      "tcp", "-noreset"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip() if select.select([f], [], [], 30)[0] else ""
        if not number:
            self.proc.kill()
            self.proc.wait(10)
            raise RuntimeError("Xvfb did not start within 30 s")
        self.display = ":" + number

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


@functools.cache
def runtime_dir():
    """A private directory for the session's sockets, made once per process."""
    directory = tempfile.mkdtemp(prefix="viewer-runtime-")
    atexit.register(shutil.rmtree, directory, True)
    return directory


def install(cleanup):
    """The build tree installed under a new prefix, which `cleanup` (a test's
    or a test class's addCleanup) removes; returns the prefix."""
    prefix = tempfile.mkdtemp(prefix="viewer-prefix-")
    cleanup(shutil.rmtree, prefix, True)
    subprocess.run(["cmake", "--install", os.environ["BUILD_DIR"], "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL, timeout=120)
    return prefix


def stage(directory=None, vertex=None, fragment=None, image=None):
    """Lays out a working directory for the viewer: each file is None for the
    shipped one, bytes for that content, or False to leave it out."""
    directory = directory or tempfile.mkdtemp(prefix="viewer-")
    os.makedirs(os.path.join(directory, "Shaders"), exist_ok=True)
    for name, content in (("Shaders/OG_V.glsl", vertex), ("Shaders/OG_F.glsl", fragment), ("test.png", image)):
        path = os.path.join(directory, name)
        if content is not False:
            pathlib.Path(path).write_bytes(read(name) if content is None else content)
    return directory


def read(path):
    """A file of the repository, as bytes."""
    return pathlib.Path(SOURCE_DIR, path).read_bytes()


class Viewer:
    """One run of the viewer (or of `command`), its standard output and error
    kept in files and its events in a frames file written by the preload."""

    def __init__(self, display, cwd, fake_time=None, gl_override=True, env=None, command=None, driver=None,
                 preload=True, frames_file=None):
        """gl_override=False: llvmpipe as it is, without 4.6. env is added
        last; its LD_PRELOAD goes after the preload library's."""
        env = dict(env or {})
        self.env = dict(os.environ)
        for key in list(GL_OVERRIDE) + list(ZINK) + ["LD_PRELOAD", "DISPLAY"]:
            self.env.pop(key, None)
        if display is not None:
            self.env["DISPLAY"] = display
        if gl_override:
            self.env.update(DRIVERS[driver or DRIVER])
        # Under zink, Mesa's Vulkan side looks for a Wayland socket there;
        # libwayland complains when it is unset, as it never is on a desktop.
        self.env.setdefault("XDG_RUNTIME_DIR", runtime_dir())
        if fake_time is not None:
            self.env["FAKE_GLFW_TIME"] = repr(float(fake_time))
        if frames_file is None:
            handle, frames_file = tempfile.mkstemp(prefix="viewer-frames-")
            os.close(handle)
            os.chmod(frames_file, 0o666)
        self.frames_file = frames_file
        self.env["VIEWER_FRAMES_FILE"] = self.frames_file
        # The events read so far and where the file's next line starts: a
        # run's log grows by a line a frame, and is polled many times a second.
        self.logged, self.log_at, self.frame_count = [], 0, 0
        preloads = [PRELOAD_LIB if preload is True else preload, env.pop("LD_PRELOAD", "")]
        self.env["LD_PRELOAD"] = ":".join(p for p in preloads if p)
        self.env.update(env)
        # Standard output through a pipe, read as the run goes: what was not
        # flushed is not there until the run ends.
        out, self.out = os.pipe()
        os.set_blocking(out, False)
        self.output, self.out_pipe = bytearray(), out
        self.err = tempfile.TemporaryFile()
        self.started = time.monotonic_ns()
        # A session of its own, so that a run is ended whole, wrappers and
        # chroots included. Standard input a pipe never written, as a
        # terminal is: a run that reads it waits.
        self.proc = subprocess.Popen(command or [os.path.abspath(VIEWER)], cwd=cwd, env=self.env,
                                     stdin=subprocess.PIPE, stdout=self.out, stderr=self.err,
                                     start_new_session=True)
        os.close(self.out)
        self.window = None

    def x(self, *args, **kw):
        """Runs an X client on the viewer's display, 30 s at most unless told."""
        kw.setdefault("timeout", 30)
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True, **kw)

    def events(self):
        """The preload's (event, monotonic ns, CPU ns, heap bytes in use)
        lines so far, read on from where the last call stopped; the list is
        the run's own, to be read and not changed."""
        with open(self.frames_file, "rb") as f:
            f.seek(self.log_at)
            data = f.read()
        whole = data[:data.rfind(b"\n") + 1]
        self.log_at += len(whole)
        for e, *rest in (line.split() for line in whole.decode().splitlines()):
            self.logged.append((e, *map(int, rest)))
            self.frame_count += e == "frame"
        return self.logged

    def frames(self):
        self.events()
        return self.frame_count

    def until(self, done, what, timeout=60):
        """Polls done() until it is true; fails if the viewer exits first."""
        if not poll(lambda: done() or self.proc.poll() is not None, timeout):
            raise AssertionError("%s: not within %s s" % (what, timeout))
        if not done():
            raise AssertionError("%s: the viewer exited with %s first:\n%s"
                                 % (what, self.proc.returncode, self.stderr()))

    def wait_frames(self, count, timeout=60):
        """Waits until `count` frames in all have been presented."""
        self.until(lambda: self.frames() >= count, "%d frames presented" % count, timeout)

    def more_frames(self, count=3, timeout=60):
        """Waits until `count` more frames are presented."""
        self.wait_frames(self.frames() + count, timeout)

    def wait_window(self, frames=0, timeout=60):
        """Waits until the viewer's window is mapped and `frames` frames are
        presented; returns the window's id."""
        def find():
            self.window = (self.x("xdotool", "search", "--onlyvisible", "--name", "^title$").stdout.split() + [None])[0]
            return self.window
        self.until(find, "the viewer's window", timeout)
        self.wait_frames(frames, timeout)
        return self.window

    def grab(self):
        """Reads the window's current picture: (width, height, RGB bytes)."""
        ppm = subprocess.run(["import", "-window", self.window, "-depth", "8", "ppm:-"], env=self.env,
                             capture_output=True, check=True, timeout=30).stdout
        return parse_ppm(ppm)

    def steady(self):
        """The first complete frame: with a fixed clock, one that stops changing."""
        previous, deadline = None, time.monotonic() + 60
        while time.monotonic() < deadline:
            grab = self.grab()
            if grab[2].strip(b"\0") and grab == previous:
                return grab
            previous = grab
            # Within the one deadline, not one of its own.
            self.more_frames(2, max(0, deadline - time.monotonic()))
        raise AssertionError("no steady picture within 60 s")

    def escape(self, keyboard=None):
        """Escape, held until the viewer has presented two more frames or
        ended: it polls the key once a frame, so a press and release between
        two polls would go unseen. keyboard: the display whose keyboard to
        press, for a nested desktop (default: the viewer's, window focused)."""
        env = dict(self.env, DISPLAY=keyboard) if keyboard else self.env
        focus = [] if keyboard else ["windowfocus", "--sync", self.window]
        subprocess.run(["xdotool", *focus, "keydown", "Escape"], env=env, check=True, timeout=30)
        count = self.frames() + 2
        poll(lambda: self.frames() >= count or self.proc.poll() is not None)
        subprocess.run(["xdotool", "keyup", "Escape"], env=env, check=True, timeout=30)

    def close(self):
        self.x(WM_CLOSE, self.window, check=True)

    def wait(self, timeout=60):
        """Waits for the exit, reading standard output meanwhile; returns
        (status, stdout, stderr)."""
        if not poll(lambda: self.read_output() is None or self.proc.poll() is not None, timeout):
            self.kill()
            raise AssertionError("the viewer did not exit within %s s" % timeout)
        return self.proc.wait(), self.stdout(), self.stderr()

    def read_output(self):
        """Reads what standard output holds now; None at its end."""
        while self.out_pipe is not None:
            try:
                data = os.read(self.out_pipe, 1 << 16)
            except BlockingIOError:
                return self.output
            if not data:
                os.close(self.out_pipe)
                self.out_pipe = None
            self.output += data
        return None

    def stdout_bytes(self):
        """Standard output so far (all of it once the run has ended)."""
        if self.proc.poll() is not None:
            poll(lambda: self.read_output() is None, 10)
        self.read_output()
        return bytes(self.output)

    def stdout(self):
        return self.stdout_bytes().decode(errors="replace")

    def stderr(self):
        self.err.seek(0)
        return self.err.read().decode(errors="replace")

    def kill(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(10)

    def dispose(self):
        """Kills the run if it still goes, and removes what it left."""
        self.kill()
        self.proc.stdin.close()
        self.stdout_bytes()
        self.err.close()
        pathlib.Path(self.frames_file).unlink(missing_ok=True)


def poll(condition, timeout=60):
    """Whether condition() turns true within timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


# Every process a test starts carries RUN_MARK=its run's token in its
# environment, so that what it leaves is found however the test ends: CTest
# ends a test at its timeout with SIGKILL, which no handler sees, and kills
# only the processes still linked to it by parent, not a server a shell left
# running; a person's kill reaches the test alone. A reaper started beside
# the test waits for it to end, by any means, then kills every marked process.
RUN_MARK = "VIEWER_TEST_RUN"


def guard():
    """Marks the processes this run starts from now on and starts their
    reaper; returns the run's token."""
    token = "%d.%s" % (os.getpid(), os.urandom(4).hex())
    os.environ[RUN_MARK] = token
    # The reaper holds the read end; only this process holds the write end
    # (Python's pipes are not inherited), which closes as it ends.
    read_fd, write_fd = os.pipe()
    env = {k: v for k, v in os.environ.items() if k != RUN_MARK}
    subprocess.Popen([sys.executable, os.path.abspath(__file__), "--reap", token], stdin=read_fd, env=env,
                     start_new_session=True)
    os.close(read_fd)
    guard.pipe = write_fd
    return token


def marked(token):
    """The processes that carry the run's token: {pid: name}."""
    mark, found = ("%s=%s" % (RUN_MARK, token)).encode(), {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if mark in f.read().split(b"\0"):
                    found[int(pid)] = pathlib.Path("/proc/%s/comm" % pid).read_text().strip()
        except OSError:  # gone meanwhile, or another user's
            pass
    return found


def end(token):
    """Kills every process that carries the run's token; whether none was left."""
    left = marked(token)
    for pid in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return not left


def reap(token):
    """The reaper: once the run's process has ended, kills what it marked."""
    sys.stdin.buffer.read()  # its end: the run's own deadline, CTest's timeout, bounds it
    poll(lambda: end(token), 30)


class TestCase(unittest.TestCase):
    """A test case with a private X server of its own."""

    @classmethod
    def setUpClass(cls):
        cls.server = Xvfb()
        cls.addClassCleanup(cls.server.stop)

    def stage(self, **files):
        """A staged working directory, removed when the test ends."""
        directory = stage(**files)
        self.addCleanup(shutil.rmtree, directory, True)
        return directory

    def viewer(self, cwd=None, display=True, **kw):
        """Starts the viewer in cwd (default: the shipped files), ended when
        the test ends."""
        viewer = Viewer(self.server.display if display is True else display, cwd or self.stage(), **kw)
        self.addCleanup(viewer.dispose)
        return viewer

    def assertFrontShows(self, frame, texels, clock, tolerance=3, shade=lit_front, where=None):
        """Cube 0's front face in `frame` carries `texels` as the shipped
        shaders light them at `clock` (or as shade(texels, clock, px, py)
        says): at a grid of its points, those where(px, py) keeps, every
        channel within `tolerance` levels."""
        points = [tuple(int(c) for c in project((u, v, 0.5))) for u in (-0.4, -0.25, -0.1, 0.05, 0.2, 0.35)
                  for v in (-0.4, -0.2, 0, 0.2, 0.4)]
        points = [p for p in points if where is None or where(*p)]
        wrong = [(p, pixel_at(frame, *p), shade(texels, clock, *p)) for p in points]
        wrong = [w for w in wrong if max(abs(a - b) for a, b in zip(w[1], w[2])) > tolerance]
        self.assertGreaterEqual(len(points), 10, "too few points of cube 0's front face in sight")
        self.assertEqual(wrong[:4], [], "%d of %d points of cube 0's front face: (window point, shown, expected)"
                         % (len(wrong), len(points)))

    def picture(self, cwd=None, out="", **kw):
        """A steady frame of a run that prints `out`, ends on Escape with 0 and writes no error."""
        viewer = self.viewer(cwd, **kw)
        viewer.wait_window()
        frame = viewer.steady()
        viewer.escape()
        self.assertEqual(viewer.wait(), (0, out, ""), kw.get("command"))
        return frame


def main(argv=None):
    """Runs the module's tests; a run in which any test was skipped ends with
    SKIPPED, so that CTest reports it as not run. What they start is ended
    with them, however they end (guard)."""
    guard()
    result = unittest.main(argv=argv, verbosity=2, exit=False).result
    sys.exit(1 if not result.wasSuccessful() else SKIPPED if result.skipped else 0)


def parse_ppm(data):
    """Parses ImageMagick's binary 8-bit PPM (P6) into (width, height, RGB bytes)."""
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    assert header, "not a binary 8-bit PPM"
    width, height = int(header.group(1)), int(header.group(2))
    pixels = data[header.end():]
    assert len(pixels) == width * height * 3
    return width, height, pixels


def pixel_at(frame, x, y):
    """The (r, g, b) at column x and row y of a frame, rows from the top."""
    width, _, pixels = frame
    i = (y * width + x) * 3
    return tuple(pixels[i:i + 3])


# The viewer's surface image, test.png: a 256x256 8-bit RGBA picture whose
# four quadrants have different colours (top left red, top right green,
# bottom left blue, bottom right yellow), with a white arrow pointing up, so
# that a flipped or mirrored face shows at a glance.
SIZE = 256
QUADRANTS = {(True, True): (220, 40, 40), (True, False): (40, 200, 60),  # (top, left) -> colour
             (False, True): (50, 80, 230), (False, False): (235, 210, 40)}


def pixel(x, y):
    """Colour of test.png's pixel x columns from the left, y rows from the top."""
    # Arrow: a triangle head over a shaft, centred, pointing at the top edge.
    cx = SIZE // 2
    in_head = 40 <= y < 110 and abs(x - cx) <= (y - 40) * 0.8
    in_shaft = 110 <= y < 216 and abs(x - cx) <= 14
    if in_head or in_shaft:
        return (255, 255, 255, 255)
    # A dark frame one texel wide keeps each face's edges visible.
    if x in (0, SIZE - 1) or y in (0, SIZE - 1):
        return (20, 20, 20, 255)
    return QUADRANTS[(y < SIZE // 2, x < SIZE // 2)] + (255,)


def png(width, height, rows, depth=8, colour_type=6, palette=b""):
    """A PNG of rows of channel values, or of texel(x, y) -> channel values
    (RGBA 8-bit by default), the same bytes on every run."""
    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)

    texel = rows if callable(rows) else None
    rows = ([c for x in range(width) for c in texel(x, y)] for y in range(height)) if texel else rows
    raw = b"".join(b"\0" + bytes(row) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + (chunk(b"PLTE", palette) if palette else b"")
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def png_chunks(path):
    """A PNG's chunks, {kind: the bodies of that kind joined}."""
    data = pathlib.Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "%s: not a PNG" % path
    chunks, pos = {}, 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks[kind] = chunks.get(kind, b"") + data[pos + 8:pos + 8 + length]
        pos += 12 + length
    return chunks


def read_png(path):
    """(width, height, rows of (r, g, b, a)) of an 8-bit RGB or RGBA PNG as
    png() writes it: not interlaced, no row filtered, no byte past its rows."""
    chunks = png_chunks(path)
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    assert depth == 8 and colour in (2, 6) and interlace == 0, "%s: not 8-bit RGB(A)" % path
    channels, raw = 4 if colour == 6 else 3, zlib.decompress(chunks[b"IDAT"])
    assert len(raw) == height * (width * channels + 1), "%s: %d bytes of rows, not %d" % (
        path, len(raw), height * (width * channels + 1))
    rows = [raw[y * (width * channels + 1):(y + 1) * (width * channels + 1)] for y in range(height)]
    assert all(row[0] == 0 for row in rows), "%s: filtered rows" % path
    return width, height, [[tuple(row[1 + x * channels:1 + (x + 1) * channels]) + (255,) * (4 - channels)
                            for x in range(width)] for row in rows]


def bmp(width, height, bits=24, pixels=b"", header=40, palette=b""):
    """A BMP with an uncompressed header of `header` bytes (12 for OS/2's,
    40 for Windows'); a negative height stores the rows top first."""
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    at = 14 + len(info) + len(palette)
    return b"BM" + struct.pack("<IHHI", at + len(pixels), 0, 0, at) + info + palette + pixels


def bmp_top_first(width, height, colour):
    """A 24-bit BMP of colour(x, y) -> (r, g, b[, a]), its rows stored top first."""
    rows = [b"".join(bytes(colour(x, y)[2::-1]) for x in range(width)) for y in range(height)]
    return bmp(width, -height, 24, b"".join(row + bytes(-len(row) % 4) for row in rows))


def tga(width, height, bits=32, image_type=2, pixels=b""):
    """A TGA header of a picture without colour map, then `pixels`."""
    return struct.pack("<BBBHHBHHHHBB", 0, 0, image_type, 0, 0, 0, 0, 0, width, height, bits, 8) + pixels


def tga_rle(width, height, texel):
    """A run-length TGA of 32-bit pixels texel(x, y) -> (r, g, b, a), stored
    bottom row first as its origin says (ImageMagick stores it top first)."""
    data = bytearray(tga(width, height, 32, 10))
    for y in reversed(range(height)):
        x = 0
        while x < width:
            run = 1
            while x + run < width and run < 128 and texel(x + run, y) == texel(x, y):
                run += 1
            r, g, b, a = texel(x, y)
            data += bytes((0x80 | (run - 1), b, g, r, a))
            x += run
    return bytes(data)


def pic(width, height, packets):
    """A Softimage PIC: its header, the channel packets (chained, 8 bits,
    encoding, channels) and then each row's data, packet by packet."""
    header = struct.pack(">I", 0x5380F634) + struct.pack(">f", 3.71) + b"seed".ljust(80, b"\0") + b"PICT"
    header += struct.pack(">HHfHH", width, height, 1.0, 3, 0)
    descriptors = b"".join(struct.pack("BBBB", i + 1 < len(packets), 8, kind, mask)
                           for i, (kind, mask, _) in enumerate(packets))
    rows = b"".join(row(y) for y in range(height) for _, _, row in packets)
    return header + descriptors + rows


def convert(*options):
    """test.png converted by ImageMagick; the last option names the format."""
    return subprocess.run(["convert", os.path.join(SOURCE_DIR, "test.png"), *options[:-1], options[-1] + ":-"],
                          capture_output=True, check=True, timeout=120).stdout


if __name__ == "__main__" and sys.argv[1:2] == ["--reap"]:
    reap(sys.argv[2])
