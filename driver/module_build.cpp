// One module line: its directive line, and for a source module the stamp
// comparison and, when out of date, the tool run.
#include <cstdio>
#include <cstring>

#include "interrupt.h"
#include "path.h"
#include "tool_command.h"
#include "zorbex.h"

namespace {

struct CommandText {
    char* text;
    size_t cap;
    size_t len;
    bool cut;
};

void Add(CommandText* c, const char* text) {
    size_t n = strlen(text);
    // The buffer is sized for the longest command; cut rather than overrun,
    // and the cut command is never run.
    if (c->len + n >= c->cap) {
        n = c->cap - 1 - c->len;
        c->cut = true;
    }
    memcpy(c->text + c->len, text, n);
    c->len += n;
    c->text[c->len] = '\0';
}

void AddSwitch(CommandText* c, const char* name) {
    const char start[] = {' ', kSwitchChar, '\0'};
    Add(c, start);
    Add(c, name);
}

void AddByte(CommandText* c, char ch) {
    if (c->len + 1 >= c->cap) {
        c->cut = true;
        return;
    }
    c->text[c->len++] = ch;
    c->text[c->len] = '\0';
}

// Option texts written for the Windows-hosted tools hold "/" switches and
// "\" separators. Where "/" starts no switch, a word that begins with it
// can only have been meant as one, so it is passed with this system's
// switch character, and each "\" as its separator. Quoted text is the
// user's own and is passed as it is, and so is "\"", which the tools read
// as a double quote that opens and closes nothing. A word holding double
// quotes reaches the tool with them, as on Windows.
void AddOptions(CommandText* c, const char* options) {
    Add(c, " ");
    for (const char* p = options; *p;) {
        for (; *p == ' ' || *p == '\t'; p++) AddByte(c, *p);
        size_t start = c->len;
        bool quoted = false, quotes = false;
        for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++) {
            char ch = *p;
            if (ch == '\\' && p[1] == '"') {
                AddByte(c, ch);
                ch = *++p;
            } else if (ch == '"') {
                quoted = !quoted;
            } else if (!quoted && ch == '/' && c->len == start) {
                ch = kSwitchChar;
            } else if (!quoted && ch == '\\') {
                ch = kSeparatorChar;
            }
            quotes = quotes || ch == '"';
            AddByte(c, ch);
        }
        if (!quotes || c->cut) continue;
        size_t len = QuoteWord(c->text + start, c->len - start, c->cap - start);
        if (len == 0) c->cut = true;
        else c->len = start + len;
    }
}

// The tool for a source extension in the current target, and its options;
// null for an extension that names no source kind.
const char* ToolFor(const Run* run, const char* ext, const char** options) {
    const TargetSystem& t = kTargets[run->settings.target];
    *options = run->settings.compiler_options;
    if (SameText(ext, ".C")) return t.c_compiler;
    if (SameText(ext, ".CPP") || SameText(ext, ".CC") || SameText(ext, ".CXX")) {
        return t.cpp_compiler;
    }
    *options = run->settings.assembler_options;
    if (SameText(ext, ".ASM")) return t.assembler;
    return nullptr;
}

// Whether the target's define is the symbol its "bt=" switch defines.
bool DefinedByTarget(const TargetSystem& t) {
    size_t n = strlen(t.name);
    return strncmp(t.define, "__", 2) == 0 && strncmp(t.define + 2, t.name, n) == 0 &&
           strcmp(t.define + 2 + n, "__") == 0;
}

// Returns false when the command had to be cut.
bool BuildCommand(Run* run, const char* tool, const char* options, const char* object,
                  const char* source) {
    const TargetSystem& t = kTargets[run->settings.target];
    CopyToolName(run->command, sizeof run->command, tool);
    CommandText c = {run->command, sizeof run->command, strlen(run->command), false};
    if (options[0]) AddOptions(&c, options);
    AddSwitch(&c, "bt=");
    Add(&c, t.name);
    // The assembler refuses a symbol defined twice, and its "bt=" defines
    // one already; the compilers take both.
    if (t.define[0] && !(tool == t.assembler && DefinedByTarget(t))) {
        AddSwitch(&c, "d");
        Add(&c, t.define);
    }
    if (kNameObject) {
        AddSwitch(&c, "fo=");
        Add(&c, object);
    }
    Add(&c, " ");
    Add(&c, source);
    return !c.cut;
}

// Keeps the latest stamp, in UTC, of the files the executable is made of.
void NoteNewer(Run* run, const FileStamp& stamp) {
    if (LaterStamp(stamp.utc_date, stamp.utc_time, run->newest.utc_date, run->newest.utc_time)) {
        run->newest = stamp;
    }
}

