// Loaded with LD_PRELOAD into a process whose flushes to disk a test checks:
// appends "fsync <path>" (or fdatasync) to the file SYNC_LOG names for each
// flush that succeeds, the path as /proc/self/fd gives it. Linux only.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void logFlush(const char* call, int fd)
{
    const char* log = getenv("SYNC_LOG");
    char link[64];
    char path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (!log || length < 0)
        return;
    path[length] = '\0';
    char line[PATH_MAX + 16];
    const int size = snprintf(line, sizeof line, "%s %s\n", call, path);
    const int out = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (out < 0)
        return;
    // One write per line: lines of several threads do not mix.
    const ssize_t written = write(out, line, (size_t)size);
    (void)written;
    close(out);
}

static int flush(const char* call, int fd)
{
    int (*const real)(int) = (int (*)(int))dlsym(RTLD_NEXT, call);
    const int result = real(fd);
    if (result == 0)
        logFlush(call, fd);
    return result;
}

int fsync(int fd)
{
    return flush("fsync", fd);
}

int fdatasync(int fd)
{
    return flush("fdatasync", fd);
}
