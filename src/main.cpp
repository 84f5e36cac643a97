#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>

#define STB_IMAGE_IMPLEMENTATION
#include "image.h"
#include "shader.h"

// GLFW 3.3's header lacks the platform hint, but a program built against it
// (a package made on Debian 12) may run with 3.4 (installed on Debian 13),
// which would otherwise pick Wayland under a Wayland compositor while the GL
// loader resolves through GLX. 3.3 itself is X11-only and ignores the hint.
#ifndef GLFW_PLATFORM
#define GLFW_PLATFORM 0x00050003
#define GLFW_PLATFORM_X11 0x00060004
#endif

#include <cmath>
#include <iostream>
#include <string>

// One unit cube centred on the origin: position, texture coordinate, normal.
// Faces in the order back, front, left, right, bottom, top.
const float vertices[] = {
    // clang-format off
    -0.5f, -0.5f, -0.5f,  0.0f, 0.0f,  0.0f,  0.0f, -1.0f,
     0.5f, -0.5f, -0.5f,  1.0f, 0.0f,  0.0f,  0.0f, -1.0f,
     0.5f,  0.5f, -0.5f,  1.0f, 1.0f,  0.0f,  0.0f, -1.0f,
     0.5f,  0.5f, -0.5f,  1.0f, 1.0f,  0.0f,  0.0f, -1.0f,
    -0.5f,  0.5f, -0.5f,  0.0f, 1.0f,  0.0f,  0.0f, -1.0f,
    -0.5f, -0.5f, -0.5f,  0.0f, 0.0f,  0.0f,  0.0f, -1.0f,

    -0.5f, -0.5f,  0.5f,  0.0f, 0.0f,  0.0f,  0.0f,  1.0f,
     0.5f, -0.5f,  0.5f,  1.0f, 0.0f,  0.0f,  0.0f,  1.0f,
     0.5f,  0.5f,  0.5f,  1.0f, 1.0f,  0.0f,  0.0f,  1.0f,
     0.5f,  0.5f,  0.5f,  1.0f, 1.0f,  0.0f,  0.0f,  1.0f,
    -0.5f,  0.5f,  0.5f,  0.0f, 1.0f,  0.0f,  0.0f,  1.0f,
    -0.5f, -0.5f,  0.5f,  0.0f, 0.0f,  0.0f,  0.0f,  1.0f,

    -0.5f,  0.5f,  0.5f,  1.0f, 0.0f, -1.0f,  0.0f,  0.0f,
    -0.5f,  0.5f, -0.5f,  1.0f, 1.0f, -1.0f,  0.0f,  0.0f,
    -0.5f, -0.5f, -0.5f,  0.0f, 1.0f, -1.0f,  0.0f,  0.0f,
    -0.5f, -0.5f, -0.5f,  0.0f, 1.0f, -1.0f,  0.0f,  0.0f,
    -0.5f, -0.5f,  0.5f,  0.0f, 0.0f, -1.0f,  0.0f,  0.0f,
    -0.5f,  0.5f,  0.5f,  1.0f, 0.0f, -1.0f,  0.0f,  0.0f,

     0.5f,  0.5f,  0.5f,  1.0f, 0.0f,  1.0f,  0.0f,  0.0f,
     0.5f,  0.5f, -0.5f,  1.0f, 1.0f,  1.0f,  0.0f,  0.0f,
     0.5f, -0.5f, -0.5f,  0.0f, 1.0f,  1.0f,  0.0f,  0.0f,
     0.5f, -0.5f, -0.5f,  0.0f, 1.0f,  1.0f,  0.0f,  0.0f,
     0.5f, -0.5f,  0.5f,  0.0f, 0.0f,  1.0f,  0.0f,  0.0f,
     0.5f,  0.5f,  0.5f,  1.0f, 0.0f,  1.0f,  0.0f,  0.0f,

    -0.5f, -0.5f, -0.5f,  0.0f, 1.0f,  0.0f, -1.0f,  0.0f,
     0.5f, -0.5f, -0.5f,  1.0f, 1.0f,  0.0f, -1.0f,  0.0f,
     0.5f, -0.5f,  0.5f,  1.0f, 0.0f,  0.0f, -1.0f,  0.0f,
     0.5f, -0.5f,  0.5f,  1.0f, 0.0f,  0.0f, -1.0f,  0.0f,
    -0.5f, -0.5f,  0.5f,  0.0f, 0.0f,  0.0f, -1.0f,  0.0f,
    -0.5f, -0.5f, -0.5f,  0.0f, 1.0f,  0.0f, -1.0f,  0.0f,

    -0.5f,  0.5f, -0.5f,  0.0f, 1.0f,  0.0f,  1.0f,  0.0f,
     0.5f,  0.5f, -0.5f,  1.0f, 1.0f,  0.0f,  1.0f,  0.0f,
     0.5f,  0.5f,  0.5f,  1.0f, 0.0f,  0.0f,  1.0f,  0.0f,
     0.5f,  0.5f,  0.5f,  1.0f, 0.0f,  0.0f,  1.0f,  0.0f,
    -0.5f,  0.5f,  0.5f,  0.0f, 0.0f,  0.0f,  1.0f,  0.0f,
    -0.5f,  0.5f, -0.5f,  0.0f, 1.0f,  0.0f,  1.0f,  0.0f,
    // clang-format on
};

