// Loaded with LD_PRELOAD into the real service to make its saves slow, so that
// requests, management calls and commits overlap the way they do on a busy disk.
// SLOW_FSYNC_MS="low-high" sleeps a random time in that range (milliseconds) before
// each fsync or fdatasync of a file whose path contains one of the comma-separated
// names in SLOW_FSYNC_FILES (every file when that is unset).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int (*realFsync)(int);
static int (*realFdatasync)(int);

static int chosenFile(int fd) {
    const char* names = getenv("SLOW_FSYNC_FILES");
    if (names == NULL || *names == 0)
        return 1;
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0)
        return 0;
    path[length] = 0;
    char copy[1024];
    snprintf(copy, sizeof copy, "%s", names);
    char* saved = NULL;
    for (char* name = strtok_r(copy, ",", &saved); name; name = strtok_r(NULL, ",", &saved)) {
        if (*name != 0 && strstr(path, name) != NULL)
            return 1;
    }
    return 0;
}

static void delay(int fd) {
    const char* range = getenv("SLOW_FSYNC_MS");
    if (range == NULL || !chosenFile(fd))
        return;
    long low = strtol(range, NULL, 10);
    const char* dash = strchr(range, '-');
    long high = dash ? strtol(dash + 1, NULL, 10) : low;
    if (high < low)
        high = low;
    static __thread unsigned seed;
    if (seed == 0)
        seed = (unsigned)time(NULL) ^ (unsigned)(size_t)&seed;
    long ms = low + (high > low ? (long)(rand_r(&seed) % (unsigned)(high - low + 1)) : 0);
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, NULL);
}

int fsync(int fd) {
    if (realFsync == NULL)
        realFsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    delay(fd);
    return realFsync(fd);
}

int fdatasync(int fd) {
    if (realFdatasync == NULL)
        realFdatasync = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    delay(fd);
    return realFdatasync(fd);
}
