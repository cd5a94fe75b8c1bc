// Fuzzes the console argument splitter: storage of exactly the promised size
// is never overrun, and every argument is made of the text's own bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    line = line.substr(0, strlen(line.c_str()));
    const char* text = SkipProgramName(line.c_str());
    Check(text >= line.c_str() && text <= line.c_str() + line.size());

    size_t length = strlen(text);
    char* storage = new char[length + 1];
    int max_args = static_cast<int>(length / 2) + 1;
    std::vector<char*> argv(static_cast<size_t>(max_args));
    int count = SplitArguments(text, storage, argv.data(), max_args);
    Check(count >= 0 && count <= max_args);
    size_t total = 0;
    for (int i = 0; i < count; i++) {
        const char* arg = argv[static_cast<size_t>(i)];
        Check(arg >= storage && arg < storage + length + 1);
        size_t n = strlen(arg);
        total += n + 1;
        // Quotes that group are dropped; blanks outside them separate.
        if (!strchr(text, '"')) Check(!strchr(arg, ' ') && !strchr(arg, '\t'));
    }
    Check(total <= length + 1);
    delete[] storage;
    return 0;
}
