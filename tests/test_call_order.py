"""The viewer's GL calls, recorded with apitrace, against the exact order of
start-up, of every frame and of shut-down, with the values they carry."""
import glob
import math
import os
import re
import struct
import subprocess
import unittest

import harness

WRAPPER = (glob.glob("/usr/lib/*/apitrace/wrappers/glxtrace.so") + [None])[0]
CLOCK = 2.5  # seconds, as the fixed clock reports them

# Object names are Mesa's: a fresh context hands them out from 1.
STARTUP = """\
glCreateShader(type = GL_VERTEX_SHADER) = 1
glShaderSource(shader = 1, count = 1, string = &SOURCE, length = NULL)
glCompileShader(shader = 1)
glGetShaderiv(shader = 1, pname = GL_COMPILE_STATUS, params = &1)
glCreateShader(type = GL_FRAGMENT_SHADER) = 2
glShaderSource(shader = 2, count = 1, string = &SOURCE, length = NULL)
glCompileShader(shader = 2)
glGetShaderiv(shader = 2, pname = GL_COMPILE_STATUS, params = &1)
glCreateProgram() = 3
glAttachShader(program = 3, shader = 1)
glAttachShader(program = 3, shader = 2)
glLinkProgram(program = 3)
glGetProgramiv(program = 3, pname = GL_LINK_STATUS, params = &1)
glDeleteShader(shader = 1)
glDeleteShader(shader = 2)
glUseProgram(program = 3)
glGenVertexArrays(n = 1, arrays = &1)
glGenBuffers(n = 1, buffers = &1)
glBindVertexArray(array = 1)
glBindBuffer(target = GL_ARRAY_BUFFER, buffer = 1)
glBufferData(target = GL_ARRAY_BUFFER, size = 1152, data = blob(1152), usage = GL_STATIC_DRAW)
glVertexAttribPointer(index = 0, size = 3, type = GL_FLOAT, normalized = GL_FALSE, stride = 32, pointer = NULL)
glEnableVertexAttribArray(index = 0)
glVertexAttribPointer(index = 1, size = 2, type = GL_FLOAT, normalized = GL_FALSE, stride = 32, pointer = 0xc)
glEnableVertexAttribArray(index = 1)
glVertexAttribPointer(index = 2, size = 3, type = GL_FLOAT, normalized = GL_FALSE, stride = 32, pointer = 0x14)
glEnableVertexAttribArray(index = 2)
glGenVertexArrays(n = 1, arrays = &2)
glBindVertexArray(array = 2)
glBindBuffer(target = GL_ARRAY_BUFFER, buffer = 1)
glVertexAttribPointer(index = 0, size = 3, type = GL_FLOAT, normalized = GL_FALSE, stride = 32, pointer = NULL)
glEnableVertexAttribArray(index = 0)
glGenTextures(n = 1, textures = &1)
glBindTexture(target = GL_TEXTURE_2D, texture = 1)
glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_WRAP_S, param = GL_REPEAT)
glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_WRAP_T, param = GL_REPEAT)
glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_MIN_FILTER, param = GL_LINEAR)
glTexParameteri(target = GL_TEXTURE_2D, pname = GL_TEXTURE_MAG_FILTER, param = GL_LINEAR)
glTexImage2D(target = GL_TEXTURE_2D, level = 0, internalformat = GL_RGBA, width = {w}, height = {h}, \
border = 0, format = GL_RGBA, type = GL_UNSIGNED_BYTE, pixels = blob({bytes}))
glGenerateMipmap(target = GL_TEXTURE_2D)
glEnable(cap = GL_DEPTH_TEST)
glUseProgram(program = 3)
set "texture0": glUniform1i(v0 = 0)
"""
FRAME_START = """\
glClearColor(red = 0, green = 0, blue = 0, alpha = 1)
glClear(mask = GL_DEPTH_BUFFER_BIT | GL_COLOR_BUFFER_BIT)
glActiveTexture(texture = GL_TEXTURE0)
glBindTexture(target = GL_TEXTURE_2D, texture = 1)
glUseProgram(program = 3)
"""
CONTEXT = ("glXCreateContextAttribsARB{GLX_CONTEXT_MAJOR_VERSION_ARB, 4, GLX_CONTEXT_MINOR_VERSION_ARB, 6, "
           "GLX_CONTEXT_PROFILE_MASK_ARB, GLX_CONTEXT_CORE_PROFILE_BIT_ARB, 0}")
