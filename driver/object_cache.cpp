// The object cache (ZORBEX_CACHE, ZORBEX_CACHE_REMOTE). A compile is known
// by a key (cache_key.h): its command,
// the current directory and its source's name, the tool program the
// interpreter will run and the variables the tools read. Under the key are
// the results of its latest compiles, each naming every file the object's
// dependency records name, with a hash of its content, and the names where
// the compiler would have found a file before one of those, all absent.
// When all of one result's files still hash alike and its names are still
// absent, its object is put in place of running the tool, the records
// carrying the files' stamps of now, as the tool would have written them.
// A compile whose result the cache cannot know to be the same is run, and
// counted by why. The entries are kept in a directory (cache_directory.h),
// on a server (cache_server.h) or both: a miss in the directory asks the
// server, whose entry is then kept in the directory too.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache_directory.h"
#include "cache_file.h"
#include "cache_key.h"
#include "cache_server.h"
#include "console.h"
#include "base_directory.h"
#include "file.h"
#include "http.h"
#include "include_search.h"
#include "path.h"
#include "tool_command.h"
#include "zorbex.h"

namespace {

// Said once, with ZORBEX_VERBOSE, and the directory is left alone for the
// rest of the run, which goes on as without it.
void GiveUp(Run* run, const char* what, const char* name) {
    if (run->verbose) Print("Object cache not used from here on: can't %s %s\n", what, name);
    run->cache.local = false;
}

// What stands for the base directory in a result kept from its names
// below it: a byte no name of a directory starts with.
constexpr std::string_view kBaseMark = "\x01";

// A name below from, with to in from's place; the name itself when not
// below. A name as this system opens it may lack the drive that from has.
std::string_view Rebased(std::string_view name, std::string_view from, std::string_view to, std::string* out) {
    bool windows = WindowsNames();
    std::string whole(from);
    size_t below = BelowDirectory(name, from, windows);
    if (below == std::string_view::npos) below = BelowDirectory(name, WithoutDrive(whole.c_str()), windows);
    if (below == std::string_view::npos) return name;
    *out = std::string(DirectoryStem(to, windows)).append(name.substr(below));
    return *out;
}

// A result with its names below from put below to: the object's records,
// the inputs and the absent names. False when a name would not fit a record.
struct MovedResult {
    CachedResult result;
    std::string object;
    std::vector<std::string> names;  // the inputs' names, then the absent ones
};

bool MoveResult(const CachedResult& r, std::string_view from, std::string_view to, MovedResult* out) {
    out->result = r;
    if (!RebaseRecords(r.object, from, to, &out->object)) return false;
    out->result.object = out->object;
    out->names.assign(r.inputs.size() + r.absent.size(), std::string());
    size_t n = 0;
    for (CachedInput& input : out->result.inputs) {
        input.name = Rebased(input.name, from, to, &out->names[n++]);
        if (input.name.size() > 255) return false;
    }
    for (std::string_view& name : out->result.absent) name = Rebased(name, from, to, &out->names[n++]);
    return true;
}

// The name a record gives, as this system opens it.
const char* Recorded(std::string_view recorded, char* name) {
    memcpy(name, recorded.data(), recorded.size());
    name[recorded.size()] = '\0';
    return WithoutDrive(name);
}

// Whether text holds one of the names of the compile's own date and time.
bool UsesClock(std::string_view text) {
    for (size_t at = text.find("__"); at != text.npos; at = text.find("__", at + 1)) {
        std::string_view rest = text.substr(at + 2);
        if (rest.starts_with("DATE__") || rest.starts_with("TIME__") || rest.starts_with("TIMESTAMP__")) return true;
    }
    return false;
}

// The content hash and stamp of a file a record names; false when it
// cannot be read. clock, when given, is set when the file uses the date
// or time of the compile.
bool HashFile(const char* name, CacheHash* hash, FileStamp* stamp, bool* clock = nullptr) {
    if (FindStamp(name, stamp) != 0) return false;
    FileHandle file = OpenForReading(name);
    if (file == kNoFile) return false;
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    static char block[1 << 16];
    // The end of the block before, where a name may begin.
    constexpr size_t kKept = sizeof "__TIMESTAMP_" - 1;
    static char window[kKept + sizeof block];
    size_t kept = 0;
    long n;
    while ((n = ReadBlock(file, block, sizeof block)) > 0) {
        size_t got = static_cast<size_t>(n);
        XXH3_128bits_update(&state, block, got);
        if (!clock) continue;
        memcpy(window + kept, block, got);
        *clock = *clock || UsesClock(std::string_view(window, kept + got));
        size_t keep = std::min(kKept, kept + got);
        memmove(window, window + kept + got - keep, keep);
        kept = keep;
    }
    CloseFile(file);
    *hash = XXH3_128bits_digest(&state);
    return n == 0;
}

ObjectBlock WholeBlock(const std::string& bytes) {
    return ObjectBlock{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0, true};
}

// Sets each dependency record's stamp to the stamp its file has now, in
// the record's own time. False when the records are not those the inputs
// were taken from.
bool RestampRecords(std::string* object, const CachedResult& result, const std::vector<FileStamp>& stamps) {
    RecordCursor cursor = {};
    Dependency dep;
    size_t i = 0;
    RecordStep step;
    while ((step = NextDependency(WholeBlock(*object), &cursor, &dep)) == RecordStep::kDependency) {
        if (i == stamps.size() || std::string_view(dep.name, dep.length) != result.inputs[i].name) return false;
        const FileStamp& now = stamps[i];
        bool utc = result.inputs[i++].utc;
        SetDependencyStamp(reinterpret_cast<unsigned char*>(object->data()) + dep.record,
                           utc ? now.utc_time : now.time, utc ? now.utc_date : now.date);
    }
    return step == RecordStep::kEnd && i == stamps.size();
}

// The files of the results under a key are mostly the same files: each is
// hashed once.
struct HashedFile {
    std::string_view name;
    bool read;
    CacheHash content;
    FileStamp stamp;
};

bool InputsUnchanged(const CachedResult& result, std::vector<HashedFile>* hashed, std::vector<FileStamp>* stamps) {
    stamps->clear();
    for (const CachedInput& input : result.inputs) {
        auto known = std::find_if(hashed->begin(), hashed->end(), [&](const HashedFile& f) { return f.name == input.name; });
        if (known == hashed->end()) {
            char name[kNameSize];
            HashedFile f = {input.name, false, {}, {}};
            f.read = HashFile(Recorded(input.name, name), &f.content, &f.stamp);
            known = hashed->insert(hashed->end(), f);
        }
        if (!known->read || !SameHash(known->content, input.content)) return false;
        stamps->push_back(known->stamp);
    }
    return true;
}

bool StillAbsent(const CachedResult& result) {
    for (std::string_view absent : result.absent) {
        std::string name(absent);
        int64_t when;
        if (ChangedTime(name.c_str(), &when) != 1) return false;
    }
    return true;
}

// What the storing side insists on: records that name the source.
bool NamesSource(const CachedResult& result, const char* source) {
    for (const CachedInput& input : result.inputs) {
        char name[kNameSize];
        if (SameName(Recorded(input.name, name), source)) return true;
    }
    return false;
}

// Puts a stored result in place as the tool would have left it.
bool PutInPlace(Run* run, const CacheJob& job, const char* object, const CachedResult& result,
                const std::string& bytes) {
    RemoveFile(object);
    if (WriteInPlace(&run->cache, object, bytes) != 0) return false;
    if (result.diagnostics) return WriteInPlace(&run->cache, job.diagnostics, result.diagnostics_text) == 0;
    RemoveExactFile(job.diagnostics);
    return true;
}

// The names made absolute and the current directory known, at the first
// compile, so a run with nothing to build makes no call for them.
bool Ready(Run* run) {
    ObjectCache* c = &run->cache;
    if (c->ready) return true;
    char full[kNameSize];
    if (c->local && FullPath(full, sizeof full, c->dir) != 0) {
        return Fail(run, kReaderPlace, "Error: invalid ZORBEX_CACHE value: %s\n", c->dir);
    }
    if (c->local) CopyCut(c->dir, sizeof c->dir, full);
    if (c->base[0] && FullPath(full, sizeof full, c->base) != 0) {
        return Fail(run, kReaderPlace, "Error: invalid ZORBEX_CACHE_BASEDIR value: %s\n", c->base);
    }
    if (c->base[0]) CopyCut(c->base, sizeof c->base, full);
    if (FullPath(c->current_dir, sizeof c->current_dir, "") != 0) {
        if (run->verbose) Print("Object cache not used from here on: can't use the current directory\n");
        c->on = false;
        return false;
    }
    c->ready = true;
    return true;
}

bool Invalid(const char* name, const char* value) {
    Print("Error: invalid %s value: %s\n", name, value);
    return false;
}

// ZORBEX_CACHE_REMOTE: an HTTP or HTTPS URL, "|read-only" after it for a
// server never written to.
bool StartServer(ObjectCache* c) {
    const char* value = getenv("ZORBEX_CACHE_REMOTE");
    if (!value || !*value) return true;
    if (!kHttpAvailable) {
        Print("Error: ZORBEX_CACHE_REMOTE is not available: zorbex was built without libcurl4-openssl-dev\n");
        return false;
    }
    constexpr std::string_view kReadOnly = "|read-only";
    std::string_view url(value);
    c->read_only = url.ends_with(kReadOnly);
    if (c->read_only) url.remove_suffix(kReadOnly.size());
    c->remote = url;
    HttpUrl parts;
    if (!ParseHttpUrl(c->remote.c_str(), &parts)) return Invalid("ZORBEX_CACHE_REMOTE", value);
    c->shown = parts.shown;
    return true;
}

// Whether the result in r stands for this compile now: its records name the
// source, its absent names are still absent, its files hash alike, and the
// output can be passed on as the tool wrote it. Its object, restamped (and
// moved to this tree's base), in *object.
bool Stands(const CachedResult& r, const CacheJob& job, const char* base, std::vector<HashedFile>* hashed,
            MovedResult* moved, std::string* object) {
    const CachedResult* here = &r;
    if (job.based) {
        if (!MoveResult(r, kBaseMark, base, moved)) return false;
        here = &moved->result;
    }
    std::vector<FileStamp> stamps;
    return NamesSource(*here, job.source) && StillAbsent(*here) && InputsUnchanged(*here, hashed, &stamps) &&
           RestampRecords(&(*object = here->object), *here, stamps) && CanWriteRuns(here->output);
}

// The first result of an entry that stands; null for none.
const CachedResult* Standing(const std::string& bytes, const CacheHash& key, const CacheJob& job, const char* base,
                             std::vector<CachedResult>* results, std::vector<HashedFile>* hashed,
                             MovedResult* moved, std::string* object) {
    if (!ReadCacheFile(bytes.data(), bytes.size(), key, results)) return nullptr;
    for (const CachedResult& r : *results) {
        if (Stands(r, job, base, hashed, moved, object)) return job.based ? &moved->result : &r;
    }
    return nullptr;
}

}  // namespace

