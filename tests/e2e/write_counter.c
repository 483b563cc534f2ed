// Preloaded into a program (LD_PRELOAD) to count its write(2) calls on standard output: each
// one appends its byte count as a line to the file named by WRITE_COUNTER_LOG. stdio's own
// writes inside the C library are not seen, so a result sent through stdio counts as none.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

typedef ssize_t (*WriteFunction)(int, const void*, size_t);

ssize_t write(int descriptor, const void* bytes, size_t count) {
    static WriteFunction next;
    if (next == NULL) {
        next = (WriteFunction)dlsym(RTLD_NEXT, "write");
    }
    const char* path = getenv("WRITE_COUNTER_LOG");
    if (descriptor == STDOUT_FILENO && path != NULL) {
        const int log = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (log >= 0) {
            char line[32];
            const int length = snprintf(line, sizeof line, "%zu\n", count);
            next(log, line, (size_t)length);
            close(log);
        }
    }
    return next(descriptor, bytes, count);
}
