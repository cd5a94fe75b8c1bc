// Running commands through the command interpreter on Windows: the program
// named by ComSpec, else CMD.EXE, with "/c" and the command text unchanged.
// A command runs in the program's console. A captured one reads the NUL
// device and writes to two pipes, or to one where the program's output and
// error are one file, each read into memory by a thread of its own while
// the command runs, so no command waits on a full pipe while the program
// waits for another, and nothing is written to any disk. The pipes'
// writing ends are inherited by their own command alone: open in another,
// they would not end with their command. A command has ended when its
// interpreter has: a process it left running may hold the pipes for ever,
// so the readers are then stopped, and what the pipes hold read.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_runner.h"
#include "console.h"
#include "text.h"

namespace {

struct Child;

// A pipe a captured command writes to, read by a thread of its own, and
// the tag of the runs its bytes make.
struct Captured {
    HANDLE pipe;    // the reading end, or null
    HANDLE reader;  // the thread that reads it, or null
    char tag;
    Child* owner;
    volatile LONG stop;  // the command has ended: the reader is to stop
};

struct Child {
    HANDLE process;  // null: free
    bool ended;
    Captured streams[2];  // output, or both; error
    SRWLOCK lock;         // over runs and lost, which both readers add to
    Runs runs;
    bool lost;            // memory could not be had for all of it
};

Child children[kMaxCommands];

// "ComSpec /c command"; the environment's names are matched without regard to case.
char* CommandLine(const char* command) {
    DWORD n = GetEnvironmentVariableA("ComSpec", nullptr, 0);
    char* comspec = n > 0 ? static_cast<char*>(malloc(n)) : nullptr;
    if (comspec && GetEnvironmentVariableA("ComSpec", comspec, n) + 1 != n) {
        free(comspec);
        comspec = nullptr;
    }
    const char* shell = comspec ? comspec : "CMD.EXE";
    char* line = static_cast<char*>(malloc(strlen(shell) + 4 + strlen(command) + 1));
    if (line) {
        strcpy(line, shell);
        strcat(line, " /c ");
        strcat(line, command);
    }
    free(comspec);
    return line;
}

void Inherit(HANDLE h, bool inherit) {
    if (h) SetHandleInformation(h, HANDLE_FLAG_INHERIT, inherit ? HANDLE_FLAG_INHERIT : 0);
}

// Adds what was read to the runs; when memory cannot be had for it, it
// and the rest are lost, but still read, so that the command is never kept
// waiting.
void Keep(Child* c, char tag, const char* bytes, DWORD n) {
    AcquireSRWLockExclusive(&c->lock);
    if (!c->lost && !AddRun(&c->runs, tag, bytes, n)) c->lost = true;
    ReleaseSRWLockExclusive(&c->lock);
}

// Reads the pipe until every writer has gone, or until it is told to stop.
DWORD WINAPI ReadPipe(void* arg) {
    Captured* c = static_cast<Captured*>(arg);
    char block[16384];
    while (!InterlockedCompareExchange(&c->stop, 0, 0)) {
        DWORD n = 0;
        if (ReadFile(c->pipe, block, sizeof block, &n, nullptr)) Keep(c->owner, c->tag, block, n);
        else if (GetLastError() != ERROR_OPERATION_ABORTED) return 0;
    }
    return 0;
}

// A pipe for a captured stream, its reading end kept and its writing one,
// inherited by no command yet, in *writing; false when there is none.
bool OpenPipe(Captured* c, HANDLE* writing) {
    return CreatePipe(&c->pipe, writing, nullptr, 0) != 0;
}

// Starts the thread that reads the pipe; false when it cannot be started.
bool StartReader(Captured* c) {
    c->reader = CreateThread(nullptr, 64 * 1024, ReadPipe, c, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return c->reader != nullptr;
}

// Once the command has ended: stops the reader, which a process left
// running may keep waiting, reads what the pipe holds then and closes it.
void EndReader(Captured* c) {
    if (c->reader) {
        InterlockedExchange(&c->stop, 1);
        // Cancelled until it has ended: it may be just about to read.
        for (DWORD wait = 0; WaitForSingleObject(c->reader, wait) == WAIT_TIMEOUT; wait = 10) {
            CancelSynchronousIo(c->reader);
        }
        CloseHandle(c->reader);
    }
    DWORD held = 0;
    if (c->pipe && PeekNamedPipe(c->pipe, nullptr, 0, nullptr, &held, nullptr)) {
        char block[16384];
        DWORD n = 0;
        while (held > 0 && ReadFile(c->pipe, block, held < sizeof block ? held : sizeof block, &n, nullptr) && n > 0) {
            Keep(c->owner, c->tag, block, n);
            held -= n < held ? n : held;
        }
    }
    if (c->pipe) CloseHandle(c->pipe);
    c->reader = c->pipe = nullptr;
}

void Release(Child* c) {
    for (Captured& s : c->streams) EndReader(&s);
    free(c->runs.bytes);
    c->runs = Runs{};
}

// A start may fail for a moment for want of resources, or with an internal
// error when the new process ends while it is being set up; nothing has run
// then, so such a start is tried again, a few times.
BOOL Start(char* line, STARTUPINFOA* si, PROCESS_INFORMATION* pi) {
    constexpr int kTries = 3;
    for (int tried = 1;; tried++) {
        if (CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, si, pi)) return TRUE;
        DWORD e = GetLastError();
        bool passing = e == ERROR_INTERNAL_ERROR || e == ERROR_NOT_ENOUGH_MEMORY || e == ERROR_OUTOFMEMORY ||
                       e == ERROR_NO_SYSTEM_RESOURCES || e == ERROR_COMMITMENT_LIMIT;
        if (!passing || tried == kTries) return FALSE;
        Sleep(50 * tried);
    }
}

}  // namespace