bool StartCache(Run* run) {
    ObjectCache* c = &run->cache;
    *c = ObjectCache{};
    const char* dir = getenv("ZORBEX_CACHE");
    if (!StartServer(c)) return false;
    if (dir && *dir) {
        const char* size = getenv("ZORBEX_CACHE_SIZE");
        uint64_t mib = size && *size ? 0 : 2048;
        bool digits = true;
        for (const char* p = size && *size ? size : ""; *p && digits; p++) {
            digits = *p >= '0' && *p <= '9';
            mib = std::min<uint64_t>(mib * 10 + static_cast<uint64_t>(*p - '0'), uint64_t{1} << 40);
        }
        if (!digits || mib == 0) return Invalid("ZORBEX_CACHE_SIZE", size);
        // Made absolute when first used: a name that is too long as it is
        // stands for no directory the cache may take instead.
        if (strlen(dir) >= sizeof c->dir) return Invalid("ZORBEX_CACHE", dir);
        c->limit = mib << 20;
        CopyCut(c->dir, sizeof c->dir, dir);
        c->local = true;
    }
    c->on = c->local || !c->remote.empty();
    const char* base = getenv("ZORBEX_CACHE_BASEDIR");
    if (c->on && base && *base) {
        if (strlen(base) >= sizeof c->base) return Invalid("ZORBEX_CACHE_BASEDIR", base);
        CopyCut(c->base, sizeof c->base, base);
    }
    return true;
}

