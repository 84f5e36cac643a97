/* Preloaded into the viewer by the tests, the benchmark and the package tests, so that the
 * program carries no code of theirs. Each part is off unless its variable is set:
 *   FAKE_GLFW_TIME=S          glfwGetTime reads S seconds: a frame shows a known light position
 *   VIEWER_FRAMES_FILE=F      a line appended to F at glfwInit ("init"), when the context is made
 *                             current ("context") and at every swap ("frame"), each with the
 *                             monotonic clock and the process's CPU time in nanoseconds and the
 *                             bytes the C library's allocator has handed out and not had back
 *   VIEWER_CLOSE_AFTER=N      the window is asked to close after N frames
 *   VIEWER_CALLGRIND_FROM=K   under callgrind, frames K to VIEWER_CLOSE_AFTER counted and dumped
 *   VIEWER_KEEP_LOADED        libraries stay loaded until the process ends
 *   VIEWER_GLX_THROUGH_LIBGL  GLX is opened as libGL.so.1
 *   VIEWER_FAIL_GL_LOADER     the viewer's own code cannot open libGL
 *   VIEWER_TERM_DELAY=MS      SIGTERM ends the process MS milliseconds late, as a slow one
 *                             would, with "term" and "exit" lines in VIEWER_FRAMES_FILE
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#ifdef VIEWER_CALLGRIND
#include <valgrind/callgrind.h>
#else /* built for scripts/run.sh alone, with no valgrind to switch */
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

typedef struct GLFWwindow GLFWwindow;

/* The next definition of a symbol, past this library. */
#define NEXT(result, parameters, name)                                                             \
    static result(*next) parameters;                                                               \
    if (!next)                                                                                     \
    *(void**)&next = dlsym(RTLD_NEXT, name)

static long long nanoseconds(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* Appended and flushed at once, so that a test reading the file sees every
 * event as it happens, and a run ended by a signal loses none. */
static void stamp(const char* event)
{
    static FILE* out;
    const char* path = getenv("VIEWER_FRAMES_FILE");
    if (!out && path)
        out = fopen(path, "ae");
    if (out) {
        struct mallinfo2 heap = mallinfo2();
        fprintf(out, "%s %lld %lld %zu\n", event, nanoseconds(CLOCK_MONOTONIC),
            nanoseconds(CLOCK_PROCESS_CPUTIME_ID), heap.uordblks + heap.hblkhd);
        fflush(out);
    }
}

static long number(const char* name)
{
    const char* value = getenv(name);
    return value ? strtol(value, NULL, 10) : 0;
}

double glfwGetTime(void)
{
    NEXT(double, (void), "glfwGetTime");
    const char* fixed = getenv("FAKE_GLFW_TIME");
    return fixed ? strtod(fixed, NULL) : next();
}

/* In a signal handler: the two lines written straight to the file, and the
 * rest of the program running on meanwhile. */
static int termFile = -1;
static void mark(const char* event)
{
    char line[64];
    int length = snprintf(line, sizeof line, "%s %lld 0 0\n", event, nanoseconds(CLOCK_MONOTONIC));
    if (write(termFile, line, (size_t)length) != length)
        _exit(70);
}
static void slowTerm(int signal)
{
    (void)signal;
    mark("term");
    long delay = number("VIEWER_TERM_DELAY");
    struct timespec wait = { delay / 1000, delay % 1000 * 1000000 };
    nanosleep(&wait, NULL);
    mark("exit");
    _exit(143);
}

int glfwInit(void)
{
    NEXT(int, (void), "glfwInit");
    stamp("init");
    const char* path = getenv("VIEWER_FRAMES_FILE");
    if (number("VIEWER_TERM_DELAY") > 0 && path) {
        termFile = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        signal(SIGTERM, slowTerm);
    }
    return next();
}

void glfwMakeContextCurrent(GLFWwindow* window)
{
    NEXT(void, (GLFWwindow*), "glfwMakeContextCurrent");
    next(window);
    stamp("context");
}

void glfwSwapBuffers(GLFWwindow* window)
{
    NEXT(void, (GLFWwindow*), "glfwSwapBuffers");
    static void (*set_close)(GLFWwindow*, int);
    static long frames;
    next(window);
    stamp("frame");
    frames++;
    if (frames == number("VIEWER_CALLGRIND_FROM")) {
        CALLGRIND_START_INSTRUMENTATION;
        CALLGRIND_ZERO_STATS;
    }
    if (frames == number("VIEWER_CLOSE_AFTER")) {
        if (number("VIEWER_CALLGRIND_FROM")) {
            CALLGRIND_DUMP_STATS_AT("frames");
            CALLGRIND_STOP_INSTRUMENTATION;
        }
        if (!set_close)
            *(void**)&set_close = dlsym(RTLD_NEXT, "glfwSetWindowShouldClose");
        set_close(window, 1);
    }
}

/* Mesa unloads its driver with the context, and LeakSanitizer, looking only at
 * exit, then finds the driver's blocks unreachable; kept, they stay reachable
 * from its globals, and a leak of the program's own stands out. */
int dlclose(void* handle)
{
    NEXT(int, (void*), "dlclose");
    return getenv("VIEWER_KEEP_LOADED") ? 0 : next(handle);
}

/* GLFW 3.4 opens GLX as libGLX.so.0, which apitrace's wrapper does not
 * redirect, GLFW 3.3 as libGL.so.1, the same library behind glvnd. Refusing
 * libGL to all but GLFW fails the viewer's own GL loader, window and context up. */
void* dlopen(const char* name, int flags)
{
    NEXT(void*, (const char*, int), "dlopen");
    if (name && getenv("VIEWER_GLX_THROUGH_LIBGL") && strcmp(name, "libGLX.so.0") == 0)
        name = "libGL.so.1";
    Dl_info caller;
    if (name && getenv("VIEWER_FAIL_GL_LOADER") && strncmp(name, "libGL.so", 8) == 0
        && dladdr(__builtin_return_address(0), &caller) && !strstr(caller.dli_fname, "libglfw"))
        return NULL;
    return next(name, flags);
}
