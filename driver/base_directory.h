// Names taken from a base directory (ZORBEX_CACHE_BASEDIR), so that
// compiles in two copies of a tree, each below its own base, are known as
// the same compile: the names below it are compared from there, and the
// object of one is turned into the other's by its records' names. Pure
// text work.
#pragma once

#include <cstddef>
#include <string_view>

// Whether names are compared as the Windows-hosted tools take them, alike
// but for ASCII case and for which separator ("\\" or "/") stands where;
// else byte for byte, "/" alone separating, as on POSIX.
bool WindowsNames();

// dir without the separators it ends in: what starts the names below it,
// before their own separator ("" for the root).
std::string_view DirectoryStem(std::string_view dir, bool windows_names);

// Where the part of name below the directory dir begins: the offset of
// the separator that ends dir's part of it, or name's size when name is
// dir itself; npos when it is neither, or name or dir is empty. A trailing
// separator of dir is not part of it ("/a/b/" is "/a/b", "/" the root);
// "/a/bc" is not below "/a/b". Compared by the rule windows_names says.
size_t BelowDirectory(std::string_view name, std::string_view dir, bool windows_names);

// The part of name below base, separators before it left out ("" for
// base itself), or name itself when it is not below base; by this
// system's rule. A relative name has no root or drive, so it is never
// taken for an absolute one, which a name not below base stays.
std::string_view RelativeTo(std::string_view name, std::string_view base);

// Whether the compile writes its directory's absolute name into the
// object other than through the records, and so belongs to its
// directory: debug information beyond line numbers. That is "-d" and a
// digit, other than "-d0" and "-d1" exactly ("-d2", "-d3s", "-d1+" and any
// other: a macro's name starts with no digit, so none defines one), or
// "-hw", the tools' own format, seen to write the name with "-d2" and not
// known with "-d1"; of either case, with "-" or this system's switch
// character, in the command or the tool's own variable (either may be
// null), each word as the tool reads it, its double quotes taken out.
bool KeepsDirectory(const char* command, const char* tool_defaults);
