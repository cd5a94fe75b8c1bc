// The linker directive file, written line by line as the project is read.
#include "zorbex.h"

bool WriteDirective(Run* run, const char* text, const char* more) {
    if (WriteTextLine(&run->directives, text, more) == 0) return true;
    return FailWrite(run);
}

bool FailWrite(Run* run) {
    return Fail(run, kReaderPlace, "Error: can't write temporary file %s\n", kDirectiveFileName);
}
