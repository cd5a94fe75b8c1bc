// Stands in for the command interpreter: appends its own command line, as
// the system hands it over, to INTERPRETER.LOG in the current directory,
// then runs the text after the first " /c " as a program found on the
// search path and exits with that program's exit code.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main() {
    const char* line = GetCommandLineA();
    FILE* log = std::fopen("INTERPRETER.LOG", "ab");
    if (log != nullptr) {
        std::fprintf(log, "%s\n", line);
        std::fclose(log);
    }
    const char* command = std::strstr(line, " /c ");
    if (command == nullptr) return 1;
    std::string text = command + 4;
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return 1;
    }
    DWORD code = 1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