SHUTDOWN = ["glXMakeCurrent(NULL)", "glXDestroyWindow", "glXDestroyContext"]


def matrix(columns):
    return "{%s}" % ", ".join(repr(float(v)) for column in columns for v in column)


def set_mat4(name, columns):
    return 'set "%s": glUniformMatrix4fv(count = 1, transpose = GL_FALSE, value = %s)' % (name, matrix(columns))


def set_vec3(name, v):
    return 'set "%s": glUniform3fv(count = 1, value = %s)' % (name, matrix([v]))


def frame(t):
    f = 1 / math.tan(math.radians(45) / 2)
    near, far = 0.1, 100
    light = (math.cos(t), 0, math.sin(t))
    calls = FRAME_START.splitlines() + [
        set_mat4("view", harness.model((0, 0, -3), 0)),
        set_mat4("projection", [(f / 1.7777778, 0, 0, 0), (0, f, 0, 0),
                                (0, 0, -(far + near) / (far - near), -1),
                                (0, 0, -2 * far * near / (far - near), 0)]),
        set_vec3("lightPos", light), set_vec3("lightColor", (1, 1, 1)),
        set_vec3("objectColor", (0.2, 0.2, 0.2)), set_vec3("viewPos", (0, 0, -3)),
        "glBindVertexArray(array = 1)"]
    for i, position in enumerate(harness.CUBES):
        calls += [set_mat4("model", harness.model(position, 20 * i)),
                  "glDrawArrays(mode = GL_TRIANGLES, first = 0, count = 36)"]
    return calls + ["glUseProgram(program = 3)", "glBindVertexArray(array = 2)",
                    set_mat4("model", harness.model(light, 0)),
                    "glDrawArrays(mode = GL_TRIANGLES, first = 0, count = 36)"]


def normalise(dump):
    """The dump's calls, one string each: apitrace's own bookkeeping calls and
    GLX queries dropped, shader text and window-system handles left out, and
    each uniform write tied to the name whose location was looked up just
    before it."""
    calls = []
    for line in dump.splitlines():
        if not line.startswith("gl") or line.endswith("// fake") or line.startswith(("glXGet", "glXQuery")):
            continue
        if line.startswith("glXCreateContextAttribsARB"):
            line = "glXCreateContextAttribsARB" + re.search(r"attrib_list = (\{.*?\})", line).group(1) \
                + (" = NULL" if line.endswith(" = NULL") else "")
        elif line.startswith("glX"):
            line = line[:line.index("(")] + ("(NULL)" if "ctx = NULL" in line else "")
        line = re.sub(r'string = &"(?:[^"\\]|\\.)*"', "string = &SOURCE", line)
        lookup = calls and re.match(r'glGetUniformLocation\(.*name = "(\w+)"\) = (-?\d+)$', calls[-1])
        write = re.match(r"(glUniform\w+)\(location = (-?\d+), (.*)", line)
        if lookup and write and write.group(2) == lookup.group(2):
            calls[-1] = 'set "%s": %s(%s' % (lookup.group(1), write.group(1), write.group(3))
        else:
            calls.append(line)
    return calls


NUMBER = re.compile(r"(?<![\w.])-?\d+(?:\.\d*)?(?:e[-+]?\d+)?")


def same(actual, expected):
    """Equal calls, numbers within the dump's seven significant digits."""
    return NUMBER.sub("#", actual) == NUMBER.sub("#", expected) and all(
        math.isclose(float(a), float(b), rel_tol=1e-6, abs_tol=2e-6)
        for a, b in zip(NUMBER.findall(actual), NUMBER.findall(expected)))


