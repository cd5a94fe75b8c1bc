// Running a command through the command interpreter on Windows: the program
// named by ComSpec, else CMD.EXE, with "/c" and the command text unchanged.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "command_runner.h"

int RunCommand(const char* command) {
    // The environment's names are matched without regard to case.
    DWORD n = GetEnvironmentVariableA("ComSpec", nullptr, 0);
    char* comspec = n > 0 ? static_cast<char*>(malloc(n)) : nullptr;
    if (comspec && GetEnvironmentVariableA("ComSpec", comspec, n) + 1 != n) {
        free(comspec);
        comspec = nullptr;
    }
    const char* shell = comspec ? comspec : "CMD.EXE";
    size_t length = strlen(shell) + 4 + strlen(command) + 1;
    char* line = static_cast<char*>(malloc(length));
    if (!line) {
        free(comspec);
        return -1;
    }
    strcpy(line, shell);
    strcat(line, " /c ");
    strcat(line, command);
    free(comspec);

    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    BOOL started = CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &si, &pi);
    free(line);
    if (!started) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(pi.hProcess, &code)) {
        code = static_cast<DWORD>(-1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
