// Running commands through /bin/sh on POSIX.
//
// Each tool gets a process group of its own, so that an interrupt can be
// passed on to the shell and to everything it started. A tool run alone
// while the driver is in the foreground of a terminal is given the terminal,
// as a shell does for a command typed at it: the tool can read it, write to
// it under "stty tostop" and change its modes, and Ctrl-C reaches it. The
// driver takes the terminal back when the tool ends. A captured tool writes
// to two files of its own, deleted at once and read back when it has ended,
// so no tool waits on a full pipe while the driver waits for another. It
// runs in a session of its own, without a terminal, which it cannot share
// with the others: one that reads it fails at once instead of being stopped
// for good; the driver passes Ctrl-Z and the going on after it to them.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "command_runner.h"
#include "console.h"
#include "interrupt.h"
#include "interrupt_posix.h"
#include "name_lookup_posix.h"

namespace {

struct Command {
    pid_t pid;        // 0: free; -1: ended
    bool foreground;  // has the terminal
    int output;       // the captured output and error, or -1
    int error;
    int lost;         // why some of what it wrote may be lost, or 0
};

Command commands[kMaxCommands];

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

// A file for captured text, deleted at once: -1, with its name and the
// reason in problem, when none can be made.
int CaptureFile(char* problem, size_t cap) {
    const char* dir = getenv("TMPDIR");
    char name[4096];
    int fd = -1;
    errno = ENAMETOOLONG;
    if (snprintf(name, sizeof name, "%s/zorbex-XXXXXX", dir && *dir ? dir : "/tmp") <
        static_cast<int>(sizeof name)) {
        fd = mkstemp(name);
    }
    if (fd < 0) {
        snprintf(problem, cap, "%s/zorbex-XXXXXX: %s", dir && *dir ? dir : "/tmp", strerror(errno));
        return -1;
    }
    unlink(name);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

void CloseCaptured(Command* c) {
    if (c->output >= 0) close(c->output);
    if (c->error >= 0) close(c->error);
    c->output = c->error = -1;
}

bool Spawn(const char* command, Command* c, pid_t* pid) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short group = c->output >= 0 ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setflags(&attr, static_cast<short>(group | POSIX_SPAWN_SETSIGDEF));
    posix_spawnattr_setpgroup(&attr, 0);
    // The driver ignores these for its own sake only.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (c->output >= 0) {
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&files, c->output, 1);
        posix_spawn_file_actions_adddup2(&files, c->error, 2);
    }
    WatchListings();
    int spawned = posix_spawn(pid, "/bin/sh", &files, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    // Whatever the command did, it may have changed any directory.
    ForgetListings();
    return spawned == 0;
}

// A tool stopped by the terminal or by Ctrl-Z stops the driver too, as one
// job, and goes on when the driver does: at once after Ctrl-Z, else once the
// driver is in the foreground (a driver whose group is orphaned is not
// stopped, and leaves the tool stopped). One stopped from outside is left
// so; an interrupt continues it. A captured tool is stopped and continued
// by the driver, and never by a terminal.
void Stopped(Command* c, int signo) {
    if (c->output >= 0 || (signo != SIGTSTP && signo != SIGTTIN && signo != SIGTTOU)) return;
    int tty = Terminal();
    // Stopped before it was given the terminal: not a stop of the job.
    bool early = c->foreground && signo != SIGTSTP && tcgetpgrp(tty) == c->pid;
    if (!early) {
        if (c->foreground) GiveTerminal(tty, getpgrp());
        raise(signo);  // returns once the driver is continued
        // cppcheck-suppress unreachableCode
        c->foreground = c->output < 0 && InForeground(tty);
        if (c->foreground) GiveTerminal(tty, c->pid);
    }
    if (c->foreground || signo == SIGTSTP) kill(-c->pid, SIGCONT);
}

// Returns 0, or the error number of a failed read.
int PassOn(int fd, bool to_error) {
    char block[16384];
    ssize_t n;
    if (lseek(fd, 0, SEEK_SET) != 0) return errno;
    while ((n = read(fd, block, sizeof block)) > 0) WriteOutput(block, static_cast<size_t>(n), to_error);
    return n < 0 ? errno : 0;
}

