// Standard streams on Windows: a missing one takes no file's place.
#include "console.h"

void OpenStandardStreams() {}
