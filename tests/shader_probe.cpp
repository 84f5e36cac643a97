// Builds one Shader from the two paths given, in a hidden window's 4.6 core
// context, so the tests see exactly what the class prints on standard output.
// With --interface it then lists the program's active attributes and
// uniforms; with --setters it checks the uniform writes. Both report on
// standard error, leaving standard output to the class alone.
#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include <glm/glm.hpp>

#include "shader.h"

#include <cstdio>
#include <cstring>

namespace {

GLuint currentProgram()
{
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    return static_cast<GLuint>(program);
}

void listInterface(GLuint program)
{
    GLint count = 0;
    GLchar name[256];
    GLint size = 0;
    GLenum type = 0;
    glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
    for (GLint i = 0; i < count; i++) {
        glGetActiveAttrib(
            program, static_cast<GLuint>(i), sizeof name, nullptr, &size, &type, name);
        std::fprintf(stderr, "attribute %d 0x%04x\n", glGetAttribLocation(program, name), type);
    }
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; i++) {
        glGetActiveUniform(
            program, static_cast<GLuint>(i), sizeof name, nullptr, &size, &type, name);
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

int fail(const char* what)
{
    std::fprintf(stderr, "setters: %s\n", what);
    return 1;
}

int checkSetters(const Shader& shader, GLuint program)
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
        return fail("setInt did not write");
    if (std::memcmp(written.colour, &colour[0], sizeof written.colour) != 0)
        return fail("setVec3 did not write");
    if (std::memcmp(written.matrix, &matrix[0][0], sizeof written.matrix) != 0)
        return fail("setMat4 did not write the columns in order");

    shader.setInt("absent", 7);
    shader.setVec3("absent", glm::vec3(9.0f));
    shader.setMat4("absent", glm::mat4(9.0f));
    Values after = readBack(program);
    if (std::memcmp(&after, &written, sizeof after) != 0)
        return fail("a write to an absent name changed a uniform");
    if (glGetError() != GL_NO_ERROR)
        return fail("a write raised a GL error");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: shader_probe VERTEX FRAGMENT [--interface] [--setters]\n");
        return 2;
    }
    if (!glfwInit())
        return 2;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 6);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(64, 64, "probe", nullptr, nullptr);
    if (!window) {
        glfwTerminate();
        return 2;
    }
    glfwMakeContextCurrent(window);
    if (!gladLoaderLoadGL())
        return 2;

    Shader shader(argv[1], argv[2]);
    shader.use();
    GLuint program = currentProgram();
    int status = 0;
    for (int i = 3; i < argc; i++) {
        if (std::strcmp(argv[i], "--interface") == 0)
            listInterface(program);
        else if (std::strcmp(argv[i], "--setters") == 0)
            status |= checkSetters(shader, program);
    }
    glfwDestroyWindow(window);
    glfwTerminate();
    return status;
}
