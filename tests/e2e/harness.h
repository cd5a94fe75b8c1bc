// Runs the zorbex binary in a fresh directory with the stand-in tools first
// on PATH, and gives the tests small functions for files, times and results.
//
// Everything that names what runs can be set from the environment, so the
// same cases can drive another build of the program:
//   ZORBEX_E2E_BINARY    the program
//   ZORBEX_E2E_TOOLS     the directory holding the stand-in tools
//   ZORBEX_E2E_RUNNER    words put before the program, e.g. "wine"
//   ZORBEX_E2E_WINDOWS   1 when the program is a Windows build (CR LF line
//                        ends, drive-letter paths); default: the program's
//                        name ends in ".exe"
//   ZORBEX_E2E_PROGRAMS  the directory holding the small Windows test
//                        programs (launcher.exe...); default: the tools'
//                        parent
// A Windows build runs with the tools on the Windows search path (WINEPATH)
// and with the runner's own diagnostics off (WINEDEBUG=-all).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorbex_e2e {

// The defaults of the first three: the native build for one test program,
// the Windows build under Wine for the other.
extern const char kDefaultBinary[];
extern const char kDefaultTools[];
extern const char kDefaultRunner[];

inline const std::string kBanner = "ZORBEX v1.02 - by Drasqel\n\n";
inline const std::string kUsage =
    "Usage: ZORBEX <configfile>[.ZBX]\n\nRead ZORBEX.DOC for more information.\n";
inline const std::string kNothingToDo = "No modules need recompiling.\n";
inline const std::string kRelinking = "\nRelinking...\n";
inline const std::string kBadCompile = "\nCompiler/assembler returned bad status.\n";
inline const std::string kBadLink = "\nLinker returned bad status.\n";
inline const std::string kDirectiveFile = "~ZORBEX~.LNK";

// Times used where only "older" and "newer" matter.
constexpr const char kOld[] = "2020-03-01 10:00:00";
constexpr const char kNew[] = "2020-03-02 10:00:00";

struct RunResult {
    int code;         // exit code; -1 when the run had to be stopped
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
};

bool WindowsBuild();

// How a run is started, beyond the defaults of Run.
struct Launch {
    long long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, when not negative
    bool own_group = false;          // a process group of its own, as a shell's job
    bool ignore_interrupt = false;   // SIGINT ignored, as for a background job
    bool output_closed = false;      // standard output a pipe nobody reads
};

// A run that was started and is not yet waited for.
struct Started {
    int pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    int pid_fd = -1;  // polls readable when the program has ended
};

// The expected standard output: the banner, then text; line ends as the
// program under test writes them.
std::string Out(const std::string& text);

// "\nDone. Created <name> (<size> bytes)\n"
std::string Done(const std::string& exe, long size = 4321);

// Lines joined, each ended by the directive file's line end.
std::string DirectiveText(const std::vector<std::string>& lines);

// A file system path as a Windows program sees it: drive Z: is the root.
std::string WindowsName(const std::string& path);

// The program under test, as a path of this system.
std::string ProgramPath();

class E2e : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the program in the test directory (or in subdir of it).
    RunResult Run(const std::vector<std::string>& args = {},
                  const std::string& subdir = "");

    // Starts the program in the test directory without waiting for it.
    // SIGINT, SIGTERM and SIGHUP are at their defaults in it, whatever they
    // are here, and no signal is blocked.
    Started Start(const std::vector<std::string>& args = {},
                  const Launch& launch = {});
    // Waits for a started program to end (30 seconds at most) and collects
    // its output. The error stream is left to the caller to judge.
    RunResult Wait(Started* started);
    // Start and Wait; nothing may reach the error stream.
    RunResult RunWith(const Launch& launch,
                      const std::vector<std::string>& args = {});
    // Sends signo to a started program, or to its whole process group.
    void Signal(const Started& started, int signo, bool group = false);
    // Waits (10 seconds at most) until the started program catches SIGTERM
    // and sleeps in the system with no tool running: blocked in an open or a
    // read.
    bool AwaitBlocked(const Started& started);
    // Waits (seconds at most) until the started program has ended.
    bool AwaitEnd(const Started& started, int seconds);
    // Waits (10 seconds at most) until the file exists.
    bool AwaitFile(const std::string& name);
    void MakeFifo(const std::string& name);
    // Opens a FIFO for writing as soon as someone reads it (10 seconds at
    // most); -1 if nobody does.
    int OpenFifoWriter(const std::string& name);

    // Runs one of the small Windows test programs (e.g. "launcher.exe") in the
    // test directory, through the runner, with the same environment.
    RunResult RunWindowsProgram(const std::string& program,
                                const std::vector<std::string>& args);
    std::string WindowsProgramPath(const std::string& program) const;

    // Adds a variable to the environment of every later run of this test.
    void SetEnv(const std::string& name, const std::string& value);

    // Names are relative to the test directory; parents are created.
    void Write(const std::string& name, const std::string& bytes);
    void WriteAt(const std::string& name, const std::string& stamp);
    void MakeDir(const std::string& name);
    // stamp: "YYYY-MM-DD hh:mm:ss", UTC (the program runs with TZ=UTC0).
    void SetTime(const std::string& name, const std::string& stamp);
    long long ModifiedTime(const std::string& name);
    std::string Read(const std::string& name);
    bool Exists(const std::string& name);  // does not follow a symbolic link
    // Sorted entry names; directories end in "/".
    std::vector<std::string> List(const std::string& subdir = "");
    void ExpectFiles(std::vector<std::string> expected,
                     const std::string& subdir = "");
    // The lines of STANDIN.LOG without their line ends.
    std::vector<std::string> LogLines(const std::string& subdir = "");
    // The tools' control file, one instruction a line.
    void Control(const std::vector<std::string>& lines);
    // Writes ZORBEX.ZBX.
    void Project(const std::string& text);

    // The name as the program prints it after making it absolute and
    // upper-casing it.
    std::string AbsoluteName(const std::string& relative) const;

    std::string dir_;
    std::vector<std::string> env_;
};

}  // namespace zorbex_e2e