int CommandLimit() { return kMaxCommands; }

int StartCommand(const char* command, bool captured, char* problem, size_t cap) {
    problem[0] = '\0';
    int i = 0;
    while (i < kMaxCommands && children[i].process) i++;
    if (i == kMaxCommands) return -1;
    Child* c = &children[i];
    *c = {};
    InitializeSRWLock(&c->lock);
    for (int s = 0; s < 2; s++) c->streams[s] = Captured{nullptr, nullptr, static_cast<char>(s), c, 0};
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    HANDLE input = nullptr;
    HANDLE writing[2] = {nullptr, nullptr};
    // Where the program's output and error are one file, so are the
    // command's: one pipe keeps the order in which it wrote to both.
    bool joined = captured && OneOutputFile();
    if (captured) {
        if (joined) c->streams[0].tag = 2;
        if (!OpenPipe(&c->streams[0], &writing[0]) || (!joined && !OpenPipe(&c->streams[1], &writing[1]))) {
            snprintf(problem, cap, "error %lu", static_cast<unsigned long>(GetLastError()));
        }
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) input = nullptr;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = input;
        si.hStdOutput = writing[0];
        si.hStdError = joined ? writing[0] : writing[1];
    }
    char* line = CommandLine(command);
    PROCESS_INFORMATION pi;
    for (HANDLE h : writing) Inherit(h, true);
    BOOL started = line && (!captured || (!problem[0] && input)) && Start(line, &si, &pi);
    // Only the command holds the writing ends now, so the pipes end with it.
    for (HANDLE h : writing) {
        if (h) CloseHandle(h);
    }
    free(line);
    if (input) CloseHandle(input);
    if (started && captured && !(StartReader(&c->streams[0]) && (joined || StartReader(&c->streams[1])))) {
        // Unread, the command would wait for ever on a full pipe.
        TerminateProcess(pi.hProcess, 0xC0000001);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        snprintf(problem, cap, "error %lu", static_cast<unsigned long>(GetLastError()));
        started = FALSE;
    }
    if (!started) {
        Release(c);
        return -1;
    }
    CloseHandle(pi.hThread);
    c->process = pi.hProcess;
    return i;
}

int WaitForCommand(Ending* ending) {
    HANDLE running[MAXIMUM_WAIT_OBJECTS];
    int which[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (int i = 0; i < kMaxCommands && n < MAXIMUM_WAIT_OBJECTS; i++) {
        if (!children[i].process || children[i].ended) continue;
        running[n] = children[i].process;
        which[n++] = i;
    }
    if (n == 0) return -1;
    DWORD r = WaitForMultipleObjects(n, running, FALSE, INFINITE) - WAIT_OBJECT_0;
    // A failed wait leaves no tool behind: the first is waited for alone,
    // or ended, and only then counted as ended.
    if (r >= n) {
        r = 0;
        if (WaitForSingleObject(running[0], INFINITE) != WAIT_OBJECT_0) {
            TerminateProcess(running[0], 0xC0000001);
            WaitForSingleObject(running[0], 10000);
        }
    }
    Child* c = &children[which[r]];
    for (Captured& s : c->streams) EndReader(&s);
    DWORD code = 0xC0000001;
    if (!GetExitCodeProcess(c->process, &code) || code == STILL_ACTIVE) code = 0xC0000001;
    c->ended = true;
    *ending = code >= 0xC0000000 ? Ending::kCrash : code != 0 ? Ending::kFailure : Ending::kSuccess;
    return which[r];
}

int FinishCommand(int command) {
    Child* c = &children[command];
    int lost = c->lost ? ENOMEM : 0;
    WriteRuns(std::string_view(c->runs.bytes ? c->runs.bytes : "", c->runs.size));
    Release(c);
    CloseHandle(c->process);
    c->process = nullptr;
    return lost;
}

bool CapturedOutput(int command, std::string_view* runs) {
    const Child* c = &children[command];
    *runs = std::string_view(c->runs.bytes ? c->runs.bytes : "", c->runs.size);
    return !c->lost;
}

int ProcessorCount() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors < 1 ? 1 : static_cast<int>(si.dwNumberOfProcessors);
}
