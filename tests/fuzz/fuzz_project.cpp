// Fuzzes the whole run over a project file in memory: the reader, every
// directive, module lines and the link step. Checks that the run ends with
// 0 or 255, that every line it writes is one of its own messages, that it
// closes what it opened and never leaves the directive file behind, and that
// no command outgrows its buffer.
#include <cstdint>
#include <cstring>
#include <string>

#include "fake_platform.h"
#include "zorbex.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool EndsWith(const std::string& s, const char* suffix) {
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool OwnMessage(const std::string& line) {
    static const char* const exact[] = {
        "ZORBEX v1.02 - by Drasqel",
        "",
        "No modules need recompiling.",
        "Relinking...",
        "Compiler/assembler returned bad status.",
        "Linker returned bad status.",
        "Interrupted.",
        "Error: can't create temporary file ~ZORBEX~.LNK",
        "Error: can't write temporary file ~ZORBEX~.LNK",
    };
    for (const char* e : exact) {
        if (line == e) return true;
    }
    return StartsWith(line, "Error: can't read ") ||
           StartsWith(line, "Error: invalid target system: ") ||
           StartsWith(line, "Invalid directive: .") || StartsWith(line, "Error: name too long: ") ||
           (StartsWith(line, "Done. Created ") && EndsWith(line, " bytes)")) ||
           (StartsWith(line, "Invalid module: ") &&
            EndsWith(line, " (must be .C/.CC/.CPP/.CXX/.ASM/.OBJ/.LIB)")) ||
           (StartsWith(line, "Error: ") && EndsWith(line, " not found"));
}

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    FakeWorld world;
    world.seed = data[0] | data[1] << 8;
    world.double_byte = data[2] & 1;
    world.fail_write_after = (data[2] & 2) ? data[3] * 16 : -1;
    world.project.assign(reinterpret_cast<const char*>(data + 4), size - 4);
    ResetFakePlatform(world);

    static Run run;
    memset(&run, 0x5A, sizeof run);  // nothing may rely on what a run left
    char name[] = "zorbex";
    char* argv[] = {name, nullptr};
    int code = RunZorbex(&run, 1, argv);

    Check(code == 0 || code == 255);
    Check(FakeOpenFiles() == 0);
    Check(!FakeFileExists("~ZORBEX~.LNK"));
    const std::string& out = FakeOutput();
    Check(StartsWith(out, "ZORBEX v1.02 - by Drasqel\n\n"));
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        Check(end != std::string::npos);  // every message ends its line
        Check(OwnMessage(out.substr(start, end - start)));
        start = end + 1;
    }
    for (const std::string& command : FakeCommands()) {
        Check(command.size() < kCommandSize);
        Check(StartsWith(command, "WCC") || StartsWith(command, "WPP") ||
              StartsWith(command, "WASM ") || command == "WLINK @~ZORBEX~.LNK");
    }
    Check(strlen(run.settings.exe_name) < kNameSize);
    Check(strlen(run.settings.compiler_options) < kOptionSize);
    Check(strlen(run.settings.assembler_options) < kOptionSize);
    return 0;
}
