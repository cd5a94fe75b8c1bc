// Plain files: open, read, write, close, delete.
//
// Names are the driver's own text. Where the platform's file system tells
// case apart, a name that does not exist as written is matched without regard
// to ASCII case, one component at a time.
#pragma once

#include <cstddef>
#include <cstdint>

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// The line end of text files written on this platform.
extern const char kLineEnd[];

// Opens an existing file for reading; kNoFile on failure.
FileHandle OpenForReading(const char* name);

// Creates or truncates a file under exactly this name; kNoFile on failure.
FileHandle CreateForWriting(const char* name);

// Creates a file under exactly this name that no file or link held before;
// kNoFile when one did, or on failure.
FileHandle CreateExclusive(const char* name);

// Returns the number of bytes read, 0 at the end, -1 on error.
long ReadBlock(FileHandle file, char* buf, size_t size);

// Writes all of buf. Returns 0, or -1 on error.
int WriteBlock(FileHandle file, const char* buf, size_t size);

// Returns 0, or -1 when the system reports an error at the close.
int CloseFile(FileHandle file);

// Deletes a file, and where the file system tells case apart every other
// spelling of its name in case, so that none can stand in for it. Returns 0,
// or -1 when none was deleted.
int RemoveFile(const char* name);

// Deletes a file under exactly this name. Returns 0, or -1.
int RemoveExactFile(const char* name);

// Puts the file from in the place of to in one step, so that a reader of to
// finds the old file or the new one whole, never a part. Returns 0, or -1.
int RenameFile(const char* from, const char* to);

// Makes the directory, and any missing above it. Returns 0 when it is there.
int MakeDirectories(const char* name);

// When the file under exactly this name, not followed through a link, was
// last written or put where it is, in nanoseconds since 1970. Returns 0; 1
// when there is no such file; -1 when it cannot be told.
int ChangedTime(const char* name, int64_t* when);
// A time no later than now by the clock files are stamped with: a file
// written from now on has a time at least this.
int64_t FileClockNow();

// Sets a file's modification time to now. Returns 0, or -1.
int TouchFile(const char* name);

// The plain files of a directory, read one at a time; links are not followed.
struct Listing;
struct ListedFile {
    char name[256];
    uint64_t size;
    int64_t modified;  // seconds, only to put files in order of use
};
// Returns null when the directory cannot be read.
Listing* OpenListing(const char* directory);
// False at the end of the listing.
bool NextListed(Listing* listing, ListedFile* file);
void CloseListing(Listing* listing);
