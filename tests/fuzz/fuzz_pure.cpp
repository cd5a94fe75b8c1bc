// Fuzzes the pure functions; the first byte picks one. Whatever the input,
// nothing is written past a buffer of exactly the promised size, and:
//   'a'  the argument splitter keeps each argument within the text's bytes
//   'p'  a split joined back splits the same way; FullPath gives an absolute
//        name or refuses
//   's'  stamps hold valid fields, and a later time never gives an earlier one
//   'r'  dependency records: the same steps whether the object is read whole
//        or a few bytes at a time, each name within the bytes read
//   'c'  cache files: one whose closing hash is put right is read back
//        within its bytes or refused, and one read is written back the same
//   'b'  an object's records moved from one directory to another walk as
//        far, those with a checksum keep one, and moved back are the same bytes, unless a name was in the
//        second directory before (or one too long); of a record without a
//        checksum that came out with bytes adding up to 0, all but its
//        checksum byte, as it now seems to have one
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "args.h"
#include "base_directory.h"
#include "cache_file.h"
#include "file_stamp.h"
#include "path.h"
#include "record_walk.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

void Arguments(const std::string& line) {
    const char* text = SkipProgramName(line.c_str());
    Check(text >= line.c_str() && text <= line.c_str() + line.size());
    size_t length = strlen(text);
    std::vector<char> storage(length + 1);
    int max_args = static_cast<int>(length / 2) + 1;
    std::vector<char*> argv(static_cast<size_t>(max_args));
    int count = SplitArguments(text, storage.data(), argv.data(), max_args);
    Check(count >= 0 && count <= max_args);
    size_t total = 0;
    for (int i = 0; i < count; i++) {
        const char* arg = argv[static_cast<size_t>(i)];
        Check(arg >= storage.data() && arg < storage.data() + length + 1);
        total += strlen(arg) + 1;
        // Quotes that group are dropped; blanks outside them separate.
        if (!strchr(text, '"')) Check(!strchr(arg, ' ') && !strchr(arg, '\t'));
    }
    Check(total <= length + 1);
}

void Paths(const std::string& path, bool double_byte, size_t cap) {
    PathParts parts;
    SplitPath(path.c_str(), &parts, double_byte);
    Check(strlen(parts.dir) <= 255 && strlen(parts.base) <= 255 && strlen(parts.ext) <= 255);
    std::vector<char> out(cap);  // on the heap, so a write past it is caught
    int r = JoinPath(out.data(), cap, parts.drive, parts.dir, parts.base, parts.ext, double_byte);
    Check(r == 0 || (r == -1 && out[0] == '\0'));
    // Joining may put one separator for another, so the directories need
    // only be as long; the rest is the same, unless the split cut a part.
    PathParts again;
    SplitPath(out.data(), &again, double_byte);
    if (r == 0 && path.size() <= 255) {
        Check(strcmp(again.drive, parts.drive) == 0 && strlen(again.dir) == strlen(parts.dir) &&
              strcmp(again.base, parts.base) == 0 && strcmp(again.ext, parts.ext) == 0);
    }
    r = FullPath(out.data(), cap, path.c_str());
    Check(r == 0 || (r == -1 && out[0] == '\0'));
    if (r == 0) Check(out[0] == '/' || strcmp(out.data(), "con") == 0);
}

void Stamps(const uint8_t* d) {
    LocalTime t[2];
    uint16_t date[2], time[2];
    for (int i = 0; i < 2; i++, d += 7) {
        t[i] = {1900 + (d[0] | d[1] << 8) % 400, 1 + d[2] % 12, 1 + d[3] % 31, d[4] % 24, d[5] % 60,
                d[6] % 61};
        DosStamp(t[i], &date[i], &time[i]);
        Check(((date[i] >> 5) & 15) >= 1 && ((date[i] >> 5) & 15) <= 12 && (date[i] & 31) >= 1);
        Check((time[i] >> 11) <= 23 && ((time[i] >> 5) & 63) <= 59 && (time[i] & 31) <= 30);
    }
    auto key = [](const LocalTime& x) { return std::tie(x.year, x.month, x.day, x.hour, x.minute, x.second); };
    if (key(t[0]) <= key(t[1])) Check(!LaterStamp(date[0], time[0], date[1], time[1]));
    if (key(t[1]) <= key(t[0])) Check(!LaterStamp(date[1], time[1], date[0], time[0]));
}

