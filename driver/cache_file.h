// The entries of the object cache, one for each key: the key itself and the
// results of the latest compiles under it, most recent first, each with the
// files the object's dependency records name and a hash of each one's
// content, the names that were absent where the compiler would have looked
// before those files, the object, what the tool wrote (its two streams in
// the order written) and its diagnostics file if it wrote one; all of it
// ended by a hash of what comes before, so that a file cut, damaged or
// written by something else is told from a whole one. Pure: the caller
// reads and writes the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#define XXH_INLINE_ALL
#include "xxhash.h"

using CacheHash = XXH128_hash_t;

inline bool SameHash(const CacheHash& a, const CacheHash& b) { return XXH128_isEqual(a, b) != 0; }

// Results kept under one key: a header switched back and forth between a
// few versions finds each.
constexpr size_t kResultsPerEntry = 4;

constexpr size_t kLongestAbsentName = 4095;

// A file the object's records name, as they name it, and its content then.
struct CachedInput {
    std::string_view name;  // 1 to 255 bytes
    bool utc;               // its record holds its stamp in UTC, else in local time
    CacheHash content;
};

struct CachedResult {
    std::vector<CachedInput> inputs;  // in the records' order; at least one
    // Names where a file would have been found before one of the inputs:
    // each was absent, and must still be for the result to stand.
    std::vector<std::string_view> absent;  // 1 to kLongestAbsentName bytes each
    std::string_view object;
    std::string_view output;  // the tool's streams, as the command runner captured them
    bool diagnostics = false;  // the tool left a diagnostics file
    std::string_view diagnostics_text;
};

// The whole file for results stored under key (1 to kResultsPerEntry).
std::string CacheFileBytes(const CacheHash& key, const std::vector<CachedResult>& results);

// Reads a file of size bytes back into *results, whose views point into
// bytes. False when it is not a whole cache file for key.
bool ReadCacheFile(const char* bytes, size_t size, const CacheHash& key, std::vector<CachedResult>* results);

// Where the entry of a key is kept, below the cache's directory or URL:
// two hexadecimal digits of the key, a separator, and all 32 (35 bytes and
// a terminator).
constexpr size_t kEntryPathSize = 36;
void EntryPath(const CacheHash& key, char separator, char* out);
