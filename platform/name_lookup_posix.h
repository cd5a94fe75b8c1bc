// Finding the entry on disk that a driver name means, on a file system that
// tells case apart. Internal to the POSIX platform files.
#pragma once

#include <cstddef>

constexpr size_t kSystemNameSize = 4096;

// Copies name into out with each "\" turned into "/". Returns 0, or -1 when
// it does not fit.
int SystemName(const char* name, char* out, size_t cap);

// For a system name that does not exist as written: matches each missing
// component against its directory's entries without regard to ASCII case
// (several matches: the first in byte order). Returns 0 with the matched name
// in out, or -1 when some component matches nothing.
int MatchCase(const char* path, char* out, size_t cap);

// The same through the listings already read, without touching the file
// system: 0 with the matched name in out, -1 when some component is known to
// match nothing, 1 when a listing it needs has not been read.
int MatchCached(const char* path, char* out, size_t cap);

// Brings the directory listings read so far up to date with the changes
// seen in their directories, or drops those whose changes cannot be seen;
// called whenever a tool has run or a file was deleted, since either may
// change what a directory holds.
void ForgetListings();
