// The names a file made later could take an included file's place at.
// The compilers look for an included file, and stop at the first
// directory that has it: a "name" with a directory and drive is opened as
// written; else the current directory, the directory of the file holding
// the #include and of the files that included that one up to the source
// ("name" only, these), each "-i=" directory (the tool's own variable's
// first), unless "-x" those of <TARGET>_INCLUDE and INCLUDE (and INC386,
// which the manual places nowhere, between them), and last, for "name"
// only, an adjacent "../h". What the records do not tell, which file
// included which and in which form, is taken in the way that names more.
#include "include_search.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "args.h"
#include "path.h"
#include "text.h"
#include "tool_command.h"

namespace {

// The Windows-hosted tools are those that take "/" switches: their names
// may begin with a drive, so ":" separates no list, and case is ignored.
bool WindowsTools() { return kSwitchChar == '/'; }

bool IsSwitch(const std::string& word) { return word[0] == '-' || word[0] == kSwitchChar; }

bool IsListSeparator(char c) { return c == ';' || (c == ':' && !WindowsTools()); }

bool HasDrive(std::string_view name) {
    char letter = AsciiUpper(name.empty() ? '\0' : name[0]);
    return WindowsTools() && name.size() >= 2 && name[1] == ':' && letter >= 'A' && letter <= 'Z';
}

// The words of a command line as the tools read them.
std::vector<std::string> Words(const char* text) {
    if (!text) return {};
    std::vector<char> storage(strlen(text) + 1);
    int n = SplitArguments(text, storage.data(), nullptr, 0);
    std::vector<char*> argv(static_cast<size_t>(n));
    SplitArguments(text, storage.data(), argv.data(), n);
    return std::vector<std::string>(argv.begin(), argv.end());
}

void SplitList(std::string_view list, std::vector<std::string>* dirs) {
    while (!list.empty()) {
        size_t n = 0;
        while (n < list.size() && !IsListSeparator(list[n])) n++;
        if (n > 0) dirs->emplace_back(list.substr(0, n));
        list.remove_prefix(n < list.size() ? n + 1 : n);
    }
}

// Where the character after the one at i begins. With double_byte set, the
// bytes 0x81-0x9F and 0xE0-0xFC lead a two-byte character, whose second
// byte is never a separator or a letter.
size_t Next(std::string_view name, size_t i, bool double_byte) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool lead = double_byte && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    return lead && i + 1 < name.size() ? i + 2 : i + 1;
}

// The offset of the last separator, or npos.
size_t LastSeparator(std::string_view name, bool double_byte) {
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < name.size(); i = Next(name, i, double_byte)) {
        if (IsSeparator(name[i])) last = i;
    }
    return last;
}

// A name in dir, as the compiler forms it.
std::string Join(std::string_view dir, std::string_view name, bool double_byte) {
    std::string out(dir);
    if (!out.empty() && !name.empty() && LastSeparator(dir, double_byte) + 1 != dir.size()) out += kSeparatorChar;
    return out.append(name);
}

// The name with "." and ".." worked out by text and "/" between its parts,
// upper-cased where case is ignored: names of one file by text compare equal.
std::string Lexical(std::string_view name, bool double_byte) {
    std::string out;
    size_t at = 0;
    if (HasDrive(name)) {
        out.assign(name.substr(0, 2));
        at = 2;
    }
    if (at < name.size() && IsSeparator(name[at])) out += '/';
    const size_t root = out.size();
    while (at < name.size()) {
        size_t end = at;
        while (end < name.size() && !IsSeparator(name[end])) end = Next(name, end, double_byte);
        std::string_view part = name.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            size_t slash = out.rfind('/');
            size_t last = slash == std::string::npos || slash < root ? root : slash + 1;
            if (out.size() > root && out.compare(last, std::string::npos, "..") != 0) {
                out.resize(last > root ? last - 1 : root);
                continue;
            }
            if (root > 0 && out[root - 1] == '/') continue;  // above the root is the root
        }
        if (out.size() > root) out += '/';
        out.append(part);
    }
    for (size_t i = 0; WindowsTools() && i < out.size(); i = Next(out, i, double_byte)) {
        if (Next(out, i, double_byte) == i + 1) out[i] = AsciiUpper(out[i]);
    }
    return out;
}

