// What identifies a compile to the object cache: the key its results are
// kept under, and whether the cache can know its result at all.
#pragma once

#include "cache_file.h"
#include "zorbex.h"

// The key of the compile run->command runs: the command, the current
// directory and the source's name, the tool program the interpreter will
// run and the variables the tools read.
CacheHash KeyOf(Run* run, const char* tool, const char* source);

// Why the result of a command cannot be known from its key and files, or
// kCacheCounts when it can: the tool then reads or makes files the cache
// does not know of, or searches for headers where it cannot follow.
// defaults: the tool's own variable.
CacheCount Uncacheable(const char* command, const char* defaults);
