// Running one command through the command interpreter.
#pragma once

// Runs the command text, unchanged, through the command interpreter in the
// current directory, with the program's standard handles and environment,
// and waits for it to end. Returns its exit status, or -1 when the
// interpreter cannot be started or waited for.
int RunCommand(const char* command);
