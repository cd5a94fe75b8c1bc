// The tools of a run, in project order: started while fewer than the run's
// jobs are running, judged as each ends, and their captured output passed on
// whole once every tool above has been. With one job a tool runs alone,
// uncaptured unless its output is to be kept in the object cache, and is
// judged before the next project line is read. A result taken from the
// cache waits in the queue as a tool that has ended.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "file.h"
#include "interrupt.h"
#include "zorbex.h"

namespace {

Tool* At(Run* run, int i) { return &run->queue[(run->first_tool + i) % kMaxCommands]; }

// A crashed tool's output is no build: a partial object that a later run
// would take as up to date. So is an interrupted tool's: with one job, any
// tool's that ends after the interrupt; with several, whose tools may have
// ended while the project was read, any but one that ended with success.
void Judge(Run* run, Tool* t) {
    const char* bad = t->link ? "\nLinker returned bad status.\n"
                              : "\nCompiler/assembler returned bad status.\n";
    bool cut = Interrupted() && (run->jobs == 1 || t->ending != Ending::kSuccess);
    FileStamp made;
    if (cut || t->ending == Ending::kCrash) {
        RemoveFile(t->output);
        if (!Interrupted()) Fail(run, t->place, "%s", bad);
    } else if (FindOutput(t->output, &made) != 0) {
        Fail(run, t->place, "%s", bad);
    } else if (t->link) {
        run->exe_size = made.size;
    } else {
        run->settings.rebuilt = true;
        if (t->job.valid && t->ending == Ending::kSuccess) StoreInCache(run, *t);
    }
}

void PassOnEnded(Run* run) {
    while (run->tools > 0 && At(run, 0)->ended) {
        Tool* t = At(run, 0);
        // Shown with its output, where the sequential run shows it.
        if (run->verbose && t->text[0]) WriteLine(t->text);
        int lost = t->child >= 0 ? FinishCommand(t->child) : 0;
        if (t->replay) {
            WriteRuns(std::string_view(t->replay, t->replay_size));
            free(t->replay);
        }
        if (lost) {
            Fail(run, t->place, "Error: output of the tool making %s lost: %s\n", t->output,
                 strerror(lost));
        }
        run->first_tool = (run->first_tool + 1) % kMaxCommands;
        run->tools--;
    }
}

void Ended(Run* run, Tool* t, Ending ending) {
    t->ended = true;
    t->ending = ending;
    Judge(run, t);
    PassOnEnded(run);
}

void WaitForOne(Run* run) {
    Ending ending = Ending::kFailure;
    int child = WaitForCommand(&ending);
    for (int i = 0; i < run->tools; i++) {
        Tool* t = At(run, i);
        if (t->ended || t->child != child) continue;
        run->running--;
        Ended(run, t, ending);
        return;
    }
    // No tool is running after all: none is waited for any more.
    for (int i = 0; child < 0 && i < run->tools; i++) {
        if (!At(run, i)->ended) Ended(run, At(run, i), Ending::kFailure);
    }
    if (child < 0) run->running = 0;
}

bool Making(Run* run, const char* output) {
    for (int i = 0; i < run->tools; i++) {
        const Tool* t = At(run, i);
        if (!t->ended && strcmp(t->output, output) == 0) return true;
    }
    return false;
}

// A new tool at the queue's end, the queue having room.
Tool* Queued(Run* run, int place, const char* output) {
    Tool* t = At(run, run->tools++);
    *t = Tool{};
    t->child = -1;
    t->place = place;
    t->ending = Ending::kFailure;
    CopyCut(t->output, sizeof t->output, output);
    return t;
}

}  // namespace

void PassOnCached(Run* run, const char* text, const char* object, std::string_view runs) {
    while (run->tools >= run->max_tools) WaitForOne(run);
    Tool* t = Queued(run, run->modules, object);
    t->ended = true;
    t->ending = Ending::kSuccess;
    if (run->verbose) CopyCut(t->text, sizeof t->text, text);
    // Without memory for it the output is lost, and the run fails saying so.
    t->replay = static_cast<char*>(malloc(runs.size() + 1));
    if (t->replay) {
        memcpy(t->replay, runs.data(), runs.size());
        t->replay_size = runs.size();
    } else {
        Fail(run, t->place, "Error: output of the tool making %s lost: %s\n", object, strerror(ENOMEM));
    }
    PassOnEnded(run);
}

void AwaitSlot(Run* run) {
    while (run->running >= run->jobs) WaitForOne(run);
}

bool StartTool(Run* run, const char* command, const char* output, bool link, const CacheJob* job) {
    // A full queue waits for the tool at its head, and a failure or an
    // interrupt met meanwhile starts nothing more.
    while (run->tools >= run->max_tools) WaitForOne(run);
    if (Failed(run) || Interrupted()) return false;
    // Deleted first, so a failed build never leaves an old output that a
    // later run would take as up to date.
    RemoveFile(output);
    Tool* t = Queued(run, link ? kReaderPlace : run->modules, output);
    t->link = link;
    if (job) t->job = *job;
    // A file the tool reads that is written from here on may or may not be
    // what it read: its result is not stored.
    if (t->job.valid) t->job.started = FileClockNow();
    // With the cache on, a tool's output is kept to be stored with its object.
    bool captured = run->jobs > 1 || (job && job->valid);
    // Kept for the cache too, which reads the tool's search from it.
    if (captured) CopyCut(t->text, sizeof t->text, command);
    if (run->verbose && !captured) WriteLine(command);
    FlushOutput();
    char problem[kMessageSize - 64];
    t->child = StartCommand(command, captured, problem, sizeof problem);
    if (problem[0]) Fail(run, t->place, "Error: can't capture the output of the tool making %s: %s\n", output, problem);
    if (t->child < 0) {
        Ended(run, t, Ending::kFailure);
        return false;
    }
    run->running++;
    return true;
}

void AwaitOutput(Run* run, const char* output) {
    while (Making(run, output)) WaitForOne(run);
}

void FinishTools(Run* run) {
    while (run->running > 0) WaitForOne(run);
    PassOnEnded(run);
}
