// Starts a program with a command line read byte for byte from a file, so
// the program's own splitter sees exactly that text, and exits with the
// program's exit code (127 when it cannot be started). Before the start it
// sets or removes environment variables:
//   LAUNCHER [-s NAME=VALUE | -u NAME]... PROGRAM LINE-FILE
// The program inherits the standard handles, the environment and the
// current directory.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool ReadAll(const char* name, std::string* text) {
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return false;
    char buf[4096];
    size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, file)) > 0) text->append(buf, got);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// "-s NAME=VALUE" or "-u NAME"; false for anything else.
bool ChangeEnvironment(const char* option, const char* operand) {
    if (std::strcmp(option, "-u") == 0) {
        SetEnvironmentVariableA(operand, nullptr);
        return true;
    }
    const char* equals = std::strchr(operand, '=');
    if (std::strcmp(option, "-s") != 0 || equals == nullptr) return false;
    std::string name(operand, static_cast<size_t>(equals - operand));
    return SetEnvironmentVariableA(name.c_str(), equals + 1) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    int i = 1;
    while (i + 1 < argc && argv[i][0] == '-') {
        if (!ChangeEnvironment(argv[i], argv[i + 1])) {
            std::fprintf(stderr, "launcher: bad option %s\n", argv[i]);
            return 127;
        }
        i += 2;
    }
    std::string line;
    if (argc - i != 2 || !ReadAll(argv[i + 1], &line)) {
        std::fprintf(stderr, "usage: launcher [-s NAME=VALUE | -u NAME]... PROGRAM LINE-FILE\n");
        return 127;
    }
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::fflush(stdout);
    if (!CreateProcessA(argv[i], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "launcher: cannot start %s (error %lu)\n", argv[i],
                     static_cast<unsigned long>(GetLastError()));
        return 127;
    }
    DWORD code = 127;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
