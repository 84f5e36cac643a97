// Runs the viewer's image step on each file named, in a hidden window's 4.6
// core context, and reads back what a shader sampling the texture sees:
// exactly the texels, by texelFetch into a framebuffer of the image's size.
// For each file it writes to standard output the line "loaded W H" and then
// W x H RGBA bytes, top row first, or the line "refused REASON".
#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include "probe_context.h"

#define STB_IMAGE_IMPLEMENTATION
#include "image.h"

#include <cstdio>
#include <vector>

namespace {

// A triangle over the whole framebuffer, each fragment the texel under it.
const char* vertexSource = R"(#version 460 core
void main() { gl_Position = vec4(gl_VertexID == 1 ? 3.0 : -1.0, gl_VertexID == 2 ? 3.0 : -1.0, 0.0, 1.0); }
)";
const char* fragmentSource = R"(#version 460 core
uniform sampler2D image;
out vec4 texel;
void main() { texel = texelFetch(image, ivec2(gl_FragCoord.xy), 0); }
)";

GLuint compile(GLenum stage, const char* source)
{
    GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

// The unpack state GL starts with, as a fresh viewer has it: set again before
// each file, so that no file is uploaded in the state an earlier one left.
const struct {
    GLenum name;
    GLint value;
} freshUnpack[] = {
    { GL_UNPACK_ALIGNMENT, 4 },
    { GL_UNPACK_ROW_LENGTH, 0 },
    { GL_UNPACK_IMAGE_HEIGHT, 0 },
    { GL_UNPACK_SKIP_ROWS, 0 },
    { GL_UNPACK_SKIP_PIXELS, 0 },
    { GL_UNPACK_SKIP_IMAGES, 0 },
    { GL_UNPACK_SWAP_BYTES, GL_FALSE },
    { GL_UNPACK_LSB_FIRST, GL_FALSE },
};

GLint largestTexture()
{
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    return largest;
}

// The texture as the shader sees it, bottom row first.
std::vector<unsigned char> sampled(const Image& image)
{
    GLuint texture = 0, target = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    for (const auto& state : freshUnpack)
        glPixelStorei(state.name, state.value);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    uploadImage(image);

    glGenTextures(1, &target);
    glBindTexture(GL_TEXTURE_2D, target);
    glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, image.width, image.height);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
    glViewport(0, 0, image.width, image.height);
    glBindTexture(GL_TEXTURE_2D, texture);
    glDrawArrays(GL_TRIANGLES, 0, 3);

    std::vector<unsigned char> rgba(std::size_t(image.width) * std::size_t(image.height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &target);
    glDeleteTextures(1, &texture);
    return rgba;
}

} // namespace

int main(int argc, char** argv)
{
    GLFWwindow* window = probeContext();
    if (!window) {
        std::fprintf(stderr, "image_probe: no 4.6 core context\n");
        return 2;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, vertexSource));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragmentSource));
    glLinkProgram(program);
    glUseProgram(program);
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);

    int status = 0;
    for (int i = 1; i < argc; i++) {
        Image image = loadImage(argv[i], largestTexture);
        if (!image.pixels) {
            std::printf("refused %s\n", image.failure.c_str());
            continue;
        }
        std::vector<unsigned char> rgba = sampled(image);
        stbi_image_free(image.pixels);
        if (GLenum error = glGetError()) {
            std::fprintf(stderr, "image_probe: %s: GL error 0x%04x\n", argv[i], error);
            status = 1;
        }
        std::printf("loaded %d %d\n", image.width, image.height);
        std::size_t row = std::size_t(image.width) * 4;
        for (int y = image.height - 1; y >= 0; y--)
            std::fwrite(rgba.data() + std::size_t(y) * row, 1, row, stdout);
    }
    glfwDestroyWindow(window);
    glfwTerminate();
    return status;
}
