// Interrupts on POSIX: SIGINT, SIGTERM and SIGHUP are noted and passed on to
// the running tool's process group. The tool has a group of its own because
// the shell that starts it does not pass signals on, and a signal to the
// driver's group could reach whoever started the driver. Ctrl-Z, SIGTSTP,
// stops the tools in sessions of their own, which no terminal reaches, and
// they go on when the driver does.
#include <signal.h>

#include <initializer_list>

#include "command_runner.h"
#include "interrupt.h"
#include "interrupt_posix.h"

volatile sig_atomic_t tool_groups[kMaxCommands];

namespace {

volatile sig_atomic_t caught = 0;

void Note(int signo) {
    caught = signo;
    for (volatile sig_atomic_t& tool : tool_groups) {
        if (tool == 0) continue;
        pid_t group = tool > 0 ? tool : -tool;
        kill(-group, signo);
        // A stopped tool would keep the signal pending.
        kill(-group, SIGCONT);
    }
}

void PassToSessions(int signo) {
    for (volatile sig_atomic_t& tool : tool_groups) {
        if (tool < 0) kill(static_cast<pid_t>(tool), signo);
    }
}

void CatchStop();

// Stops the tools and the driver; once the driver is continued, continues
// the tools. A tool in a session of its own is in an orphaned group, which
// SIGTSTP does not stop.
void Stop(int) {
    PassToSessions(SIGSTOP);
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    raise(SIGTSTP);
    // cppcheck-suppress unreachableCode
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);  // stops here
    PassToSessions(SIGCONT);
    CatchStop();
}

void CatchStop() {
    struct sigaction action = {};
    action.sa_handler = Stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
}

}  // namespace

void CatchInterrupts() {
    // Past a file-size limit, or to a pipe whose reader has gone, a write is
    // to fail and be reported or passed over, not end the run with the
    // directive file left behind. The tools get the defaults back.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    struct sigaction action = {};
    action.sa_handler = Note;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read or wait returns, so the run can stop.
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        // A signal ignored by whoever started the driver stays ignored, as
        // for a job run in the background.
        if (sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(signo, &action, nullptr);
    }
    struct sigaction old;
    if (sigaction(SIGTSTP, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) CatchStop();
}

bool Interrupted() { return caught != 0; }

void NoteInterrupt(int signo) { caught = signo; }
