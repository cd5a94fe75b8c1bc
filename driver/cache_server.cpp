#include "cache_server.h"

#include "cache_directory.h"
#include "console.h"
#include "http.h"
#include "interrupt.h"

namespace {

// A connection on a team's network is made within milliseconds; a server
// that takes longer is as good as down. The answer has time for an object
// of some MiB; the entries sent, for a few more at the end of the run.
constexpr int kConnectMs = 100;
constexpr int kAnswerMs = 3000;
constexpr int kFinishMs = 5000;

void LeaveServer(Run* run, const char* why) {
    if (run->verbose) Print("Object cache server not used from here on: %s\n", why);
    run->cache.server_left = true;
}

// Opened at the first request, so a run with nothing to build makes no call for it.
bool Opened(Run* run) {
    ObjectCache* c = &run->cache;
    if (!ServerInUse(c)) return false;
    if (c->server) return true;
    char problem[kMessageSize / 2];
    c->server = OpenHttpServer(c->remote.c_str(), kConnectMs, kAnswerMs, problem, sizeof problem);
    if (!c->server) LeaveServer(run, problem);
    return c->server != nullptr;
}

}  // namespace

bool ServerInUse(const ObjectCache* c) { return !c->remote.empty() && !c->server_left; }

bool FetchCacheEntry(Run* run, const CacheHash& key, std::string* bytes) {
    if (!Opened(run)) return false;
    char path[kEntryPathSize], problem[kMessageSize / 2];
    EntryPath(key, '/', path);
    int status = HttpGet(run->cache.server, path, bytes, kLargestEntry, problem, sizeof problem);
    if (status == 200 || status == 404) return status == 200;
    if (status != 0) snprintf(problem, sizeof problem, "GET %s/%s: status %d", run->cache.shown.c_str(), path, status);
    LeaveServer(run, problem);
    return false;
}

void SendCacheEntry(Run* run, const CacheHash& key, std::string_view bytes) {
    if (run->cache.read_only || !Opened(run)) return;
    char path[kEntryPathSize];
    EntryPath(key, '/', path);
    // Refused once a send has failed: FinishCacheServer says why.
    HttpPutLater(run->cache.server, path, bytes);
}

void FinishCacheServer(Run* run) {
    ObjectCache* c = &run->cache;
    if (!c->server) return;
    char problem[kMessageSize / 2];
    // An interrupted run ends at once: what is not sent is not lost, only not shared.
    int lost = HttpFinish(c->server, Interrupted() ? 0 : kFinishMs, problem, sizeof problem);
    if (lost > 0 && run->verbose) Print("Object cache server: %d results not stored: %s\n", lost, problem);
    CloseHttpServer(c->server);
    c->server = nullptr;
}