// A write that found the captured files' file system full failed, and the
// tool may have gone on without a word. While it is full, nothing of it is
// freed but by passing on the output of a tool that has ended, which comes
// after this test: so a tool that lost output, and every other running
// then, is found here when the first of them ends.
void NoteFullSpace(const Command* ended) {
    struct statvfs fs;
    if (fstatvfs(ended->output, &fs) != 0 || fs.f_blocks == 0) return;
    if ((geteuid() == 0 ? fs.f_bfree : fs.f_bavail) > 0) return;
    for (Command& c : commands) {
        if (c.output >= 0 && c.pid > 0) c.lost = ENOSPC;
    }
}

}  // namespace

int CommandLimit() {
    // Kept for the driver's own files, the standard streams, the terminal
    // and a directory being read.
    constexpr rlim_t kKept = 16;
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY ||
        files.rlim_cur >= kKept + 2 * static_cast<rlim_t>(kMaxCommands)) {
        return kMaxCommands;
    }
    return files.rlim_cur < kKept + 2 ? 1 : static_cast<int>((files.rlim_cur - kKept) / 2);
}

int StartCommand(const char* command, bool captured, char* problem, size_t cap) {
    problem[0] = '\0';
    if (Interrupted()) return -1;
    int i = 0;
    while (i < kMaxCommands && commands[i].pid != 0) i++;
    if (i == kMaxCommands) return -1;
    Command* c = &commands[i];
    *c = {0, false, -1, -1, 0};
    if (captured && ((c->output = CaptureFile(problem, cap)) < 0 ||
                     (c->error = CaptureFile(problem, cap)) < 0)) {
        CloseCaptured(c);
        return -1;
    }
    int tty = captured ? -1 : Terminal();
    bool foreground = InForeground(tty);
    pid_t pid;
    if (!Spawn(command, c, &pid)) {
        CloseCaptured(c);
        return -1;
    }
    c->pid = pid;
    AddRunningTool(pid, captured);
    c->foreground = foreground;
    if (foreground) GiveTerminal(tty, pid);
    // An interrupt that came while the tool was being started did not reach it.
    if (Interrupted()) kill(-pid, SIGTERM);
    return i;
}

int WaitForCommand(Ending* ending) {
    int status;
    for (;;) {
        pid_t pid = waitpid(-1, &status, WUNTRACED);
        if (pid < 0 && errno == EINTR) continue;
        if (pid < 0) return -1;
        int i = 0;
        while (i < kMaxCommands && commands[i].pid != pid) i++;
        if (i == kMaxCommands) continue;
        Command* c = &commands[i];
        if (WIFSTOPPED(status)) {
            Stopped(c, WSTOPSIG(status));
            continue;
        }
        if (c->foreground) GiveTerminal(Terminal(), getpgrp());
        if (c->output >= 0) NoteFullSpace(c);
        RemoveRunningTool(pid);
        ForgetListings();
        c->pid = -1;
        int signo = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        // Ctrl-C at the terminal reached only the tool's group, which it ended.
        if (c->foreground && (signo == SIGINT || signo == SIGQUIT)) NoteInterrupt(signo);
        int code = signo ? 0 : WEXITSTATUS(status);
        *ending = signo != 0 || (code > 128 && code < 128 + NSIG) ? Ending::kCrash
                  : code != 0                                  ? Ending::kFailure
                                                               : Ending::kSuccess;
        return i;
    }
}

int FinishCommand(int command) {
    Command* c = &commands[command];
    int lost = c->lost;
    if (c->output >= 0) {
        int output = PassOn(c->output, false);
        int error = PassOn(c->error, true);
        if (!lost) lost = output ? output : error;
    }
    CloseCaptured(c);
    c->pid = 0;
    return lost;
}

int ProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : n > 1024 ? 1024 : static_cast<int>(n);
}
