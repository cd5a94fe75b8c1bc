// The object cache's own directory. It holds CACHEDIR.TAG, which tells
// backup tools that what is there can be made again, stats.txt, and the
// entries, each in a subdirectory named by the first two hexadecimal digits
// of its key. The trim and every clean-up look only there and remove only
// names of the cache's own forms: whatever else is in the directory or
// above it is the user's and is never touched.
#pragma once

#include <string>
#include <string_view>

#include "cache_file.h"
#include "zorbex.h"

// The whole entry of a key; false when there is none, or it is too large.
bool ReadCacheEntry(const ObjectCache* c, const CacheHash& key, std::string* bytes);

// Writes an entry in place of the key's. Returns 0; 1 when the bytes could
// not be written; 2 when another took the place meanwhile.
int WriteCacheEntry(ObjectCache* c, const CacheHash& key, std::string_view bytes);

// Marks an entry as used now, so the least recently used go first.
void TouchCacheEntry(const ObjectCache* c, const CacheHash& key);

// Writes bytes to a new file of a name of this run's own beside name, then
// puts it in place in one step: a reader of name finds the old file or the
// new one whole, and no file or link that stood under the new name is
// followed. Returns as WriteCacheEntry does.
int WriteInPlace(ObjectCache* c, const char* name, std::string_view bytes);

// Removes the least recently used entries until the cache holds at most
// 90% of its limit, and temporary files of its own left for an hour.
void TrimCache(ObjectCache* c);

// Adds the run's counts to stats.txt; false when it cannot be written.
bool WriteCacheCounts(ObjectCache* c);

// The whole of a file of exactly this name, up to kLargestEntry bytes.
bool ReadWholeFile(const char* name, std::string* out);

// The largest file kept: a cache of larger objects would soon hold little else.
constexpr size_t kLargestEntry = 256u << 20;