bool TakeFromCache(Run* run, CacheJob* job, const char* tool, const char* source, const char* object,
                   const char* disk, bool forced, std::string* runs) {
    ObjectCache* c = &run->cache;
    job->valid = false;
    if (!(c->local || ServerInUse(c)) || !Ready(run)) return false;
    const char* defaults = getenv(tool);
    // The assembler's search for included files is not known.
    bool assembler = tool == kTargets[run->settings.target].assembler;
    CacheCount why = forced      ? kUncachedForced
                     : assembler ? kUncachedSearch
                                 : Uncacheable(run->command, defaults ? defaults : "");
    if (why != kCacheCounts) {
        c->count[why]++;
        return false;
    }
    PathParts parts;
    SplitPath(disk, &parts, run->double_byte);
    if (JoinPath(job->diagnostics, sizeof job->diagnostics, "", "", parts.base, ".err", run->double_byte) != 0) {
        return false;
    }
    job->valid = true;
    job->tool = tool;
    job->target = run->settings.target;
    job->based = KnownFromBase(run, defaults);
    CopyCut(job->source, sizeof job->source, source);
    CacheHash key = KeyOf(run, tool, source, job->based);
    job->key[0] = key.low64;
    job->key[1] = key.high64;
    std::string bytes, restored;
    std::vector<CachedResult> results;
    std::vector<HashedFile> hashed;
    MovedResult moved;
    const CachedResult* hit = nullptr;
    bool kept = c->local && ReadCacheEntry(c, key, &bytes) &&
                (hit = Standing(bytes, key, *job, c->base, &results, &hashed, &moved, &restored));
    if (!hit && FetchCacheEntry(run, key, &bytes)) {
        hit = Standing(bytes, key, *job, c->base, &results, &hashed, &moved, &restored);
    }
    if (!hit) {
        c->count[kMisses]++;
        return false;
    }
    if (!PutInPlace(run, *job, object, *hit, restored)) {
        GiveUp(run, "write", object);
        c->failed = true;
        c->count[kMisses]++;
        job->valid = false;
        return false;
    }
    // So the least recently used go first; the server's entry is kept here too.
    if (kept) TouchCacheEntry(c, key);
    if (!kept && c->local && WriteCacheEntry(c, key, bytes) == 1) c->failed = true;
    c->count[kHits]++;
    run->settings.rebuilt = true;
    runs->assign(hit->output);
    return true;
}

