/* Preloaded into the viewer by the launcher (LD_PRELOAD) for --shot, --at and
 * --fps, so that the program draws every frame itself and carries none of
 * this. Each part is off unless the launcher sets its variable:
 *   VIEWER_LAUNCH_AT=S       glfwGetTime reads S seconds (0 by default when shooting)
 *   VIEWER_LAUNCH_SHOT=FILE  each frame's back buffer, read before the swap, written as
 *                            a 1280x720 RGB PNG; the window closes after the last
 *   VIEWER_LAUNCH_UNTIL=S2   with VIEWER_LAUNCH_STEP=D: frames at S, S + D, ... up to S2,
 *                            S2 included within rounding; FILE holds one %d (flags 0
 *                            and a width allowed, %% for a percent sign)
 *   VIEWER_LAUNCH_FPS=1      once a second on standard error: "N frames in 1 s: median
 *                            M ms, slowest W ms", the intervals between swaps
 *   VIEWER_LAUNCH_WATCH=DIR  the scene's three files, in the working directory DIR, read
 *                            again after each save, between two frames (launch_rebuild.cpp);
 *                            a line on standard error names each file reloaded; Ctrl-C
 *                            ends the process with 130
 * A bad value ends the process before any window, with one line and status 2;
 * a frame that cannot be written ends it after the window, with one line and 1.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

typedef struct GLFWwindow GLFWwindow;

enum { WIDTH = 1280, HEIGHT = 720, MOST_FRAMES = 100000, MOST_PER_SECOND = 100000 };
/* Rounding slack, in steps, so that 0.5 to 0.7 by 0.1 reaches 0.7. */
static const double SLACK = 1e-6;
#define GL_RGBA 0x1908
#define GL_UNSIGNED_BYTE 0x1401

#define NEXT(result, parameters, name)                                                             \
    static result(*next) parameters;                                                               \
    if (!next)                                                                                     \
    *(void**)&next = dlsym(RTLD_NEXT, name)

static int holding; /* the clock is held */
static double at, step;
static const char* shot; /* FILE, or NULL */
static int sequence; /* FILE is a pattern */
static long frames; /* frames to write */
static long written;
static int failed;
static int fps;
static const char* watched; /* DIR, or NULL */
static int watcher = -1; /* the inotify descriptor */
static int scene_dir, shaders_dir; /* its watches */

/* Editors replace a file as often as they write it, so the directories are
 * watched: a file is saved when written and closed, or renamed into place.
 * One written in place is cut short first, and one removed may be made anew,
 * empty at first, at any moment, even between reading the events and the
 * file; so a file modified, made or removed since its last save, or touched
 * at all since the frame before, is waited for rather than read half
 * written. */
enum {
    SAVES = IN_CLOSE_WRITE | IN_MOVED_TO,
    UNSAVED = IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM,
    WATCHED = SAVES | UNSAVED
};

static void bad(const char* what, const char* value)
{
    fprintf(stderr, "viewer: %s: \"%s\"\n", what, value);
    exit(2);
}

/* A finite number of seconds, zero or more, written out whole. */
static double seconds(const char* name, const char* option)
{
    const char* text = getenv(name);
    char* end = NULL;
    errno = 0;
    double value = text ? strtod(text, &end) : 0;
    if (!text || !*text || *end || errno || !isfinite(value) || value < 0 || text[0] == ' ')
        bad(option, text ? text : "");
    return value;
}

/* The one %d of a sequence's pattern, with a 0 flag and a width of two
 * digits at most; every other percent sign doubled. 1 if so. */
static int one_number(const char* pattern)
{
    int numbers = 0;
    for (const char* p = pattern; *p; p++) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            p++;
            continue;
        }
        p += p[1] == '0';
        for (int digits = 0; digits < 2 && p[1] >= '0' && p[1] <= '9'; digits++)
            p++;
        if (p[1] != 'd')
            return 0;
        p++;
        numbers++;
    }
    return numbers == 1;
}

