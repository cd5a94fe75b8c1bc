// Running commands through /bin/sh on POSIX, each in a child process.
//
// Each tool gets a process group of its own, so that an interrupt can be
// passed on to the shell and to everything it started. A tool run alone
// while the driver is in the foreground of a terminal is given the terminal,
// as a shell does for a command typed at it: the tool can read it, write to
// it under "stty tostop" and change its modes, and Ctrl-C reaches it. The
// driver takes the terminal back when the tool ends. A captured tool writes
// to two pipes, or to one where the driver's output and error are one file,
// which the driver reads into memory while it waits, so no tool waits on a
// full pipe while the driver waits for another, and nothing is written to
// any disk. It runs in a session of its own, without a terminal, which it
// cannot share with the others: one that reads it fails at once instead of
// being stopped for good; the driver passes Ctrl-Z and the going on after
// it to them. A tool has ended when its shell has: a process it left
// running may hold the pipes for ever, so the driver learns of the end by
// SIGCHLD, which it lets in only while it polls the pipes.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
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
#include "text.h"

namespace {

// A pipe a captured command writes to, and the tag of the runs its bytes
// make.
struct Captured {
    int pipe;  // the reading end, -1 once closed
    char tag;
};

// A command started and not yet finished; it runs while its group is in
// tool_groups.
struct Child {
    Runs runs;
    int lost;  // why some of what it wrote is lost, or 0
    Captured streams[2];  // output, or both; error
    bool used;
    bool foreground;  // has the terminal
    bool captured;
};

Child children[kMaxCommands];

// The signal mask the tools get and the one the driver polls with: the
// driver's own, and that without SIGCHLD, which is blocked otherwise.
sigset_t tool_mask, polling_mask;

void Woken(int) {}

// Readies SIGCHLD once, before the first command starts: a child's end
// that comes while the driver is not polling stays pending, and cuts the
// next poll short.
void WatchChildren() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    struct sigaction action = {};
    action.sa_handler = Woken;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child, &tool_mask);
    polling_mask = tool_mask;
    sigdelset(&polling_mask, SIGCHLD);
}

pid_t Pid(int command) {
    sig_atomic_t group = tool_groups[command];
    return group < 0 ? -group : group;
}

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

void Release(Child* c) {
    for (Captured& s : c->streams) ClosePipe(&s);
    free(c->runs.bytes);
    c->runs = Runs{};
}

// Reads what the pipe holds now, at most most bytes. When memory cannot be
// had for it, the rest is lost, but still read, so that the tool is never
// kept waiting.
void ReadPipe(Child* owner, Captured* c, size_t most) {
    char block[1 << 16];
    while (most > 0) {
        ssize_t n = read(c->pipe, block, most < sizeof block ? most : sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0 || errno != EAGAIN) ClosePipe(c);
            return;
        }
        if (!owner->lost && !AddRun(&owner->runs, c->tag, block, static_cast<size_t>(n))) owner->lost = ENOMEM;
        most -= static_cast<size_t>(n);
    }
}

// Once the tool's shell has ended: reads what its pipes hold then, and
// closes them, whoever else holds them still.
void ReadRest(Child* c) {
    for (Captured& s : c->streams) {
        int held = 0;
        if (s.pipe >= 0 && ioctl(s.pipe, FIONREAD, &held) == 0 && held > 0) {
            ReadPipe(c, &s, static_cast<size_t>(held));
        }
        ClosePipe(&s);
    }
}

