#pragma once

// The path an open descriptor names, read back from /proc, so that a test's file layer can
// tell which store file an fsync or a write is about without the stores telling it.

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <string>

inline std::string descriptorPath(int fd) {
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}
