// Standard streams on POSIX.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "console.h"

void OpenStandardStreams() {
    pollfd fds[3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    if (poll(fds, 3, 0) <= 0) return;
    // Each open takes the lowest free descriptor: the one that was closed.
    for (const pollfd& p : fds) {
        if (p.revents & POLLNVAL) open("/dev/null", p.fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

void WriteOutput(const char* bytes, size_t n, bool to_error) {
    if (to_error) fflush(stdout);
    fwrite(bytes, 1, n, to_error ? stderr : stdout);
}

bool OneOutputFile() {
    static int one = -1;
    struct stat output, error;
    if (one < 0) {
        one = fstat(1, &output) == 0 && fstat(2, &error) == 0 && output.st_dev == error.st_dev &&
              output.st_ino == error.st_ino;
    }
    return one == 1;
}
