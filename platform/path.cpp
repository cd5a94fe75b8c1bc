// Splitting and joining path names. Pure text work, the same everywhere.
#include "path.h"

#include <cstring>

#include "text.h"

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool SameName(const char* a, const char* b) {
    size_t n = strlen(a);
    if (strlen(b) != n) return false;
    while (n-- > 0) {
        bool separators = IsSeparator(a[n]) && IsSeparator(b[n]);
        if (!separators && AsciiUpper(a[n]) != AsciiUpper(b[n])) return false;
    }
    return true;
}

namespace {

// A lead byte of a double-byte character, for every double-byte code page.
bool IsLeadByte(char c, bool double_byte) {
    unsigned char u = static_cast<unsigned char>(c);
    return double_byte && ((u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC));
}

// Length of the character at p: two for a lead byte followed by another byte.
size_t CharLength(const char* p, bool double_byte) {
    return IsLeadByte(*p, double_byte) && p[1] != '\0' ? 2 : 1;
}

void CopyPart(char* out, const char* begin, const char* end) {
    size_t n = static_cast<size_t>(end - begin);
    if (n > 255) n = 255;
    memcpy(out, begin, n);
    out[n] = '\0';
}

// Appends to out[*len] unless it would overflow; remembers the overflow.
struct Joined {
    char* out;
    size_t cap;
    size_t len;
    bool overflow;
};

void Put(Joined* j, char c) {
    if (j->len + 1 >= j->cap) {
        j->overflow = true;
        return;
    }
    j->out[j->len++] = c;
}

void PutText(Joined* j, const char* text, char separator, bool double_byte) {
    if (!double_byte) {
        size_t n = strlen(text);
        if (j->len + n >= j->cap) {
            j->overflow = true;
            return;
        }
        char* out = j->out + j->len;
        for (size_t i = 0; i < n; i++) out[i] = IsSeparator(text[i]) && separator ? separator : text[i];
        j->len += n;
        return;
    }
    for (const char* p = text; *p;) {
        size_t n = CharLength(p, double_byte);
        if (n == 1 && IsSeparator(*p) && separator) {
            Put(j, separator);
        } else {
            for (size_t i = 0; i < n; i++) Put(j, p[i]);
        }
        p += n;
    }
}

char FirstSeparator(const char* text, bool double_byte) {
    for (const char* p = text; *p; p += CharLength(p, double_byte)) {
        if (!IsLeadByte(*p, double_byte) && IsSeparator(*p)) return *p;
    }
    return '\0';
}

}  // namespace

void SplitPath(const char* path, PathParts* parts, bool double_byte) {
    const char* start = path;
    parts->drive[0] = '\0';
    if (path[0] != '\0' && path[1] == ':') {
        parts->drive[0] = path[0];
        parts->drive[1] = ':';
        parts->drive[2] = '\0';
        start = path + 2;
    }
    const char* after_separator = start;
    const char* dot = nullptr;
    const char* end;
    if (!double_byte) {
        // Without double-byte characters the last separator and the last dot
        // after it can be found from the end.
        end = start + strlen(start);
        const char* p = end;
        while (p > start && !IsSeparator(p[-1])) p--;
        after_separator = p;
        for (const char* q = end; q > p; q--) {
            if (q[-1] == '.') {
                dot = q - 1;
                break;
            }
        }
    } else {
        const char* p = start;
        while (*p) {
            size_t n = CharLength(p, double_byte);
            if (n == 1 && IsSeparator(*p)) {
                after_separator = p + 1;
                dot = nullptr;
            } else if (n == 1 && *p == '.') {
                dot = p;
            }
            p += n;
        }
        end = p;
    }
    const char* base_end = dot ? dot : end;
    CopyPart(parts->dir, start, after_separator);
    CopyPart(parts->base, after_separator, base_end);
    CopyPart(parts->ext, base_end, end);
}

int JoinPath(char* out, size_t cap, const char* drive, const char* dir,
             const char* base, const char* ext, bool double_byte) {
    Joined j = {out, cap, 0, cap == 0};
    if (drive && drive[0]) {
        Put(&j, drive[0]);
        Put(&j, ':');
    }
    char separator = '\\';
    if (dir && dir[0]) {
        char first = FirstSeparator(dir, double_byte);
        if (first) separator = first;
        PutText(&j, dir, separator, double_byte);
        // A directory ending in the second byte of a double-byte character
        // does not end in a separator, so the check looks at what was put.
        bool ends_in_separator = false;
        if (!j.overflow && j.len > 0 && out[j.len - 1] == separator) {
            const char* last = dir;
            for (const char* p = dir; *p; p += CharLength(p, double_byte)) last = p;
            ends_in_separator = CharLength(last, double_byte) == 1;
        }
        if (!ends_in_separator) Put(&j, separator);
    }
    if (base && base[0]) {
        const char* b = base;
        bool ends_in_separator = j.len > 0 && !j.overflow && out[j.len - 1] == separator &&
                                 dir && dir[0];
        if (ends_in_separator && IsSeparator(b[0])) b++;
        PutText(&j, b, separator, double_byte);
    }
    if (ext && ext[0]) {
        // An extension of its own dot or without one: "EXE" and ".EXE" alike.
        // cppcheck-suppress knownConditionTrueFalse ; a non-empty text may begin with "."
        if (ext[0] != '.') Put(&j, '.');
        for (const char* p = ext; *p; p++) Put(&j, *p);
    }
    if (j.overflow) {
        if (cap > 0) out[0] = '\0';
        return -1;
    }
    out[j.len] = '\0';
    return 0;
}

bool IsConsoleName(const char* name) {
    return (name[0] | 0x20) == 'c' && (name[1] | 0x20) == 'o' && (name[2] | 0x20) == 'n' &&
           name[3] == '\0';
}

int ConsoleFullPath(char* out, size_t cap) {
    if (cap < 4) return -1;
    memcpy(out, "con", 4);
    return 0;
}
