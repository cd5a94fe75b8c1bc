// Searching for a file and reading its stamp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file.h"
#include "file_stamp.h"

// One record serves all searches. The stamp and name stay readable after the
// search is closed.
struct SearchRecord {
    intptr_t handle;       // the system's search, or -1 when none is open
    unsigned filter;       // attribute filter of the search
    unsigned char attrib;  // attribute byte of the found entry
    FileStamp stamp;
    char name[256];        // found entry's name, cut to 255 characters
};

// Searches for a file (never a plain directory) with the attribute filter 0.
// Returns 0 with the stamp in rec, or -1 when none is found; rec then holds
// no open search.
int FindFile(const char* name, unsigned filter, SearchRecord* rec);

// FindFile for a caller that wants the stamp alone, the search closed.
// Returns 0 with the stamp, or -1 when no file is found.
int FindStamp(const char* name, FileStamp* stamp);

// Searches for a file the driver names itself, a tool's output: where the
// file system tells case apart, only under exactly this name ("\" read as
// "/"), since the tools and the linker there open names exactly; elsewhere
// as FindFile. Returns 0 with its stamp, or -1.
int FindOutput(const char* name, FileStamp* stamp);

// Opens the file of exactly this name for reading, with the stamp FindFile
// would give it: where the system allows, one look-up serves both. Returns
// kNoFile when there is no such file or it cannot be opened; a search by
// FindFile may still find it.
FileHandle OpenWithStamp(const char* name, FileStamp* stamp);

// Releases the search, if one is open. Returns 0, or -1.
int CloseSearch(SearchRecord* rec);

// The name a tool is to be given for the file that name means, into out
// (cap bytes): where the file system tells case apart, the file's path as
// found on disk, "/" for each "\" and each part in its case on disk, never
// longer than name; elsewhere, and when no such file exists, name itself.
void DiskName(const char* name, char* out, size_t cap);
