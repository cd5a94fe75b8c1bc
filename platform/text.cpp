// Small text helpers.
#include "text.h"

#include <climits>
#include <cstdlib>
#include <cstring>

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void UpperCase(char* text) {
    for (; *text; text++) *text = AsciiUpper(*text);
}

void LowerCase(char* text) {
    for (; *text; text++) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

bool SamePrefix(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

bool SameText(const char* a, const char* b) { return SamePrefix(a, b, SIZE_MAX); }

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void CopyUpper(char* out, size_t cap, const char* text) {
    size_t n = strnlen(text, cap - 1);
    for (size_t i = 0; i < n; i++) out[i] = AsciiUpper(text[i]);
    out[n] = '\0';
}

void CopyCut(char* out, size_t cap, const char* text) {
    size_t n = strnlen(text, cap - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}

bool Append(char* out, size_t cap, size_t* len, const char* text, size_t n) {
    if (*len + n + 1 > cap) return false;
    memcpy(out + *len, text, n);
    *len += n;
    out[*len] = '\0';
    return true;
}

bool MakeRoom(char** bytes, size_t size, size_t* room, size_t more) {
    if (*room - size >= more) return true;
    size_t grown = *room < 65536 ? 65536 : *room;
    while (grown - size < more) {
        if (grown > SIZE_MAX / 2) return false;
        grown *= 2;
    }
    char* moved = static_cast<char*>(realloc(*bytes, grown));
    if (!moved) return false;
    *bytes = moved;
    *room = grown;
    return true;
}

bool AddRun(Runs* runs, char tag, const char* bytes, size_t n) {
    while (n > 0) {
        const unsigned char* last = reinterpret_cast<const unsigned char*>(runs->bytes) + runs->last;
        bool join = runs->size > 0 && last[0] == static_cast<unsigned char>(tag);
        uint32_t length = 0;
        for (int i = 4; join && i >= 1; i--) length = length << 8 | last[i];
        // A run holds at most 4 GiB - 1 bytes; more of the stream starts another.
        join = join && length < UINT32_MAX;
        if (!join) length = 0;
        size_t part = n < size_t{UINT32_MAX - length} ? n : size_t{UINT32_MAX - length};
        if (!MakeRoom(&runs->bytes, runs->size, &runs->room, part + (join ? 0 : kRunHeader))) return false;
        if (!join) {
            runs->last = runs->size;
            runs->bytes[runs->size] = tag;
            runs->size += kRunHeader;
        }
        length += static_cast<uint32_t>(part);
        for (int i = 0; i < 4; i++) runs->bytes[runs->last + 1 + i] = static_cast<char>(length >> (8 * i));
        memcpy(runs->bytes + runs->size, bytes, part);
        runs->size += part;
        bytes += part;
        n -= part;
    }
    return true;
}

uint32_t NameHash(const char* name, size_t n, bool folded) {
    unsigned char mask = folded ? 0xDF : 0xFF;
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++) h = (h ^ (static_cast<unsigned char>(name[i]) & mask)) * 16777619u;
    return h;
}
