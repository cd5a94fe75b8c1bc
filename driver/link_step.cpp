// The end of the project file: the tools finished, the directive file
// finished, the executable relinked when a module was rebuilt or it is
// missing, and the report.
#include <cstdio>
#include <cstring>

#include "console.h"
#include "file.h"
#include "interrupt.h"
#include "zorbex.h"

int FinishAndLink(Run* run) {
    ProjectSettings* s = &run->settings;
    const TargetSystem& target = kTargets[s->target];
    FinishTools(run);
    if (Failed(run) || Interrupted() || !WriteDirective(run, "name ", s->exe_name) ||
        !WriteDirective(run, "system ", target.name)) {
        return ExitFailed(run);
    }
    run->directives_open = false;
    if (CloseWriter(&run->directives) != 0) {
        FailWrite(run);
        return ExitFailed(run);
    }
    CloseProject(run);
    if (Interrupted()) return ExitFailed(run);

    if (!s->no_link) {
        if (!s->rebuilt) {
            WriteLine("No modules need recompiling.");
            // An executable older than what it is made of was not linked
            // from it: a run that stopped after a rebuild leaves it so.
            FileStamp exe;
            if (FindOutput(s->exe_name, &exe) != 0 ||
                LaterStamp(run->newest.utc_date, run->newest.utc_time, exe.utc_date, exe.utc_time)) {
                WriteLine("\nRelinking...");
                s->rebuilt = true;
            }
        }
        if (s->rebuilt) {
            CopyToolName(run->command, sizeof run->command, target.linker);
            size_t n = strlen(run->command);
            snprintf(run->command + n, sizeof run->command - n, " @%s", kDirectiveFileName);
            StartTool(run, run->command, s->exe_name, true);
            FinishTools(run);
            if (Failed(run) || Interrupted()) return ExitFailed(run);
            Print("\nDone. Created %s (%lu bytes)\n", s->exe_name,
                  static_cast<unsigned long>(run->exe_size));
        }
    }
    RemoveExactFile(kDirectiveFileName);
    return 0;
}
