/* Preloaded into the sanitized viewer by the fault tests: libraries stay
 * loaded until the process ends. Mesa unloads its driver when the window's
 * context goes, and LeakSanitizer, which looks for leaks only at exit, then
 * finds whatever the driver still held unreachable and unnamed, "allocated
 * from <unknown module>". With the driver kept, its memory stays reachable
 * from its own globals, and a leak of the program's own shows as one. */
int dlclose(void* handle)
{
    (void)handle;
    return 0;
}
