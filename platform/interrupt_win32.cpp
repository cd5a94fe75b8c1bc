// Interrupts on Windows: Ctrl-C, Ctrl-Break and closing the console are
// noted. A tool in the same console gets the same event by itself.
#include <windows.h>

#include "interrupt.h"

namespace {

volatile LONG caught = 0;

BOOL WINAPI Note(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        InterlockedExchange(&caught, 1);
        // Closing the console ends the process once this returns: give the
        // run the time to wait for its tool and clean up; it exits first.
        if (event == CTRL_CLOSE_EVENT) Sleep(5000);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(Note, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&caught, 0, 0) != 0; }
