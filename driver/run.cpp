// The run sequence: banner, command line, the number of jobs, project file
// name, the two files, then the project file and the link step.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "console.h"
#include "file.h"
#include "interrupt.h"
#include "path.h"
#include "zorbex.h"

namespace {

constexpr int kFailure = 255;
// Room for an absolute project name that turns out too long, so the message
// can still show it whole.
constexpr size_t kLongNameSize = 4096;

void WriteUsage() {
    WriteLine("Usage: ZORBEX <configfile>[.ZBX]\n\nRead ZORBEX.DOC for more information.");
}

// The absolute, upper-cased project file name with ".ZBX" added when it has
// no extension, and the name it is opened by, whose current directory's
// part is as the system gives it. Returns false, with the message written,
// when it cannot be held in the project name buffer.
bool SettleProjectName(Run* run, const char* arg) {
    static char full[kLongNameSize];
    if (FullPath(full, sizeof full - 4, arg) != 0) {
        Print("Error: can't read %s\n", arg);
        return false;
    }
    UpperCase(full + CurrentDirectoryPart(full));
    PathParts parts;
    SplitPath(full, &parts, run->double_byte);
    bool add_extension = parts.ext[0] == '\0';
    size_t needed = strlen(full) + (add_extension ? 4 : 0);
    // Short enough that no part of the split was cut.
    if (needed < kNameSize && (!add_extension ||
                               JoinPath(full, kNameSize, parts.drive, parts.dir, parts.base, ".ZBX",
                                        run->double_byte) == 0)) {
        CopyCut(run->project_file, sizeof run->project_file, full);
        CopyUpper(run->project_name, sizeof run->project_name, full);
        return true;
    }
    // FullPath left room for the extension.
    if (add_extension) memcpy(full + strlen(full), ".ZBX", 5);
    UpperCase(full);
    Print("Error: can't read %s\n", full);
    return false;
}

// ZORBEX_JOBS: unset, empty or 1, one tool at a time; 2 to 64, as many at
// once; 0, one for each processor, at most 64. Returns 0 for anything else.
int Jobs() {
    const char* value = getenv("ZORBEX_JOBS");
    if (!value || !*value) return 1;
    int n = 0;
    for (const char* p = value; *p; p++) {
        if (*p < '0' || *p > '9' || (n = n * 10 + (*p - '0')) > kMaxJobs) return 0;
    }
    if (n > 0) return n;
    n = ProcessorCount();
    return n < kMaxJobs ? n : kMaxJobs;
}

// ZORBEX_AUTODEPEND: off, only each module's own source counts; on, the
// files its object's dependency records name too. ZORBEX_VERBOSE: on, each
// tool's command line is shown with its output.
// A switch of the environment: unset, empty or 0, off (0); 1, on (1);
// anything else, -1.
int Switch(const char* name) {
    const char* value = getenv(name);
    if (!value || !*value || strcmp(value, "0") == 0) return 0;
    return strcmp(value, "1") == 0 ? 1 : -1;
}

}  // namespace

int RunZorbex(Run* run, int argc, char** argv) {
    run->project_open = false;
    run->directives_open = false;
    WriteLine("ZORBEX v1.02 - by Drasqel\n");
    if (argc > 2 || (argc == 2 && strchr(argv[1], '?'))) {
        WriteUsage();
        return kFailure;
    }
    run->jobs = Jobs();
    if (run->jobs == 0) {
        Print("Error: invalid ZORBEX_JOBS value: %s\n", getenv("ZORBEX_JOBS"));
        return kFailure;
    }
    for (const char* name : {"ZORBEX_AUTODEPEND", "ZORBEX_VERBOSE"}) {
        if (Switch(name) < 0) {
            Print("Error: invalid %s value: %s\n", name, getenv(name));
            return kFailure;
        }
    }
    if (!StartCache(run)) return kFailure;
    run->autodepend = Switch("ZORBEX_AUTODEPEND") == 1;
    run->verbose = Switch("ZORBEX_VERBOSE") == 1;
    if (run->autodepend) StartDependencies(run);
    run->double_byte = DoubleByteCodePage();
    memcpy(run->project_name, "ZORBEX.ZBX", sizeof "ZORBEX.ZBX");
    memcpy(run->project_file, "ZORBEX.ZBX", sizeof "ZORBEX.ZBX");
    if (argc == 2 && !SettleProjectName(run, argv[1])) return kFailure;

    FileHandle project = OpenForReading(run->project_file);
    // Opening a pipe waits for its writer; the user may give up on it.
    if (project == kNoFile && Interrupted()) {
        WriteLine("\nInterrupted.");
        return kFailure;
    }
    if (project == kNoFile) {
        Print("Error: can't read %s\n", run->project_name);
        return kFailure;
    }
    StartReader(&run->project, project);
    run->project_open = true;
    FileHandle directives = CreateForWriting(kDirectiveFileName);
    if (directives == kNoFile) {
        Print("Error: can't create temporary file %s\n", kDirectiveFileName);
        CloseFile(project);
        return kFailure;
    }
    StartWriter(&run->directives, directives);
    run->directives_open = true;

    run->settings = ProjectSettings{};
    run->settings.target = kDefaultTarget;
    run->newest = FileStamp{};
    run->failure_place = kNoFailure;
    run->modules = run->running = run->first_tool = run->tools = 0;
    run->max_tools = CommandLimit();
    int code = ReadProject(run) ? FinishAndLink(run) : ExitFailed(run);
    FinishCache(run);
    return code;
}
