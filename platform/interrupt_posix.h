// Internal to the POSIX platform files: the tool that an interrupt is to be
// passed on to.
#pragma once

#include <sys/types.h>

// The process group of the tool that is running now, or 0 when none is.
void SetRunningTool(pid_t pid);

// An interrupt that reached the tool alone, as Ctrl-C does while the tool
// has the terminal: the run ends as if the driver had caught it.
void NoteInterrupt(int signo);
