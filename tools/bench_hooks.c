/* Preloaded by the benchmark (tools/bench.py) into the viewer and the floor
 * program: it times start-up and every presented frame from outside, and ends
 * a run after a set number of frames, so the programs stay free of any
 * measuring code of their own.
 *
 * Environment (this library's own; the programs read none):
 *   BENCH_HOOKS_OUT        file the timestamps go to when the process exits
 *   BENCH_HOOKS_FRAMES     ask the window to close after this many frames
 *   BENCH_HOOKS_CALLGRIND  under callgrind: count instructions only from this
 *                          frame on, up to BENCH_HOOKS_FRAMES, and dump them
 *
 * How the start-up stages are seen. The windowing calls are dynamic symbols
 * of libglfw, so defining them here wraps them. GL calls are not: the loader
 * linked into the program opens libGL itself, finds its glXGetProcAddressARB
 * with dlsym and asks it for every entry point. So dlsym is wrapped to hand
 * out a wrapper of glXGetProcAddressARB, which hands out timing shims for the
 * few GL calls whose first use opens a start-up stage. Everything else
 * passes through untouched; the shims cost one branch after their first call.
 * dlsym(RTLD_NEXT, ...) from other code would resolve relative to this
 * library, so only the two lookup names are intercepted. */
#define _GNU_SOURCE
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <valgrind/callgrind.h>

typedef void (*proc_t)(void);
typedef void* (*dlsym_t)(void*, const char*);
typedef proc_t (*get_proc_t)(const unsigned char*);

/* Start-up events, each stamped at its first occurrence. */
enum {
    E_PRELOAD, /* this library's constructor: the process is linked */
    E_INIT, /* glfwInit entered: main has started */
    E_WINDOW, /* glfwCreateWindow entered */
    E_CONTEXT, /* glfwMakeContextCurrent returned */
    E_SHADER, /* glCreateShader entered */
    E_MESH, /* glGenVertexArrays entered */
    E_TEXTURE, /* glGenTextures entered */
    E_UPLOAD, /* glTexImage2D entered: the image is decoded */
    E_STATE, /* glEnable entered: the texture is complete */
    E_LOOP, /* glfwPollEvents entered: the frame loop runs */
    E_FRAME, /* the first glfwSwapBuffers returned */
    E_COUNT
};
static const char* const event_names[E_COUNT] = { "preload", "init", "window", "context", "shader",
    "mesh", "texture", "upload", "state", "loop", "frame" };
/* When each event happened, and the CPU time the main thread (where all
 * events happen) and the whole process had used by then: llvmpipe's own
 * threads and other processes compete with the main thread for the cores. */
static uint64_t events[E_COUNT][3];

#define MAX_FRAMES 100000
static uint64_t swap_enter[MAX_FRAMES];
static uint64_t swap_leave[MAX_FRAMES];
static uint64_t swap_cpu[MAX_FRAMES]; /* the process's CPU time at each leave */
static long frames;
static long frame_limit;
static long callgrind_from;

static dlsym_t real_dlsym;
static get_proc_t real_get_proc;