void CacheFile(std::string bytes) {
    CacheHash key = {0, 0};
    if (bytes.size() >= 40) {
        memcpy(&key, bytes.data() + 8, sizeof key);  // the fuzzer's own key, little-endian as written
        CacheHash whole = XXH3_128bits(bytes.data(), bytes.size() - 16);
        memcpy(&bytes[bytes.size() - 16], &whole, sizeof whole);
    }
    std::vector<char> file(bytes.begin(), bytes.end());  // on the heap, so a read past it is caught
    std::vector<CachedResult> results;
    if (!ReadCacheFile(file.data(), file.size(), key, &results)) return;
    const char* end = file.data() + file.size();
    auto inside = [&](std::string_view v) { return v.empty() || (v.data() >= file.data() && v.data() + v.size() <= end); };
    for (const CachedResult& result : results) {
        for (std::string_view v : {result.object, result.output, result.diagnostics_text}) Check(inside(v));
        for (std::string_view v : result.absent) Check(!v.empty() && inside(v));
        for (const CachedInput& input : result.inputs) Check(!input.name.empty() && inside(input.name));
    }
    Check(CacheFileBytes(key, results) == bytes);
}

size_t RecordSize(const std::string& object, size_t at) {
    return 3 + (static_cast<unsigned char>(object[at + 1]) | static_cast<unsigned char>(object[at + 2]) << 8);
}

bool AddsUp(const std::string& object, size_t at) {
    unsigned sum = 0;
    for (size_t i = 0; i < RecordSize(object, at); i++) sum += static_cast<unsigned char>(object[at + i]);
    return sum % 256 == 0;
}

// The records with names, THEADR's first, read whole: each one's offset
// and name, and the final step.
RecordStep NamedRecords(const std::string& object, std::vector<Dependency>* records) {
    ObjectBlock whole = {reinterpret_cast<const unsigned char*>(object.data()), object.size(), 0, true};
    RecordCursor cursor = {0, false, true};
    Dependency dep;
    RecordStep step;
    while ((step = NextDependency(whole, &cursor, &dep)) == RecordStep::kDependency || step == RecordStep::kHeader) {
        records->push_back(dep);
    }
    return step;
}

void Rebase(const std::string& from, const std::string& to, const std::string& object) {
    std::string moved, back;
    if (!RebaseRecords(object, from, to, &moved)) return;
    std::vector<Dependency> was, now;
    Check(NamedRecords(object, &was) == NamedRecords(moved, &now) && was.size() == now.size());
    for (size_t i = 0; i < was.size(); i++) Check(!AddsUp(object, was[i].record) || AddsUp(moved, now[i].record));
    for (const Dependency& dep : was) {
        std::string_view name(dep.name, dep.length);
        bool posix = false;
        if (BelowDirectory(name, to, posix) != name.npos && BelowDirectory(name, from, posix) == name.npos) return;
    }
    Check(RebaseRecords(moved, to, from, &back) && back.size() == object.size());
    for (size_t i = 0; i < was.size(); i++) {
        if (AddsUp(moved, now[i].record) && !AddsUp(object, was[i].record)) {
            size_t checksum = was[i].record + RecordSize(object, was[i].record) - 1;
            back[checksum] = object[checksum];
        }
    }
    Check(back == object);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 2 && data[0] == 'r') {
        std::string object(reinterpret_cast<const char*>(data + 2), size - 2);
        Check(Walk(object, object.size() + 1) == Walk(object, 1 + data[1] % 16));
    }
    if (size >= 3 && data[0] == 'b' && 3u + data[1] % 32 + data[2] % 32 <= size) {
        const char* p = reinterpret_cast<const char*>(data + 3);
        size_t from = data[1] % 32, to = data[2] % 32;
        Rebase(std::string(p, from), std::string(p + from, to), std::string(p + from + to, size - 3 - from - to));
    }
    if (size >= 1 && data[0] == 'c') CacheFile(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    if (size < 3) return 0;
    std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
    text.resize(strlen(text.c_str()));
    if (data[0] == 'a') Arguments(text);
    if (data[0] == 'p') Paths(text, data[1] & 1, data[2] + 1u);
    if (data[0] == 's' && size >= 17) Stamps(data + 3);
    return 0;
}
