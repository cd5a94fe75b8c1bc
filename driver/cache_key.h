// What identifies a compile to the object cache: the key its results are
// kept under, and whether the cache can know its result at all.
#pragma once

#include "cache_file.h"
#include "zorbex.h"

// The key of the compile run->command runs: the command, the current
// directory and the source's name (below the base directory, when based),
// the tool program the interpreter will run and the variables the tools
// read.
CacheHash KeyOf(Run* run, const char* tool, const char* source, bool based);

// Whether the compile is known by its names below the base directory
// (ZORBEX_CACHE_BASEDIR), as the same compile in another copy of the tree:
// the current directory is below it, the object holds the directory only
// in its records (no debug information that writes it), and neither the
// command nor the variables the tools read name the base itself, so that
// what the compile reads through them is the tree's own. defaults: the
// tool's own variable.
bool KnownFromBase(const Run* run, const char* defaults);

// Why the result of a command cannot be known from its key and files, or
// kCacheCounts when it can: the tool then reads or makes files the cache
// does not know of, or searches for headers where it cannot follow.
// defaults: the tool's own variable.
CacheCount Uncacheable(const char* command, const char* defaults);
