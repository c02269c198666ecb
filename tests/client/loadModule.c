/* The host program of archiveModule.c: loads the module, calls it, unloads
 * it, and checks that its file is no longer mapped, as a host that reloads
 * its modules needs. Exit status 0 when all of it holds.
 *   loadModule MODULE_PATH SOCKET_PATH */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <logoffcookie/logoffCookieClient.h>

static int mapped(const char* path) {
    char line[4096];
    int found = 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (maps == NULL) {
        return -1;
    }
    while (fgets(line, sizeof line, maps) != NULL) {
        if (strstr(line, path) != NULL) {
            found = 1;
        }
    }
    fclose(maps);
    return found;
}

int main(int argc, char** argv) {
    void* module;
    int (*query)(const char*);
    int result;
    if (argc != 3) {
        fprintf(stderr, "usage: loadModule MODULE_PATH SOCKET_PATH\n");
        return 2;
    }
    module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    *(void**)&query = dlsym(module, "archiveModule_query");
    if (query == NULL) {
        fprintf(stderr, "dlsym: %s\n", dlerror());
        return 1;
    }
    /* No service behind the path: the call runs through and fails. */
    result = query(argv[2]);
    if (result != LC_CLIENT_NO_SOCKET) {
        fprintf(stderr, "the module's call gave %d, not LC_CLIENT_NO_SOCKET\n", result);
        return 1;
    }
    if (dlclose(module) != 0) {
        fprintf(stderr, "dlclose: %s\n", dlerror());
        return 1;
    }
    if (mapped(argv[1]) != 0) {
        fprintf(stderr, "%s is still mapped after dlclose\n", argv[1]);
        return 1;
    }
    return 0;
}
