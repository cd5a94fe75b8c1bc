// Small text helpers. Case rules touch the 26 ASCII letters only, whatever
// the locale, since names may hold any bytes.
#include <cstring>

#include "zorbex.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void UpperCase(char* text) {
    for (; *text; text++) *text = Upper(*text);
}

void LowerCase(char* text) {
    for (; *text; text++) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

bool SameText(const char* a, const char* b) {
    for (; *a && Upper(*a) == Upper(*b); a++, b++) {
    }
    return Upper(*a) == Upper(*b);
}

bool SamePrefix(const char* text, const char* prefix, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (Upper(text[i]) != Upper(prefix[i])) return false;
        if (text[i] == '\0') return true;
    }
    return true;
}

void CopyUpper(char* out, size_t cap, const char* text) {
    size_t n = strnlen(text, cap - 1);
    for (size_t i = 0; i < n; i++) out[i] = Upper(text[i]);
    out[n] = '\0';
}

void CopyCut(char* out, size_t cap, const char* text) {
    size_t n = strnlen(text, cap - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}
