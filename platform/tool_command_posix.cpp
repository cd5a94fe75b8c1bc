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

// The characters the shell still reads between double quotes.
bool ReadInQuotes(char c) { return c == '"' || c == '\\' || c == '$' || c == '`'; }

bool IsProgram(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 && S_ISREG(st.st_mode) && access(name, X_OK) == 0;
}

}  // namespace

// The tools join their arguments into one line, split it at blanks outside
// double quotes and take the quotes out themselves, as on Windows. The
// shell would take them out first: -dMSG="a b" would reach the tool as
// -dMSG=a b, two words to it. So the word goes to the shell in double quotes, with a backslash before
// each character the shell reads there: the tool gets it byte for byte, as
// CMD hands it over on Windows, where "$", "`" and "\" mean nothing to the
// interpreter either. Single quotes would do as much, but each single
// quote inside would take four bytes, and a command must still fit its
// buffer.
size_t QuoteWord(char* word, size_t len, size_t cap) {
    size_t quoted = len + 2;
    for (size_t i = 0; i < len; i++) quoted += ReadInQuotes(word[i]);
    if (quoted >= cap) return 0;
    word[quoted] = '\0';
    size_t to = quoted - 1;
    word[to] = '"';
    for (size_t i = len; i-- > 0;) {
        word[--to] = word[i];
        if (ReadInQuotes(word[i])) word[--to] = '\\';
    }
    word[0] = '"';
    return quoted;
}

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
// start, unless a backslash stands before it. Within double quotes the
// pattern characters stand for themselves, but are counted all the same:
// that can only count a command as expanded that is not.
bool InterpreterExpands(const char* command) {
    bool quoted = false;
    for (const char* p = command; *p; p++) {
        if (*p == '\'') quoted = !quoted;
        if (quoted) continue;
        if (*p == '\\' && p[1]) {
            p++;
            continue;
        }
        bool word_start = p == command || p[-1] == ' ' || p[-1] == '\t' || p[-1] == '=' || p[-1] == ':';
        if (strchr("$`*?[", *p) || (*p == '~' && word_start)) return true;
    }
    return false;
}
