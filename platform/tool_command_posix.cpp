#include "tool_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char kSwitchChar = '-';
const char kSeparatorChar = '/';
const bool kLowerCaseTools = true;
const bool kNameObject = true;

namespace {

bool IsProgram(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 && S_ISREG(st.st_mode) && access(name, X_OK) == 0;
}

}  // namespace

// The shell takes a word with a "/" as a name, and looks any other up in
// each directory of PATH in turn, an empty one being the current directory.
int FindProgram(const char* word, char* out, size_t cap) {
    if (strchr(word, '/')) return snprintf(out, cap, "%s", word) < static_cast<int>(cap) && IsProgram(out) ? 0 : -1;
    const char* path = getenv("PATH");
    for (const char* dir = path ? path : ""; path;) {
        const char* end = strchr(dir, ':');
        int n = static_cast<int>(end ? end - dir : strlen(dir));
        int written = n ? snprintf(out, cap, "%.*s/%s", n, dir, word) : snprintf(out, cap, "%s", word);
        if (written < static_cast<int>(cap) && IsProgram(out)) return 0;
        if (!end) break;
        dir = end + 1;
    }
    return -1;
}

// Outside single quotes: a "$" (variables, arithmetic, a command's output),
// a backquote, the pattern characters "*", "?" and "[", and "~" at a word's
// start. A backslash before one is taken as not escaping it, which may only
// count a command as expanded that is not.
bool InterpreterExpands(const char* command) {
    bool quoted = false;
    for (const char* p = command; *p; p++) {
        if (*p == '\'') quoted = !quoted;
        if (quoted) continue;
        bool word_start = p == command || p[-1] == ' ' || p[-1] == '\t' || p[-1] == '=' || p[-1] == ':';
        if (strchr("$`*?[", *p) || (*p == '~' && word_start)) return true;
    }
    return false;
}