static uint64_t read_clock(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

static uint64_t now(void)
{
    return read_clock(CLOCK_MONOTONIC);
}

static void mark(int event)
{
    if (events[event][0])
        return;
    events[event][0] = now();
    events[event][1] = read_clock(CLOCK_THREAD_CPUTIME_ID);
    events[event][2] = read_clock(CLOCK_PROCESS_CPUTIME_ID);
}

/* ISO C has no cast between object and function pointers; dlsym's results
 * are both. */
static proc_t to_proc(void* p)
{
    proc_t f;
    memcpy(&f, &p, sizeof f);
    return f;
}

static void* from_proc(proc_t f)
{
    void* p;
    memcpy(&p, &f, sizeof p);
    return p;
}

/* dlsym itself is wrapped below, so the real one is found by version:
 * GLIBC_2.34 since it moved into libc, GLIBC_2.2.5 before. Other libraries'
 * constructors may call dlsym before this library's runs. */
static void find_real_dlsym(void)
{
    if (real_dlsym)
        return;
    void* p = dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34");
    if (!p)
        p = dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5");
    memcpy(&real_dlsym, &p, sizeof real_dlsym);
}

/* Fills the function pointer at *slot with the next definition of name. */
static void find_next(void* slot, const char* name)
{
    find_real_dlsym();
    void* p = real_dlsym(RTLD_NEXT, name);
    if (!p) {
        fprintf(stderr, "bench_hooks: %s not found\n", name);
        abort();
    }
    memcpy(slot, &p, sizeof p);
}

__attribute__((constructor)) static void start(void)
{
    mark(E_PRELOAD);
    find_real_dlsym();
    const char* limit = getenv("BENCH_HOOKS_FRAMES");
    frame_limit = limit ? atol(limit) : 0;
    const char* from = getenv("BENCH_HOOKS_CALLGRIND");
    callgrind_from = from ? atol(from) : 0;
}

__attribute__((destructor)) static void finish(void)
{
    const char* path = getenv("BENCH_HOOKS_OUT");
    if (!path)
        return;
    FILE* out = fopen(path, "w");
    if (!out)
        return;
    for (int e = 0; e < E_COUNT; e++)
        if (events[e][0])
            fprintf(out, "event %s %llu %llu %llu\n", event_names[e],
                (unsigned long long)events[e][0], (unsigned long long)events[e][1],
                (unsigned long long)events[e][2]);
    for (long i = 0; i < frames && i < MAX_FRAMES; i++)
        fprintf(out, "frame %llu %llu %llu\n", (unsigned long long)swap_enter[i],
            (unsigned long long)swap_leave[i], (unsigned long long)swap_cpu[i]);
    fclose(out);
}

/* Windowing calls. */

int glfwInit(void)
{
    mark(E_INIT);
    static int (*real)(void);
    if (!real)
        find_next(&real, "glfwInit");
    return real();
}

GLFWwindow* glfwCreateWindow(
    int width, int height, const char* title, GLFWmonitor* monitor, GLFWwindow* share)
{
    mark(E_WINDOW);
    static GLFWwindow* (*real)(int, int, const char*, GLFWmonitor*, GLFWwindow*);
    if (!real)
        find_next(&real, "glfwCreateWindow");
    return real(width, height, title, monitor, share);
}

void glfwMakeContextCurrent(GLFWwindow* window)
{
    static void (*real)(GLFWwindow*);
    if (!real)
        find_next(&real, "glfwMakeContextCurrent");
    real(window);
    mark(E_CONTEXT);
}

void glfwPollEvents(void)
{
    mark(E_LOOP);
    static void (*real)(void);
    if (!real)
        find_next(&real, "glfwPollEvents");
    real();
}

void glfwSwapBuffers(GLFWwindow* window)
{
    static void (*real)(GLFWwindow*);
    static void (*set_close)(GLFWwindow*, int);
    if (!real) {
        find_next(&real, "glfwSwapBuffers");
        find_next(&set_close, "glfwSetWindowShouldClose");
    }
    uint64_t enter = now();
    real(window);
    uint64_t leave = now();
    if (frames < MAX_FRAMES) {
        swap_enter[frames] = enter;
        swap_leave[frames] = leave;
        swap_cpu[frames] = read_clock(CLOCK_PROCESS_CPUTIME_ID);
    }
    frames++;
    mark(E_FRAME);
    if (callgrind_from && frames == callgrind_from) {
        CALLGRIND_START_INSTRUMENTATION;
        CALLGRIND_ZERO_STATS;
    }
    if (frame_limit && frames == frame_limit) {
        if (callgrind_from) {
            CALLGRIND_DUMP_STATS_AT("frames");
            CALLGRIND_STOP_INSTRUMENTATION;
        }
        set_close(window, 1);
    }
}

/* GL calls that open a start-up stage: each stamps its first entry. */

static unsigned int (*real_create_shader)(unsigned int);
static unsigned int shim_create_shader(unsigned int type)
{
    mark(E_SHADER);
    return real_create_shader(type);
}

static void (*real_gen_vertex_arrays)(int, unsigned int*);
static void shim_gen_vertex_arrays(int n, unsigned int* names)
{
    mark(E_MESH);
    real_gen_vertex_arrays(n, names);
}

static void (*real_gen_textures)(int, unsigned int*);
static void shim_gen_textures(int n, unsigned int* names)
{
    mark(E_TEXTURE);
    real_gen_textures(n, names);
}

static void (*real_tex_image_2d)(
    unsigned int, int, int, int, int, int, unsigned int, unsigned int, const void*);
static void shim_tex_image_2d(unsigned int target, int level, int internal, int width, int height,
    int border, unsigned int format, unsigned int type, const void* pixels)
{
    mark(E_UPLOAD);
    real_tex_image_2d(target, level, internal, width, height, border, format, type, pixels);
}

static void (*real_enable)(unsigned int);
static void shim_enable(unsigned int cap)
{
    mark(E_STATE);
    real_enable(cap);
}

struct shim {
    const char* name;
    void* real; /* where the real entry point goes */
    proc_t shim;
};
static const struct shim shims[] = {
    { "glCreateShader", &real_create_shader, (proc_t)shim_create_shader },
    { "glGenVertexArrays", &real_gen_vertex_arrays, (proc_t)shim_gen_vertex_arrays },
    { "glGenTextures", &real_gen_textures, (proc_t)shim_gen_textures },
    { "glTexImage2D", &real_tex_image_2d, (proc_t)shim_tex_image_2d },
    { "glEnable", &real_enable, (proc_t)shim_enable },
};

static proc_t get_proc(const unsigned char* name)
{
    proc_t p = real_get_proc(name);
    for (size_t i = 0; p && i < sizeof shims / sizeof shims[0]; i++) {
        if (strcmp((const char*)name, shims[i].name) == 0) {
            memcpy(shims[i].real, &p, sizeof p);
            return shims[i].shim;
        }
    }
    return p;
}

void* dlsym(void* handle, const char* name)
{
    find_real_dlsym();
    void* p = real_dlsym(handle, name);
    if (p
        && (strcmp(name, "glXGetProcAddressARB") == 0 || strcmp(name, "glXGetProcAddress") == 0)) {
        real_get_proc = (get_proc_t)to_proc(p);
        return from_proc((proc_t)get_proc);
    }
    return p;
}