// The directory a name is in, as written; the root keeps its separator.
std::string_view Directory(std::string_view name, bool double_byte) {
    size_t n = LastSeparator(name, double_byte);
    if (n == std::string_view::npos) return {};
    bool root = n == 0 || (n == 2 && HasDrive(name));
    return name.substr(0, root ? n + 1 : n);
}

// A directory or file as the compiler reads it from the current
// directory. False for one on another drive than the current one that
// does not start at its root: that drive's current directory is not known.
bool Absolute(std::string_view name, std::string_view current, bool double_byte, std::string* out) {
    if (HasDrive(name)) {
        if (name.size() > 2 && IsSeparator(name[2])) {
            out->assign(name);
            return true;
        }
        if (!HasDrive(current) || AsciiUpper(name[0]) != AsciiUpper(current[0])) return false;
        *out = Join(current, name.substr(2), double_byte);
        return true;
    }
    if (!name.empty() && IsSeparator(name[0])) {
        // The current drive's root; "\\server" names a root of its own.
        bool share = name.size() > 1 && IsSeparator(name[1]);
        out->assign(HasDrive(current) && !share ? current.substr(0, 2) : std::string_view());
        out->append(name);
        return true;
    }
    *out = Join(current, name, double_byte);
    return true;
}

bool IsAssembler(const std::string& tool) {
    std::string_view word = tool;
    size_t n = word.size();
    while (n > 0 && !IsSeparator(word[n - 1])) n--;
    word.remove_prefix(n);
    return SameText(std::string(word.substr(0, word.find('.'))).c_str(), "wasm");
}

// What the options say of the search.
struct SearchOptions {
    std::vector<std::string> dirs;  // "-i=", in order
    bool no_variables = false;      // "-x"
    bool unknown = false;
    std::string source;
};

// Options of either case are taken where that makes the search wider or
// unknown, since a stray one costs only a name or a stored result.
void ReadOptions(const std::vector<std::string>& words, size_t first, SearchOptions* o) {
    for (size_t i = first; i < words.size(); i++) {
        const std::string& word = words[i];
        if (word.empty()) continue;
        const char* name = word.c_str() + 1;
        // "@" reads options from a file or variable.
        if (word[0] == '@' || (IsSwitch(word) && (SameText(name, "xx") || SameText(name, "ft")))) {
            o->unknown = true;
        } else if (!IsSwitch(word)) {
            o->source = word;
        } else if (strcmp(name, "x") == 0) {
            o->no_variables = true;
        } else if (AsciiUpper(name[0]) == 'I') {
            std::string_view list = std::string_view(word).substr(2);
            if (!list.empty() && (list[0] == '=' || list[0] == '#')) list.remove_prefix(1);
            SplitList(list, &o->dirs);
        }
    }
}

// A directory searched; places of one group come in an order that cannot
// be known, so each may come before any other of its group.
struct Place {
    std::string dir;  // as the compiler forms names in it
    std::string key;  // Lexical(dir)
    int group;
    int files;  // of an includer's directory: the recorded files in it
};

struct SearchOrder {
    std::vector<Place> places;
    std::unordered_map<std::string, std::vector<size_t>> by_key;
    int includers = 0;  // the group of the includers' directories
};

void AddPlace(SearchOrder* order, std::string dir, int group, bool double_byte) {
    std::string key = Lexical(dir, double_byte);
    std::vector<size_t>& same = order->by_key[key];
    for (size_t i : same) {
        if (order->places[i].group == group) {
            order->places[i].files++;
            return;
        }
    }
    same.push_back(order->places.size());
    order->places.push_back(Place{std::move(dir), std::move(key), group, 1});
}

