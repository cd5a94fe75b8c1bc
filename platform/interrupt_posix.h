// Internal to the POSIX platform files: the tool that an interrupt is to be
// passed on to.
#pragma once

#include <sys/types.h>

// The process groups of the tools that are running, for the interrupt to
// reach: each is added when started and removed when it has ended; one in a
// session of its own gets Ctrl-Z from the driver.
void AddRunningTool(pid_t pid, bool own_session);
void RemoveRunningTool(pid_t pid);

// An interrupt that reached the tool alone, as Ctrl-C does while the tool
// has the terminal: the run ends as if the driver had caught it.
void NoteInterrupt(int signo);
