// Path names: splitting into parts, joining parts, absolute form.
#pragma once

#include <cstddef>

// Every part is cut to 255 characters and always terminated.
struct PathParts {
    char drive[3];
    char dir[256];
    char base[256];
    char ext[256];
};

// Both "\" and "/" separate the parts of a name.
bool IsSeparator(char c);

// Whether two names are written alike but for ASCII case and which
// separator stands where. Compared from the end, where names of one
// directory differ.
bool SameName(const char* a, const char* b);

// Splits a name into drive, directory, base name and extension. Both "\" and
// "/" separate components. With double_byte set, the bytes 0x81-0x9F and
// 0xE0-0xFC lead a two-byte character whose second byte is never taken for a
// separator or a dot.
void SplitPath(const char* path, PathParts* parts, bool double_byte);

// Joins parts (each may be empty or null) into out, which holds cap bytes.
// Returns 0, or -1 when the whole result does not fit; out is then "".
int JoinPath(char* out, size_t cap, const char* drive, const char* dir,
             const char* base, const char* ext, bool double_byte);

// The absolute form of a name, into out of cap bytes: "" is the current
// directory, "con" in any case stays "con". Returns 0, or -1 when the name
// cannot be made absolute or the result does not fit (out is then "").
int FullPath(char* out, size_t cap, const char* name);

// How much of an absolute name made by FullPath is the current directory's
// own, in whole components: where the file system tells case apart, that
// part is opened as the system gives it, and only the rest is what the user
// typed. 0 where case does not matter.
size_t CurrentDirectoryPart(const char* full);

// A name from another system's tools read as a name of this one: where a
// drive letter names no root of its own, one before a separator ("Z:\src",
// as Wine gives the root) is passed over; elsewhere the name itself.
const char* WithoutDrive(const char* name);

// Whether name is "con" in any case: the console, never made absolute.
bool IsConsoleName(const char* name);

// FullPath of the console's name: "con". Returns 0, or -1 when cap is short.
int ConsoleFullPath(char* out, size_t cap);

// Whether names are to be scanned with the double-byte rule.
bool DoubleByteCodePage();
