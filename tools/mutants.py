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
TESTS = ["shader_class", "image_regressions", "images", "viewer_lifecycle", "scene", "faults", "soak",
         "gl_call_order", "same_picture", "memcheck"]
TARGETS = ["viewer", "preload", "wm_close", "shader_probe", "image_probe", "fuzz_replay"]

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
        "src/main.cpp", "<< image.failure << std::endl;", '<< image.failure << "\\n";'),
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
