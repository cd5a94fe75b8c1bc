// Splitting a console command line into arguments. Pure text work; the
// Windows start-up uses it, and it is tested everywhere.
#include "args.h"

#include "text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* SkipProgramName(const char* command_line) {
    const char* p = command_line;
    if (*p == '"') {
        p++;
        while (*p && *p != '"') p++;
        if (*p == '"') p++;
    } else {
        while (*p && !IsWhiteSpace(*p)) p++;
    }
    while (*p && IsWhiteSpace(*p)) p++;
    return p;
}

int SplitArguments(const char* text, char* storage, char** argv, int max_args) {
    const char* p = text;
    char* out = storage;
    int count = 0;
    for (;;) {
        while (IsBlank(*p)) p++;
        if (*p == '\0') break;
        char* arg = out;
        if (*p == '"') {
            // A quoted argument ends at its closing quote, whatever follows.
            p++;
            while (*p && *p != '"') {
                if (*p == '\\' && p[1] == '"') p++;
                *out++ = *p++;
            }
            if (*p == '"') p++;
        } else {
            bool quoted = false;
            while (*p) {
                if (*p == '\\' && p[1] == '"') {
                    *out++ = '"';
                    p += 2;
                } else if (*p == '"') {
                    quoted = !quoted;
                    p++;
                } else if (!quoted && IsBlank(*p)) {
                    break;
                } else {
                    *out++ = *p++;
                }
            }
        }
        *out++ = '\0';
        if (count < max_args) argv[count] = arg;
        count++;
    }
    return count;
}
