// Running commands through the command interpreter on Windows: the program
// named by ComSpec, else CMD.EXE, with "/c" and the command text unchanged.
// A command runs in the program's console. A captured one reads the NUL
// device and writes to two temporary files of its own, deleted when closed,
// which are read back once it has ended.
#include <windows.h>

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

HANDLE Inheritable(const char* name, DWORD access, DWORD disposition, DWORD flags) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                           disposition, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

HANDLE CaptureFile() {
    char dir[MAX_PATH];
    char name[MAX_PATH];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n >= sizeof dir || !GetTempFileNameA(dir, "zbx", 0, name)) return nullptr;
    return Inheritable(name, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
}

void CloseCaptured(Command* c) {
    if (c->output) CloseHandle(c->output);
    if (c->error) CloseHandle(c->error);
    c->output = c->error = nullptr;
}

void PassOn(HANDLE h, bool to_error) {
    char block[16384];
    DWORD n;
    if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) != 0) return;
    while (ReadFile(h, block, sizeof block, &n, nullptr) && n > 0) WriteOutput(block, n, to_error);
}

}  // namespace

int StartCommand(const char* command, bool captured) {
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
        c->output = CaptureFile();
        c->error = CaptureFile();
        input = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING, 0);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = input;
        si.hStdOutput = c->output;
        si.hStdError = c->error;
    }
    char* line = CommandLine(command);
    PROCESS_INFORMATION pi;
    BOOL started = line && (!captured || (c->output && c->error && input)) &&
                   CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
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
    DWORD r = WaitForMultipleObjects(n, running, FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 + n) return -1;
    Command* c = &commands[which[r - WAIT_OBJECT_0]];
    DWORD code = 0xC0000001;
    GetExitCodeProcess(c->process, &code);
    c->ended = true;
    *ending = code >= 0xC0000000 ? Ending::kCrash : code != 0 ? Ending::kFailure : Ending::kSuccess;
    return which[r - WAIT_OBJECT_0];
}

void FinishCommand(int command) {
    Command* c = &commands[command];
    if (c->output) {
        PassOn(c->output, false);
        PassOn(c->error, true);
    }
    CloseCaptured(c);
    CloseHandle(c->process);
    c->process = nullptr;
}

int ProcessorCount() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors < 1 ? 1 : static_cast<int>(si.dwNumberOfProcessors);
}
