// Running commands through /bin/sh on POSIX, each in a child process.
//
// Each tool gets a process group of its own, so that an interrupt can be
// passed on to the shell and to everything it started. A tool run alone
// while the driver is in the foreground of a terminal is given the terminal,
// as a shell does for a command typed at it: the tool can read it, write to
// it under "stty tostop" and change its modes, and Ctrl-C reaches it. The
// driver takes the terminal back when the tool ends. A captured tool writes
// to two pipes, which the driver reads into memory while it waits, so no
// tool waits on a full pipe while the driver waits for another, and nothing
// is written to any disk. It runs in a session of its own, without a
// terminal, which it cannot share with the others: one that reads it fails
// at once instead of being stopped for good; the driver passes Ctrl-Z and
// the going on after it to them.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "command_runner.h"
#include "console.h"
#include "interrupt.h"
#include "interrupt_posix.h"
#include "name_lookup_posix.h"
#include "text.h"

namespace {

// What a captured command wrote to one stream: read from the pipe while it
// runs, kept until it is passed on.
struct Captured {
    int pipe;  // the reading end, -1 once at its end
    char* bytes;
    size_t size;
    size_t room;
};

struct Child {
    pid_t pid;        // 0: free; -1: ended
    bool foreground;  // has the terminal
    bool captured;
    Captured output;
    Captured error;
    int lost;         // why some of what it wrote is lost, or 0
};

Child children[kMaxCommands];

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

// A pipe for a captured stream: the reading end kept, not blocking, and
// the writing one in *writing. False, with the reason in errno, when there
// is none to be had.
bool OpenPipe(Captured* c, int* writing) {
    int ends[2];
    if (pipe(ends) != 0) return false;
    for (int end : ends) fcntl(end, F_SETFD, FD_CLOEXEC);
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    c->pipe = ends[0];
    *writing = ends[1];
    return true;
}

void ClosePipe(Captured* c) {
    if (c->pipe >= 0) close(c->pipe);
    c->pipe = -1;
}

void Release(Captured* c) {
    ClosePipe(c);
    free(c->bytes);
    *c = {-1, nullptr, 0, 0};
}

// Reads all the pipe holds now. When memory cannot be had for it, the rest
// is lost, but still read, so that the tool is never kept waiting.
void ReadPipe(Child* owner, Captured* c) {
    for (;;) {
        char spill[4096];
        if (!owner->lost && !MakeRoom(&c->bytes, c->size, &c->room, sizeof spill)) owner->lost = ENOMEM;
        bool keep = !owner->lost;
        ssize_t n = keep ? read(c->pipe, c->bytes + c->size, c->room - c->size)
                         : read(c->pipe, spill, sizeof spill);
        if (n > 0 && keep) c->size += static_cast<size_t>(n);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        if (n == 0 || errno != EAGAIN) ClosePipe(c);
        return;
    }
}

bool Spawn(const char* command, Child* c, const int* writing, pid_t* pid) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short group = c->captured ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP;
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
    if (c->captured) {
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&files, writing[0], 1);
        posix_spawn_file_actions_adddup2(&files, writing[1], 2);
    }
    ChangeStarting();
    int spawned = posix_spawn(pid, "/bin/sh", &files, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    // Whatever the command did, it may have changed any directory.
    ToolRan();
    return spawned == 0;
}

// A tool stopped by the terminal or by Ctrl-Z stops the driver too, as one
// job, and goes on when the driver does: at once after Ctrl-Z, else once the
// driver is in the foreground (a driver whose group is orphaned is not
// stopped, and leaves the tool stopped). One stopped from outside is left
// so; an interrupt continues it. A captured tool is stopped and continued
// by the driver, and never by a terminal.
void Stopped(Child* c, int signo) {
    if (c->captured || (signo != SIGTSTP && signo != SIGTTIN && signo != SIGTTOU)) return;
    int tty = Terminal();
    // Stopped before it was given the terminal: not a stop of the job.
    bool early = c->foreground && signo != SIGTSTP && tcgetpgrp(tty) == c->pid;
    if (!early) {
        if (c->foreground) GiveTerminal(tty, getpgrp());
        raise(signo);  // returns once the driver is continued
        // cppcheck-suppress unreachableCode
        c->foreground = !c->captured && InForeground(tty);
        if (c->foreground) GiveTerminal(tty, c->pid);
    }
    if (c->foreground || signo == SIGTSTP) kill(-c->pid, SIGCONT);
}