/* Frame's file name; its length, which may be the size or more when cut. */
static size_t name_of(long frame, char* name, size_t size)
{
    if (!sequence)
        return (size_t)snprintf(name, size, "%s", shot);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return (size_t)snprintf(name, size, shot, (int)frame);
#pragma GCC diagnostic pop
}

/* Whether a file of that name can be made or replaced, by its directory. */
static void writable(const char* name)
{
    char directory[PATH_MAX];
    snprintf(directory, sizeof directory, "%s", name);
    char* slash = strrchr(directory, '/');
    if (!slash)
        snprintf(directory, sizeof directory, ".");
    else
        slash[slash == directory] = '\0';
    if (access(directory, W_OK) != 0)
        fprintf(stderr, "viewer: cannot write %s: %s: %s\n", name, directory, strerror(errno));
    else if (access(name, F_OK) == 0 && access(name, W_OK) != 0)
        fprintf(stderr, "viewer: cannot write %s: %s\n", name, strerror(errno));
    else
        return;
    exit(2);
}

static void interrupted(int number)
{
    (void)number;
    _exit(130);
}

static void watch_scene(void)
{
    watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    scene_dir = watcher < 0 ? -1 : inotify_add_watch(watcher, ".", WATCHED);
    if (scene_dir < 0) {
        fprintf(stderr, "viewer: cannot watch %s: %s\n", watched, strerror(errno));
        exit(1);
    }
    /* Shaders/ may come later. */
    shaders_dir = inotify_add_watch(watcher, "Shaders", WATCHED);
    signal(SIGINT, interrupted);
}

__attribute__((constructor)) static void settings(void)
{
    fps = getenv("VIEWER_LAUNCH_FPS") != NULL;
    watched = getenv("VIEWER_LAUNCH_WATCH");
    if (watched)
        watch_scene();
    shot = getenv("VIEWER_LAUNCH_SHOT");
    holding = shot || getenv("VIEWER_LAUNCH_AT");
    if (!holding)
        return;
    at = getenv("VIEWER_LAUNCH_AT") ? seconds("VIEWER_LAUNCH_AT", "--at takes seconds, 0 or more")
                                    : 0;
    frames = 1;
    if (shot && getenv("VIEWER_LAUNCH_UNTIL")) {
        double until = seconds("VIEWER_LAUNCH_UNTIL", "--until takes seconds, 0 or more");
        step = seconds("VIEWER_LAUNCH_STEP", "--step takes seconds, more than 0");
        if (step <= 0)
            bad("--step takes seconds, more than 0", getenv("VIEWER_LAUNCH_STEP"));
        if (until < at)
            bad("--until comes before --at", getenv("VIEWER_LAUNCH_UNTIL"));
        double count = floor((until - at) / step + SLACK) + 1;
        if (count > MOST_FRAMES) {
            fprintf(stderr, "viewer: --at, --until and --step give %.0f frames, more than %d\n",
                count, MOST_FRAMES);
            exit(2);
        }
        frames = (long)count;
        if (!one_number(shot))
            bad("a sequence's FILE holds one number, as in frame-%04d.png", shot);
        sequence = 1;
    }
    if (shot) {
        char name[PATH_MAX];
        if (name_of(frames - 1, name, sizeof name) >= sizeof name)
            bad("FILE is too long a name", shot);
        name_of(0, name, sizeof name);
        writable(name);
    }
}

double glfwGetTime(void)
{
    NEXT(double, (void), "glfwGetTime");
    return holding ? at + (double)written * step : next();
}

/* Reload, for --watch: the scene's files, and what a save of each makes the
 * viewer read again. */
enum { SHADERS = 1, IMAGE = 2 };
static const struct {
    const char* name;
    int rebuild;
} scene_files[]
    = { { "Shaders/OG_V.glsl", SHADERS }, { "Shaders/OG_F.glsl", SHADERS }, { "test.png", IMAGE } };
enum { SCENE_FILES = sizeof scene_files / sizeof *scene_files };
static int saved[SCENE_FILES]; /* saved since last read */
static int writing[SCENE_FILES]; /* modified since last saved */
static int stirred[SCENE_FILES]; /* named by an event since the frame before */

