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
// directory's entries without regard to ASCII case (several matches: each
// in byte order, the exact one first, until the rest is found). Returns 0
// with the matched name in out, or -1 when nothing matches. A name matched
// through a listing kept across a tool run may have gone since: the caller
// finds out when it uses it (DropStaleListings).
int MatchCase(const char* path, char* out, size_t cap);

// The same through the listings already read, without touching the file
// system: 0 with the matched name in out, -1 when some component is known to
// match nothing, 1 when a listing it needs has not been read or may be out
// of date.
int MatchCached(const char* path, char* out, size_t cap);

// MatchCase for the other spellings of a name being deleted: a listing that
// may be out of date is taken as it is, since a spelling some tool made
// since it was read stands in for nothing, and one read for each delete
// would make a full build read the directory once per module.
int MatchListed(const char* path, char* out, size_t cap);

// Before a tool runs, which may change any directory: has every listing
// watched where it can be, dropped when its directory changed after it was
// read.
void WatchListings();

// Before the driver deletes a file: drops the listings not watched. Cheaper
// than watching them when nothing else follows, as at the end of a run.
void DropUnwatchedListings();

// The driver deleted this system name: its listing loses it.
void NameDeleted(const char* path);

// A name matched through the listings was not there after all: drops the
// listings that a tool may have changed since they were last found
// current. Returns false when there were none, and the miss stands.
bool DropStaleListings();

// Brings the watched listings up to date with the changes seen in their
// directories, and marks the others to be checked at their next miss;
// called whenever a tool has run or a file was deleted, and before a
// look-up says that nothing matches.
void ForgetListings();
