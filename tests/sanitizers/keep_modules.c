/* keep_modules.c -- preloaded into the sanitized runs only: dlclose keeps
 * every shared object loaded, so that the leak report at exit can still name
 * the library (Mesa's driver, which the X display's closing unloads) that an
 * allocation came from, and the suppressions can match it. */
int dlclose(void *handle) {
    (void)handle;
    return 0;
}
