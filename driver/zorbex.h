// Types shared by the parts of the build driver. A run flows one way: the
// project reader hands each module line to the module build, which decides
// and starts its tool through the tool queue; the link step ends the run.
// The directive file and the run's exits serve them all.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "command_runner.h"
#include "dependency_records.h"
#include "file_search.h"
#include "text.h"
#include "text_file.h"

constexpr size_t kNameSize = 260;    // file names: 259 characters
constexpr size_t kLineSize = 256;    // project lines: 255 characters
constexpr size_t kOptionSize = 128;  // option texts: 127 characters
// The longest command: a tool name of 6 characters, a blank and the
// options, the target switches (" -bt=" and 5, " -d" and 7), " -fo=" and
// an object name, a blank and a source name. Each word of the options that
// holds a double quote may grow to twice its length and two bytes
// (QuoteWord); such a word has at least two bytes but the last, so the
// options never take more than three times kOptionSize.
constexpr size_t kCommandSize = 1024;
static_assert(kCommandSize >= 6 + 3 * kOptionSize + 20 + 5 + kNameSize + kNameSize);
// The longest message: its text and a name or line.
constexpr size_t kMessageSize = 512;
constexpr int kMaxJobs = 64;
// The first block read of an object, where its dependency records are.
constexpr size_t kObjectBlockSize = 4096;
// Files named in dependency records whose stamps a run keeps.
constexpr size_t kIncludedFiles = 1024;

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

// Copies a tool's name from the table as the tool is installed here.
void CopyToolName(char* out, size_t cap, const char* tool);

struct ProjectSettings {
    int target;
    char exe_name[kNameSize];
    char compiler_options[kOptionSize];
    char assembler_options[kOptionSize];
    bool no_link;
    bool rebuilt;
};

// What a compile's result is stored under in the object cache, and what
// is checked before it is.
struct CacheJob {
    bool valid;
    uint64_t key[2];
    const char* tool;             // as the target table names it
    int target;
    bool based;                   // its names kept from the base directory
    int64_t started;              // when the tool started, by the file clock
    char source[kNameSize];       // absolute: the records must name it
    char diagnostics[kNameSize];  // the file the tool writes its diagnostics to
};

// A tool started and not yet passed on, in project order.
struct Tool {
    int child;  // its number with the command runner; -1 when it could not start
    int place;    // its module line's place in the project
    bool link;    // the linker, else a compiler or the assembler
    bool ended;
    Ending ending;
    char output[kNameSize];  // the file it is to make
    char text[kCommandSize + 16];  // its command line, to be shown with ZORBEX_VERBOSE
    CacheJob job;             // its result is stored in the object cache when valid
    char* replay;             // what a result taken from the cache wrote: runs, as CapturedOutput gives them
    size_t replay_size;
};

// Where a failure stands in project order: a tool's failure comes before
// one the reader meets, which is after every tool it started.
constexpr int kReaderPlace = INT_MAX - 1;
constexpr int kNoFailure = INT_MAX;

struct IncludedFile {
    char name[kNameSize];
    bool found;
    FileStamp stamp;
};

// The tool programs a run's compiles name, as the cache's keys hold them.
constexpr size_t kCachedWordSize = 16;
struct CachedProgram {
    char word[kCachedWordSize];
    bool found;
    char path[kNameSize];
    FileStamp stamp;
};

// What stats.txt in the cache's directory counts, in its order.
enum CacheCount {
    kHits,
    kMisses,
    kStored,
    kRemoved,
    kUncachedForced,    // marked with a star: to be compiled
    kUncachedExpanded,  // text the command interpreter expands
    kUncachedFiles,     // options that make or read other files
    kUncachedSearch,    // options that make the include search unknown
    kUncachedClock,     // a file read uses the date or time of the compile
    kUncachedNew,       // a file read changed while the tool ran
    kCacheCounts
};

struct HttpServer;

struct ObjectCache {
    bool on;     // asked for: a directory, a server or both
    bool local;  // a directory (ZORBEX_CACHE), while it can be used
    bool ready;  // the names made absolute, and the current directory known
    bool failed;  // a write failed: the trim runs all the same
    char dir[kNameSize];
    uint64_t limit;  // bytes
    char current_dir[kNameSize];
    char base[kNameSize];  // ZORBEX_CACHE_BASEDIR, absolute once ready; "" for none
    // ZORBEX_CACHE_REMOTE: the URL, and as messages show it (no password).
    std::string remote;
    std::string shown;
    bool read_only;
    bool server_left;  // not asked again this run
    HttpServer* server;  // opened at the first compile
    int programs;
    // One for each tool name of the target table at most.
    CachedProgram program[kTargetCount * 4];
    uint64_t token;  // makes this run's names its own
    unsigned temps;
    unsigned long long count[kCacheCounts];
};

