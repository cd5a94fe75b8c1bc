// No change notification: no listing is watched, so the look-up drops its
// listings whenever a tool runs or a file is deleted.
#include "directory_watch_posix.h"

int WatchDirectory(const char*) { return -1; }

bool NextChange(Change*) { return false; }
