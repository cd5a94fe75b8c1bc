// Finding the entry on disk that a driver name means, on a file system that
// tells case apart. Internal to the POSIX platform files.
#pragma once

#include <sys/stat.h>

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
// through a listing kept across a tool run may have gone since.
int MatchCase(const char* path, char* out, size_t cap);

// The file a name means, a directory never: its path on disk (in buf or
// matched, each kSystemNameSize bytes) with its status, or null. Matched
// as MatchCase does where it is not on disk as written; a name matched
// through a listing a tool has changed since is matched once more.
const char* LocateFile(const char* name, char* buf, char* matched, struct stat* st);

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

// What happens on disk, told by the command runner and the deletes; the
// listings follow it.
// A tool is to start, or the driver to delete a file: any directory may
// change from now on.
void ChangeStarting();
// A tool has started or ended: it may have changed any directory.
void ToolRan();
// The driver deleted this system name.
void NameDeleted(const char* path);
