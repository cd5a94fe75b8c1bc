// How the Watcom tools of this system are named and take their switches.
#pragma once

#include <cstddef>

// The character that starts a switch. The Windows-hosted tools take "/" as
// well as "-"; the POSIX-hosted ones take only "-" and read a word that
// begins with "/" as a file name.
extern const char kSwitchChar;

// The character that separates directories for the tools. The POSIX-hosted
// ones take only "/"; a "\" is part of a name there.
extern const char kSeparatorChar;

// Whether the tools are installed under lower-case names.
extern const bool kLowerCaseTools;

// Whether the object is named on the command line ("fo="). Left alone, the
// POSIX-hosted tools name it after the source as written, with ".o".
extern const bool kNameObject;

// Makes a word of a tool's options, the len bytes at word (a buffer of cap
// bytes), into what the command interpreter must be given for the tool to
// receive it as written, double quotes included: the tools take the quotes
// out themselves. Returns its new length, at most twice len and two bytes,
// or 0 when that would not fit (the word is then left as it was).
size_t QuoteWord(char* word, size_t len, size_t cap);

// The program file that the command interpreter runs for a command word,
// found as it finds it: 0 with its name in out (cap bytes), or -1.
int FindProgram(const char* word, char* out, size_t cap);

// Whether the command interpreter would put other text in place of some of
// the command's before running it: a variable, a command's output, names
// matching a pattern.
bool InterpreterExpands(const char* command);