// Where the ten cubes stand in the world; the light circles entry 0.
const glm::vec3 cubePositions[] = {
    glm::vec3(0.0f, 0.0f, 0.0f),
    glm::vec3(2.0f, 5.0f, -15.0f),
    glm::vec3(-1.5f, -2.2f, -2.5f),
    glm::vec3(-3.8f, -2.0f, -12.3f),
    glm::vec3(2.4f, -0.4f, -3.5f),
    glm::vec3(-1.7f, 3.0f, -7.5f),
    glm::vec3(1.3f, -2.0f, -2.5f),
    glm::vec3(1.5f, 2.0f, -2.5f),
    glm::vec3(1.5f, 0.2f, -1.5f),
    glm::vec3(-1.3f, 1.0f, -1.5f),
};

void input(GLFWwindow* window)
{
    if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS)
        glfwSetWindowShouldClose(window, true);
}

// The core versions below 4.6 a display's GL may offer, highest first.
const int olderVersions[][2]
    = { { 4, 5 }, { 4, 4 }, { 4, 3 }, { 4, 2 }, { 4, 1 }, { 4, 0 }, { 3, 3 }, { 3, 2 } };

// What this display's GL offers instead of 4.6, found with hidden windows of
// lower versions, and, where the GL is Mesa's, how to ask it for 4.6.
static std::string offeredGL()
{
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    for (const auto& version : olderVersions) {
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, version[0]);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, version[1]);
        GLFWwindow* probe = glfwCreateWindow(64, 64, "probe", nullptr, nullptr);
        if (!probe)
            continue;
        glfwMakeContextCurrent(probe);
        auto getString
            = reinterpret_cast<const GLubyte* (*)(GLenum)>(glfwGetProcAddress("glGetString"));
        const GLubyte* text = getString ? getString(GL_VERSION) : nullptr;
        std::string gl = text ? reinterpret_cast<const char*>(text) : "";
        text = getString ? getString(GL_RENDERER) : nullptr;
        std::string renderer = text ? reinterpret_cast<const char*>(text) : "";
        glfwMakeContextCurrent(nullptr);
        glfwDestroyWindow(probe);
        std::string line = "; this display's GL offers OpenGL " + std::to_string(version[0]) + "."
            + std::to_string(version[1]) + " core at most (" + gl + ", " + renderer + ")";
        if (gl.find("Mesa") != std::string::npos)
            line += "; Mesa's override asks it for 4.6: MESA_GL_VERSION_OVERRIDE=4.6 "
                    "MESA_GLSL_VERSION_OVERRIDE=460 viewer";
        return line;
    }
    return "; this display's GL offers no OpenGL core context at all";
}

// Prints what failed, with the windowing library's own reason when it has one,
// and then what advise() adds, asked only once that reason is read.
static int fail(const char* what, std::string (*advise)() = nullptr)
{
    const char* reason = nullptr;
    glfwGetError(&reason);
    std::string why = reason ? reason : "";
    std::cerr << "viewer: " << what;
    if (!why.empty())
        std::cerr << ": " << why;
    if (advise)
        std::cerr << advise();
    std::cerr << std::endl;
    return 1;
}

