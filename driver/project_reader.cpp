// The project file reader: one line at a time, cleaned, then a comment, a
// directive or a module line, acted on at once.
#include <cstring>

#include "interrupt.h"
#include "path.h"
#include "zorbex.h"

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Trims white space at both ends; the text ends at its first NUL.
char* CleanLine(char* line) {
    size_t n = strlen(line);
    while (n > 0 && IsWhiteSpace(line[n - 1])) line[--n] = '\0';
    while (IsWhiteSpace(*line)) line++;
    return line;
}

bool SetExecutableName(Run* run, const char* value) {
    ProjectSettings* s = &run->settings;
    CopyUpper(s->exe_name, sizeof s->exe_name, value);
    PathParts parts;
    SplitPath(s->exe_name, &parts, run->double_byte);
    if (parts.ext[0] != '\0') return true;
    char joined[kNameSize];
    if (JoinPath(joined, sizeof joined, parts.drive, parts.dir, parts.base, ".EXE",
                 run->double_byte) != 0) {
        return Fail(run, kReaderPlace, "Error: name too long: %s\n", s->exe_name);
    }
    memcpy(s->exe_name, joined, sizeof joined);
    return true;
}

bool HandleDirective(Run* run, const char* line) {
    ProjectSettings* s = &run->settings;
    if (SamePrefix(line, ".target ", 8)) {
        int target = FindTarget(line + 8);
        if (target < 0) return Fail(run, kReaderPlace, "Error: invalid target system: %s\n", line + 8);
        s->target = target;
        return true;
    }
    if (SamePrefix(line, ".exename ", 9)) return SetExecutableName(run, line + 9);
    if (SamePrefix(line, ".wccopt ", 8)) {
        CopyCut(s->compiler_options, sizeof s->compiler_options, line + 8);
        return true;
    }
    if (SamePrefix(line, ".wasmopt ", 9)) {
        CopyCut(s->assembler_options, sizeof s->assembler_options, line + 9);
        return true;
    }
    if (SamePrefix(line, ".directive ", 11)) return WriteDirective(run, line + 11, nullptr);
    if (SameText(line, ".nolink")) {
        s->no_link = true;
        return true;
    }
    return Fail(run, kReaderPlace, "Invalid directive: %s\n", line);
}

}  // namespace

bool ReadProject(Run* run) {
    for (;;) {
        // While the run's jobs all run, the next line waits for one to end.
        AwaitSlot(run);
        if (Failed(run) || Interrupted()) return false;
        LineRead r = ReadLine(&run->project, run->line, sizeof run->line);
        if (Interrupted()) return false;
        if (r == LineRead::kEnd) return true;
        if (r == LineRead::kError) return Fail(run, kReaderPlace, "Error: can't read %s\n", run->project_name);
        char* line = CleanLine(run->line);
        if (line[0] == '\0' || line[0] == ';') continue;
        bool ok = line[0] == '.' && IsLetter(line[1]) ? HandleDirective(run, line)
                                                       : BuildModule(run, line);
        if (!ok) return false;
    }
}
