// Internal to the POSIX platform files: the tools that an interrupt is to be
// passed on to.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "command_runner.h"

// The process group of each command running, by its number: set by the
// command runner when it starts, cleared once it has ended, 0 where none
// runs; negated for one in a session of its own, which gets Ctrl-Z from
// the driver. The signal handlers read it as it stands.
extern volatile sig_atomic_t tool_groups[kMaxCommands];

// An interrupt that reached the tool alone, as Ctrl-C does while the tool
// has the terminal: the run ends as if the driver had caught it.
void NoteInterrupt(int signo);
