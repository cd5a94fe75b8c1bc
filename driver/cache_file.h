// The files of the object cache, one for each compile, named after its key:
// the key itself, the files the object's dependency records name with a
// hash of each one's content, the object, what the tool wrote to its output
// and its error, and its diagnostics file if it wrote one; all of it ended
// by a hash of what comes before, so that a file cut, damaged or written by
// something else is told from a whole one. Pure: the caller reads and
// writes the files.
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

// A file the object's records name, as they name it, and its content then.
struct CachedInput {
    std::string_view name;  // 1 to 255 bytes
    bool utc;               // its record holds its stamp in UTC, else in local time
    CacheHash content;
};

struct CachedResult {
    std::vector<CachedInput> inputs;  // in the records' order
    std::string_view object;
    std::string_view output;
    std::string_view error;
    bool diagnostics = false;  // the tool left a diagnostics file
    std::string_view diagnostics_text;
};

// The whole file for a result stored under key.
std::string CacheFileBytes(const CacheHash& key, const CachedResult& result);

// Reads a file of size bytes back into *result, whose views point into
// bytes. False when it is not a whole cache file for key.
bool ReadCacheFile(const char* bytes, size_t size, const CacheHash& key, CachedResult* result);
