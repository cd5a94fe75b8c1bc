// The object cache (ZORBEX_CACHE). A compile is known by a key: its command,
// the current directory and its source's name, the tool program the
// interpreter will run and the variables the tools read. The result stored
// under the key names every file the object's dependency records name, with
// a hash of its content; when all of them still hash alike, the stored
// object is put in place of running the tool, its records carrying the
// files' stamps of now, as the tool would have written them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>

#include "cache_file.h"
#include "console.h"
#include "file.h"
#include "path.h"
#include "tool_command.h"
#include "zorbex.h"

namespace {

constexpr const char kStatsName[] = "stats.txt";
constexpr const char kObjectTemp[] = "~ZORBEX~.TMP";
// Objects above this size are not kept: a cache of them would soon hold little else.
constexpr size_t kLargestFile = 256u << 20;

// Said once, with ZORBEX_VERBOSE, and the cache is left alone for the rest
// of the run, which goes on as without it.
void GiveUp(Run* run, const char* what, const char* name) {
    if (run->verbose) Print("Object cache not used from here on: can't %s %s\n", what, name);
    run->cache.on = false;
}

void HashText(XXH3_state_t* state, const char* text) { XXH3_128bits_update(state, text, strlen(text) + 1); }

// The program file the command runs, by name, size and time: another
// version of the tool is another compile.
void HashProgram(Run* run, XXH3_state_t* state, const char* word) {
    ObjectCache* c = &run->cache;
    int i = 0;
    while (i < c->programs && strcmp(c->program[i].word, word) != 0) i++;
    if (i == c->programs && i < kCachedPrograms) {
        CachedProgram* p = &c->program[c->programs++];
        CopyCut(p->word, sizeof p->word, word);
        p->found = FindProgram(word, p->path, sizeof p->path) == 0 && FindStamp(p->path, &p->stamp) == 0;
    }
    const CachedProgram* p = i < kCachedPrograms ? &c->program[i] : nullptr;
    if (!p || !p->found) return HashText(state, "");
    HashText(state, p->path);
    uint32_t stamp[3] = {p->stamp.size, p->stamp.utc_date, p->stamp.utc_time};
    XXH3_128bits_update(state, stamp, sizeof stamp);
}

CacheHash KeyOf(Run* run, const char* tool, const char* source) {
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    const char* texts[] = {run->command, run->cache.current_dir, source};
    for (const char* text : texts) HashText(&state, text);
    char word[kCachedWordSize];
    CopyToolName(word, sizeof word, tool);
    HashProgram(run, &state, word);
    // The variables the tools read, each known by its place: their default
    // options, the include path and the tool set's directory.
    char target_include[32];
    snprintf(target_include, sizeof target_include, "%s_INCLUDE", kTargets[run->settings.target].name);
    for (const char* name : {tool, static_cast<const char*>(target_include), "INC386", "INCLUDE", "WATCOM"}) {
        const char* value = getenv(name);
        HashText(&state, value ? value : "");
        XXH3_128bits_update(&state, value ? "=" : "-", 1);
    }
    return XXH3_128bits_digest(&state);
}

// The file of a key: its hash in hexadecimal in the cache's directory.
void EntryName(const Run* run, const CacheHash& key, char* out, size_t cap) {
    snprintf(out, cap, "%s%c%016llx%016llx", run->cache.dir, kSeparatorChar,
             static_cast<unsigned long long>(key.high64), static_cast<unsigned long long>(key.low64));
}

// The whole of a file of exactly this name, up to kLargestFile bytes.
bool ReadWhole(const char* name, std::string* out) {
    FileStamp stamp;
    FileHandle file = OpenWithStamp(name, &stamp);
    if (file == kNoFile) return false;
    out->clear();
    static char block[1 << 16];
    long n;
    while ((n = ReadBlock(file, block, sizeof block)) > 0 && out->size() <= kLargestFile) {
        out->append(block, static_cast<size_t>(n));
    }
    CloseFile(file);
    return n == 0;
}

// Writes bytes under a name of the cache's own, then puts it in place in
// one step. Returns 0; 1 when the bytes could not be written, so nothing
// more will be; 2 when another took the place meanwhile (a system that
// will not rename over a file being read), which costs only this result.
int WriteInPlace(const char* name, std::string_view bytes, const char* temp) {
    FileHandle file = CreateForWriting(temp);
    if (file == kNoFile) return 1;
    bool written = WriteBlock(file, bytes.data(), bytes.size()) == 0;
    int failed = CloseFile(file) != 0 || !written ? 1 : RenameFile(temp, name) != 0 ? 2 : 0;
    if (failed) RemoveExactFile(temp);
    return failed;
}

// A name of this run's own in the cache's directory, where runs on other
// machines may write too.
void TempName(Run* run, char* out, size_t cap) {
    ObjectCache* c = &run->cache;
    if (c->token == 0) {
        std::random_device random;
        c->token = static_cast<uint64_t>(random()) << 32 ^ random() ^
                   static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    snprintf(out, cap, "%s%c%016llx.%u.tmp", c->dir, kSeparatorChar, static_cast<unsigned long long>(c->token),
             c->temps++);
}

// The name a record gives, as this system opens it.
const char* Recorded(const Dependency& dep, char* name) {
    memcpy(name, dep.name, dep.length);
    name[dep.length] = '\0';
    return WithoutDrive(name);
}

// The content hash and stamp of a file a record names; false when it cannot be read.
bool HashFile(const char* name, CacheHash* hash, FileStamp* stamp) {
    if (FindStamp(name, stamp) != 0) return false;
    FileHandle file = OpenForReading(name);
    if (file == kNoFile) return false;
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    static char block[1 << 16];
    long n;
    while ((n = ReadBlock(file, block, sizeof block)) > 0) XXH3_128bits_update(&state, block, static_cast<size_t>(n));
    CloseFile(file);
    *hash = XXH3_128bits_digest(&state);
    return n == 0;
}

ObjectBlock WholeBlock(const std::string& bytes) {
    return ObjectBlock{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0, true};
}

// Sets each dependency record's stamp to the stamp its file has now, in
// the record's own time, and its checksum when it has one. False when the
// records are not those the inputs were taken from.
bool RestampRecords(std::string* object, const CachedResult& result, const std::vector<FileStamp>& stamps) {
    RecordCursor cursor = {};
    Dependency dep;
    size_t i = 0;
    while (NextDependency(WholeBlock(*object), &cursor, &dep) == RecordStep::kDependency) {
        if (i == stamps.size() || std::string_view(dep.name, dep.length) != result.inputs[i].name) return false;
        const FileStamp& now = stamps[i];
        bool utc = result.inputs[i++].utc;
        uint16_t words[2] = {utc ? now.utc_time : now.time, utc ? now.utc_date : now.date};
        char* r = object->data() + (dep.name - object->data()) - 10;  // the record's type byte
        for (int w = 0; w < 2; w++) {
            r[5 + 2 * w] = static_cast<char>(words[w]);
            r[6 + 2 * w] = static_cast<char>(words[w] >> 8);
        }
        size_t last = 3 + static_cast<size_t>(dep.length) + 7;  // the checksum byte
        if (r[last] != 0) {
            unsigned sum = 0;
            for (size_t b = 0; b < last; b++) sum += static_cast<unsigned char>(r[b]);
            r[last] = static_cast<char>(-sum);
        }
    }
    return i == stamps.size();
}

bool InputsUnchanged(const CachedResult& result, std::vector<FileStamp>* stamps) {
    for (const CachedInput& input : result.inputs) {
        char name[kNameSize];
        Dependency dep = {0, 0, input.name.data(), input.name.size()};
        CacheHash now;
        FileStamp stamp;
        if (!HashFile(Recorded(dep, name), &now, &stamp) || !SameHash(now, input.content)) return false;
        stamps->push_back(stamp);
    }
    return true;
}

// Puts a stored result in place as the tool would have left it.
bool PutInPlace(const CacheJob& job, const char* object, const CachedResult& result,
                std::string* bytes) {
    RemoveFile(object);
    if (WriteInPlace(object, *bytes, kObjectTemp) != 0) return false;
    if (result.diagnostics) {
        return WriteInPlace(job.diagnostics, result.diagnostics_text, kObjectTemp) == 0;
    }
    RemoveExactFile(job.diagnostics);
    return true;
}

}  // namespace

namespace {

bool InvalidSize(const char* value) {
    Print("Error: invalid ZORBEX_CACHE_SIZE value: %s\n", value);
    return false;
}

}  // namespace

bool StartCache(Run* run) {
    ObjectCache* c = &run->cache;
    *c = ObjectCache{};
    const char* dir = getenv("ZORBEX_CACHE");
    if (!dir || !*dir) return true;
    const char* size = getenv("ZORBEX_CACHE_SIZE");
    uint64_t mib = size && *size ? 0 : 2048;
    for (const char* p = size && *size ? size : ""; *p; p++) {
        if (*p < '0' || *p > '9') return InvalidSize(size);
        mib = std::min<uint64_t>(mib * 10 + static_cast<uint64_t>(*p - '0'), uint64_t{1} << 40);
    }
    if (mib == 0) return InvalidSize(size);
    c->limit = mib << 20;
    // Made absolute when first used, so a run with nothing to build makes
    // no call for it.
    CopyCut(c->dir, sizeof c->dir, dir);
    c->on = true;
    return true;
}

bool TakeFromCache(Run* run, CacheJob* job, const char* tool, const char* source, const char* object,
                   const char* disk, std::string* runs) {
    ObjectCache* c = &run->cache;
    if (!c->ready) {
        char full[kNameSize];
        if (FullPath(full, sizeof full, c->dir) != 0 || FullPath(c->current_dir, sizeof c->current_dir, "") != 0) {
            GiveUp(run, "use", c->dir);
            return false;
        }
        CopyCut(c->dir, sizeof c->dir, full);
        c->ready = true;
    }
    PathParts parts;
    SplitPath(disk, &parts, run->double_byte);
    job->valid = JoinPath(job->diagnostics, sizeof job->diagnostics, "", "", parts.base, ".err", run->double_byte) == 0;
    CopyCut(job->source, sizeof job->source, source);
    CacheHash key = KeyOf(run, tool, source);
    job->key[0] = key.low64;
    job->key[1] = key.high64;
    char name[kNameSize + 40];
    EntryName(run, key, name, sizeof name);
    std::string bytes, restored;
    CachedResult result;
    std::vector<FileStamp> stamps;
    // What the tool wrote is kept as runs in the output; an error apart was
    // kept by an earlier version. Runs written to one file where output and
    // error are two now cannot be passed on as the tool would write them.
    if (!job->valid || !ReadWhole(name, &bytes) || !ReadCacheFile(bytes.data(), bytes.size(), key, &result) ||
        !result.error.empty() || !CanWriteRuns(result.output) || !InputsUnchanged(result, &stamps) || !RestampRecords(&(restored = result.object), result, stamps)) {
        c->misses++;
        return false;
    }
    if (!PutInPlace(*job, object, result, &restored)) {
        GiveUp(run, "write", object);
        c->misses++;
        return false;
    }
    TouchFile(name);  // so the least recently used go first
    c->hits++;
    run->settings.rebuilt = true;
    runs->assign(result.output);
    return true;
}

void StoreInCache(Run* run, const Tool& t) {
    ObjectCache* c = &run->cache;
    std::string_view runs;
    std::string object, diagnostics;
    if (!c->on || !CapturedOutput(t.child, &runs) || !ReadWhole(t.output, &object)) return;
    CachedResult result;
    result.output = runs;
    result.diagnostics = ReadWhole(t.job.diagnostics, &diagnostics);
    result.diagnostics_text = diagnostics;
    result.object = object;
    // Only an object whose records name its source, and each file as it
    // was when the tool read it.
    RecordCursor cursor = {};
    Dependency dep;
    RecordStep step;
    bool source = false;
    while ((step = NextDependency(WholeBlock(object), &cursor, &dep)) == RecordStep::kDependency) {
        char name[kNameSize];
        const char* recorded = Recorded(dep, name);
        source = source || SameName(recorded, t.job.source);
        CachedInput input = {std::string_view(dep.name, dep.length), false, {}};
        FileStamp stamp;
        if (!HashFile(recorded, &input.content, &stamp) || !SameStamp(stamp, dep.date, dep.time)) return;
        input.utc = stamp.utc_date == dep.date && stamp.utc_time == dep.time;
        result.inputs.push_back(input);
    }
    if (step != RecordStep::kEnd || !source) return;
    CacheHash key = {t.job.key[0], t.job.key[1]};
    char name[kNameSize + 40], temp[kNameSize + 40];
    EntryName(run, key, name, sizeof name);
    if (c->stored == 0 && MakeDirectories(c->dir) != 0) return GiveUp(run, "make", c->dir);
    TempName(run, temp, sizeof temp);
    int failed = WriteInPlace(name, CacheFileBytes(key, result), temp);
    if (failed == 1) return GiveUp(run, "write", name);
    c->stored += failed == 0;
}

namespace {

// Removes the least recently used files until the cache holds at most 90%
// of its limit.
void Trim(Run* run) {
    ObjectCache* c = &run->cache;
    Listing* listing = OpenListing(c->dir);
    if (!listing) return;
    std::vector<std::tuple<int64_t, uint64_t, std::string>> files;
    uint64_t total = 0;
    ListedFile f;
    while (NextListed(listing, &f)) {
        total += f.size;
        if (strcmp(f.name, kStatsName) != 0) files.emplace_back(f.modified, f.size, f.name);
    }
    CloseListing(listing);
    if (total <= c->limit) return;
    std::sort(files.begin(), files.end());
    for (const auto& [modified, size, file] : files) {
        if (total <= c->limit / 10 * 9) break;
        char name[kNameSize + 300];
        snprintf(name, sizeof name, "%s%c%s", c->dir, kSeparatorChar, file.c_str());
        if (RemoveExactFile(name) != 0) continue;
        total -= size;
        c->removed++;
    }
}

}  // namespace

void FinishCache(Run* run) {
    ObjectCache* c = &run->cache;
    if (!c->on || c->hits + c->misses == 0) return;
    if (c->stored > 0) Trim(run);
    char name[kNameSize + 40], temp[kNameSize + 40];
    snprintf(name, sizeof name, "%s%c%s", c->dir, kSeparatorChar, kStatsName);
    // Counts another run wrote at the same moment may be lost; results never.
    unsigned long long counts[4] = {};
    std::string text;
    // Each count follows its name; a damaged file counts from 0.
    const char* p = ReadWhole(name, &text) ? text.c_str() : "";
    for (char* end = nullptr; int i : {0, 1, 2, 3}) {
        if (!(p = strchr(p, ' '))) break;
        counts[i] = strtoull(p, &end, 10);
        p = end;
    }
    char out[200];
    int n = snprintf(out, sizeof out, "hits %llu%smisses %llu%sstored %llu%sremoved %llu%s",
                     counts[0] + c->hits, kLineEnd, counts[1] + c->misses, kLineEnd, counts[2] + c->stored, kLineEnd,
                     counts[3] + c->removed, kLineEnd);
    if (c->stored == 0 && MakeDirectories(c->dir) != 0) return GiveUp(run, "make", c->dir);
    TempName(run, temp, sizeof temp);
    if (WriteInPlace(name, std::string_view(out, static_cast<size_t>(n)), temp) == 1) GiveUp(run, "write", name);
}