namespace {

// The names where a file would have been found before one the compile read,
// those absent in *absent. One that is there now was there when the tool
// searched, or it would have been read instead, unless it came while the
// tool ran. Returns why the result is not to be stored, or kCacheCounts.
CacheCount Shadows(Run* run, const Tool& t, const CachedResult& result, std::vector<std::string>* absent) {
    char target_include[32];
    snprintf(target_include, sizeof target_include, "%s_INCLUDE", kTargets[t.job.target].name);
    IncludeSearch search = {t.text,           run->cache.current_dir, getenv(t.job.tool), getenv(target_include),
                            getenv("INC386"), getenv("INCLUDE"),      run->double_byte};
    std::vector<std::string_view> recorded;
    for (const CachedInput& input : result.inputs) recorded.push_back(input.name);
    std::vector<std::string> names;
    if (!ShadowNames(search, recorded, &names)) return kUncachedSearch;
    for (std::string& name : names) {
        if (name.size() > kLongestAbsentName) return kUncachedSearch;
        int64_t when;
        int found = ChangedTime(name.c_str(), &when);
        if (found == 1) absent->push_back(std::move(name));
        if (found < 0 || (found == 0 && when >= t.job.started)) return kUncachedNew;
    }
    return kCacheCounts;
}

// The result of a tool that made its object, with the inputs its records
// name as they were when the tool read them; false, counted, when it is not
// to be stored.
bool ResultOf(Run* run, const Tool& t, const std::string& object, CachedResult* result,
              std::vector<std::string>* absent) {
    ObjectCache* c = &run->cache;
    RecordCursor cursor = {};
    Dependency dep;
    RecordStep step;
    bool source = false, clock = false, changed = false;
    while ((step = NextDependency(WholeBlock(object), &cursor, &dep)) == RecordStep::kDependency) {
        char name[kNameSize];
        const char* recorded = Recorded(std::string_view(dep.name, dep.length), name);
        source = source || SameName(recorded, t.job.source);
        CachedInput input = {std::string_view(dep.name, dep.length), false, {}};
        FileStamp stamp;
        int64_t when;
        if (!HashFile(recorded, &input.content, &stamp, &clock) || !SameStamp(stamp, dep.date, dep.time)) return false;
        // Written while the tool ran: the object may hold what was there before.
        changed = changed || ChangedTime(recorded, &when) != 0 || when >= t.job.started;
        input.utc = stamp.utc_date == dep.date && stamp.utc_time == dep.time;
        result->inputs.push_back(input);
    }
    if (step != RecordStep::kEnd || !source) return false;
    CacheCount why = clock ? kUncachedClock : changed ? kUncachedNew : Shadows(run, t, *result, absent);
    if (why != kCacheCounts) c->count[why]++;
    return why == kCacheCounts;
}

// Whether two results were made from the same inputs, so the new one
// takes the old one's place.
bool SameInputs(const CachedResult& a, const CachedResult& b) {
    return a.inputs.size() == b.inputs.size() &&
           std::equal(a.inputs.begin(), a.inputs.end(), b.inputs.begin(), [](const CachedInput& x, const CachedInput& y) {
               return x.name == y.name && SameHash(x.content, y.content);
           });
}

}  // namespace