@unittest.skipIf(WRAPPER is None, "apitrace's GLX wrapper is not installed")
class CallOrder(harness.TestCase):
    def traced_run(self, gl_override=True):
        """Runs the viewer under the tracer; returns (exit status, calls)."""
        cwd = self.stage()
        trace = os.path.join(cwd, "run.trace")
        # The preload comes first, so that GLFW's dlopen of GLX meets it
        # before the wrapper's.
        env = {"LD_PRELOAD": WRAPPER, "TRACE_FILE": trace, "VIEWER_GLX_THROUGH_LIBGL": "1"}
        viewer = self.viewer(cwd, fake_time=CLOCK, gl_override=gl_override, env=env)
        if gl_override:
            viewer.wait_window(3)
            viewer.escape()
        status = viewer.wait()[0]
        dump = subprocess.run(["apitrace", "dump", "--verbose", "--color=never", "--multiline=no",
                               "--call-nos=no", trace], capture_output=True, text=True, check=True, timeout=120).stdout
        return status, normalise(dump)

    def assertCalls(self, actual, expected, what):
        for i, (a, e) in enumerate(zip(actual, expected)):
            self.assertTrue(same(a, e), "%s, call %d:\n  got      %s\n  expected %s" % (what, i, a, e))
        self.assertEqual(len(actual), len(expected), (what, actual[len(expected):] or expected[len(actual):]))

    def test_startup_frames_and_shutdown(self):
        status, calls = self.traced_run()
        self.assertEqual(status, 0)
        # One context, asked for 4.6 core and nothing else.
        self.assertEqual([c for c in calls if c.startswith("glXCreateContext")], [CONTEXT])

        # The program's own part begins once the context is current and the loader has queried.
        first = calls.index(next(c for c in calls if c.startswith("glCreateShader")))
        current = max(i for i in range(first) if calls[i].startswith("glXMakeCurrent"))
        self.assertEqual(calls[current], "glXMakeCurrent")
        loader = calls[current + 1:first]
        self.assertTrue(all(c.startswith("glGet") for c in loader), loader)

        *frames, last = "\n".join(calls[first:]).split("\nglXSwapBuffers\n")
        width, height = struct.unpack(">II", harness.read("test.png")[16:24])
        startup = STARTUP.format(w=width, h=height, bytes=width * height * 4).splitlines()
        self.assertGreaterEqual(len(frames), 3, "too few frames presented")
        self.assertCalls(frames[0].splitlines()[:len(startup)], startup, "start-up")
        for number, calls_of_frame in enumerate(frames):
            lines = calls_of_frame.splitlines()[len(startup) if number == 0 else 0:]
            self.assertCalls(lines, frame(CLOCK), "frame %d" % number)
        # Escape ends the loop only after its frame was drawn and presented.
        self.assertEqual(last.splitlines(), SHUTDOWN)

    def test_no_gl_call_without_a_context(self):
        # The 4.6 context fails; the failure's line then asks hidden windows
        # for lower core versions, llvmpipe's 4.5 first, and reads the version
        # strings, with such a context current, never the 4.6 one (GLFW
        # clears each new context's buffer itself).
        status, calls = self.traced_run(gl_override=False)
        self.assertEqual(status, 1)
        probe = CONTEXT.replace("GLX_CONTEXT_MINOR_VERSION_ARB, 6", "GLX_CONTEXT_MINOR_VERSION_ARB, 5")
        self.assertNotEqual(probe, CONTEXT)
        self.assertEqual([c for c in calls if c.startswith("glXCreateContext")], [CONTEXT + " = NULL", probe])
        current, outside = False, []
        for call in calls:
            if call.startswith("glXMakeCurrent"):
                current = not call.endswith("(NULL)")
            elif not call.startswith("glX") and not current:
                outside.append(call)
        self.assertEqual(outside, [])
        self.assertFalse(current, "a context left current")
        self.assertIn('glGetString(name = GL_RENDERER) = "llvmpipe', "\n".join(calls))


if __name__ == "__main__":
    harness.main()