bool NameTooLong(Run* run, const char* source) {
    return Fail(run, kReaderPlace, "Error: name too long: %s\n", source);
}

// The absolute name that is too long, as far as the message holds it: so
// the user sees the deep directory, not the short name written.
bool AbsoluteTooLong(Run* run, const char* source) {
    static char full[4096];
    static char here[sizeof full - kNameSize];
    // Where the system forms no absolute name that long: the current
    // directory and the name.
    if (FullPath(full, sizeof full, source) != 0 &&
        (FullPath(here, sizeof here, "") != 0 ||
         JoinPath(full, sizeof full, "", here, source, "", run->double_byte) != 0)) {
        return NameTooLong(run, source);
    }
    UpperCase(full);
    constexpr int kShown = kMessageSize - sizeof "Error: name too long: \n";
    return Fail(run, kReaderPlace, "Error: name too long: %.*s\n", kShown, full);
}

}  // namespace

bool BuildModule(Run* run, const char* line) {
    run->modules++;
    bool force = line[0] == '*';
    char source[kNameSize];
    CopyUpper(source, sizeof source, force ? line + 1 : line);

    char full[kNameSize];
    if (FullPath(full, sizeof full, source) != 0) return AbsoluteTooLong(run, source);
    PathParts parts;
    SplitPath(full, &parts, run->double_byte);
    char object[kNameSize];
    if (JoinPath(object, sizeof object, "", "", parts.base, ".OBJ", run->double_byte) != 0) {
        return NameTooLong(run, source);
    }
    ProjectSettings* s = &run->settings;
    if (s->exe_name[0] == '\0' &&
        JoinPath(s->exe_name, sizeof s->exe_name, "", "", parts.base, ".EXE",
                 run->double_byte) != 0) {
        return NameTooLong(run, source);
    }

    // The linker is given the file itself, as the tools are.
    char disk[kNameSize];
    bool library = SameText(parts.ext, ".LIB");
    if (library || SameText(parts.ext, ".OBJ")) {
        DiskName(source, disk, sizeof disk);
        // Once a module is rebuilt the executable is relinked anyway.
        FileStamp listed;
        if (!s->rebuilt && run->tools == 0 && FindStamp(source, &listed) == 0) NoteNewer(run, listed);
        return WriteDirective(run, library ? "library " : "file ", disk);
    }
    if (!WriteDirective(run, "file ", object)) return false;

    const char* options;
    const char* tool = ToolFor(run, parts.ext, &options);
    if (!tool) {
        return Fail(run, kReaderPlace, "Invalid module: %s (must be .C/.CC/.CPP/.CXX/.ASM/.OBJ/.LIB)\n",
                    source);
    }
    FileStamp src;
    if (FindStamp(source, &src) != 0) return Fail(run, kReaderPlace, "Error: %s not found\n", source);
    // An object a running tool is making is compared once it is made, as
    // when one tool runs at a time; two tools never make one object.
    AwaitOutput(run, object);
    if (Failed(run) || Interrupted()) return false;
    FileStamp obj = {};
    // An object whose records are to be read is opened at once, and its
    // stamp taken from the open file. Only the object under its own name
    // counts: it is the one the tool is told to make and the linker reads.
    FileHandle file = run->autodepend && !force ? OpenWithStamp(object, &obj) : kNoFile;
    bool made = file != kNoFile || FindOutput(object, &obj) == 0;
    bool current = !force && !LaterStamp(src.date, src.time, obj.date, obj.time);
    if (current && run->autodepend && made) {
        current = !DependenciesChanged(run, Module{full, src, object, obj}, file);
    } else {
        CloseFile(file);
    }
    if (current) {
        NoteNewer(run, obj);
        return true;
    }

    // The tool is given the source that was compared, as it is on disk.
    DiskName(source, disk, sizeof disk);
    if (!BuildCommand(run, tool, options, object, disk)) return NameTooLong(run, source);
    static CacheJob job;
    job.valid = false;
    if (run->cache.on) {
        static std::string runs;
        if (TakeFromCache(run, &job, tool, full, object, disk, force, &runs)) {
            char text[sizeof Tool::text];
            snprintf(text, sizeof text, "%s (cached)", run->command);
            PassOnCached(run, text, object, runs);
            return !(Failed(run) || Interrupted());
        }
    }
    return StartTool(run, run->command, object, false, &job) || !(Failed(run) || Interrupted());
}