// Everything one run owns, from start-up to exit.
struct Run {
    char project_name[kNameSize];  // upper case, as messages show it
    char project_file[kNameSize];  // as it is opened
    bool double_byte;
    bool project_open;
    bool directives_open;
    int jobs;  // tools that may run at once
    bool autodepend;  // dependency records in objects count
    bool verbose;     // each tool's command line is shown
    ProjectSettings settings;
    char line[kLineSize];
    char command[kCommandSize];
    TextReader project;
    TextWriter directives;
    int modules;  // module lines met so far
    int running;  // tools running now
    int first_tool;  // the queue: a ring of tools in project order
    int tools;
    int max_tools;  // tools the queue may hold
    Tool queue[kMaxCommands];
    // The latest stamp of the objects found up to date and of the listed
    // objects and libraries, while nothing was rebuilt: an executable
    // older than it is stale.
    FileStamp newest;
    uint32_t exe_size;  // of the executable the linker made
    int failure_place;  // the failure to report, or kNoFailure
    char message[kMessageSize];
    unsigned char object_block[kObjectBlockSize];
    char current_dir[kNameSize];  // without a closing separator; "" when unknown
    size_t current_dir_length;
    // The stamps of files named in records, by name: a slot is free while
    // its hash is 0, so only the hashes are cleared at start.
    size_t included_count;
    uint32_t included_hash[kIncludedFiles];
    IncludedFile included[kIncludedFiles];
    ObjectCache cache;
};

// One run from the banner to the exit code, 0 or 255.
int RunZorbex(Run* run, int argc, char** argv);

// Each returns true to go on, false once the run has failed (Failed says
// so too) or the user has interrupted it.
bool ReadProject(Run* run);
bool BuildModule(Run* run, const char* line);

// The directive file. Returns false, the failure noted, when the write fails.
bool WriteDirective(Run* run, const char* text, const char* more);
bool FailWrite(Run* run);

// The tool queue. With one job a tool writes to the program's own output;
// with several, its output is passed on whole, in project order. Each tool
// is judged when it ends: a crash deletes its output, and a missing output
// is the tool's failure; after an interrupt its output is deleted, and so
// is every spelling of it before the tool starts. Output that could not be
// passed on whole fails the run. AwaitSlot waits until fewer than
// run->jobs tools run. StartTool returns false when the tool was not
// started.
void AwaitSlot(Run* run);
bool StartTool(Run* run, const char* command, const char* output, bool link, const CacheJob* job = nullptr);
// Queues a result taken from the cache, what its tool wrote (runs, as
// CapturedOutput gives them) passed on in its turn.
void PassOnCached(Run* run, const char* text, const char* object, std::string_view runs);
// Waits for the running tool that is to make output, if one is.
void AwaitOutput(Run* run, const char* output);
// Waits for every running tool and passes its output on.
void FinishTools(Run* run);

// A source module whose object its source leaves up to date.
struct Module {
    const char* source;  // absolute
    FileStamp source_stamp;
    const char* object;
    FileStamp object_stamp;
};

// Whether the module's dependency records make it out of date: a file they
// name is gone, or its stamp is not the recorded one, or it is later than
// the object; so too records that are damaged or an object that cannot be
// read, or whose records do not name the module's source, as when the
// object was made in another tree or from another source of its name. An
// object without records is not. The object is read from file, which is
// closed; kNoFile is one that could not be opened.
bool DependenciesChanged(Run* run, const Module& module, FileHandle file);
// Readies the run for reading records: an empty table of included files.
void StartDependencies(Run* run);

// The run's failure. Fail notes a failure at a place in project order and
// its message, unless one before it is noted; returns false.
bool Fail(Run* run, int place, const char* format, ...) __attribute__((format(printf, 3, 4)));
bool Failed(const Run* run);
// The common error exit, once reading has stopped: waits for the tools,
// writes the failure's message (or "Interrupted."), closes both files,
// deletes the directive file. Returns 255.
int ExitFailed(Run* run);
void CloseProject(Run* run);

// The object cache. StartCache reads ZORBEX_CACHE and ZORBEX_CACHE_SIZE;
// false, the message written, when one is not valid. TakeFromCache, for a
// module to compile with the command in run->command: true when the result
// was in the cache and is put in place, with what the tool wrote in runs
// (as CapturedOutput gives them) that can be passed on as written
// (CanWriteRuns); else job is readied for StoreInCache, which keeps the
// result of a tool that made its object, when the compile can be cached
// at all. FinishCache keeps the cache to its size and adds the run's counts.
bool StartCache(Run* run);
bool TakeFromCache(Run* run, CacheJob* job, const char* tool, const char* source, const char* object,
                   const char* disk, bool forced, std::string* runs);
void StoreInCache(Run* run, const Tool& t);
void FinishCache(Run* run);

// Finishes the directive file and links. Returns the exit code.
int FinishAndLink(Run* run);
