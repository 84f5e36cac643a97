"""The Shader class in a real 4.6 core context: what it prints, in which order
and format, and what its uniform writes do. Argument: the shader_probe binary."""
import os
import sys

import harness

PROBE = sys.argv.pop(1)

# A pair of the tests' own whose three uniforms all stay active.
VERTEX = b"""#version 460 core
layout (location = 0) in vec3 aPos;
uniform mat4 matrix;
void main() { gl_Position = matrix * vec4(aPos, 1.0); }
"""
FRAGMENT = b"""#version 460 core
out vec4 FragColor;
uniform sampler2D unit;
uniform vec3 colour;
void main() { FragColor = texture(unit, vec2(0.5)) * vec4(colour, 1.0); }
"""

# GL type enums of what the viewer binds by location and by name.
VEC2, VEC3, MAT4, SAMPLER_2D = 0x8B50, 0x8B51, 0x8B5C, 0x8B5E
ATTRIBUTES = {0: VEC3, 1: VEC2, 2: VEC3}
UNIFORMS = {"model": MAT4, "view": MAT4, "projection": MAT4, "lightPos": VEC3, "lightColor": VEC3,
            "objectColor": VEC3, "viewPos": VEC3, "texture0": SAMPLER_2D}


class ShaderClass(harness.TestCase):
    def probe(self, *options, vertex=VERTEX, fragment=FRAGMENT):
        """Builds a Shader from staged files; returns (status, stdout, stderr)."""
        cwd = self.stage(vertex=vertex, fragment=fragment)
        paths = [os.path.join(cwd, "Shaders", name) for name in ("OG_V.glsl", "OG_F.glsl")]
        return self.viewer(cwd, command=[PROBE, *paths, *options]).wait()

    def assertMessages(self, probed, expected, read=False):
        """A run that goes on (status 0) and prints the read line if `read`,
        then the blocks of the expected tags, each with a log, and nothing
        else (harness.message_blocks)."""
        status, out, _ = probed
        self.assertEqual(status, 0)
        blocks = harness.message_blocks(out)
        self.assertEqual([kind for kind, _ in blocks], ["read"] * read + expected, out)
        for kind, text in blocks:
            self.assertTrue(text.strip(), "the %s block carries no text" % kind)

    def test_missing_fragment_file(self):
        # Both files are opened before either is read, so the vertex source
        # is empty too and fails to compile, ahead of the fragment and link.
        self.assertMessages(self.probe(fragment=False), ["VERTEX", "FRAGMENT", "PROGRAM"], read=True)

    def test_compile_errors(self):
        broken = VERTEX.replace(b"gl_Position", b"gl_Positio")
        self.assertMessages(self.probe(vertex=broken), ["VERTEX", "PROGRAM"])
        broken = FRAGMENT.replace(b"FragColor =", b"FragColour =")
        self.assertMessages(self.probe(fragment=broken), ["FRAGMENT", "PROGRAM"])

    def test_link_error(self):
        # Both stages compile; the vertex stage only lacks its entry point.
        self.assertMessages(self.probe(vertex=VERTEX.replace(b"void main()", b"void notMain()")), ["PROGRAM"])

    def test_valid_pair_is_silent_and_setters_write_only_known_names(self):
        # The probe writes all three kinds, reads them back, then writes an
        # absent name with each setter and checks nothing changed.
        self.assertEqual(self.probe("--setters"), (0, "", ""))

    def test_shipped_sources_keep_the_contract(self):
        status, out, err = self.probe("--interface", vertex=None, fragment=None)
        self.assertEqual((status, out), (0, ""))
        attributes = [tuple(int(v, 0) for v in line.split()[1:]) for line in err.splitlines()
                      if line.startswith("attribute ")]
        uniforms = [line.split()[1:] for line in err.splitlines() if line.startswith("uniform ")]
        # Every input and uniform the program feeds is read, at its location
        # and of its type, and there are no others.
        self.assertEqual(dict(attributes), ATTRIBUTES)
        self.assertEqual({name: int(kind, 0) for name, kind in uniforms}, UNIFORMS)


if __name__ == "__main__":
    harness.main()
