#include "tool_command.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "text.h"

const char kSwitchChar = '/';
const char kSeparatorChar = '\\';
const bool kLowerCaseTools = false;
const bool kNameObject = false;

namespace {

bool IsFile(const char* name) {
    DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The word in a directory, as it is and with each extension of PATHEXT.
bool FindIn(const char* dir, size_t n, const char* word, const char* extensions, char* out, size_t cap) {
    const char* sep = n && dir[n - 1] != '\\' && dir[n - 1] != '/' ? "\\" : "";
    for (const char* ext = extensions;;) {
        const char* end = strchr(ext, ';');
        int e = static_cast<int>(end ? end - ext : strlen(ext));
        int written = snprintf(out, cap, "%.*s%s%s%.*s", static_cast<int>(n), dir, n ? sep : "", word, e, ext);
        if (written < static_cast<int>(cap) && IsFile(out)) return true;
        if (!end) return false;
        ext = end + 1;
    }
}

}  // namespace

// CMD hands the tool the quotes as they are written.
size_t QuoteWord(char*, size_t len, size_t) { return len; }

// The command interpreter looks in the current directory first, then in
// each directory of PATH, for the word with each extension of PATHEXT.
int FindProgram(const char* word, char* out, size_t cap) {
    char extensions[512] = ";.COM;.EXE;.BAT;.CMD";
    DWORD got = GetEnvironmentVariableA("PATHEXT", extensions + 1, sizeof extensions - 1);
    if (got == 0 || got >= sizeof extensions - 1) CopyCut(extensions, sizeof extensions, ";.COM;.EXE;.BAT;.CMD");
    // A word with an extension is also taken as it is; one without, never.
    const char* tried = strchr(word, '.') ? extensions : extensions + 1;
    if (FindIn("", 0, word, tried, out, cap)) return 0;
    if (strpbrk(word, "\\/:")) return -1;
    static char path[32768];
    DWORD n = GetEnvironmentVariableA("PATH", path, sizeof path);
    if (n == 0 || n >= sizeof path) return -1;
    for (const char* dir = path;;) {
        const char* end = strchr(dir, ';');
        size_t len = end ? static_cast<size_t>(end - dir) : strlen(dir);
        if (len && FindIn(dir, len, word, tried, out, cap)) return 0;
        if (!end) return -1;
        dir = end + 1;
    }
}

// CMD puts a variable's value in place of "%NAME%", quoted or not; a lone
// "%" is taken as one too, which may only count a command as expanded that
// is not.
bool InterpreterExpands(const char* command) { return strchr(command, '%') != nullptr; }