// A file does not include itself: the directory of an includer holding
// no recorded file but this one, in own, is not searched for it.
bool SearchedFor(const SearchOrder& order, const Place& place, const std::string& own) {
    return place.group != order.includers || place.files > 1 || place.key != own;
}

// The last group whose directory is dir, or -1.
int LastGroup(const SearchOrder& order, const std::string& dir, const std::string& own) {
    auto found = order.by_key.find(dir);
    int last = -1;
    if (found == order.by_key.end()) return last;
    for (size_t i : found->second) {
        const Place& place = order.places[i];
        if (SearchedFor(order, place, own) && place.group > last) last = place.group;
    }
    return last;
}

}  // namespace

bool ShadowNames(const IncludeSearch& search, const std::vector<std::string_view>& recorded,
                 std::vector<std::string>* names) {
    names->clear();
    std::vector<std::string> words = Words(search.command);
    if (words.empty() || !search.current_dir || IsAssembler(words[0])) return false;
    SearchOptions o;
    ReadOptions(Words(search.tool_options), 0, &o);
    o.source.clear();
    ReadOptions(words, 1, &o);
    if (o.unknown) return false;
    const bool dbcs = search.double_byte;
    std::string_view current = search.current_dir;
    std::vector<std::string> files;
    files.reserve(recorded.size());
    for (std::string_view r : recorded) files.emplace_back(WithoutDrive(std::string(r).c_str()));

    SearchOrder order;
    int group = 0;
    AddPlace(&order, std::string(current), group++, dbcs);
    order.includers = group++;
    for (const std::string& file : files) AddPlace(&order, std::string(Directory(file, dbcs)), order.includers, dbcs);
    if (!o.no_variables) {
        for (const char* value : {search.target_include, search.inc386, search.include}) {
            SplitList(value ? value : "", &o.dirs);
        }
    }
    for (const std::string& dir : o.dirs) {
        std::string full;
        if (!Absolute(dir, current, dbcs, &full)) return false;
        AddPlace(&order, full, group++, dbcs);
    }
    for (size_t i = 0; i <= files.size(); i++) {
        std::string_view dir = i == 0 ? current : Directory(files[i - 1], dbcs);
        AddPlace(&order, Join(Join(dir, "..", dbcs), "h", dbcs), group, dbcs);
    }

    // The source is opened by its name, not looked for.
    std::string source;
    if (!o.source.empty() && Absolute(o.source, current, dbcs, &source)) source = Lexical(source, dbcs);
    // A recorded file is no new file: its content is known.
    std::unordered_set<std::string> seen;
    for (const std::string& file : files) seen.insert(Lexical(file, dbcs));
    std::vector<size_t> separators;
    for (const std::string& file : files) {
        std::string own = Lexical(Directory(file, dbcs), dbcs);
        if (Lexical(file, dbcs) == source) continue;
        separators.clear();
        for (size_t i = 0; i < file.size(); i = Next(file, i, dbcs)) {
            if (IsSeparator(file[i]) && i + 1 < file.size()) separators.push_back(i);
        }
        // Each spelling, the shortest first: what follows a separator.
        for (size_t n = separators.size(); n-- > 0;) {
            std::string_view spelling = std::string_view(file).substr(separators[n] + 1);
            std::string_view dir = Directory(std::string_view(file).substr(0, separators[n] + 1), dbcs);
            int last = LastGroup(order, Lexical(dir, dbcs), own);
            for (const Place& place : order.places) {
                if (place.group > last || !SearchedFor(order, place, own)) continue;
                std::string name = Join(place.dir, spelling, dbcs);
                std::string name_key = Lexical(name, dbcs);
                if (!seen.insert(std::move(name_key)).second) continue;
                if (names->size() == kMostShadowNames) {
                    names->clear();
                    return false;
                }
                names->push_back(std::move(name));
            }
        }
    }
    return true;
}