void StoreInCache(Run* run, const Tool& t) {
    ObjectCache* c = &run->cache;
    std::string_view runs;
    std::string object, diagnostics, old;
    if (!(c->local || ServerInUse(c)) || !CapturedOutput(t.child, &runs) || !ReadWholeFile(t.output, &object)) return;
    std::vector<std::string> absent;
    CachedResult result;
    if (!ResultOf(run, t, object, &result, &absent)) return;
    result.output = runs;
    result.object = object;
    result.diagnostics = ReadWholeFile(t.job.diagnostics, &diagnostics);
    result.diagnostics_text = diagnostics;
    for (const std::string& name : absent) result.absent.push_back(name);
    // Kept from the base: the base's own name is no part of it.
    MovedResult moved;
    if (t.job.based && !MoveResult(result, c->base, kBaseMark, &moved)) return;
    const CachedResult& kept = t.job.based ? moved.result : result;
    // The results kept before, less any of the same inputs, after this one.
    CacheHash key = {t.job.key[0], t.job.key[1]};
    std::vector<CachedResult> results = {kept}, before;
    if (c->local && ReadCacheEntry(c, key, &old) && ReadCacheFile(old.data(), old.size(), key, &before)) {
        for (const CachedResult& r : before) {
            if (results.size() < kResultsPerEntry && !SameInputs(r, kept)) results.push_back(r);
        }
    }
    std::string bytes = CacheFileBytes(key, results);
    SendCacheEntry(run, key, bytes);
    if (!c->local) return;
    int failed = WriteCacheEntry(c, key, bytes);
    if (failed == 1) {
        c->failed = true;
        return GiveUp(run, "write in", c->dir);
    }
    c->count[kStored] += failed == 0;
}

void FinishCache(Run* run) {
    ObjectCache* c = &run->cache;
    FinishCacheServer(run);
    bool used = false;
    for (unsigned long long n : c->count) used = used || n > 0;
    if (!c->ready || !used || c->dir[0] == '\0') return;
    // A full disk stops a store, and is what the trim is for.
    if (c->count[kStored] > 0 || c->failed) TrimCache(c);
    if (!WriteCacheCounts(c) && run->verbose) Print("Object cache counts not written: can't write in %s\n", c->dir);
}
