// The common error exit: the tools finished, the failure reported, both
// files closed and the directive file deleted.
#include "console.h"
#include "file.h"
#include "interrupt.h"
#include "zorbex.h"

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
