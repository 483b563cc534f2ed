// Preloaded into a program (LD_PRELOAD) to stand for what Linux's C library cannot show:
// - WRITE_COUNTER_LOG names a file to which each write(2) call on standard output appends its
//   byte count as a line. stdio's own writes inside the C library are not seen, so a result sent
//   through stdio counts as none.
// - POLL_NVAL_ON_STDOUT set: poll(2) answers POLLNVAL for standard output, as a Mac's poll does
//   for an open device its kqueue cannot watch (/dev/tty, /dev/null).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

typedef ssize_t (*WriteFunction)(int, const void*, size_t);
typedef int (*PollFunction)(struct pollfd*, nfds_t, int);

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

int poll(struct pollfd* descriptors, nfds_t count, int timeout) {
    static PollFunction next;
    if (next == NULL) {
        next = (PollFunction)dlsym(RTLD_NEXT, "poll");
    }
    if (getenv("POLL_NVAL_ON_STDOUT") != NULL && count == 1 && descriptors[0].fd == STDOUT_FILENO) {
        descriptors[0].revents = POLLNVAL;
        return 1;
    }
    return next(descriptors, count, timeout);
}
