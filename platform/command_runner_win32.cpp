// Running commands through the command interpreter on Windows: the program
// named by ComSpec, else CMD.EXE, with "/c" and the command text unchanged.
// A command runs in the program's console. A captured one reads the NUL
// device and writes to two temporary files of its own, deleted when closed,
// which are read back once it has ended. Those are inherited by their own
// command alone: open in another, a tool's files would outlive it.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_runner.h"
#include "console.h"

namespace {

struct Command {
    HANDLE process;  // null: free
    bool ended;
    HANDLE output;   // the captured output and error, or null
    HANDLE error;
};

Command commands[kMaxCommands];

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

HANDLE Open(const char* name, DWORD access, DWORD disposition, DWORD flags, BOOL inherited) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, inherited};
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                           disposition, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// A file for captured text, deleted when closed and inherited by no tool
// yet: null, with its name and the system's reason in problem, when none
// can be made.
HANDLE CaptureFile(char* problem, size_t cap) {
    char dir[MAX_PATH];
    char name[MAX_PATH];
    char shown[MAX_PATH + 16];
    DWORD n = GetTempPathA(sizeof dir, dir);
    bool have_dir = n > 0 && n < sizeof dir;
    snprintf(shown, sizeof shown, "%szbx*.tmp", have_dir ? dir : "%TEMP%\\");
    HANDLE h = nullptr;
    if (have_dir && GetTempFileNameA(dir, "zbx", 0, name)) {
        snprintf(shown, sizeof shown, "%s", name);
        h = Open(name, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, FALSE);
        DWORD error = GetLastError();
        if (!h) DeleteFileA(name);  // made by GetTempFileNameA
        SetLastError(error);
    }
    if (h) return h;
    int at = snprintf(problem, cap, "%s: ", shown);
    if (at < 0 || static_cast<size_t>(at) >= cap) return nullptr;
    DWORD len = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               GetLastError(), 0, problem + at, static_cast<DWORD>(cap - at), nullptr);
    while (len > 0 && (problem[at + len - 1] == '\n' || problem[at + len - 1] == '\r')) len--;
    problem[at + len] = '\0';
    return nullptr;
}

void Inherit(HANDLE h, bool inherit) {
    if (h) SetHandleInformation(h, HANDLE_FLAG_INHERIT, inherit ? HANDLE_FLAG_INHERIT : 0);
}

void CloseCaptured(Command* c) {
    if (c->output) CloseHandle(c->output);
    if (c->error) CloseHandle(c->error);
    c->output = c->error = nullptr;
}

// Returns 0, or EIO when the file cannot be read back.
int PassOn(HANDLE h, bool to_error) {
    char block[16384];
    DWORD n;
    if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) != 0) return EIO;
    BOOL read;
    while ((read = ReadFile(h, block, sizeof block, &n, nullptr)) && n > 0) WriteOutput(block, n, to_error);
    return read ? 0 : EIO;
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
    while (i < kMaxCommands && commands[i].process) i++;
    if (i == kMaxCommands) return -1;
    Command* c = &commands[i];
    *c = {nullptr, false, nullptr, nullptr};
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    HANDLE input = nullptr;
    if (captured) {
        c->output = CaptureFile(problem, cap);
        c->error = c->output ? CaptureFile(problem, cap) : nullptr;
        input = Open("NUL", GENERIC_READ, OPEN_EXISTING, 0, TRUE);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = input;
        si.hStdOutput = c->output;
        si.hStdError = c->error;
    }
    char* line = CommandLine(command);
    PROCESS_INFORMATION pi;
    Inherit(c->output, true);
    Inherit(c->error, true);
    BOOL started = line && (!captured || (c->output && c->error && input)) && Start(line, &si, &pi);
    Inherit(c->output, false);
    Inherit(c->error, false);
    free(line);
    if (input) CloseHandle(input);
    if (!started) {
        CloseCaptured(c);
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
        if (!commands[i].process || commands[i].ended) continue;
        running[n] = commands[i].process;
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
    Command* c = &commands[which[r]];
    DWORD code = 0xC0000001;
    if (!GetExitCodeProcess(c->process, &code) || code == STILL_ACTIVE) code = 0xC0000001;
    c->ended = true;
    *ending = code >= 0xC0000000 ? Ending::kCrash : code != 0 ? Ending::kFailure : Ending::kSuccess;
    return which[r];
}

int FinishCommand(int command) {
    Command* c = &commands[command];
    int lost = 0;
    if (c->output) {
        lost = PassOn(c->output, false);
        int error = PassOn(c->error, true);
        if (!lost) lost = error;
    }
    CloseCaptured(c);
    CloseHandle(c->process);
    c->process = nullptr;
    return lost;
}

int ProcessorCount() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors < 1 ? 1 : static_cast<int>(si.dwNumberOfProcessors);
}
