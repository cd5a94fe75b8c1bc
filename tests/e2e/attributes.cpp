// Sets the attributes of a file or directory, as a user would with the
// system's own tools: ATTRIBUTES LETTERS NAME, where LETTERS is any of "r"
// (read-only), "h" (hidden), "s" (system) and "a" (archive), or "-" for
// none. Prints the attributes the system then reports, in hexadecimal.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: attributes LETTERS NAME\n");
        return 2;
    }
    DWORD wanted = 0;
    for (const char* p = argv[1]; *p != '\0'; ++p) {
        if (*p == 'r') wanted |= FILE_ATTRIBUTE_READONLY;
        if (*p == 'h') wanted |= FILE_ATTRIBUTE_HIDDEN;
        if (*p == 's') wanted |= FILE_ATTRIBUTE_SYSTEM;
        if (*p == 'a') wanted |= FILE_ATTRIBUTE_ARCHIVE;
    }
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileAttributesA(argv[2], wanted)) return 1;
    std::printf("%lx\n", static_cast<unsigned long>(GetFileAttributesA(argv[2])));
    return 0;
}
