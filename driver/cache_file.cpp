// The layout, all numbers little-endian: "ZORBEXC2", the key (two 64-bit
// words, low first), the count of results, each result, and the hash of all
// that. A result: five 32-bit counts (inputs, absent names, bytes of the
// object, of the output, of the diagnostics file plus one, 0 for none),
// each input (a flag byte, 1 for UTC, a length byte, the name, its content
// hash), each absent name (a 16-bit length, the name), and the three texts
// in that order.
#include "cache_file.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kMagic[] = "ZORBEXC2";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kHeaderSize = kMagicSize + 16 + 4;
constexpr size_t kResultHeaderSize = size_t{5} * 4;
constexpr size_t kTrailerSize = 16;

void PutWord(std::string* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out->push_back(static_cast<char>(value >> (8 * i)));
}

void PutHash(std::string* out, const CacheHash& h) {
    PutWord(out, h.low64, 8);
    PutWord(out, h.high64, 8);
}

uint64_t Word(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; i--) value = value << 8 | p[i];
    return value;
}

CacheHash HashAt(const unsigned char* p) { return CacheHash{Word(p, 8), Word(p + 8, 8)}; }

void PutResult(std::string* out, const CachedResult& r) {
    PutWord(out, r.inputs.size(), 4);
    PutWord(out, r.absent.size(), 4);
    PutWord(out, r.object.size(), 4);
    PutWord(out, r.output.size(), 4);
    PutWord(out, r.diagnostics ? r.diagnostics_text.size() + 1 : 0, 4);
    for (const CachedInput& input : r.inputs) {
        out->push_back(input.utc ? 1 : 0);
        out->push_back(static_cast<char>(input.name.size()));
        out->append(input.name);
        PutHash(out, input.content);
    }
    for (std::string_view name : r.absent) {
        PutWord(out, name.size(), 2);
        out->append(name);
    }
    for (std::string_view text : {r.object, r.output, r.diagnostics_text}) out->append(text);
}

// Reads one result from p[*at] on, up to end.
bool TakeResult(const char* bytes, size_t* at, size_t end, CachedResult* r) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    if (end - *at < kResultHeaderSize) return false;
    const unsigned char* counts = p + *at;
    uint64_t inputs = Word(counts, 4), absent = Word(counts + 4, 4);
    uint64_t text[3] = {Word(counts + 8, 4), Word(counts + 12, 4), Word(counts + 16, 4)};
    r->diagnostics = text[2] > 0;
    if (r->diagnostics) text[2]--;
    size_t i = *at + kResultHeaderSize;
    // An input takes at least 19 bytes and a name 3, so a count beyond what
    // the file holds is refused before anything is reserved for it.
    if (inputs == 0 || inputs > (end - i) / 19 || absent > (end - i) / 3) return false;
    r->inputs.clear();
    r->inputs.reserve(inputs);
    for (uint64_t k = 0; k < inputs; k++) {
        if (end - i < 2 || p[i] > 1 || p[i + 1] == 0 || end - i - 2 < p[i + 1] + 16u) return false;
        size_t n = p[i + 1];
        std::string_view name(bytes + i + 2, n);
        if (name.find('\0') != name.npos) return false;
        r->inputs.push_back(CachedInput{name, p[i] == 1, HashAt(p + i + 2 + n)});
        i += 2 + n + 16;
    }
    r->absent.clear();
    r->absent.reserve(absent);
    for (uint64_t k = 0; k < absent; k++) {
        if (end - i < 2) return false;
        size_t n = Word(p + i, 2);
        if (n == 0 || n > kLongestAbsentName || end - i - 2 < n) return false;
        std::string_view name(bytes + i + 2, n);
        if (name.find('\0') != name.npos) return false;
        r->absent.push_back(name);
        i += 2 + n;
    }
    std::string_view* views[] = {&r->object, &r->output, &r->diagnostics_text};
    for (int k = 0; k < 3; k++) {
        if (end - i < text[k]) return false;
        *views[k] = std::string_view(bytes + i, text[k]);
        i += text[k];
    }
    *at = i;
    return true;
}

}  // namespace

std::string CacheFileBytes(const CacheHash& key, const std::vector<CachedResult>& results) {
    std::string out(kMagic, kMagicSize);
    PutHash(&out, key);
    PutWord(&out, results.size(), 4);
    for (const CachedResult& r : results) PutResult(&out, r);
    PutHash(&out, XXH3_128bits(out.data(), out.size()));
    return out;
}

bool ReadCacheFile(const char* bytes, size_t size, const CacheHash& key, std::vector<CachedResult>* results) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    if (size < kHeaderSize + kTrailerSize || memcmp(p, kMagic, kMagicSize) != 0) return false;
    size_t end = size - kTrailerSize;
    if (!SameHash(HashAt(p + kMagicSize), key) || !SameHash(HashAt(p + end), XXH3_128bits(p, end))) return false;
    uint64_t count = Word(p + kMagicSize + 16, 4);
    if (count == 0 || count > kResultsPerEntry) return false;
    results->resize(count);
    size_t at = kHeaderSize;
    for (CachedResult& r : *results) {
        if (!TakeResult(bytes, &at, end, &r)) return false;
    }
    return at == end;
}

void EntryPath(const CacheHash& key, char separator, char* out) {
    snprintf(out, kEntryPathSize, "%02x%c%016llx%016llx", static_cast<unsigned>(key.high64 >> 56), separator,
             static_cast<unsigned long long>(key.high64), static_cast<unsigned long long>(key.low64));
}
