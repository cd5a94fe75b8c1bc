// The run's failure: the first in project order, noted as it is met, for
// the common error exit to report.
#include <cstdarg>
#include <cstdio>

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
