// The target systems: the tools and switches of each.
#include "tool_command.h"
#include "zorbex.h"

const TargetSystem kTargets[kTargetCount] = {
    {"DOS", "", "WCC", "WPP", "WASM", "WLINK"},
    {"DOS4G", "__DOS__", "WCC386", "WPP386", "WASM", "WLINK"},
    {"OS2", "", "WCC", "WPP", "WASM", "WLINK"},
    {"OS2V2", "__OS2__", "WCC386", "WPP386", "WASM", "WLINK"},
    {"NT", "__NT__", "WCC386", "WPP386", "WASM", "WLINK"},
};

int FindTarget(const char* name) {
    for (int i = 0; i < kTargetCount; i++) {
        if (SameText(name, kTargets[i].name)) return i;
    }
    return -1;
}

void CopyToolName(char* out, size_t cap, const char* tool) {
    CopyCut(out, cap, tool);
    if (kLowerCaseTools) LowerCase(out);
}
