/* Preloaded ahead of apitrace's GLX wrapper by the call-order test. GLFW 3.4
 * opens GLX as libGLX.so.0, which the wrapper does not redirect, so none of
 * the windowing library's GLX calls (context creation among them) would be
 * recorded; GLFW 3.3 opens libGL.so.1. Both are the same GL vendor library
 * behind glvnd, so this hands GLFW libGL.so.1 either way, through the
 * wrapper's own dlopen, which redirects it to the recorder.
 *
 * With FAIL_GL_LOADER set, the fault tests use it to make the GL loader
 * fail: every libGL the viewer's own code opens is refused, while the
 * windowing library, a shared library of its own, still gets its GLX. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

void* dlopen(const char* name, int flags)
{
    static void* (*next)(const char*, int);
    if (!next)
        next = (void* (*)(const char*, int))dlsym(RTLD_NEXT, "dlopen");
    if (name && strcmp(name, "libGLX.so.0") == 0)
        name = "libGL.so.1";
    Dl_info caller;
    if (getenv("FAIL_GL_LOADER") && name && strncmp(name, "libGL.so", 8) == 0
        && dladdr(__builtin_return_address(0), &caller) && !strstr(caller.dli_fname, "libglfw"))
        return NULL;
    return next(name, flags);
}
