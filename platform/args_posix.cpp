// On POSIX the shell has already split the command line: argv is taken as given.
#include "args.h"

int ProgramArguments(int* argc, char*** argv) {
    (void)argc;
    (void)argv;
    return 0;
}
