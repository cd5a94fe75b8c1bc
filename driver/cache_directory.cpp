#include "cache_directory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "file.h"
#include "text.h"
#include "tool_command.h"

namespace {

constexpr const char kStatsName[] = "stats.txt";
constexpr const char kTagName[] = "CACHEDIR.TAG";
constexpr const char kTag[] =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This file is a cache directory tag created by zorbex.\n"
    "# For information about cache directory tags see https://bford.info/cachedir/\n";
constexpr const char* kCountNames[kCacheCounts] = {
    "hits",           "misses",        "stored",         "removed",       "uncached-forced",
    "uncached-shell", "uncached-files", "uncached-search", "uncached-clock", "uncached-changed"};
constexpr int64_t kHour = 3600LL * 1000000000;
// A name in the cache: its directory, a separator, two digits, a
// separator, a key's 32 digits and the longest temporary ending.
constexpr size_t kLongestName = kNameSize + 4 + 32 + 40;

bool IsHex(const char* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (!((p[i] >= '0' && p[i] <= '9') || (p[i] >= 'a' && p[i] <= 'f'))) return false;
    }
    return true;
}

// An entry: the key's 32 digits.
bool IsEntryName(const char* name) { return strlen(name) == 32 && IsHex(name, 32); }

// A temporary file: any name followed by ".", 16 digits, ".", a count and ".tmp".
bool IsTempName(const char* name) {
    size_t n = strlen(name);
    if (n < 23 || strcmp(name + n - 4, ".tmp") != 0) return false;
    size_t end = n - 4, digits = end;
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') digits--;
    return digits < end && digits >= 18 && name[digits - 1] == '.' && name[digits - 18] == '.' &&
           IsHex(name + digits - 17, 16);
}

void EntryName(const ObjectCache* c, const CacheHash& key, char* out, size_t cap) {
    char entry[kEntryPathSize];
    EntryPath(key, kSeparatorChar, entry);
    snprintf(out, cap, "%s%c%s", c->dir, kSeparatorChar, entry);
}

void SubdirectoryName(const ObjectCache* c, unsigned i, char* out, size_t cap) {
    snprintf(out, cap, "%s%c%02x", c->dir, kSeparatorChar, i);
}

}  // namespace

bool ReadWholeFile(const char* name, std::string* out) {
    FileHandle file = OpenForReading(name);
    if (file == kNoFile) return false;
    out->clear();
    static char block[1 << 16];
    long n;
    while ((n = ReadBlock(file, block, sizeof block)) > 0 && out->size() <= kLargestEntry) {
        out->append(block, static_cast<size_t>(n));
    }
    CloseFile(file);
    return n == 0 && out->size() <= kLargestEntry;
}

namespace {

// Marks the directory as a cache once: a tag written by another is left.
void Tag(ObjectCache* c) {
    char name[kLongestName];
    snprintf(name, sizeof name, "%s%c%s", c->dir, kSeparatorChar, kTagName);
    FileHandle file = CreateExclusive(name);
    if (file == kNoFile) return;
    bool written = WriteBlock(file, kTag, sizeof kTag - 1) == 0;
    if (CloseFile(file) != 0 || !written) RemoveExactFile(name);
}

}  // namespace

