// Where the compilers look for an included file, turned round: for one
// compile, the names at which a file, had it existed, could have changed
// what the compile read. The dependency records name only the file each
// search found; a file made later in a directory searched before it is
// read by the next compile, and no record says so. Pure text work: the
// caller looks the names up.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// More names than this and the compile is not worth keeping: each would be
// looked up before its result is taken again.
constexpr size_t kMostShadowNames = 8192;

// What decides the search of one compile. A variable that is not set is
// null; an empty one is "".
struct IncludeSearch {
    const char* command;         // as it will be run: the tool word, options, the source
    const char* current_dir;     // absolute
    const char* tool_options;    // the tool's own variable (WCC386...), read before the command's options
    const char* target_include;  // <TARGET>_INCLUDE, the target being the command's "-bt="
    const char* inc386;          // INC386
    const char* include;         // INCLUDE
    bool double_byte = false;    // names are read by the double-byte rule (DoubleByteCodePage)
};

// Puts in *names (emptied first) each name S/R, as this system opens it,
// where R is a spelling an #include may have used for a file the records
// name (a trailing part of its name, by components, ".." ones included)
// and S a directory the compiler searches before one it could have found
// that file in by R. Where that cannot be known, more: the files the
// records name are all taken for includers, the quoted search for every
// include, the last of the places the file could have been found at. The
// recorded files themselves and the source are not among the names; no
// name comes twice (names are compared by their text, "." and ".." worked
// out, without regard to case where the system ignores it). recorded holds
// the names as the records give them, in their order, a drive and all;
// relative directories are taken from current_dir. Being more than the
// true ones, a name may be of a file that is there now and was never read.
//
// False, *names empty, when the search cannot be known: "-xx", "-ft", an
// "@" option, the assembler (whose search is not documented), a directory
// on a drive other than the current one's that is not absolute, or more
// than kMostShadowNames names.
bool ShadowNames(const IncludeSearch& search, const std::vector<std::string_view>& recorded,
                 std::vector<std::string>* names);
