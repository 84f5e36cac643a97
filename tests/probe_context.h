#ifndef PROBE_CONTEXT_H
#define PROBE_CONTEXT_H

// The probes' hidden window with a current 4.6 core context and its entry
// points loaded, or nullptr.
#include <glad/gl.h>

#include <GLFW/glfw3.h>

inline GLFWwindow* probeContext()
{
    // Without the library, no window comes, and the caller reports that.
    glfwInit();
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 6);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    GLFWwindow* window = glfwCreateWindow(64, 64, "probe", nullptr, nullptr);
    if (window)
        glfwMakeContextCurrent(window);
    return window && gladLoaderLoadGL() ? window : nullptr;
}

#endif
