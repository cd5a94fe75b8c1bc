// Internal to the POSIX platform files: the tool that an interrupt is to be
// passed on to.
#pragma once

#include <sys/types.h>

// The process group of the tool that is running now, or 0 when none is.
void SetRunningTool(pid_t pid);
