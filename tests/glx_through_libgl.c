/* Preloaded ahead of apitrace's GLX wrapper by the call-order test. GLFW 3.4
 * opens GLX as libGLX.so.0, which the wrapper does not redirect, so none of
 * the windowing library's GLX calls (context creation among them) would be
 * recorded; GLFW 3.3 opens libGL.so.1. Both are the same GL vendor library
 * behind glvnd, so this hands GLFW libGL.so.1 either way, through the
 * wrapper's own dlopen, which redirects it to the recorder. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>

void* dlopen(const char* name, int flags)
{
    static void* (*next)(const char*, int);
    if (!next)
        next = (void* (*)(const char*, int))dlsym(RTLD_NEXT, "dlopen");
    if (name && strcmp(name, "libGLX.so.0") == 0)
        name = "libGL.so.1";
    return next(name, flags);
}
