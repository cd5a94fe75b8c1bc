// The run's exits on failure: the first failure in project order, noted
// as it is met, and the common error exit that reports it.
#include <cstdarg>
#include <cstdio>

#include "console.h"
#include "file.h"
#include "interrupt.h"
#include "zorbex.h"

bool Fail(Run* run, int place, const char* format, ...) {
    if (place >= run->failure_place) return false;
    run->failure_place = place;
    va_list args;
    va_start(args, format);
    // The analyzer does not follow va_start here.
    vsnprintf(run->message, sizeof run->message, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    return false;
}

bool Failed(const Run* run) { return run->failure_place != kNoFailure; }

void CloseProject(Run* run) {
    if (run->project_open) CloseFile(run->project.file);
    run->project_open = false;
}

int ExitFailed(Run* run) {
    FinishTools(run);
    if (Interrupted()) {
        WriteLine("\nInterrupted.");
    } else {
        Print("%s", run->message);
    }
    if (run->directives_open) CloseWriter(&run->directives);
    run->directives_open = false;
    CloseProject(run);
    RemoveExactFile(kDirectiveFileName);
    return 255;
}
