// One module line: its directive line, and for a source module the stamp
// comparison and, when out of date, the tool run.
#include <cstring>

#include "command_runner.h"
#include "console.h"
#include "interrupt.h"
#include "path.h"
#include "zorbex.h"

namespace {

struct Command {
    char* text;
    size_t cap;
    size_t len;
};

void Add(Command* c, const char* text) {
    size_t n = strlen(text);
    // The buffer is sized for the longest command; cut rather than overrun.
    if (c->len + n >= c->cap) n = c->cap - 1 - c->len;
    memcpy(c->text + c->len, text, n);
    c->len += n;
    c->text[c->len] = '\0';
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

void BuildCommand(Run* run, const char* tool, const char* options, const char* source) {
    const TargetSystem& t = kTargets[run->settings.target];
    Command c = {run->command, sizeof run->command, 0};
    run->command[0] = '\0';
    Add(&c, tool);
    if (options[0]) {
        Add(&c, " ");
        Add(&c, options);
    }
    Add(&c, " /bt=");
    Add(&c, t.name);
    if (t.define[0]) {
        Add(&c, " /d");
        Add(&c, t.define);
    }
    Add(&c, " ");
    Add(&c, source);
}

// Searches for a file; the stamp stays in the run's search record.
bool Found(Run* run, const char* name) {
    int r = FindFile(name, 0, &run->search);
    CloseSearch(&run->search);
    return r == 0;
}

bool NameTooLong(const char* source) {
    Print("Error: name too long: %s\n", source);
    return false;
}

}  // namespace

bool BuildModule(Run* run, const char* line) {
    bool force = line[0] == '*';
    char source[kNameSize];
    CopyUpper(source, sizeof source, force ? line + 1 : line);

    char full[kNameSize];
    if (FullPath(full, sizeof full, source) != 0) return NameTooLong(source);
    PathParts parts;
    SplitPath(full, &parts, run->double_byte);
    char object[kNameSize];
    if (JoinPath(object, sizeof object, "", "", parts.base, ".OBJ", run->double_byte) != 0) {
        return NameTooLong(source);
    }
    ProjectSettings* s = &run->settings;
    if (s->exe_name[0] == '\0' &&
        JoinPath(s->exe_name, sizeof s->exe_name, "", "", parts.base, ".EXE",
                 run->double_byte) != 0) {
        return NameTooLong(source);
    }

    // The linker is given the file itself, as the tools are.
    char disk[kNameSize];
    bool library = SameText(parts.ext, ".LIB");
    if (library || SameText(parts.ext, ".OBJ")) {
        DiskName(source, disk, sizeof disk);
        return WriteDirective(run, library ? "library " : "file ", disk);
    }
    if (!WriteDirective(run, "file ", object)) return false;

    const char* options;
    const char* tool = ToolFor(run, parts.ext, &options);
    if (!tool) {
        Print("Invalid module: %s (must be .C/.CC/.CPP/.CXX/.ASM/.OBJ/.LIB)\n", source);
        return false;
    }
    if (!Found(run, source)) {
        Print("Error: %s not found\n", source);
        return false;
    }
    FileStamp src = run->search.stamp;
    FileStamp obj = {0, 0, 0};
    if (Found(run, object)) obj = run->search.stamp;
    if (!force && !LaterStamp(src.date, src.time, obj.date, obj.time)) return true;

    // The tool is given the source that was compared, as it is on disk.
    DiskName(source, disk, sizeof disk);
    BuildCommand(run, tool, options, disk);
    // Deleted first, so a failed build never leaves an old object that a
    // later run would take as up to date.
    RemoveFile(object);
    FlushOutput();
    RunCommand(run->command);
    if (Interrupted()) return FailInterrupted(object);
    if (!Found(run, object)) {
        WriteLine("\nCompiler/assembler returned bad status.");
        return false;
    }
    s->rebuilt = true;
    return true;
}
