// Absolute names on POSIX, made by text from the current directory.
#include <unistd.h>

#include <cstring>

#include "path.h"
#include "text.h"

namespace {

// Appends the components of text to the absolute name in out, resolving "."
// and ".." by text; out always starts with "/".
bool AddComponents(char* out, size_t cap, size_t* len, const char* text) {
    size_t at = *len;
    const char* p = text;
    for (;;) {
        while (IsSeparator(*p)) p++;
        if (*p == '\0') break;
        const char* start = p;
        while (*p != '\0' && !IsSeparator(*p)) p++;
        size_t n = static_cast<size_t>(p - start);
        if (n == 1 && start[0] == '.') continue;
        if (n == 2 && start[0] == '.' && start[1] == '.') {
            while (at > 1 && out[at - 1] != '/') at--;
            if (at > 1) at--;
            continue;
        }
        size_t slash = out[at - 1] != '/';
        if (at + slash + n + 1 > cap) {
            *len = at;
            out[at] = '\0';
            return false;
        }
        out[at] = '/';
        at += slash;
        memcpy(out + at, start, n);
        at += n;
    }
    out[at] = '\0';
    *len = at;
    return true;
}

// The current directory does not change during a run: ask for it once and
// keep it in the absolute form that relative names are joined to.
const char* CurrentDirectory(size_t* len) {
    static char cwd[4096];
    static size_t cwd_len = 0;
    if (cwd_len == 0) {
        char raw[4096];
        size_t n = 0;
        if (!getcwd(raw, sizeof raw) || !Append(cwd, sizeof cwd, &n, "/", 1) ||
            !AddComponents(cwd, sizeof cwd, &n, raw)) {
            return nullptr;
        }
        cwd_len = n;
    }
    *len = cwd_len;
    return cwd;
}

}  // namespace

int FullPath(char* out, size_t cap, const char* name) {
    if (cap == 0) return -1;
    out[0] = '\0';
    if (IsConsoleName(name)) return ConsoleFullPath(out, cap);
    size_t len = 0;
    bool ok = true;
    if (IsSeparator(name[0])) {
        ok = Append(out, cap, &len, "/", 1);
    } else {
        size_t cwd_len;
        const char* cwd = CurrentDirectory(&cwd_len);
        ok = cwd && Append(out, cap, &len, cwd, cwd_len);
    }
    ok = ok && AddComponents(out, cap, &len, name);
    size_t n = strlen(name);
    if (ok && n > 0 && IsSeparator(name[n - 1]) && out[len - 1] != '/') {
        ok = Append(out, cap, &len, "/", 1);
    }
    if (!ok) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

size_t CurrentDirectoryPart(const char* full) {
    size_t len;
    const char* cwd = CurrentDirectory(&len);
    size_t kept = 0;
    for (size_t i = 0; cwd; i++) {
        if ((i == len || cwd[i] == '/') && (full[i] == '/' || full[i] == '\0')) kept = i;
        if (i == len || full[i] != cwd[i]) break;
    }
    return kept;
}

const char* WithoutDrive(const char* name) {
    bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
    return letter && name[1] == ':' && IsSeparator(name[2]) ? name + 2 : name;
}

bool DoubleByteCodePage() { return false; }
