// The program's entry: the platform's view of the arguments, interrupts
// caught, then one run.
#include "args.h"
#include "console.h"
#include "interrupt.h"
#include "zorbex.h"

int main(int argc, char** argv) {
    OpenStandardStreams();
    if (ProgramArguments(&argc, &argv) != 0) return 255;
    CatchInterrupts();
    // The run's buffers are large; keep them off the stack.
    static Run run;
    int code = RunZorbex(&run, argc, argv);
    // What was built stays; a user who could not be told must not be told
    // all is well.
    return OutputFailed() ? 255 : code;
}
