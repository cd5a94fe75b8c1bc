// Types shared by the parts of the build driver.
#pragma once

#include <cstddef>

#include "file_search.h"
#include "text_file.h"

constexpr size_t kNameSize = 260;    // file names: 259 characters
constexpr size_t kLineSize = 256;    // project lines: 255 characters
constexpr size_t kOptionSize = 128;  // option texts: 127 characters
// Tool name, options, target switches and a 255-character module name.
constexpr size_t kCommandSize = 1024;

constexpr const char kDirectiveFileName[] = "~ZORBEX~.LNK";

struct TargetSystem {
    const char* name;
    const char* define;
    const char* c_compiler;
    const char* cpp_compiler;
    const char* assembler;
    const char* linker;
};

constexpr int kTargetCount = 5;
constexpr int kDefaultTarget = 4;
extern const TargetSystem kTargets[kTargetCount];

// Returns the row whose name equals name without regard to case, or -1.
int FindTarget(const char* name);

struct ProjectSettings {
    int target;
    char exe_name[kNameSize];
    char compiler_options[kOptionSize];
    char assembler_options[kOptionSize];
    bool no_link;
    bool rebuilt;
};

// Everything one run owns, from start-up to exit.
struct Run {
    char project_name[kNameSize];
    bool double_byte;
    bool project_open;
    bool directives_open;
    ProjectSettings settings;
    char line[kLineSize];
    char command[kCommandSize];
    SearchRecord search;
    TextReader project;
    TextWriter directives;
};

// One run from the banner to the exit code, 0 or 255.
int RunZorbex(Run* run, int argc, char** argv);

// Each returns true to go on, false after writing the message of a failure
// that ends the run through the common error exit.
bool ReadProject(Run* run);
bool BuildModule(Run* run, const char* line);
bool WriteDirective(Run* run, const char* text, const char* more);
bool FailWrite(Run* run);

// After an interrupt: deletes the output the interrupted tool was making
// (when output is not null), since a partial file newer than its source would
// pass as up to date, and writes the message.
bool FailInterrupted(const char* output);

// Finishes the directive file and links. Returns the exit code.
int FinishAndLink(Run* run);

// The common error exit, after the message: closes both files, deletes the
// directive file and returns the exit code 255.
int FailRun(Run* run);
void CloseProject(Run* run);

// Upper-cases the ASCII letters of text in place.
void UpperCase(char* text);

// Compare without regard to ASCII case: the whole texts, or the first n bytes.
bool SameText(const char* a, const char* b);
bool SamePrefix(const char* text, const char* prefix, size_t n);

// Copies at most cap - 1 characters of text and terminates the copy.
void CopyCut(char* out, size_t cap, const char* text);

// CopyCut, upper-casing the copy.
void CopyUpper(char* out, size_t cap, const char* text);