int rebuild_begin(void);
void rebuild_shaders(void);
void rebuild_image(void);

static void take_event(const struct inotify_event* event)
{
    if (!event->len)
        return;
    if (event->wd == scene_dir && (event->mask & IN_ISDIR) && strcmp(event->name, "Shaders") == 0) {
        shaders_dir = inotify_add_watch(watcher, "Shaders", WATCHED);
        for (int i = 0; i < SCENE_FILES; i++) {
            saved[i] |= scene_files[i].rebuild == SHADERS;
            writing[i] &= scene_files[i].rebuild != SHADERS;
        }
        return;
    }
    char name[NAME_MAX + 16];
    snprintf(name, sizeof name, "%s%s", event->wd == shaders_dir ? "Shaders/" : "", event->name);
    for (int i = 0; i < SCENE_FILES; i++) {
        if (strcmp(name, scene_files[i].name) != 0)
            continue;
        stirred[i] = 1;
        saved[i] |= (event->mask & SAVES) != 0;
        writing[i] = (event->mask & UNSAVED) != 0;
    }
}

/* Whether every file of that rebuild has been saved, is still, and is there
 * to read: a file deleted and not yet written again, or being written, is
 * waited for. */
static int ready(int rebuild)
{
    int any = 0, waiting = 0;
    struct stat file;
    for (int i = 0; i < SCENE_FILES; i++)
        any |= scene_files[i].rebuild == rebuild && saved[i];
    for (int i = 0; any && i < SCENE_FILES; i++)
        waiting |= scene_files[i].rebuild == rebuild
            && (writing[i] || stirred[i] || stat(scene_files[i].name, &file) != 0);
    return any && !waiting;
}

static void rebuilt(int rebuild)
{
    for (int i = 0; i < SCENE_FILES; i++) {
        if (scene_files[i].rebuild == rebuild && saved[i])
            fprintf(stderr, "viewer: %s/%s changed: reloaded\n", watched, scene_files[i].name);
        saved[i] &= scene_files[i].rebuild != rebuild;
    }
}

/* After a swap: the saves since the last, each rebuild once at most, reading
 * the files as they are now, so that a burst settles on its last content. */
static void reload(void)
{
    static int begun;
    if (watcher < 0)
        return;
    if (!begun) {
        begun = 1;
        if (!rebuild_begin()) {
            fprintf(stderr, "viewer: cannot watch %s: no OpenGL entry points\n", watched);
            watcher = -1;
            return;
        }
    }
    union {
        struct inotify_event event;
        char bytes[4096];
    } buffer;
    ssize_t length;
    memset(stirred, 0, sizeof stirred);
    while ((length = read(watcher, &buffer, sizeof buffer)) > 0)
        for (char* p = buffer.bytes; p < buffer.bytes + length;) {
            const struct inotify_event* event = (const struct inotify_event*)(void*)p;
            take_event(event);
            p += sizeof *event + event->len;
        }
    if (ready(SHADERS)) {
        rebuild_shaders();
        rebuilt(SHADERS);
    }
    if (ready(IMAGE)) {
        rebuild_image();
        rebuilt(IMAGE);
    }
}

static void chunk(FILE* out, const char* kind, const unsigned char* body, unsigned long length)
{
    unsigned char size[4] = { length >> 24, length >> 16 & 255, length >> 8 & 255, length & 255 };
    uLong crc = crc32(0, (const Bytef*)kind, 4);
    if (length) /* an empty body, given as NULL, would restart the sum */
        crc = crc32(crc, body, (uInt)length);
    unsigned char sum[4] = { crc >> 24, crc >> 16 & 255, crc >> 8 & 255, crc & 255 };
    fwrite(size, 1, 4, out);
    fwrite(kind, 1, 4, out);
    fwrite(body, 1, length, out);
    fwrite(sum, 1, 4, out);
}

