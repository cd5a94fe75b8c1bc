// The object cache (ZORBEX_CACHE). A compile is known by a key: its command,
// the current directory and its source's name, the tool program the
// interpreter will run and the variables the tools read. Under the key are
// the results of its latest compiles, each naming every file the object's
// dependency records name, with a hash of its content, and the names where
// the compiler would have found a file before one of those, all absent.
// When all of one result's files still hash alike and its names are still
// absent, its object is put in place of running the tool, the records
// carrying the files' stamps of now, as the tool would have written them.
// A compile whose result the cache cannot know to be the same is run, and
// counted by why.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache_directory.h"
#include "cache_file.h"
#include "cache_key.h"
#include "console.h"
#include "file.h"
#include "include_search.h"
#include "path.h"
#include "tool_command.h"
#include "zorbex.h"

namespace {

// Said once, with ZORBEX_VERBOSE, and the cache is left alone for the rest
// of the run, which goes on as without it.
void GiveUp(Run* run, const char* what, const char* name) {
    if (run->verbose) Print("Object cache not used from here on: can't %s %s\n", what, name);
    run->cache.on = false;
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

// The cache's directory made absolute and the current directory known, at
// the first compile, so a run with nothing to build makes no call for it.
bool Ready(Run* run) {
    ObjectCache* c = &run->cache;
    if (c->ready) return true;
    char full[kNameSize];
    if (FullPath(full, sizeof full, c->dir) != 0) {
        return Fail(run, kReaderPlace, "Error: invalid ZORBEX_CACHE value: %s\n", c->dir);
    }
    if (FullPath(c->current_dir, sizeof c->current_dir, "") != 0) {
        GiveUp(run, "use", c->dir);
        return false;
    }
    CopyCut(c->dir, sizeof c->dir, full);
    c->ready = true;
    return true;
}

}  // namespace

bool StartCache(Run* run) {
    ObjectCache* c = &run->cache;
    *c = ObjectCache{};
    const char* dir = getenv("ZORBEX_CACHE");
    if (!dir || !*dir) return true;
    const char* size = getenv("ZORBEX_CACHE_SIZE");
    uint64_t mib = size && *size ? 0 : 2048;
    bool digits = true;
    for (const char* p = size && *size ? size : ""; *p && digits; p++) {
        digits = *p >= '0' && *p <= '9';
        mib = std::min<uint64_t>(mib * 10 + static_cast<uint64_t>(*p - '0'), uint64_t{1} << 40);
    }
    if (!digits || mib == 0) {
        Print("Error: invalid ZORBEX_CACHE_SIZE value: %s\n", size);
        return false;
    }
    // Made absolute when first used: a name that is too long as it is
    // stands for no directory the cache may take instead.
    if (strlen(dir) >= sizeof c->dir) {
        Print("Error: invalid ZORBEX_CACHE value: %s\n", dir);
        return false;
    }
    c->limit = mib << 20;
    CopyCut(c->dir, sizeof c->dir, dir);
    c->on = true;
    return true;
}

bool TakeFromCache(Run* run, CacheJob* job, const char* tool, const char* source, const char* object,
                   const char* disk, bool forced, std::string* runs) {
    ObjectCache* c = &run->cache;
    job->valid = false;
    if (!Ready(run)) return false;
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
    CopyCut(job->source, sizeof job->source, source);
    CacheHash key = KeyOf(run, tool, source);
    job->key[0] = key.low64;
    job->key[1] = key.high64;
    std::string bytes, restored;
    std::vector<CachedResult> results;
    std::vector<HashedFile> hashed;
    std::vector<FileStamp> stamps;
    const CachedResult* hit = nullptr;
    if (ReadCacheEntry(c, key, &bytes) && ReadCacheFile(bytes.data(), bytes.size(), key, &results)) {
        for (const CachedResult& r : results) {
            if (NamesSource(r, source) && StillAbsent(r) && InputsUnchanged(r, &hashed, &stamps) &&
                RestampRecords(&(restored = r.object), r, stamps) && CanWriteRuns(r.output)) {
                hit = &r;
                break;
            }
        }
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
    TouchCacheEntry(c, key);  // so the least recently used go first
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
    if (!c->on || !CapturedOutput(t.child, &runs) || !ReadWholeFile(t.output, &object)) return;
    std::vector<std::string> absent;
    CachedResult result;
    if (!ResultOf(run, t, object, &result, &absent)) return;
    result.output = runs;
    result.object = object;
    result.diagnostics = ReadWholeFile(t.job.diagnostics, &diagnostics);
    result.diagnostics_text = diagnostics;
    for (const std::string& name : absent) result.absent.push_back(name);
    // The results kept before, less any of the same inputs, after this one.
    CacheHash key = {t.job.key[0], t.job.key[1]};
    std::vector<CachedResult> results = {result}, before;
    if (ReadCacheEntry(c, key, &old) && ReadCacheFile(old.data(), old.size(), key, &before)) {
        for (const CachedResult& r : before) {
            if (results.size() < kResultsPerEntry && !SameInputs(r, result)) results.push_back(r);
        }
    }
    int failed = WriteCacheEntry(c, key, CacheFileBytes(key, results));
    if (failed == 1) {
        c->failed = true;
        return GiveUp(run, "write in", c->dir);
    }
    c->count[kStored] += failed == 0;
}

void FinishCache(Run* run) {
    ObjectCache* c = &run->cache;
    bool used = false;
    for (unsigned long long n : c->count) used = used || n > 0;
    if (!c->ready || !used) return;
    // A full disk stops a store, and is what the trim is for.
    if (c->count[kStored] > 0 || c->failed) TrimCache(c);
    if (!WriteCacheCounts(c) && run->verbose) Print("Object cache counts not written: can't write in %s\n", c->dir);
}
