// On Windows the program splits its own command line, by the console rules
// (the C runtime's splitter halves runs of backslashes before a quote), and
// argument 0 is the executable's own path.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "args.h"

int ProgramArguments(int* argc, char*** argv) {
    const char* text = SkipProgramName(GetCommandLineA());
    size_t length = strlen(text);
    // At most one argument for every two characters, plus argument 0 and the
    // closing null entry. Kept for the whole run.
    int max_args = static_cast<int>(length / 2) + 2;
    char** vector = static_cast<char**>(calloc(static_cast<size_t>(max_args) + 1, sizeof(char*)));
    char* storage = static_cast<char*>(malloc(length + 1));
    static char module[MAX_PATH + 1];
    if (!vector || !storage) return -1;
    DWORD n = GetModuleFileNameA(nullptr, module, MAX_PATH);
    module[n < MAX_PATH ? n : MAX_PATH] = '\0';
    vector[0] = module;
    int count = SplitArguments(text, storage, vector + 1, max_args - 1);
    vector[count + 1] = nullptr;
    *argc = count + 1;
    *argv = vector;
    return 0;
}
