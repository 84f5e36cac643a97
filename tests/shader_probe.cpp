// Builds one Shader from the two paths given, in a hidden window's 4.6 core
// context, so the tests see exactly what the class prints on standard output.
// With --interface it then lists the program's active attributes and
// uniforms; with --setters it checks the uniform writes. Both report on
// standard error, leaving standard output to the class alone.
#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include "probe_context.h"

#include <glm/glm.hpp>

#include "shader.h"

#include <cstdio>
#include <cstring>

namespace {

void listInterface(GLuint program)
{
    GLint count = 0, size = 0;
    GLchar name[256];
    GLenum type = 0;
    glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
    for (GLuint i = 0; i < GLuint(count); i++) {
        glGetActiveAttrib(program, i, sizeof name, nullptr, &size, &type, name);
        std::fprintf(stderr, "attribute %d 0x%04x\n", glGetAttribLocation(program, name), type);
    }
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    for (GLuint i = 0; i < GLuint(count); i++) {
        glGetActiveUniform(program, i, sizeof name, nullptr, &size, &type, name);
        std::fprintf(stderr, "uniform %s 0x%04x\n", name, type);
    }
}

// The uniforms of the tests' own shader pair, as read back from GL.
struct Values {
    GLint unit;
    GLfloat colour[3];
    GLfloat matrix[16];
};

Values readBack(GLuint program)
{
    Values v {};
    glGetUniformiv(program, glGetUniformLocation(program, "unit"), &v.unit);
    glGetUniformfv(program, glGetUniformLocation(program, "colour"), v.colour);
    glGetUniformfv(program, glGetUniformLocation(program, "matrix"), v.matrix);
    return v;
}

// What is wrong with the setters, or nullptr.
const char* checkSetters(const Shader& shader, GLuint program)
{
    // Distinct entries, so a transposed or partial write shows.
    glm::mat4 matrix;
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 4; r++)
            matrix[c][r] = static_cast<float>(1 + c * 4 + r);
    const glm::vec3 colour(0.25f, 0.5f, 0.75f);
    shader.setInt("unit", 3);
    shader.setVec3("colour", colour);
    shader.setMat4("matrix", matrix);
    Values written = readBack(program);
    if (written.unit != 3)
        return "setInt did not write";
    if (std::memcmp(written.colour, &colour[0], sizeof written.colour) != 0)
        return "setVec3 did not write";
    if (std::memcmp(written.matrix, &matrix[0][0], sizeof written.matrix) != 0)
        return "setMat4 did not write the columns in order";

    shader.setInt("absent", 7);
    shader.setVec3("absent", glm::vec3(9.0f));
    shader.setMat4("absent", glm::mat4(9.0f));
    Values after = readBack(program);
    if (std::memcmp(&after, &written, sizeof after) != 0)
        return "a write to an absent name changed a uniform";
    return glGetError() == GL_NO_ERROR ? nullptr : "a write raised a GL error";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: shader_probe VERTEX FRAGMENT [--interface] [--setters]\n");
        return 2;
    }
    GLFWwindow* window = probeContext();
    if (!window) {
        std::fprintf(stderr, "shader_probe: no 4.6 core context\n");
        return 2;
    }

    Shader shader(argv[1], argv[2]);
    shader.use();
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    int status = 0;
    for (int i = 3; i < argc; i++) {
        const char* fault = nullptr;
        if (std::strcmp(argv[i], "--interface") == 0)
            listInterface(GLuint(program));
        else if (std::strcmp(argv[i], "--setters") == 0
            && (fault = checkSetters(shader, GLuint(program))))
            std::fprintf(stderr, "setters: %s\n", fault);
        status |= fault != nullptr;
    }
    glfwDestroyWindow(window);
    glfwTerminate();
    return status;
}