int WriteInPlace(ObjectCache* c, const char* name, std::string_view bytes) {
    if (c->token == 0) {
        std::random_device random;
        c->token = static_cast<uint64_t>(random()) << 32 ^ random() ^
                   static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    char temp[kLongestName + kNameSize];
    if (snprintf(temp, sizeof temp, "%s.%016llx.%u.tmp", name, static_cast<unsigned long long>(c->token),
                 c->temps++) >= static_cast<int>(sizeof temp)) {
        return 1;
    }
    FileHandle file = CreateExclusive(temp);
    if (file == kNoFile) return 1;
    bool written = WriteBlock(file, bytes.data(), bytes.size()) == 0;
    int failed = CloseFile(file) != 0 || !written ? 1 : RenameFile(temp, name) != 0 ? 2 : 0;
    if (failed) RemoveExactFile(temp);
    return failed;
}

bool ReadCacheEntry(const ObjectCache* c, const CacheHash& key, std::string* bytes) {
    char name[kLongestName];
    EntryName(c, key, name, sizeof name);
    return ReadWholeFile(name, bytes);
}

int WriteCacheEntry(ObjectCache* c, const CacheHash& key, std::string_view bytes) {
    char name[kLongestName];
    EntryName(c, key, name, sizeof name);
    char* cut = name + strlen(name) - 33;  // the separator before the key
    *cut = '\0';
    bool made = MakeDirectories(name) == 0;
    *cut = kSeparatorChar;
    if (!made) return 1;
    if (c->count[kStored] == 0) Tag(c);
    return WriteInPlace(c, name, bytes);
}

void TouchCacheEntry(const ObjectCache* c, const CacheHash& key) {
    char name[kLongestName];
    EntryName(c, key, name, sizeof name);
    TouchFile(name);
}

void TrimCache(ObjectCache* c) {
    std::vector<std::tuple<int64_t, uint64_t, std::string>> entries;
    uint64_t total = 0;
    int64_t stale = FileClockNow() - kHour;
    for (unsigned i = 0; i < 256; i++) {
        char dir[kLongestName];
        SubdirectoryName(c, i, dir, sizeof dir);
        Listing* listing = OpenListing(dir);
        if (!listing) continue;
        ListedFile f;
        while (NextListed(listing, &f)) {
            char name[kLongestName + 256];
            snprintf(name, sizeof name, "%s%c%s", dir, kSeparatorChar, f.name);
            if (IsEntryName(f.name)) {
                total += f.size;
                entries.emplace_back(f.modified, f.size, name);
            } else if (IsTempName(f.name) && f.modified * 1000000000 < stale && RemoveExactFile(name) == 0) {
                c->count[kRemoved]++;
            }
        }
        CloseListing(listing);
    }
    if (total <= c->limit) return;
    std::sort(entries.begin(), entries.end());
    for (const auto& [modified, size, name] : entries) {
        if (total <= c->limit / 10 * 9) break;
        if (RemoveExactFile(name.c_str()) != 0) continue;
        total -= size;
        c->count[kRemoved]++;
    }
}

// Each count follows its name on a line of its own; one that is missing,
// damaged or too large counts from 0, and lines of names not known are
// passed over.
bool WriteCacheCounts(ObjectCache* c) {
    char name[kLongestName];
    snprintf(name, sizeof name, "%s%c%s", c->dir, kSeparatorChar, kStatsName);
    unsigned long long counts[kCacheCounts] = {};
    std::string text;
    if (ReadWholeFile(name, &text) && text.size() < 4096) {
        for (size_t at = 0; at < text.size();) {
            size_t end = std::min(text.find('\n', at), text.size());
            std::string_view line(text.data() + at, end - at);
            at = end + 1;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            size_t blank = line.find(' ');
            if (blank == line.npos) continue;
            std::string_view word = line.substr(0, blank), digits = line.substr(blank + 1);
            int i = 0;
            while (i < kCacheCounts && word != kCountNames[i]) i++;
            // At most 18 digits: no sum of two counts can wrap.
            if (i == kCacheCounts || digits.empty() || digits.size() > 18 ||
                digits.find_first_not_of("0123456789") != digits.npos) {
                continue;
            }
            counts[i] = 0;
            for (char d : digits) counts[i] = counts[i] * 10 + static_cast<unsigned>(d - '0');
        }
    }
    std::string out;
    constexpr unsigned long long kMost = 999999999999999999ULL;
    for (int i = 0; i < kCacheCounts; i++) {
        char line[64];
        snprintf(line, sizeof line, "%s %llu%s", kCountNames[i], std::min(counts[i] + c->count[i], kMost), kLineEnd);
        out += line;
    }
    if (MakeDirectories(c->dir) != 0) return false;
    return WriteInPlace(c, name, out) == 0;
}
