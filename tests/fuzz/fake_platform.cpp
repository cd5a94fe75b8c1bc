// The platform services in memory. Files come into being as the run looks
// for them: whether one exists and its stamp follow from its name and the
// seed, so a run is repeatable; deletes and tool runs then change the world.
#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

#include "command_runner.h"
#include "console.h"
#include "file.h"
#include "file_search.h"
#include "interrupt.h"
#include "path.h"

namespace {

struct Entry {
    bool exists;
    FileStamp stamp;
};

struct OpenFile {
    bool reading;
    size_t pos;
};

FakeWorld world;
std::map<std::string, Entry> files;
std::map<FileHandle, OpenFile> open_files;
FileHandle next_handle = 3;
std::string output;
std::string directives;
long written = 0;
std::vector<std::string> commands;

uint32_t Hash(const std::string& text) {
    uint32_t h = 2166136261u ^ world.seed;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    return h;
}

std::string Key(const char* name) {
    std::string key(name);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '\\') c = '/';
    }
    return key;
}

Entry& Look(const char* name) {
    std::string key = Key(name);
    auto it = files.find(key);
    if (it != files.end()) return it->second;
    uint32_t h = Hash(key);
    Entry e;
    e.exists = key != "~ZORBEX~.LNK" && key != "" && (h & 3) != 0;
    e.stamp.date = static_cast<uint16_t>(0x5000 + (h >> 8) % 4);
    e.stamp.time = static_cast<uint16_t>((h >> 16) % 3 + 0x7FFF);
    e.stamp.size = h;
    return files[key] = e;
}

void Make(const std::string& name) {
    Entry& e = Look(name.c_str());
    e.exists = true;
    e.stamp = {0xFFFF, 0xFFFF, 4321};
}

// The stand-in tool: makes the object or the executable unless the seed
// says that this command fails.
void RunTool(const std::string& command) {
    if (Hash(command) % 5 == 0) return;
    if (command.rfind("WLINK @", 0) == 0) {
        size_t at = directives.find("\nname ");
        if (directives.rfind("name ", 0) == 0) at = 0;
        else if (at != std::string::npos) at++;
        if (at == std::string::npos) return;
        size_t end = directives.find('\n', at);
        std::string name = directives.substr(at + 5, end - at - 5);
        if (!name.empty()) Make(name);
        return;
    }
    size_t blank = command.rfind(' ');
    std::string source = command.substr(blank + 1);
    PathParts parts;
    SplitPath(source.c_str(), &parts, world.double_byte);
    Make(std::string(parts.base) + ".OBJ");
}

}  // namespace

void ResetFakePlatform(const FakeWorld& w) {
    world = w;
    files.clear();
    open_files.clear();
    output.clear();
    directives.clear();
    commands.clear();
    written = 0;
    Entry project = {true, {0, 0, 0}};
    files["ZORBEX.ZBX"] = project;
}

const std::string& FakeOutput() { return output; }
const std::vector<std::string>& FakeCommands() { return commands; }
int FakeOpenFiles() { return static_cast<int>(open_files.size()); }
bool FakeFileExists(const char* name) {
    auto it = files.find(Key(name));
    return it != files.end() && it->second.exists;
}

const char kLineEnd[] = "\n";

FileHandle OpenForReading(const char* name) {
    if (Key(name) != "ZORBEX.ZBX") return kNoFile;
    open_files[next_handle] = {true, 0};
    return next_handle++;
}

FileHandle CreateForWriting(const char* name) {
    if (strcmp(name, "~ZORBEX~.LNK") != 0) return kNoFile;
    files["~ZORBEX~.LNK"] = {true, {0, 0, 0}};
    directives.clear();
    open_files[next_handle] = {false, 0};
    return next_handle++;
}

long ReadBlock(FileHandle file, char* buf, size_t size) {
    OpenFile& f = open_files.at(file);
    // Small, uneven blocks, so lines cross block boundaries.
    size_t n = world.project.size() - f.pos;
    if (n > size) n = size;
    if (n > 7 + world.seed % 61) n = 7 + world.seed % 61;
    memcpy(buf, world.project.data() + f.pos, n);
    f.pos += n;
    return static_cast<long>(n);
}

int WriteBlock(FileHandle file, const char* buf, size_t size) {
    if (open_files.at(file).reading) return -1;
    if (world.fail_write_after >= 0 && written + static_cast<long>(size) > world.fail_write_after) {
        return -1;
    }
    directives.append(buf, size);
    written += static_cast<long>(size);
    return 0;
}

int CloseFile(FileHandle file) {
    if (open_files.erase(file) != 1) __builtin_trap();  // closed twice, or never opened
    return 0;
}

int RemoveFile(const char* name) {
    Entry& e = Look(name);
    if (!e.exists) return -1;
    e.exists = false;
    return 0;
}

int RemoveExactFile(const char* name) { return RemoveFile(name); }

int FindFile(const char* name, unsigned filter, SearchRecord* rec) {
    rec->handle = -1;
    rec->filter = filter;
    const Entry& e = Look(name);
    if (!e.exists) return -1;
    rec->stamp = e.stamp;
    rec->attrib = 0x20;
    strncpy(rec->name, name, 255);
    rec->name[255] = '\0';
    rec->handle = 1;
    return 0;
}

int CloseSearch(SearchRecord* rec) {
    rec->handle = -1;
    return 0;
}

int RunCommand(const char* command) {
    commands.emplace_back(command);
    RunTool(command);
    return 0;
}

void WriteLine(const char* text) {
    output += text;
    output += '\n';
}

void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char buf[8192];
    int n = vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0 || n >= static_cast<int>(sizeof buf)) __builtin_trap();  // a message too long to be real
    output += buf;
}

void FlushOutput() {}

void CatchInterrupts() {}
bool Interrupted() { return false; }

int FullPath(char* out, size_t cap, const char* name) {
    if (Key(name) == "CON") {
        strcpy(out, "con");
        return 0;
    }
    const char* cwd = "/FUZZ/";
    if (strlen(cwd) + strlen(name) + 1 > cap) {
        out[0] = '\0';
        return -1;
    }
    strcpy(out, cwd);
    strcat(out, name);
    return 0;
}

bool DoubleByteCodePage() { return world.double_byte; }
