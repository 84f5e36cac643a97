"""Drives the built viewer on a private X server for the end-to-end tests.

The tests get their paths from the environment CTest sets: VIEWER (the
binary), SOURCE_DIR (the repository, for the shader files and test.png),
FAKE_TIME_LIB (a preload that fixes the clock) and WM_CLOSE (sends a window
manager's close request). VIEWER_GL_DRIVER picks the GL the viewer gets:
llvmpipe (the default), raised to 4.6 by Mesa's override, or zink on the
lavapipe Vulkan rasteriser, a genuine 4.6 core profile with no override.
"""
import atexit
import os
import shutil
import signal
import subprocess
import tempfile
import time

VIEWER = os.environ.get("VIEWER", "build/viewer")
SOURCE_DIR = os.environ.get("SOURCE_DIR", ".")
FAKE_TIME_LIB = os.environ.get("FAKE_TIME_LIB", "")
WM_CLOSE = os.environ.get("WM_CLOSE", "")

GL_OVERRIDE = {"MESA_GL_VERSION_OVERRIDE": "4.6", "MESA_GLSL_VERSION_OVERRIDE": "460"}
# zink must be loaded as a DRI driver of its own: named only as the back end
# of the software DRI driver (GALLIUM_DRIVER alone), it gives a 4.6 context
# whose frames never reach the X window.
ZINK = {"LIBGL_ALWAYS_SOFTWARE": "1", "GALLIUM_DRIVER": "zink", "MESA_LOADER_DRIVER_OVERRIDE": "zink"}
DRIVERS = {"llvmpipe": GL_OVERRIDE, "zink": ZINK}
DRIVER = os.environ.get("VIEWER_GL_DRIVER", "llvmpipe")


class Xvfb:
    """A private 1280x720x24 X server on a free display, for one test."""

    def __init__(self):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            # -noreset: a server that resets when its last client leaves
            # turns away a viewer that connects meanwhile.
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x720x24", "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number:
            self.proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def runtime_dir():
    """A private directory for the session's sockets, made once per process."""
    global RUNTIME_DIR
    if RUNTIME_DIR is None:
        RUNTIME_DIR = tempfile.mkdtemp(prefix="viewer-runtime-")
        atexit.register(shutil.rmtree, RUNTIME_DIR, True)
    return RUNTIME_DIR


RUNTIME_DIR = None


def stage(directory=None, vertex=None, fragment=None, image=None):
    """Lays out a working directory as the viewer expects it.

    Each of vertex, fragment and image is None for the shipped file, bytes
    for a file with that content, or False to leave the file out.
    """
    directory = directory or tempfile.mkdtemp(prefix="viewer-")
    os.makedirs(os.path.join(directory, "Shaders"), exist_ok=True)
    for name, content in (("Shaders/OG_V.glsl", vertex), ("Shaders/OG_F.glsl", fragment), ("test.png", image)):
        path = os.path.join(directory, name)
        if content is None:
            shutil.copyfile(os.path.join(SOURCE_DIR, name), path)
        elif content is not False:
            with open(path, "wb") as f:
                f.write(content)
    return directory


class Viewer:
    """One run of the viewer, its standard output and error kept in files."""

    def __init__(self, display, cwd, fake_time=None, gl_override=True, extra_env=None, command=None,
                 driver=None):
        """gl_override=False gives the viewer a GL without 4.6: llvmpipe as
        it is, whatever the driver."""
        env = dict(os.environ)
        for key in list(GL_OVERRIDE) + list(ZINK):
            env.pop(key, None)
        if display is None:
            env.pop("DISPLAY", None)
        else:
            env["DISPLAY"] = display
        if gl_override:
            env.update(DRIVERS[driver or DRIVER])
        if "XDG_RUNTIME_DIR" not in env:
            # Under zink, Mesa's Vulkan side looks for a Wayland socket there
            # and libwayland prints an error when the variable is unset, as it
            # never is in a desktop session.
            env["XDG_RUNTIME_DIR"] = runtime_dir()
        if fake_time is not None:
            env["LD_PRELOAD"] = FAKE_TIME_LIB
            env["FAKE_GLFW_TIME"] = repr(float(fake_time))
        env.update(extra_env or {})
        self.display = display
        self.env = env
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command or [os.path.abspath(VIEWER)], cwd=cwd, env=env,
                                     stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.err)
        self.window = None

    def _x(self, *args, **kw):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True, **kw)

    def wait_window(self, timeout=30):
        """Waits until the viewer's window is mapped; returns its id."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self._x("xdotool", "search", "--onlyvisible", "--name", "^title$").stdout.split()
            if found:
                self.window = found[0]
                return self.window
            if self.proc.poll() is not None:
                raise AssertionError("viewer exited with %s before its window showed" % self.proc.returncode)
            time.sleep(0.1)
        raise AssertionError("the viewer's window did not appear")

    def grab(self):
        """Reads the window's current picture: (width, height, RGB bytes)."""
        ppm = subprocess.run(["import", "-window", self.window, "-depth", "8", "ppm:-"], env=self.env,
                             capture_output=True, check=True).stdout
        return parse_ppm(ppm)

    def settle(self, seconds=2.0):
        """Gives the viewer time to present a few frames."""
        time.sleep(seconds)

    def escape(self):
        # Held over a few frames: the viewer polls the key state once a frame,
        # so a press and release between two polls would go unseen.
        self._x("xdotool", "windowfocus", "--sync", self.window, "keydown", "Escape",
                "sleep", "0.3", "keyup", "Escape", check=True)

    def close(self):
        self._x(WM_CLOSE, self.window, check=True)

    def wait(self, timeout=20):
        """Waits for the exit; returns (status, stdout, stderr)."""
        try:
            status = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
            raise AssertionError("the viewer did not exit within %s s" % timeout)
        return status, self.stdout(), self.stderr()

    def stdout(self):
        return self._read(self.out)

    def stderr(self):
        return self._read(self.err)

    def _read(self, f):
        f.seek(0)
        return f.read().decode(errors="replace")

    def __del__(self):
        self.out.close()
        self.err.close()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def steady(viewer):
    """The first complete frame: with a fixed clock, one that stops changing."""
    previous, deadline = None, time.time() + 60
    while time.time() < deadline:
        grab = viewer.grab()
        if grab[2].strip(b"\0") and grab == previous:
            return grab
        previous = grab
        time.sleep(0.2)
    raise AssertionError("no steady picture within 60 s")


def parse_ppm(data):
    """Parses a binary 8-bit PPM (P6) into (width, height, RGB bytes)."""
    fields = []
    pos = 2
    assert data[:2] == b"P6", "not a binary PPM"
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(int(data[start:pos]))
    width, height, maxval = fields
    assert maxval == 255
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    assert len(pixels) == width * height * 3
    return width, height, pixels


def pixel(frame, x, y):
    """The (r, g, b) at column x and row y, rows counted from the top."""
    width, _, pixels = frame
    i = (y * width + x) * 3
    return tuple(pixels[i:i + 3])