int main()
{
    // Start-up: windowing library, window and GL context.
    // Runs as an X11 client even under a Wayland compositor.
    glfwInitHint(GLFW_PLATFORM, GLFW_PLATFORM_X11);
    // GLFW 3.3 records the hint it does not know as an error, which glfwInit
    // keeps: dropped here, so that no later failure reports it as its reason.
    glfwGetError(nullptr);
    if (!glfwInit())
        return fail("cannot initialise GLFW");
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 6);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    GLFWwindow* window = glfwCreateWindow(1280, 720, "title", nullptr, nullptr);
    if (!window) {
        int status
            = fail("cannot create a 1280x720 window with an OpenGL 4.6 core context", offeredGL);
        glfwTerminate();
        return status;
    }
    // Escape pressed and released between two polls would go unseen when
    // frames are slow: sticky keys keep the press until the next poll reads it.
    glfwSetInputMode(window, GLFW_STICKY_KEYS, GLFW_TRUE);
    glfwMakeContextCurrent(window);
    if (!gladLoaderLoadGL()) {
        int status = fail("cannot load the OpenGL 4.6 entry points");
        glfwDestroyWindow(window);
        glfwTerminate();
        return status;
    }

    // Start-up: shader program.
    Shader shader("Shaders/OG_V.glsl", "Shaders/OG_F.glsl");
    shader.use();

    // Start-up: one vertex buffer, read by the cube's vertex array (position,
    // texture coordinate, normal) and the light marker's (position only).
    GLuint cubeVAO = 0;
    GLuint VBO = 0;
    glGenVertexArrays(1, &cubeVAO);
    glGenBuffers(1, &VBO);
    glBindVertexArray(cubeVAO);
    glBindBuffer(GL_ARRAY_BUFFER, VBO);
    glBufferData(GL_ARRAY_BUFFER, sizeof(vertices), vertices, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 8 * sizeof(float), (void*)0);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 8 * sizeof(float), (void*)(3 * sizeof(float)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(2, 3, GL_FLOAT, GL_FALSE, 8 * sizeof(float), (void*)(5 * sizeof(float)));
    glEnableVertexAttribArray(2);

    GLuint lightVAO = 0;
    glGenVertexArrays(1, &lightVAO);
    glBindVertexArray(lightVAO);
    glBindBuffer(GL_ARRAY_BUFFER, VBO);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 8 * sizeof(float), (void*)0);
    glEnableVertexAttribArray(0);

    // Start-up: the surface texture, from an image of any channel count.
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    Image image = loadImage("test.png", [] {
        GLint largest = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
        return largest;
    });
    if (image.pixels) {
        uploadImage(image);
    } else {
        std::cout << failureLine(image) << std::endl;
    }
    stbi_image_free(image.pixels);

    glEnable(GL_DEPTH_TEST);

    shader.use();
    shader.setInt("texture0", 0);

    // Frame loop: until Escape or a close request.
    while (!glfwWindowShouldClose(window)) {
        glfwPollEvents();
        input(window);

        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        shader.use();

        glm::mat4 view = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, -3.0f));
        glm::mat4 projection = glm::perspective(glm::radians(45.0f), 1.7777778f, 0.1f, 100.0f);
        shader.setMat4("view", view);
        shader.setMat4("projection", projection);

        // The light circles the origin once every 2 pi seconds.
        float lightZ = static_cast<float>(std::sin(glfwGetTime()));
        float lightX = static_cast<float>(std::cos(glfwGetTime()));
        shader.setVec3("lightPos", glm::vec3(lightX, 0.0f, lightZ));
        shader.setVec3("lightColor", glm::vec3(1.0f, 1.0f, 1.0f));
        shader.setVec3("objectColor", glm::vec3(0.2f, 0.2f, 0.2f));
        shader.setVec3("viewPos", glm::vec3(0.0f, 0.0f, -3.0f));

        glBindVertexArray(cubeVAO);
        for (unsigned int i = 0; i < 10; i++) {
            glm::mat4 model = glm::translate(glm::mat4(1.0f), cubePositions[i]);
            float angle = 20.0f * static_cast<float>(i);
            model = glm::rotate(model, glm::radians(angle), glm::vec3(1.0f, 0.3f, 0.5f));
            shader.setMat4("model", model);
            glDrawArrays(GL_TRIANGLES, 0, 36);
        }

        // The light marker: the same cube, unscaled, where the light is.
        shader.use();
        glBindVertexArray(lightVAO);
        float markerZ = static_cast<float>(std::sin(glfwGetTime()));
        float markerX = static_cast<float>(std::cos(glfwGetTime()));
        glm::mat4 model = glm::translate(glm::mat4(1.0f), glm::vec3(markerX, 0.0f, markerZ));
        shader.setMat4("model", model);
        glDrawArrays(GL_TRIANGLES, 0, 36);

        glfwSwapBuffers(window);
    }

    // Shut-down: GL objects end with the context.
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
