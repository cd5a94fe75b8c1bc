// Command-line arguments.
#pragma once

#include <cstddef>

// Returns the text after the program name and the white space that follows it.
const char* SkipProgramName(const char* command_line);

// Splits argument text by the console rules: blanks and tabs separate, double
// quotes group, a backslash right before a double quote makes it literal.
// storage must hold strlen(text) + 1 bytes; argv gets at most max_args
// pointers into it. Returns the number of arguments found (which may exceed
// max_args; the extra ones are not stored).
int SplitArguments(const char* text, char* storage, char** argv, int max_args);

// Replaces argc/argv by the platform's own view of the program's arguments.
// Returns 0, or -1 when they cannot be had.
int ProgramArguments(int* argc, char*** argv);
