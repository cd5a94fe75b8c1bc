// The user's interrupt: Ctrl-C and the like.
#pragma once

// From now on an interrupt does not end the program at once: it is noted,
// and a running tool gets it too, so the driver can wait for the tool and
// clean up after it.
void CatchInterrupts();

// Whether the user has interrupted the run.
bool Interrupted();
