// Names below a base directory, and the options that tie an object to its
// directory.
#include "base_directory.h"

#include <cstring>
#include <vector>

#include "args.h"
#include "text.h"
#include "tool_command.h"

namespace {

bool Separates(char c, bool windows_names) { return c == '/' || (windows_names && c == '\\'); }

bool Alike(char a, char b, bool windows_names) {
    if (!windows_names) return a == b;
    return AsciiUpper(a) == AsciiUpper(b) || (Separates(a, true) && Separates(b, true));
}

// A word as the tool reads it: "-d2i", not "-d\"2\"i".
std::string_view Unquoted(char* word) {
    size_t n = 0;
    for (char* p = word; *p; p++) {
        if (*p != '"') word[n++] = *p;
    }
    return std::string_view(word, n);
}

bool DebugSwitch(std::string_view word) {
    if (word.size() < 3 || (word[0] != '-' && word[0] != kSwitchChar)) return false;
    char letter = AsciiUpper(word[1]);
    std::string_view rest = word.substr(2);
    // Line numbers alone write no name but those of the records.
    bool debug = letter == 'D' && rest[0] >= '0' && rest[0] <= '9' && rest != "0" && rest != "1";
    return debug || (letter == 'H' && AsciiUpper(rest[0]) == 'W');
}

}  // namespace

bool WindowsNames() { return kSwitchChar == '/'; }

std::string_view DirectoryStem(std::string_view dir, bool windows_names) {
    while (!dir.empty() && Separates(dir.back(), windows_names)) dir.remove_suffix(1);
    return dir;
}

size_t BelowDirectory(std::string_view name, std::string_view dir, bool windows_names) {
    if (name.empty() || dir.empty()) return std::string_view::npos;
    dir = DirectoryStem(dir, windows_names);
    if (name.size() < dir.size()) return std::string_view::npos;
    for (size_t i = 0; i < dir.size(); i++) {
        if (!Alike(name[i], dir[i], windows_names)) return std::string_view::npos;
    }
    // The root's part is empty: a name below it goes on with a separator.
    if (name.size() == dir.size()) return dir.empty() ? std::string_view::npos : dir.size();
    return Separates(name[dir.size()], windows_names) ? dir.size() : std::string_view::npos;
}

std::string_view RelativeTo(std::string_view name, std::string_view base) {
    bool windows_names = WindowsNames();
    size_t at = BelowDirectory(name, base, windows_names);
    if (at == std::string_view::npos) return name;
    while (at < name.size() && Separates(name[at], windows_names)) at++;
    return name.substr(at);
}

bool KeepsDirectory(const char* command, const char* tool_defaults) {
    for (const char* text : {command, tool_defaults}) {
        if (!text) continue;
        std::vector<char> storage(strlen(text) + 1);
        int n = SplitArguments(text, storage.data(), nullptr, 0);
        std::vector<char*> words(static_cast<size_t>(n));
        SplitArguments(text, storage.data(), words.data(), n);
        for (char* word : words) {
            if (DebugSwitch(Unquoted(word))) return true;
        }
    }
    return false;
}
