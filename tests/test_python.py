"""Which Python the configure step gives the tests: one with Pillow, even
when the Python first on PATH has none (as pyenv's or conda's often has
not), or a stop with one line that names the Python tried and how to name
another. A Python without Pillow is Debian's with its site directories shut
off. Each row configures a fresh build directory.
Usage: test_python.py CMAKE"""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

CMAKE = sys.argv.pop(1) if len(sys.argv) > 1 else "cmake"
SOURCE_DIR = os.environ.get("SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class PythonChoice(unittest.TestCase):

    def configure(self, work, first_on_path, named):
        env = dict(os.environ, PATH=os.pathsep.join(filter(None, (first_on_path, os.environ["PATH"]))))
        build = os.path.join(work, "build")
        named = ["-DPython3_EXECUTABLE=" + named] if named else []
        return subprocess.run([CMAKE, "-S", SOURCE_DIR, "-B", build, *named], env=env, capture_output=True,
                              text=True, timeout=300), build

    def test_the_tests_python(self):
        work = tempfile.TemporaryDirectory(prefix="viewer-python-")
        self.addCleanup(work.cleanup)
        bare = pathlib.Path(work.name, "bin")
        bare.mkdir()
        (bare / "python3").write_text('#!/bin/sh\nexec /usr/bin/python3 -S "$@"\n')
        (bare / "python3").chmod(0o755)
        without = str(bare / "python3")
        # (what, first on PATH, named with -DPython3_EXECUTABLE, the Python the tests run with or None for a stop)
        table = [
            ("a Python without Pillow first on PATH", str(bare), None, "/usr/bin/python3"),
            ("a Python without Pillow named", str(bare), without, None),
            ("Debian's named", str(bare), "/usr/bin/python3", "/usr/bin/python3"),
        ]
        self.assertNotEqual(subprocess.run([without, "-c", "import PIL"], capture_output=True, timeout=60).returncode,
                            0)
        for i, (what, first, named, python) in enumerate(table):
            with self.subTest(what):
                run, build = self.configure(os.path.join(work.name, str(i)), first, named)
                if python is None:
                    self.assertNotEqual(run.returncode, 0)
                    said = [line for line in run.stderr.splitlines() if line.strip()]
                    # CMake's own heading, then the one line.
                    self.assertEqual(len(said), 2, run.stderr)
                    self.assertIn("No Pillow in %s:" % without, said[1])
                    self.assertIn("-DPython3_EXECUTABLE=", said[1])
                    print("%s: %s" % (what, said[1].strip()))
                    continue
                self.assertEqual(run.returncode, 0, run.stderr)
                ctest = os.path.join(os.path.dirname(CMAKE), "ctest")
                tests = subprocess.run([ctest, "--show-only=json-v1"], cwd=build, capture_output=True, text=True,
                                       check=True, timeout=300).stdout
                command = next(t["command"] for t in json.loads(tests)["tests"] if t["name"] == "images")
                self.assertEqual(command[0], python)
                pillow = subprocess.run([command[0], "-c", "import PIL"], capture_output=True, timeout=300)
                self.assertEqual(pillow.returncode, 0, pillow.stderr)
                print("%s: the images test runs with %s, which has Pillow" % (what, command[0]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