bool Spawn(const char* command, Child* c, const int* writing, pid_t* pid) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short group = c->captured ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setflags(&attr, static_cast<short>(group | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &tool_mask);
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
        posix_spawn_file_actions_adddup2(&files, writing[1] >= 0 ? writing[1] : writing[0], 2);
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
void Stopped(Child* c, pid_t pid, int signo) {
    if (c->captured || (signo != SIGTSTP && signo != SIGTTIN && signo != SIGTTOU)) return;
    int tty = Terminal();
    // Stopped before it was given the terminal: not a stop of the job.
    bool early = c->foreground && signo != SIGTSTP && tcgetpgrp(tty) == pid;
    if (!early) {
        if (c->foreground) GiveTerminal(tty, getpgrp());
        raise(signo);  // returns once the driver is continued
        // cppcheck-suppress unreachableCode
        c->foreground = !c->captured && InForeground(tty);
        if (c->foreground) GiveTerminal(tty, pid);
    }
    if (c->foreground || signo == SIGTSTP) kill(-pid, SIGCONT);
}

pid_t Waited(pid_t pid) { return pid >= 0 ? pid : errno == EINTR ? 0 : -1; }

// Waits for a started command to end or stop: its pid and status, or 0
// when the wait was interrupted or only read pipes, -1 when it fails. The
// pipes of the captured commands are read meanwhile, and a command that
// ends while they are polled cuts the poll short.
pid_t WaitForChange(int* status) {
    // Whether a command may have ended or stopped since waitpid last said
    // none had: SIGCHLD was taken, or has not been let in yet.
    static bool changed = true;
    pollfd fds[2 * kMaxCommands];
    Child* owners[2 * kMaxCommands];
    Captured* streams[2 * kMaxCommands];
    nfds_t n = 0;
    for (int i = 0; i < kMaxCommands; i++) {
        for (Captured& s : children[i].streams) {
            if (s.pipe < 0 || tool_groups[i] == 0) continue;
            fds[n] = {s.pipe, POLLIN, 0};
            owners[n] = &children[i];
            streams[n++] = &s;
        }
    }
    if (n == 0) return Waited(waitpid(-1, status, WUNTRACED));
    if (changed) {
        pid_t pid = waitpid(-1, status, WUNTRACED | WNOHANG);
        if (pid != 0) return Waited(pid);
        changed = false;
    }
    if (ppoll(fds, n, nullptr, &polling_mask) < 0) {
        changed = errno == EINTR;
        return changed ? 0 : -1;
    }
    // A share at a time: a process that writes without end must not keep
    // the driver from learning of ends.
    for (nfds_t i = 0; i < n; i++) {
        if (fds[i].revents) ReadPipe(owners[i], streams[i], size_t{1} << 20);
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
    while (i < kMaxCommands && children[i].used) i++;
    if (i == kMaxCommands) return -1;
    WatchChildren();
    Child* c = &children[i];
    *c = {{}, 0, {{-1, 0}, {-1, 1}}, true, false, captured};
    // Where the driver's output and error are one file, so are the tool's:
    // one pipe keeps the order in which it wrote to both.
    bool joined = captured && OneOutputFile();
    if (joined) c->streams[0].tag = 2;
    int writing[2] = {-1, -1};
    if (captured && (!OpenPipe(&c->streams[0], &writing[0]) || (!joined && !OpenPipe(&c->streams[1], &writing[1])))) {
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
        Release(c);
        c->used = false;
        return -1;
    }
    tool_groups[i] = static_cast<sig_atomic_t>(captured ? -pid : pid);
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
        while (i < kMaxCommands && (tool_groups[i] == 0 || Pid(i) != pid)) i++;
        if (i == kMaxCommands) continue;
        Child* c = &children[i];
        if (WIFSTOPPED(status)) {
            Stopped(c, pid, WSTOPSIG(status));
            continue;
        }
        if (c->foreground) GiveTerminal(Terminal(), getpgrp());
        tool_groups[i] = 0;
        ToolRan();
        ReadRest(c);
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
    WriteRuns(std::string_view(c->runs.bytes ? c->runs.bytes : "", c->runs.size));
    Release(c);
    c->used = false;
    tool_groups[command] = 0;  // when the wait failed, it is given up
    return lost;
}

bool CapturedOutput(int command, std::string_view* runs) {
    const Child* c = &children[command];
    *runs = std::string_view(c->runs.bytes ? c->runs.bytes : "", c->runs.size);
    return c->lost == 0;
}

int ProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : n > 1024 ? 1024 : static_cast<int>(n);
}
