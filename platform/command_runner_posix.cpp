// Running a command through /bin/sh on POSIX.
//
// The tool gets a process group of its own, so that an interrupt can be
// passed on to the shell and to everything it started. When the driver runs
// in the foreground of a terminal, that group is given the terminal while
// the tool runs, as a shell does for a command typed at it: the tool can
// read it, write to it under "stty tostop" and change its modes, and Ctrl-C
// reaches it. The driver takes the terminal back when the tool ends.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "command_runner.h"
#include "interrupt.h"
#include "interrupt_posix.h"
#include "name_lookup_posix.h"

namespace {

// The controlling terminal, opened at the first tool run; -1 when there is none.
int Terminal() {
    static int tty = -2;
    if (tty == -2) tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return tty;
}

bool InForeground(int tty) { return tty >= 0 && tcgetpgrp(tty) == getpgrp(); }

// A process outside the foreground that sets the foreground is stopped by
// SIGTTOU unless it blocks it.
void GiveTerminal(int tty, pid_t group) {
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &old);
    tcsetpgrp(tty, group);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Waits for the tool to end, and never blindly for a stopped one. A tool
// stopped by the terminal or by Ctrl-Z stops the driver too, as one job,
// and goes on when the driver does: at once for Ctrl-Z, else once the
// driver is in the foreground (a driver whose group is orphaned is not
// stopped, and leaves the tool stopped). One stopped from outside is waited
// for; an interrupt continues it.
int WaitForTool(pid_t pid, int tty, bool* foreground) {
    int status;
    for (;;) {
        if (waitpid(pid, &status, WUNTRACED) < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (!WIFSTOPPED(status)) return status;
        int signo = WSTOPSIG(status);
        if (signo != SIGTSTP && signo != SIGTTIN && signo != SIGTTOU) continue;
        // Stopped before it was given the terminal: not a stop of the job.
        bool early = *foreground && signo != SIGTSTP && tcgetpgrp(tty) == pid;
        if (!early) {
            if (*foreground) GiveTerminal(tty, getpgrp());
            raise(signo);
            *foreground = InForeground(tty);
            if (*foreground) GiveTerminal(tty, pid);
        }
        if (*foreground || signo == SIGTSTP) kill(-pid, SIGCONT);
    }
}

}  // namespace

int RunCommand(const char* command) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    if (Interrupted()) return -1;
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
    int tty = Terminal();
    bool foreground = InForeground(tty);
    pid_t pid;
    WatchListings();
    int spawned = posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    // Whatever the command did, it may have changed any directory.
    ForgetListings();
    if (spawned != 0) return -1;
    SetRunningTool(pid);
    if (foreground) GiveTerminal(tty, pid);
    // An interrupt that came while the tool was being started did not reach it.
    if (Interrupted()) kill(-pid, SIGTERM);
    int status = WaitForTool(pid, tty, &foreground);
    if (foreground) GiveTerminal(tty, getpgrp());
    SetRunningTool(0);
    ForgetListings();
    if (status == -1) return -1;
    // Ctrl-C at the terminal reached only the tool's group, which it ended.
    if (foreground && WIFSIGNALED(status) &&
        (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT)) {
        NoteInterrupt(WTERMSIG(status));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
