// Finding the entry on disk that a driver name means, on a file system that
// tells case apart. Internal to the POSIX platform files.
#pragma once

#include <cstddef>

constexpr size_t kSystemNameSize = 4096;

// The name with each "\" turned into "/": name itself when it has none, else
// a copy in buf; null when it is too long for buf.
const char* SystemName(const char* name, char* buf, size_t cap);

// For a system name that does not exist as written: takes each component
// that is there as written, and matches each other one against its
// directory's entries without regard to ASCII case (several matches: the
// first in byte order). Returns 0 with the matched name in out, or -1 when
// some component matches nothing.
int MatchCase(const char* path, char* out, size_t cap);

// The same through the listings already read, without touching the file
// system: 0 with the matched name in out, -1 when some component is known to
// match nothing, 1 when a listing it needs has not been read.
int MatchCached(const char* path, char* out, size_t cap);

// Before a tool runs, which may change any directory: has every listing
// watched, or dropped when it cannot be or its directory changed after it
// was read.
void WatchListings();

// Before the driver deletes a file: drops the listings not watched. Cheaper
// than watching them when nothing else follows, as at the end of a run.
void DropUnwatchedListings();

// Brings the directory listings read so far up to date with the changes
// seen in their directories, or drops those whose changes cannot be seen;
// called whenever a tool has run or a file was deleted, and before a
// look-up says that nothing matches.
void ForgetListings();
