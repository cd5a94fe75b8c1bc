// The end of the project file: the directive file finished, the executable
// relinked when a module was rebuilt or it is missing, and the report.
#include <cstdio>

#include "command_runner.h"
#include "console.h"
#include "file.h"
#include "interrupt.h"
#include "zorbex.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 255;

bool ExecutableFound(Run* run) {
    int r = FindFile(run->settings.exe_name, 0, &run->search);
    CloseSearch(&run->search);
    return r == 0;
}

}  // namespace

int FinishAndLink(Run* run) {
    ProjectSettings* s = &run->settings;
    const TargetSystem& target = kTargets[s->target];
    if (!WriteDirective(run, "name ", s->exe_name) ||
        !WriteDirective(run, "system ", target.name)) {
        return FailRun(run);
    }
    run->directives_open = false;
    if (CloseWriter(&run->directives) != 0) {
        FailWrite(run);
        return FailRun(run);
    }
    CloseProject(run);
    if (Interrupted()) {
        FailInterrupted(nullptr);
        return FailRun(run);
    }

    if (!s->no_link) {
        if (!s->rebuilt) {
            WriteLine("No modules need recompiling.");
            if (!ExecutableFound(run)) {
                WriteLine("\nRelinking...");
                s->rebuilt = true;
            }
        }
        if (s->rebuilt) {
            // Deleted first, so a failed link never leaves the old executable.
            RemoveFile(s->exe_name);
            snprintf(run->command, sizeof run->command, "%s @%s", target.linker,
                     kDirectiveFileName);
            FlushOutput();
            RunCommand(run->command);
            if (Interrupted()) {
                FailInterrupted(s->exe_name);
                return FailRun(run);
            }
            if (!ExecutableFound(run)) {
                WriteLine("\nLinker returned bad status.");
                RemoveExactFile(kDirectiveFileName);
                return kFailure;
            }
            Print("\nDone. Created %s (%lu bytes)\n", s->exe_name,
                  static_cast<unsigned long>(run->search.stamp.size));
        }
    }
    RemoveExactFile(kDirectiveFileName);
    return kSuccess;
}
