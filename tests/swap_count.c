/* Preloaded into the viewer by the fault and soak tests: counts the frames it
 * presents. Every glfwSwapBuffers call goes on to the real one, and the count
 * so far is written over the start of the file named in SWAP_COUNT_FILE, so a
 * test can tell a running frame loop from one that stalled or never began. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

typedef struct GLFWwindow GLFWwindow;

void glfwSwapBuffers(GLFWwindow* window)
{
    static void (*real)(GLFWwindow*);
    static int fd = -2;
    static unsigned long long count;
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "glfwSwapBuffers");
    real(window);
    if (fd == -2) {
        const char* path = getenv("SWAP_COUNT_FILE");
        fd = path ? open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -1;
    }
    if (fd >= 0) {
        char text[32];
        int n = snprintf(text, sizeof text, "%20llu\n", ++count);
        if (pwrite(fd, text, (size_t)n, 0) != n)
            fd = -1;
    }
}
