// Interrupts on POSIX: SIGINT, SIGTERM and SIGHUP are noted and passed on to
// the running tool's process group. The tool has a group of its own because
// the shell that starts it does not pass signals on, and a signal to the
// driver's group could reach whoever started the driver.
#include <signal.h>

#include <initializer_list>

#include "command_runner.h"
#include "interrupt.h"
#include "interrupt_posix.h"

namespace {

volatile sig_atomic_t caught = 0;
volatile sig_atomic_t running_tools[kMaxCommands];

void Note(int signo) {
    caught = signo;
    for (volatile sig_atomic_t& tool : running_tools) {
        if (tool <= 0) continue;
        kill(-static_cast<pid_t>(tool), signo);
        // A stopped tool would keep the signal pending.
        kill(-static_cast<pid_t>(tool), SIGCONT);
    }
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
}

bool Interrupted() { return caught != 0; }

void AddRunningTool(pid_t pid) {
    for (volatile sig_atomic_t& tool : running_tools) {
        if (tool != 0) continue;
        tool = static_cast<sig_atomic_t>(pid);
        return;
    }
}

void RemoveRunningTool(pid_t pid) {
    for (volatile sig_atomic_t& tool : running_tools) {
        if (tool == static_cast<sig_atomic_t>(pid)) tool = 0;
    }
}

void NoteInterrupt(int signo) { caught = signo; }
