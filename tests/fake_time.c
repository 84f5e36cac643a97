/* Preloaded into the viewer by the tests: the windowing library's clock reads
 * the seconds given in FAKE_GLFW_TIME, so a frame shows a known light
 * position. Without the variable the clock runs from zero as usual. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <time.h>

double glfwGetTime(void)
{
    const char* fixed = getenv("FAKE_GLFW_TIME");
    if (fixed)
        return strtod(fixed, NULL);
    static struct timespec start;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (start.tv_sec == 0 && start.tv_nsec == 0)
        start = now;
    return (double)(now.tv_sec - start.tv_sec) + (double)(now.tv_nsec - start.tv_nsec) * 1e-9;
}
