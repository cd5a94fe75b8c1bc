// A platform in memory for the fuzz targets: no file is touched and no
// command is run. The world a run sees is drawn from a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeWorld {
    uint32_t seed;
    bool double_byte;
    long fail_write_after;  // bytes of the directive file written before a failure; -1: never
    std::string project;    // the bytes of ZORBEX.ZBX
};

void ResetFakePlatform(const FakeWorld& world);

// What the run left behind.
const std::string& FakeOutput();
const std::vector<std::string>& FakeCommands();
int FakeOpenFiles();
bool FakeFileExists(const char* name);