/* RGBA rows, bottom first as GL reads them, written as an RGB PNG top first. */
static int write_png(const char* name, const unsigned char* rgba)
{
    static unsigned char raw[HEIGHT * (1 + WIDTH * 3)];
    for (int y = 0; y < HEIGHT; y++) {
        unsigned char* row = raw + (size_t)y * (1 + WIDTH * 3);
        const unsigned char* from = rgba + (size_t)(HEIGHT - 1 - y) * WIDTH * 4;
        row[0] = 0;
        for (int x = 0; x < WIDTH; x++)
            memcpy(row + 1 + x * 3, from + x * 4, 3);
    }
    uLongf packed = compressBound(sizeof raw);
    unsigned char* data = malloc(packed);
    if (!data || compress2(data, &packed, raw, sizeof raw, 6) != Z_OK) {
        free(data);
        errno = ENOMEM;
        return 0;
    }
    static const unsigned char header[13]
        = { 0, 0, WIDTH >> 8, WIDTH & 255, 0, 0, HEIGHT >> 8, HEIGHT & 255, 8, 2, 0, 0, 0 };
    FILE* out = fopen(name, "wbe");
    if (!out) {
        free(data);
        return 0;
    }
    fwrite("\x89PNG\r\n\x1a\n", 1, 8, out);
    chunk(out, "IHDR", header, sizeof header);
    chunk(out, "IDAT", data, packed);
    chunk(out, "IEND", NULL, 0);
    free(data);
    int error = ferror(out);
    return (fclose(out) == 0) & !error;
}

static void shoot(void)
{
    static void (*read_pixels)(int, int, int, int, unsigned, unsigned, void*);
    static unsigned char rgba[WIDTH * HEIGHT * 4];
    if (!read_pixels) {
        void* gl = dlopen("libGL.so.1", RTLD_LAZY);
        *(void**)&read_pixels = gl ? dlsym(gl, "glReadPixels") : NULL;
    }
    char name[PATH_MAX];
    name_of(written, name, sizeof name);
    if (!read_pixels) {
        fprintf(stderr, "viewer: cannot write %s: glReadPixels not found\n", name);
        failed = 1;
        return;
    }
    read_pixels(0, 0, WIDTH, HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    if (!write_png(name, rgba)) {
        fprintf(stderr, "viewer: cannot write %s: %s\n", name, strerror(errno));
        failed = 1;
    }
}

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int earlier(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* Swaps in (start, start + 1 s] are that second's frames, each timed from the
 * swap before it; the first swap only starts the clock. */
static void count_frame(void)
{
    static double start, last, times[MOST_PER_SECOND];
    static int count;
    double t = now();
    if (start == 0) {
        start = last = t;
        return;
    }
    while (t > start + 1) {
        qsort(times, (size_t)count, sizeof *times, earlier);
        if (count == 0)
            fprintf(stderr, "0 frames in 1 s\n");
        else
            fprintf(stderr, "%d frames in 1 s: median %.2f ms, slowest %.2f ms\n", count,
                1e3 * (times[(count - 1) / 2] + times[count / 2]) / 2, 1e3 * times[count - 1]);
        count = 0;
        start += 1;
    }
    if (count < MOST_PER_SECOND)
        times[count++] = t - last;
    last = t;
}

void glfwSwapBuffers(GLFWwindow* window)
{
    NEXT(void, (GLFWwindow*), "glfwSwapBuffers");
    if (shot && written < frames && !failed)
        shoot();
    next(window);
    reload();
    if (fps)
        count_frame();
    if (!shot || written >= frames)
        return;
    written++;
    if (written == frames || failed) {
        static void (*set_close)(GLFWwindow*, int);
        if (!set_close)
            *(void**)&set_close = dlsym(RTLD_NEXT, "glfwSetWindowShouldClose");
        set_close(window, 1);
    }
}

/* A frame not written is a failed run, though the viewer ends as usual. */
void glfwTerminate(void)
{
    NEXT(void, (void), "glfwTerminate");
    next();
    if (failed)
        exit(1);
}
