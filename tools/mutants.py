#!/usr/bin/env python3
"""Tests the tests: plants one mistake at a time in a copy of the committed
tree, rebuilds, and runs the CTest tests (not the platform, package and
sanitizer runs) until one fails. Prints, for each mistake, the test that
killed it, or that it survived; exits 1 if any survived.
Usage: mutants.py [NAME ...]   (run from anywhere; builds in a temporary copy)
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time

SOURCE = pathlib.Path(__file__).resolve().parent.parent
# Quickest first: a mistake is reported with the first test that fails.
# MUTANTS_TESTS=a,b runs only those: the launcher's and the check's mistakes
# pass every test of the viewer itself.
TESTS = ["shader_class", "image_regressions", "images", "examples", "python_choice", "viewer_lifecycle", "shots",
         "scene", "faults", "soak", "gl_call_order", "same_picture", "memcheck", "authoring", "leftovers"]
TESTS = os.environ.get("MUTANTS_TESTS", ",".join(TESTS)).split(",")
TARGETS = ["viewer", "launch", "viewer-check", "viewer_install_files", "preload", "wm_close", "shader_probe",
           "image_probe", "fuzz_replay"]

SEPARATOR_LINE = ('<< infoLog << "\\n -- --------------------------------------------------- -- "\n'
                  "                  << std::endl;")
LOOP_END = "        glfwSwapBuffers(window);\n"
# name: (file, text, what replaces it)
MUTANTS = {
    "a compile message printed twice": (
        "src/shader.h", 'checkCompileErrors(vertex, "VERTEX");',
        'checkCompileErrors(vertex, "VERTEX");\n        checkCompileErrors(vertex, "VERTEX");'),
    "a link message printed twice": (
        "src/shader.h", 'checkCompileErrors(programId, "PROGRAM");',
        'checkCompileErrors(programId, "PROGRAM");\n        checkCompileErrors(programId, "PROGRAM");'),
    "the read line printed twice": (
        "src/shader.h", 'std::cout << "ERROR::SHADER::FILE_NOT_SUCCESSFULLY_READ: " << e.what() << std::endl;',
        'std::cout << "ERROR::SHADER::FILE_NOT_SUCCESSFULLY_READ: " << e.what() << std::endl;\n'
        '            std::cout << "ERROR::SHADER::FILE_NOT_SUCCESSFULLY_READ: " << e.what() << std::endl;'),
    "a fragment message under the vertex tag": (
        "src/shader.h", 'checkCompileErrors(fragment, "FRAGMENT");', 'checkCompileErrors(fragment, "VERTEX");'),
    "no display reported as the window's failure": (
        "src/main.cpp", 'return fail("cannot initialise GLFW");',
        'return fail("cannot create a 1280x720 window with an OpenGL 4.6 core context");'),
    "the image line left unflushed": (
        "src/main.cpp", "std::cout << failureLine(image) << std::endl;",
        'std::cout << failureLine(image) << "\\n";'),
    "shader messages left unflushed": (
        "src/shader.h", SEPARATOR_LINE, SEPARATOR_LINE.replace("std::endl", '"\\n"')),
    "grey read from the green channel": (
        "src/image.h", "greySwizzle[] = { GL_RED, GL_RED, GL_RED, GL_ONE }",
        "greySwizzle[] = { GL_GREEN, GL_GREEN, GL_GREEN, GL_ONE }"),
    "alpha taken for grey": (
        "src/image.h", "greyAlphaSwizzle[] = { GL_RED, GL_RED, GL_RED, GL_GREEN }",
        "greyAlphaSwizzle[] = { GL_GREEN, GL_GREEN, GL_GREEN, GL_RED }"),
    "grey's alpha dropped": (
        "src/image.h", "greyAlphaSwizzle[] = { GL_RED, GL_RED, GL_RED, GL_GREEN }",
        "greyAlphaSwizzle[] = { GL_RED, GL_RED, GL_RED, GL_ONE }"),
    "grey uploaded in a format core GL rejects": (
        "src/image.h", "image.format = GL_RED;", "image.format = 0x1909; // GL_LUMINANCE, not in core"),
    "a wide image's upload rejected": (
        "src/image.h", "glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height",
        "glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width + (image.width > 8192), image.height"),
    "64 bytes a frame kept for ever": (
        "src/main.cpp", LOOP_END, LOOP_END + "        static std::vector<char*> kept;\n"
        "        kept.push_back(static_cast<char*>(std::memset(new char[64], 1, 64)));\n"),
    "viewPos no longer read by the shipped shaders": (
        "Shaders/OG_V.glsl", "toEye = -viewPos - FragPos;", "toEye = vec3(0.0, 0.0, 3.0) - FragPos;"),
    "the unpack alignment set only for RGB": (
        "src/image.h", "if (image.channels != 4)", "if (image.channels == 3)"),
    "a 16-bit PNM sample's low byte kept": (
        "src/image.h", "std::uint32_t(p[0] << 8 | p[1])", "std::uint32_t(p[1])"),
    "a file shorter than its pixels taken as whole": (
        "src/image.h", "    if (least <= in.size)\n        return \"\";",
        "    if (least || true)\n        return \"\";"),
    # What the launcher and its preloaded library add (tests/test_shots.py), and the failed start's line.
    "clock: a sequence's frames one step late": (
        'src/launch_preload.c', 'at + (double)written * step',
        'at + (double)(written + 1) * step'),
    'clock: --at not held on a plain run': (
        'src/launch_preload.c', 'return holding ? at',
        'return shot ? at'),
    'readback: rows bottom first': (
        'src/launch_preload.c', 'rgba + (size_t)(HEIGHT - 1 - y) * WIDTH * 4',
        'rgba + (size_t)y * WIDTH * 4'),
    'readback: red and blue swapped': (
        'src/launch_preload.c', '#define GL_RGBA 0x1908',
        '#define GL_RGBA 0x80E1'),
    "PNG: an empty chunk's sum restarted": (
        'src/launch_preload.c', '    if (length) /* an empty body, given as NULL, would restart the sum */\n',
        ''),
    'rounding: no slack': (
        'src/launch_preload.c', 'SLACK = 1e-6',
        'SLACK = 0'),
    'rounding: the last step left out': (
        'src/launch_preload.c', 'floor((until - at) / step + SLACK) + 1',
        'ceil((until - at) / step - SLACK)'),
    'fps: slowest is the fastest': (
        'src/launch_preload.c', '1e3 * times[count - 1]',
        '1e3 * times[0]'),
    'fps: frames timed from the first swap': (
        'src/launch_preload.c', '    last = t;\n}',
        '}'),
    "fps: a stall's empty seconds left out": (
        'src/launch_preload.c', 'while (t > start + 1) {', 'if (t > start + 1) {'),
    "fps: a second's frames counted twice": (
        'src/launch_preload.c', 'frames in 1 s: median %.2f ms, slowest %.2f ms\\n", count,',
        'frames in 1 s: median %.2f ms, slowest %.2f ms\\n", 2 * count,'),
    "failure line: Mesa's command where it is not Mesa": (
        'src/main.cpp', 'gl.find("Mesa") != std::string::npos',
        'gl.find("Mesa") == std::string::npos'),
    'failure line: lowest version first': (
        'src/main.cpp', '{ { 4, 5 }, { 4, 4 }',
        '{ { 3, 2 }, { 4, 4 }'),
    'notify: on success instead of failure': (
        'packaging/viewer.in', '  if [ "$status" -ne 0 ]; then\n    if [ -s',
        '  if [ "$status" -eq 0 ]; then\n    if [ -s'),
    'a bad FILE found only after the window': (
        'src/launch_preload.c', '        writable(name);\n',
        '        (void)writable;\n'),
    # --watch (the launcher and its library), --new, and the scene check.
    "watch: a rename over the file not seen": (
        "src/launch_preload.c", "SAVES = IN_CLOSE_WRITE | IN_MOVED_TO,", "SAVES = IN_CLOSE_WRITE,"),
    "watch: Shaders/ not watched": (
        "src/launch_preload.c", '    shaders_dir = inotify_add_watch(watcher, "Shaders", WATCHED);\n    signal',
        "    shaders_dir = -1;\n    signal"),
    "watch: a Shaders/ that comes later not watched": (
        "src/launch_preload.c", '        shaders_dir = inotify_add_watch(watcher, "Shaders", WATCHED);\n        for',
        "        for"),
    "watch: Shaders/'s files taken for the scene directory's": (
        "src/launch_preload.c", 'event->wd == shaders_dir ? "Shaders/"', 'event->wd != shaders_dir ? "Shaders/"'),
    "watch: a shader read while the other is deleted": (
        "src/launch_preload.c", "return any && !waiting;", "return any;"),
    "watch: a file back after a delete still waited for": (
        "src/launch_preload.c", "stat(scene_files[i].name, &file) != 0);", "stat(scene_files[i].name, &file) == 0);"),
    "watch: a file read again every frame after its save": (
        "src/launch_preload.c", "saved[i] &= scene_files[i].rebuild != rebuild;",
        "saved[i] &= scene_files[i].rebuild == rebuild;"),
    "watch: the image read on a fragment shader's save": (
        "src/launch_preload.c", '{ "Shaders/OG_F.glsl", SHADERS }', '{ "Shaders/OG_F.glsl", IMAGE }'),
    "watch: the reload's line names no directory": (
        "src/launch_preload.c", '"viewer: %s/%s changed: reloaded\\n", watched,',
        '"viewer: %s%s changed: reloaded\\n", "",'),
    "watch: Ctrl-C ends it by the signal": ("src/launch_preload.c", "    signal(SIGINT, interrupted);\n", ""),
    "watch: the library not asked to watch": (
        "packaging/viewer.in", '${watched:+"VIEWER_LAUNCH_WATCH=$watched"} "$program"', '"$program"'),
    "watch: the last good program kept after a failed link": (
        "src/launch_rebuild.cpp", "    glUseProgram(0);\n}", "}"),
    "watch: the new shaders not attached": (
        "src/launch_rebuild.cpp", "glAttachShader(program, shaders[i]);", "glAttachShader(made, shaders[i]);"),
    "watch: the old shaders left attached": (
        "src/launch_rebuild.cpp", "glDetachShader(program, shaders[i]);", "glDetachShader(made, shaders[i]);"),
    "watch: the viewer's program not found": (
        "src/launch_rebuild.cpp", "&& !glIsProgram(program))", "&& glIsProgram(program))"),
    "watch: the Shader's program taken for the viewer's": (
        "src/launch_rebuild.cpp", "GLuint made = lastMade;", "GLuint made = program;"),
    "watch: a failed image leaves the last one": (
        "src/launch_rebuild.cpp", "for (GLint level = 0; largest", "for (GLint level = 1; largest"),
    "watch: a grey image's swizzle kept": (
        "src/launch_rebuild.cpp", "    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, identity);\n", ""),
    "watch: the image line not printed": (
        "src/launch_rebuild.cpp", "std::cout << failureLine(image) << std::endl;", "(void)failureLine;"),
    "new: the example's image copied as a link": (
        "packaging/viewer.in", 'cp -L "$dir/test.png" "$target/"', 'cp -P "$dir/test.png" "$target/"'),
    "new: a non-empty directory taken": ("packaging/viewer.in", '[ -z "$(ls -A "$target")" ]', "true"),
    "check: no version override on llvmpipe": (
        "src/check.cpp", "if (software && !std::getenv", "if (!software && !std::getenv"),
    "check: a uniform the viewer never sets let through": (
        "src/check.cpp", "        if (!known)\n", "        if (!known && false)\n"),
    "check: a uniform's type not compared": (
        "src/check.cpp", "else if (static_cast<GLenum>(got[0]) != known->type)", "else if (false)"),
    "check: a uniform named in the other stage's file": (
        "src/check.cpp", "if (!wrong.empty() && inVertex)\n            problem(scene, scene.vertexFile + wrong);",
        "if (!wrong.empty() && inVertex)\n            problem(scene, scene.fragmentFile + wrong);"),
    "check: location 3 taken as fed": ("src/check.cpp", "if (got[1] > 2)", "if (got[1] > 3)"),
    "check: every input held to location 0's type": (
        "src/check.cpp", "!= inputs[got[1]].type)", "!= inputs[0].type)"),
    "check: the compile log's line number dropped": (
        "src/check.cpp", 'std::string where = file + (line ? ":" + std::to_string(line) : "") + ": ";',
        'std::string where = file + ": ";'),
    "check: the link failure after a compile failure reported too": (
        "src/check.cpp", "else if (!scene.problems)\n            logLines(", "else\n            logLines("),
    "check: the image's reason without the viewer's words": (
        "src/check.cpp", "problem(scene, failureLine(image));", "problem(scene, image.failure);"),
    "check: problems found and status 0": ("src/check.cpp", "return scene.problems ? 1 : 0;", "return 0;"),
    "check: known mistakes not looked up": (
        "src/check.cpp", "if (applies && (!*mistake.stage", "if (applies && false && (!*mistake.stage"),
    "check: a row for one stage applied to the other": (
        "src/check.cpp", "(!*mistake.stage || stage == mistake.stage)", "(!*mistake.stage || stage != mistake.stage)"),
    "check: a missing semicolon blamed on the next statement": (
        "src/check.cpp", "if (mistake.blame == Blame::CodeBefore && line >= 1",
        "if (false && mistake.blame == Blame::CodeBefore && line >= 1"),
    "check: a statement unfinished before the last line blamed on the last": (
        "src/check.cpp", "line >= 1 && line <= source.size()\n", "line >= 1 && line < source.size()\n"),
    "check: the driver's column counted from 0": (
        "src/check.cpp", "substr(0, column > 0 ? column - 1 : 0)", "substr(0, column)"),
    "check: a comment line taken for the statement before": (
        "src/check.cpp", 'return at != std::string::npos && line.compare(at, 2, "//") != 0;',
        "return at != std::string::npos;"),
    "check: the driver's consequences of an explained mistake kept": (
        "src/check.cpp", "|| (line && line == explainedAt))", "|| false)"),
    "check: every error after a missing #version kept": (
        "src/check.cpp", "explainedAt = known->blame == Blame::NoVersion ? std::string::npos : line;",
        "explainedAt = line;"),
    "check: a missing #version not seen": (
        "src/check.cpp", 'bool unversioned = stage != "PROGRAM" && !versioned(source);',
        'bool unversioned = stage == "" && !versioned(source);'),
    "check: the learner's line not rewritten": (
        "src/check.cpp", "if (*mistake.from && line >= 1", "if (false && line >= 1"),
    "check: a warning called an error": (
        "src/check.cpp", 'parts[1].str().find("warning") != std::string::npos', "false"),
    "check: no colour written let through": (
        "src/check.cpp", 'if (!writes(scene.program, ""))', "if (false)"),
    "check: gl_FragDepth taken for a colour": (
        "src/check.cpp", 'wanted.empty() ? std::strncmp(name, "gl_", 3) != 0', "wanted.empty() ? true"),
    "check: gl_Position not looked for": (
        "src/check.cpp", 'if (linked && !writes(vertexOnly, "gl_Position"))', "if (false)"),
    "launcher: the advice without the command as typed": (
        "packaging/viewer.in", 'line="${line%viewer}$typed"', 'line="$line"'),
    "launcher: an argument the shell would split left unquoted": (
        "packaging/viewer.in", "typed=\"$typed '$(printf '%s' \"$arg\" | sed \"s/'/'\\\\\\\\''/g\")'\"",
        "typed=\"$typed $arg\""),
    "launcher: the viewer's standard error not filtered": (
        "packaging/viewer.in", '  exec 2>"$errors"\n', '  exec 3>"$errors"\n'),
    "viewer: no sticky keys, a tap between two polls missed": (
        "src/main.cpp", "glfwSetInputMode(window, GLFW_STICKY_KEYS, GLFW_TRUE);", ""),
    # The harness's reaper, which ends what a test started however the test ends.
    "tests: no reaper started": (
        "tests/harness.py", '    subprocess.Popen([sys.executable, os.path.abspath(__file__), "--reap", token]',
        '    0 and subprocess.Popen([sys.executable, os.path.abspath(__file__), "--reap", token]'),
    "tests: the reaper kills nothing": ("tests/harness.py", "poll(lambda: end(token), 30)", "poll(lambda: True, 30)"),
    "tests: the reaper looks for another run's mark": (
        "tests/harness.py", 'mark, found = ("%s=%s" % (RUN_MARK, token)).encode(), {}',
        'mark, found = ("%s=%s." % (RUN_MARK, token)).encode(), {}'),
    "no turn to Debian's Python when the first lacks Pillow": (
        "CMakeLists.txt", "if(VIEWER_NO_PILLOW AND NOT DEFINED CACHE{Python3_EXECUTABLE} AND EXISTS /usr/bin/python3)",
        "if(FALSE)"),
    "a named Python without Pillow replaced": (
        "CMakeLists.txt", "VIEWER_NO_PILLOW AND NOT DEFINED CACHE{Python3_EXECUTABLE} AND", "VIEWER_NO_PILLOW AND"),
    "the tests still run with the Python without Pillow": (
        "CMakeLists.txt", "    set_property(TARGET Python3::Interpreter PROPERTY IMPORTED_LOCATION /usr/bin/python3)\n",
        ""),
    # The examples' shaders: a sign flipped, two vectors swapped, a uniform
    # misspelled (the #define keeps its uses compiling), so it reads 0.
    "phong: the light's direction reversed": (
        "examples/phong/Shaders/OG_F.glsl", "normalize(lightPos - FragPos)", "normalize(FragPos - lightPos)"),
    "phong: the eye at viewPos, not its opposite": (
        "examples/phong/Shaders/OG_F.glsl", "vec3 eye = -viewPos;", "vec3 eye = viewPos;"),
    "phong: the light reflected the wrong way": (
        "examples/phong/Shaders/OG_F.glsl", "reflect(-toLight, n)", "reflect(toLight, n)"),
    "phong: diffuse from the eye, not the light": (
        "examples/phong/Shaders/OG_F.glsl", "max(dot(n, toLight), 0.0)", "max(dot(n, toEye), 0.0)"),
    "phong: objectColor misspelled": (
        "examples/phong/Shaders/OG_F.glsl", "uniform vec3 objectColor;",
        "uniform vec3 objectColour;\n#define objectColor objectColour"),
    "phong: viewPos misspelled": (
        "examples/phong/Shaders/OG_F.glsl", "uniform vec3 viewPos;",
        "uniform vec3 viewPosition;\n#define viewPos viewPosition"),
    "blinn-phong: the halfway vector's eye reversed": (
        "examples/blinn-phong/Shaders/OG_F.glsl", "normalize(toLight + toEye)", "normalize(toLight - toEye)"),
    "blinn-phong: the halfway vector held to the eye, not the normal": (
        "examples/blinn-phong/Shaders/OG_F.glsl", "max(dot(n, halfway), 0.0)", "max(dot(toEye, halfway), 0.0)"),
    "blinn-phong: lightPos misspelled": (
        "examples/blinn-phong/Shaders/OG_F.glsl", "uniform vec3 lightPos;",
        "uniform vec3 lightPosition;\n#define lightPos lightPosition"),
    "toon: the spot where the highlight is weak": (
        "examples/toon/Shaders/OG_F.glsl", "specular > 0.5", "specular < 0.5"),
    "toon: bands rounded up": (
        "examples/toon/Shaders/OG_F.glsl", "floor(diffuse * BANDS)", "ceil(diffuse * BANDS)"),
    "toon: the light's direction reversed": (
        "examples/toon/Shaders/OG_F.glsl", "normalize(lightPos - FragPos)", "normalize(FragPos - lightPos)"),
    "toon: the bands and the spot swapped": (
        "examples/toon/Shaders/OG_F.glsl", "(objectColor + band) * surface + 0.5 * spot",
        "(objectColor + spot) * surface + 0.5 * band"),
    "toon: viewPos misspelled": (
        "examples/toon/Shaders/OG_F.glsl", "uniform vec3 viewPos;",
        "uniform vec3 viewPosition;\n#define viewPos viewPosition"),
    "gouraud: the eye at viewPos, not its opposite": (
        "examples/gouraud/Shaders/OG_V.glsl", "normalize(-viewPos - position)", "normalize(viewPos - position)"),
    "gouraud: facing the eye, not the light": (
        "examples/gouraud/Shaders/OG_V.glsl", "float facing = dot(n, toLight);", "float facing = dot(n, toEye);"),
    "gouraud: normals not turned with the cube": (
        "examples/gouraud/Shaders/OG_V.glsl", "normalize(mat3(model) * aNormal)", "normalize(aNormal)"),
    "gouraud: objectColor misspelled": (
        "examples/gouraud/Shaders/OG_V.glsl", "uniform vec3 objectColor;",
        "uniform vec3 objectColour;\n#define objectColor objectColour"),
    "normals: mapped onto -0.5..0.5": (
        "examples/normals/Shaders/OG_F.glsl", "normalize(Normal) * 0.5 + 0.5", "normalize(Normal) * 0.5 - 0.5"),
    "normals: turned by the inverse rotation": (
        "examples/normals/Shaders/OG_V.glsl", "Normal = mat3(model) * aNormal;", "Normal = aNormal * mat3(model);"),
    "normals: lightColor misspelled": (
        "examples/normals/Shaders/OG_F.glsl", "uniform vec3 lightColor;",
        "uniform vec3 lightColour;\n#define lightColor lightColour"),
    "unlit: red and blue swapped": (
        "examples/unlit/Shaders/OG_F.glsl", "texture(texture0, TexCoord).rgb", "texture(texture0, TexCoord).bgr"),
    "unlit: the texture coordinate's axes swapped": (
        "examples/unlit/Shaders/OG_V.glsl", "TexCoord = aTexCoord;", "TexCoord = aTexCoord.yx;"),
    "unlit: lightColor misspelled": (
        "examples/unlit/Shaders/OG_F.glsl", "uniform vec3 lightColor;",
        "uniform vec3 lightColour;\n#define lightColor lightColour"),
}
HEADERS = "#include <cstring>\n#include <vector>\n"


def run(*command, cwd, log):
    return subprocess.run(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT).returncode


def main():
    names = sys.argv[1:] or list(MUTANTS)
    unknown = [n for n in names if n not in MUTANTS]
    if unknown:
        sys.exit("mutants.py: no such mistake: %s" % ", ".join(unknown))
    work = pathlib.Path(tempfile.mkdtemp(prefix="viewer-mutants-"))
    tree, build = work / "tree", work / "build"
    subprocess.run(["git", "clone", "-q", str(SOURCE), str(tree)], check=True)
    log = open(work / "log", "w")
    if run("cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
           "-DPython3_EXECUTABLE=/usr/bin/python3", cwd=work, log=log):
        sys.exit("mutants.py: cmake failed, see %s" % (work / "log"))
    survived = 0
    for name in names:
        path, old, new = MUTANTS[name]
        source = (tree / path).read_text()
        assert source.count(old) == 1, "%s: %r is not in %s once" % (name, old, path)
        mutated = source.replace(old, new)
        if path == "src/main.cpp":
            mutated = HEADERS + mutated
        (tree / path).write_text(mutated)
        started = time.time()
        try:
            if run("cmake", "--build", build, "-j%d" % os.cpu_count(), "--target", *TARGETS, cwd=work, log=log):
                killed = "the build"
            else:
                killed = next((t for t in TESTS if run("ctest", "--test-dir", build, "-R", "^%s$" % t,
                                                       "--output-on-failure", cwd=work, log=log)), None)
        finally:
            (tree / path).write_text(source)
        survived += killed is None
        print("%-50s %s (%.0f s)" % (name, "killed by " + killed if killed else "SURVIVED", time.time() - started),
              flush=True)
    print("%d of %d mistakes killed; build and test output in %s" % (len(names) - survived, len(names), work / "log"))
    sys.exit(1 if survived else 0)


if __name__ == "__main__":
    main()
