// The benchmark's floor: the viewer's window and context, its frames only
// cleared and presented: the most any scene can reach, and the platform's cost.
#include <glad/gl.h>

#include <GLFW/glfw3.h>

#include <iostream>

int main()
{
#ifdef GLFW_PLATFORM
    glfwInitHint(GLFW_PLATFORM, GLFW_PLATFORM_X11);
#endif
    if (!glfwInit()) {
        std::cerr << "bench_floor: cannot initialise GLFW" << std::endl;
        return 1;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 6);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    GLFWwindow* window = glfwCreateWindow(1280, 720, "title", nullptr, nullptr);
    if (window)
        glfwMakeContextCurrent(window);
    if (!window || !gladLoaderLoadGL()) {
        std::cerr << "bench_floor: cannot create a 4.6 core context" << std::endl;
        glfwTerminate();
        return 1;
    }

    // The viewer's frame without its scene: events, the Escape test, the
    // clear of colour and depth, the swap.
    while (!glfwWindowShouldClose(window)) {
        glfwPollEvents();
        if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS)
            glfwSetWindowShouldClose(window, true);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glfwSwapBuffers(window);
    }

    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
