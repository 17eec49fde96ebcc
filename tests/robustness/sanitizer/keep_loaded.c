/* Preloaded into the sanitized test run (scripts/test --sanitize): dlclose() does nothing,
 * so every shared object stays mapped until the process ends.
 *
 * libVLC unloads its plugins when its last instance is released, and a plugin takes with it
 * the libraries it brought in (alsa-lib, for one). Whatever those kept through their own
 * global variables is then unreachable from any mapped memory, and LeakSanitizer reports it
 * as leaked, with stack frames in an "<unknown module>" that no suppression can name. With
 * the objects kept mapped, such memory is still referenced at exit and only real leaks are
 * reported, with stacks that can be read. */

int dlclose(void *handle)
{
    (void)handle;
    return 0;
}
