// The object cache's server (ZORBEX_CACHE_REMOTE): any HTTP server that
// answers GET and PUT, the entries laid out under its URL as in the local
// directory, the same bytes. Nothing else is asked of it: no listing, no
// directories made; it keeps its own size. A server that is slow, down or
// answers wrong is left alone for the rest of the run, which goes on
// without it, said once with ZORBEX_VERBOSE=1.
#pragma once

#include <string>
#include <string_view>

#include "cache_file.h"
#include "zorbex.h"

// Whether the server is still to be asked this run.
bool ServerInUse(const ObjectCache* c);

// The entry of a key on the server; false when it has none, or is not used.
bool FetchCacheEntry(Run* run, const CacheHash& key, std::string* bytes);

// Sends an entry to the server in the background, unless it is only read.
void SendCacheEntry(Run* run, const CacheHash& key, std::string_view bytes);

// Waits a while for the entries sent to be stored, and closes the server.
void FinishCacheServer(Run* run);
