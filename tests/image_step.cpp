// Runs the viewer's image step, as the fuzz target does (no GL), on each file
// named and prints its outcome, one line a file: the viewer's line for an
// image not shown ("failed to load test.png: REASON"), or "loaded WIDTH
// HEIGHT FORMAT SWIZZLE HEX": the GL format and swizzle the
// upload would hand over, and the decoded bytes in hex, bottom row first.
// "--largest=N" makes the GL's largest texture N for the files after it
// (16384 until then, as in the fuzz target). Driven by test_image_step.py.
#define STB_IMAGE_IMPLEMENTATION
#include "image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static GLint largest = 16384;

static GLint largestTexture()
{
    return largest;
}

static const char* name(GLint value)
{
    switch (value) {
    case GL_RED:
        return "RED";
    case GL_GREEN:
        return "GREEN";
    case GL_BLUE:
        return "BLUE";
    case GL_ALPHA:
        return "ALPHA";
    case GL_ONE:
        return "ONE";
    case GL_ZERO:
        return "ZERO";
    case GL_RG:
        return "RG";
    case GL_RGB:
        return "RGB";
    case GL_RGBA:
        return "RGBA";
    }
    return "OTHER";
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], "--largest=", 10) == 0) {
            largest = GLint(std::atol(argv[i] + 10));
            continue;
        }
        Image image = loadImage(argv[i], largestTexture);
        if (!image.pixels) {
            std::printf("%s\n", failureLine(image).c_str());
            continue;
        }
        std::printf("loaded %d %d %s ", image.width, image.height, name(GLint(image.format)));
        for (int c = 0; c < 4; c++)
            std::printf("%s%s", image.swizzle ? name(image.swizzle[c]) : "-", c < 3 ? "," : " ");
        std::size_t bytes
            = std::size_t(image.width) * std::size_t(image.height) * std::size_t(image.channels);
        for (std::size_t at = 0; at < bytes; at++)
            std::printf("%02x", image.pixels[at]);
        std::printf("\n");
        stbi_image_free(image.pixels);
    }
    return 0;
}
