// Running commands through the command interpreter, one or several at once.
#pragma once

#include <cstddef>
#include <string_view>

// Commands started and not yet finished, running or ended.
constexpr int kMaxCommands = 256;

// How many commands may be started and not yet finished at once: as many
// as the descriptors the system allows the program leave room for, two for
// each captured one, and at most kMaxCommands.
int CommandLimit();

// Starts the command text, unchanged, through the command interpreter in
// the current directory, with the program's environment. Alone, it has the
// program's standard input, output and error (and, where the program runs
// in the foreground of a terminal, the terminal) as a command typed at the
// shell has. Captured, what it writes to its output and error is read into
// memory while it runs, kept for FinishCommand, and it reads the null
// device and has no terminal; where the program's own output and error are
// one file (OneOutputFile, console.h), the command's are one pipe, so what
// it wrote keeps its order there. A command ends when the interpreter does:
// what a process it left running still writes after that is not read.
// Returns the command's number, or -1 when the interpreter cannot be
// started or kMaxCommands are not finished; when its output cannot be
// captured, problem (cap bytes) then holds the system's reason, else it is
// empty.
int StartCommand(const char* command, bool captured, char* problem, size_t cap);

// How a command ended: exit status 0, another status, or a crash or a
// signal (the shell ended by a signal, or its status 128 plus a signal
// number; on Windows a system error status).
enum class Ending { kSuccess, kFailure, kCrash };

// Waits until a started command ends. Returns its number, with how it ended
// in *ending, or -1 when no command is running or the wait fails.
int WaitForCommand(Ending* ending);

// For a command that has ended: writes what it wrote, when captured, to the
// program's own output and error (WriteRuns), and releases it. Returns 0,
// or when some of what it wrote was lost for want of memory, the C
// library's error number (errno.h) of the reason.
int FinishCommand(int command);

// What a captured command that has ended wrote, kept until FinishCommand:
// runs in the order written, each a tag byte (0 standard output, 1 standard
// error, 2 both, written where they were one file), a 4-byte little-endian
// length and the bytes. False when some of it was lost for want of memory.
bool CapturedOutput(int command, std::string_view* runs);

// The number of processors there are to run commands on; at least 1.
int ProcessorCount();