// Waits for a started command to end or stop: its pid and status, or 0
// when the wait was interrupted or only read pipes, -1 when it fails. The
// pipes of the captured commands are read meanwhile; one whose pipes are
// both at their end has ended or is about to, and is waited for.
pid_t WaitForChange(int* status) {
    pollfd fds[2 * kMaxCommands];
    Child* owners[2 * kMaxCommands];
    Captured* streams[2 * kMaxCommands];
    nfds_t n = 0;
    for (Child& c : children) {
        if (c.pid <= 0 || !c.captured) continue;
        if (c.output.pipe < 0 && c.error.pipe < 0) {
            pid_t pid = waitpid(c.pid, status, WUNTRACED);
            return pid >= 0 ? pid : errno == EINTR ? 0 : -1;
        }
        for (Captured* s : {&c.output, &c.error}) {
            if (s->pipe < 0) continue;
            fds[n] = {s->pipe, POLLIN, 0};
            owners[n] = &c;
            streams[n++] = s;
        }
    }
    if (n == 0) {
        pid_t pid = waitpid(-1, status, WUNTRACED);
        return pid >= 0 ? pid : errno == EINTR ? 0 : -1;
    }
    if (poll(fds, n, -1) < 0) return errno == EINTR ? 0 : -1;
    for (nfds_t i = 0; i < n; i++) {
        if (fds[i].revents) ReadPipe(owners[i], streams[i]);
    }
    return 0;
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
    while (i < kMaxCommands && children[i].pid != 0) i++;
    if (i == kMaxCommands) return -1;
    Child* c = &children[i];
    *c = {0, false, captured, {-1, nullptr, 0, 0}, {-1, nullptr, 0, 0}, 0};
    int writing[2] = {-1, -1};
    if (captured && (!OpenPipe(&c->output, &writing[0]) || !OpenPipe(&c->error, &writing[1]))) {
        snprintf(problem, cap, "%s", strerror(errno));
    }
    int tty = captured ? -1 : Terminal();
    bool foreground = InForeground(tty);
    pid_t pid;
    bool spawned = !problem[0] && Spawn(command, c, writing, &pid);
    for (int end : writing) {
        if (end >= 0) close(end);
    }
    if (!spawned) {
        Release(&c->output);
        Release(&c->error);
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
        pid_t pid = WaitForChange(&status);
        if (pid < 0) return -1;
        if (pid == 0) continue;
        int i = 0;
        while (i < kMaxCommands && children[i].pid != pid) i++;
        if (i == kMaxCommands) continue;
        Child* c = &children[i];
        if (WIFSTOPPED(status)) {
            Stopped(c, WSTOPSIG(status));
            continue;
        }
        if (c->foreground) GiveTerminal(Terminal(), getpgrp());
        RemoveRunningTool(pid);
        ToolRan();
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
    Child* c = &children[command];
    int lost = c->lost;
    if (c->output.size) WriteOutput(c->output.bytes, c->output.size, false);
    if (c->error.size) WriteOutput(c->error.bytes, c->error.size, true);
    Release(&c->output);
    Release(&c->error);
    c->pid = 0;
    return lost;
}

bool CapturedOutput(int command, CapturedText* output, CapturedText* error) {
    const Child* c = &children[command];
    *output = CapturedText{c->output.bytes, c->output.size};
    *error = CapturedText{c->error.bytes, c->error.size};
    return c->lost == 0;
}

int ProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : n > 1024 ? 1024 : static_cast<int>(n);
}
