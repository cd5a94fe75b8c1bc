// Absolute names and the code page on Windows.
#include <windows.h>

#include <cstring>

#include "path.h"

int FullPath(char* out, size_t cap, const char* name) {
    if (cap == 0) return -1;
    out[0] = '\0';
    if (IsConsoleName(name)) return ConsoleFullPath(out, cap);
    DWORD size = cap > MAXDWORD ? MAXDWORD : static_cast<DWORD>(cap);
    // The system cannot make "" absolute; it means the current directory.
    DWORD n = name[0] == '\0' ? GetCurrentDirectoryA(size, out)
                              : GetFullPathNameA(name, size, out, nullptr);
    if (n == 0 || n >= size) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

size_t CurrentDirectoryPart(const char*) { return 0; }

const char* WithoutDrive(const char* name) { return name; }

bool DoubleByteCodePage() {
    CPINFO info;
    return GetCPInfo(CP_OEMCP, &info) && info.LeadByte[0] != 0;
}
