// The layout, all numbers little-endian: "ZORBEXC1", the key (two 64-bit
// words, low first), five 32-bit sizes (inputs; bytes of the object, the
// output, the error; bytes of the diagnostics file plus one, 0 for none),
// each input (a flag byte, 1 for UTC, a length byte, the name, its content
// hash), the four texts in that order, and the hash of all that.
#include "cache_file.h"

#include <cstring>

namespace {

constexpr char kMagic[] = "ZORBEXC1";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kHeaderSize = kMagicSize + 16 + size_t{5} * 4;
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

}  // namespace

std::string CacheFileBytes(const CacheHash& key, const CachedResult& result) {
    std::string out(kMagic, kMagicSize);
    PutHash(&out, key);
    PutWord(&out, result.inputs.size(), 4);
    for (std::string_view text : {result.object, result.output, result.error}) PutWord(&out, text.size(), 4);
    PutWord(&out, result.diagnostics ? result.diagnostics_text.size() + 1 : 0, 4);
    for (const CachedInput& input : result.inputs) {
        out.push_back(input.utc ? 1 : 0);
        out.push_back(static_cast<char>(input.name.size()));
        out.append(input.name);
        PutHash(&out, input.content);
    }
    for (std::string_view text : {result.object, result.output, result.error, result.diagnostics_text}) {
        out.append(text);
    }
    PutHash(&out, XXH3_128bits(out.data(), out.size()));
    return out;
}

bool ReadCacheFile(const char* bytes, size_t size, const CacheHash& key, CachedResult* result) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    if (size < kHeaderSize + kTrailerSize || memcmp(p, kMagic, kMagicSize) != 0) return false;
    size_t end = size - kTrailerSize;
    if (!SameHash(HashAt(p + kMagicSize), key) || !SameHash(HashAt(p + end), XXH3_128bits(p, end))) return false;
    const unsigned char* sizes = p + kMagicSize + 16;
    uint64_t inputs = Word(sizes, 4);
    uint64_t text[4];
    for (size_t i = 0; i < 4; i++) text[i] = Word(sizes + 4 + 4 * i, 4);
    result->diagnostics = text[3] > 0;
    if (result->diagnostics) text[3]--;
    size_t at = kHeaderSize;
    result->inputs.clear();
    // Each input takes at least 19 bytes, so a count beyond what the file
    // holds is refused before anything is reserved for it.
    if (inputs > (end - at) / 19) return false;
    result->inputs.reserve(inputs);
    for (uint64_t i = 0; i < inputs; i++) {
        if (end - at < 2 || p[at] > 1 || p[at + 1] == 0 || end - at - 2 < p[at + 1] + 16u) return false;
        size_t n = p[at + 1];
        result->inputs.push_back(CachedInput{std::string_view(bytes + at + 2, n), p[at] == 1, HashAt(p + at + 2 + n)});
        at += 2 + n + 16;
    }
    std::string_view* views[] = {&result->object, &result->output, &result->error, &result->diagnostics_text};
    for (int i = 0; i < 4; i++) {
        if (end - at < text[i]) return false;
        *views[i] = std::string_view(bytes + at, text[i]);
        at += text[i];
    }
    return at == end;
}
