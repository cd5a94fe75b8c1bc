// Change notification for the directory listings of the name look-up: the
// system's own where it has one (inotify on Linux), none elsewhere. Internal
// to the POSIX platform files.
#pragma once

enum class DirectoryChange {
    kAdded,    // an entry was made or moved in
    kRemoved,  // an entry was deleted or moved out
    kGone,     // the directory itself was deleted or moved
    kLost,     // changes were lost: no listing can be trusted
};

struct Change {
    int watch;
    DirectoryChange what;
    const char* name;  // the entry, for kAdded and kRemoved
};

// Starts watching a directory. Returns the watch, or -1 when it cannot be
// watched.
int WatchDirectory(const char* dir);

// The next change seen since the last call: true with *change filled, valid
// until the next call; false when none is left.
bool NextChange(Change* change);
