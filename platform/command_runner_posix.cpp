// Running a command through /bin/sh on POSIX.
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command_runner.h"
#include "interrupt.h"
#include "interrupt_posix.h"
#include "name_lookup_posix.h"

int RunCommand(const char* command) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    if (Interrupted()) return -1;
    // The tool gets a process group of its own, so that an interrupt can be
    // passed on to the shell and to everything it started.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    // The driver ignores these for its own sake only.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    pid_t pid;
    WatchListings();
    int spawned = posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    // Whatever the command did, it may have changed any directory.
    ForgetListings();
    if (spawned != 0) return -1;
    SetRunningTool(pid);
    // An interrupt that came while the tool was being started did not reach it.
    if (Interrupted()) kill(-pid, SIGTERM);
    int status;
    int waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    SetRunningTool(0);
    ForgetListings();
    if (waited < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
