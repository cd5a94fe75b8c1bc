#include "cache_key.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "base_directory.h"
#include "file_search.h"
#include "path.h"
#include "tool_command.h"

namespace {

void HashText(XXH3_state_t* state, const char* text) { XXH3_128bits_update(state, text, strlen(text) + 1); }

// The program file the command runs, by name, size and time: another
// version of the tool is another compile. The words come from the target
// table, so the run's programs are never more than the table's tools.
void HashProgram(Run* run, XXH3_state_t* state, const char* word) {
    ObjectCache* c = &run->cache;
    int i = 0;
    while (i < c->programs && strcmp(c->program[i].word, word) != 0) i++;
    if (i == c->programs) {
        CachedProgram* p = &c->program[c->programs++];
        CopyCut(p->word, sizeof p->word, word);
        p->found = FindProgram(word, p->path, sizeof p->path) == 0 && FindStamp(p->path, &p->stamp) == 0;
    }
    const CachedProgram* p = &c->program[i];
    if (!p->found) return HashText(state, "");
    HashText(state, p->path);
    uint32_t stamp[3] = {p->stamp.size, p->stamp.utc_date, p->stamp.utc_time};
    XXH3_128bits_update(state, stamp, sizeof stamp);
}

}  // namespace

CacheHash KeyOf(Run* run, const char* tool, const char* source, bool based) {
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    const char* base = based ? run->cache.base : "";
    HashText(&state, run->command);
    for (std::string_view name : {std::string_view(run->cache.current_dir), std::string_view(source)}) {
        std::string_view named = based ? RelativeTo(name, base) : name;
        XXH3_128bits_update(&state, named.data(), named.size());
        XXH3_128bits_update(&state, based ? "\1" : "", 1);  // never the same as a name in full
    }
    char word[kCachedWordSize];
    CopyToolName(word, sizeof word, tool);
    HashProgram(run, &state, word);
    // The variables the tools read, each known by its place: their default
    // options, the include path and the tool set's directory.
    char target_include[32];
    snprintf(target_include, sizeof target_include, "%s_INCLUDE", kTargets[run->settings.target].name);
    for (const char* name : {tool, static_cast<const char*>(target_include), "INC386", "INCLUDE", "WATCOM"}) {
        const char* value = getenv(name);
        HashText(&state, value ? value : "");
        XXH3_128bits_update(&state, value ? "=" : "-", 1);
    }
    return XXH3_128bits_digest(&state);
}

namespace {

// Whether a word is a switch that starts with one of the names, as the
// tools read switches: "-" or this system's switch character first, within
// double quotes or not.
bool SwitchOf(std::string_view word, std::initializer_list<std::string_view> names, bool exact) {
    if (!word.empty() && word[0] == '"') word.remove_prefix(1);
    if (word.empty() || (word[0] != '-' && word[0] != kSwitchChar)) return false;
    word.remove_prefix(1);
    for (std::string_view name : names) {
        if (exact ? word == name : word.substr(0, name.size()) == name) return true;
    }
    return false;
}

}  // namespace

CacheCount Uncacheable(const char* command, const char* defaults) {
    if (InterpreterExpands(command)) return kUncachedExpanded;
    for (const char* text : {command, defaults}) {
        for (const char* p = text; *p;) {
            size_t n = strcspn(p, " \t");
            std::string_view word(p, n);
            p += n + strspn(p + n, " \t");
            if (SwitchOf(word, {"ad", "fh", "fc", "fr", "p", "v"}, false) || SwitchOf(word, {"db"}, true)) {
                return kUncachedFiles;
            }
            // A directory in quotes may hold blanks, which the search's
            // reading of the options does not follow.
            bool quoted = word.find('"') != word.npos;
            if (SwitchOf(word, {"xx", "ft"}, true) || (quoted && SwitchOf(word, {"i", "I"}, false))) {
                return kUncachedSearch;
            }
        }
    }
    return kCacheCounts;
}


namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Whether text holds the directory's name, by the rule names are compared.
bool Names(const char* text, std::string_view dir) {
    if (!text) return false;
    bool windows = WindowsNames();
    for (const char* p = text; *p; p++) {
        size_t i = 0;
        while (i < dir.size() && p[i] &&
               (windows ? (IsSeparator(p[i]) && IsSeparator(dir[i])) || Upper(p[i]) == Upper(dir[i]) : p[i] == dir[i])) {
            i++;
        }
        if (i == dir.size()) return true;
    }
    return false;
}

}  // namespace

bool KnownFromBase(const Run* run, const char* defaults) {
    const ObjectCache* c = &run->cache;
    if (!c->base[0] || BelowDirectory(c->current_dir, c->base, WindowsNames()) == std::string_view::npos ||
        KeepsDirectory(run->command, defaults)) {
        return false;
    }
    std::string_view stem = DirectoryStem(c->base, WindowsNames());
    char target_include[32];
    snprintf(target_include, sizeof target_include, "%s_INCLUDE", kTargets[run->settings.target].name);
    const char* texts[] = {run->command, defaults, getenv(target_include), getenv("INC386"), getenv("INCLUDE")};
    for (const char* text : texts) {
        if (!stem.empty() && Names(text, stem)) return false;
    }
    return true;
}
