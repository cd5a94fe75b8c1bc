// Fuzzes SplitPath, JoinPath and FullPath, with and without the double-byte
// rule. A split joined back splits the same way; nothing is written past a
// buffer; FullPath gives an absolute name or refuses.
#include <cstdint>
#include <cstring>
#include <string>

#include "path.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    bool double_byte = data[0] & 1;
    size_t cap = data[1] + 1;
    std::string path(reinterpret_cast<const char*>(data + 2), size - 2);
    path = path.substr(0, strlen(path.c_str()));

    PathParts parts;
    SplitPath(path.c_str(), &parts, double_byte);
    Check(strlen(parts.dir) <= 255 && strlen(parts.base) <= 255 && strlen(parts.ext) <= 255);

    // Exactly cap bytes on the heap, so a write past them is caught.
    char* out = new char[cap];
    int r = JoinPath(out, cap, parts.drive, parts.dir, parts.base, parts.ext, double_byte);
    Check(r == 0 || (r == -1 && out[0] == '\0'));
    if (r == 0) {
        Check(strlen(out) < cap);
        // Joining may put one separator for another, so the directories
        // need only be as long; the other parts are the same to the byte,
        // unless the split had to cut a part.
        PathParts again;
        SplitPath(out, &again, double_byte);
        if (path.size() <= 255) {
            Check(strcmp(again.drive, parts.drive) == 0);
            Check(strlen(again.dir) == strlen(parts.dir));
            Check(strcmp(again.base, parts.base) == 0);
            Check(strcmp(again.ext, parts.ext) == 0);
        }
    }
    delete[] out;

    char* full = new char[cap];
    r = FullPath(full, cap, path.c_str());
    Check(r == 0 || (r == -1 && full[0] == '\0'));
    if (r == 0) Check(full[0] == '/' || strcmp(full, "con") == 0);
    delete[] full;
    return 0;
}
