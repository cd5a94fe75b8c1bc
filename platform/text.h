// Small text helpers shared by the driver and both systems' files. Case
// rules touch the 26 ASCII letters only, whatever the locale, since names
// may hold any bytes.
#pragma once

#include <cstddef>
#include <cstdint>

char AsciiUpper(char c);

// Upper- or lower-cases the ASCII letters of text in place.
void UpperCase(char* text);
void LowerCase(char* text);

// Compare without regard to ASCII case: the first n bytes (up to the end
// of both texts), or the whole texts.
bool SamePrefix(const char* a, const char* b, size_t n);
bool SameText(const char* a, const char* b);

// Space, tab, line feed, vertical tab, form feed or carriage return.
bool IsWhiteSpace(char c);

// Copies at most cap - 1 characters of text and terminates the copy.
void CopyCut(char* out, size_t cap, const char* text);
// CopyCut, upper-casing the copy.
void CopyUpper(char* out, size_t cap, const char* text);

// Appends n bytes of text to the len bytes in out (cap bytes) and ends
// it. Returns false, out unchanged, when that does not fit.
bool Append(char* out, size_t cap, size_t* len, const char* text, size_t n);

// Makes room for at least more bytes after the size used of a growing
// buffer (*bytes, *room bytes long), by doubling it. Returns false, the
// buffer as it was, when memory cannot be had.
bool MakeRoom(char** bytes, size_t size, size_t* room, size_t more);

// What a captured command wrote, in the order written: runs, each a tag
// byte (0 standard output, 1 standard error, 2 both, written where they
// were one file), a 4-byte little-endian length and the bytes.
struct Runs {
    char* bytes;  // malloc'd, or null
    size_t size;
    size_t room;
    size_t last;  // where the last run starts, while size > 0
};
constexpr size_t kRunHeader = 5;

// Adds n bytes written to the stream of the tag: to the last run when it
// is of that stream and its length has room. False when memory cannot be
// had.
bool AddRun(Runs* runs, char tag, const char* bytes, size_t n);

// FNV-1a of n bytes; folded, of each byte with bit 5 cleared, so that texts
// that differ only in ASCII case hash alike (and a few other bytes too).
uint32_t NameHash(const char* name, size_t n, bool folded);
