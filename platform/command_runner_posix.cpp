// Running a command through /bin/sh on POSIX.
#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>

#include "command_runner.h"
#include "name_lookup_posix.h"

extern char** environ;

int RunCommand(const char* command) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    pid_t pid;
    int spawned = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ);
    // Whatever the command did, it may have changed any directory.
    ForgetListings();
    if (spawned != 0) return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    ForgetListings();
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
