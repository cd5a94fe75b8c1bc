// Stand-in for the compilers, the assembler and the linker in the end-to-end
// tests. Installed under each tool's name, it records its command line in
// STANDIN.LOG, makes the output file the real tool would make, and obeys
// STANDIN.CTL, whose lines read "<TOOL> <action> [text]" (TOOL may be "*"):
//   noout         make no output file
//   fail          make the output, then exit with status 3
//   lower         make the output under a lower-case name
//   print <text>  write text and a newline to standard output first
//   size <n>      (WLINK) make the executable n bytes long
//   hang          write the first half of the output, wait 20 seconds, then
//                 finish it and log "<TOOL> finished" (to be interrupted)
//   dir           make a directory where the output file belongs
//   die           after making the output (if any), end by SIGKILL
//   droplnk       after making the output, delete ~ZORBEX~.LNK
//   lnk <text>    after making the output, replace ~ZORBEX~.LNK by text and
//                 a newline
// Standard library only, so the same source builds for every platform.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Windows reads "\\" in a name itself, also as the second byte of a
// double-byte character, which a replacement would break.
#ifdef _WIN32
constexpr bool kSystemReadsBackslash = true;
#else
constexpr bool kSystemReadsBackslash = false;
#endif

struct Control {
    bool no_output = false;
    bool fail = false;
    bool lower = false;
    std::vector<std::string> prints;
    long size = 4321;
    bool hang = false;
    bool dir = false;
    bool die = false;
    bool drop_directives = false;
    bool rewrite_directives = false;
    std::string directives;
};

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string AfterLastSeparator(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ToolName(const char* argv0) {
    std::string name = AfterLastSeparator(argv0);
    if (name.size() >= 4 && Upper(name.substr(name.size() - 4)) == ".EXE") {
        name.resize(name.size() - 4);
    }
    return Upper(name);
}

void StripLineEnd(std::string* line) {
    while (!line->empty() && (line->back() == '\r' || line->back() == '\n')) {
        line->pop_back();
    }
}

Control ReadControl(const std::string& tool) {
    Control control;
    std::ifstream in("STANDIN.CTL", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        StripLineEnd(&line);
        size_t end_tool = line.find(' ');
        if (end_tool == std::string::npos) continue;
        std::string who = line.substr(0, end_tool);
        if (who != "*" && Upper(who) != tool) continue;
        std::string rest = line.substr(end_tool + 1);
        size_t end_action = rest.find(' ');
        std::string action = rest.substr(0, end_action);
        std::string text =
            end_action == std::string::npos ? "" : rest.substr(end_action + 1);
        if (action == "noout") control.no_output = true;
        if (action == "fail") control.fail = true;
        if (action == "lower") control.lower = true;
        if (action == "print") control.prints.push_back(text);
        if (action == "size") control.size = std::atol(text.c_str());
        if (action == "hang") control.hang = true;
        if (action == "dir") control.dir = true;
        if (action == "die") control.die = true;
        if (action == "droplnk") control.drop_directives = true;
        if (action == "lnk") {
            control.rewrite_directives = true;
            control.directives = text;
        }
    }
    return control;
}

void AppendLog(const std::string& tool, int argc, char** argv) {
    std::string line = tool;
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        line += argv[i];
    }
    line += '\n';
    std::ofstream log("STANDIN.LOG", std::ios::binary | std::ios::app);
    log << line;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool ReadFile(const std::string& name, std::string* bytes) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    return true;
}

// The output as the control file asks: a directory in its place, or the
// file written in two halves 20 seconds apart, or simply the file.
void MakeOutput(const std::string& tool, const std::string& name,
                const std::string& bytes, const Control& control) {
    if (control.dir) {
        std::error_code ignored;
        std::filesystem::create_directory(name, ignored);
        return;
    }
    if (!control.hang) {
        WriteFile(name, bytes);
        return;
    }
    WriteFile(name, bytes.substr(0, bytes.size() / 2));
    std::this_thread::sleep_for(std::chrono::seconds(20));
    WriteFile(name, bytes);
    std::ofstream log("STANDIN.LOG", std::ios::binary | std::ios::app);
    log << tool << " finished\n";
}

// The final component is lowered only, so directories named in upper case
// still hold the output.
std::string LowerLastComponent(const std::string& path) {
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos) return Lower(path);
    return path.substr(0, cut + 1) + Lower(path.substr(cut + 1));
}

void Compile(const std::string& tool, int argc, char** argv, const Control& control) {
    if (argc < 2) return;
    std::string source = argv[argc - 1];
    std::string base = AfterLastSeparator(source);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos) base.resize(dot);
    std::string object = base + ".OBJ";
    if (control.lower) object = Lower(object);
    MakeOutput(tool, object, "OBJECT " + source + "\n", control);
}

// The executable is named on the directive file's "name " line.
std::string ExecutableName(const std::string& directives) {
    std::istringstream in(directives);
    std::string line;
    while (std::getline(in, line)) {
        StripLineEnd(&line);
        if (line.compare(0, 5, "name ") != 0) continue;
        std::string name = line.substr(5);
        for (char& c : name) {
            if (c == '\\' && !kSystemReadsBackslash) c = '/';
        }
        return name;
    }
    return "";
}

void Link(const std::string& tool, int argc, char** argv, const Control& control) {
    if (argc < 2 || argv[1][0] != '@') return;
    std::string directives;
    if (!ReadFile(argv[1] + 1, &directives)) return;
    WriteFile("STANDIN.LNK", directives);
    std::string name = ExecutableName(directives);
    if (name.empty()) return;
    if (control.lower) name = LowerLastComponent(name);
    long size = control.size < 0 ? 0 : control.size;
    MakeOutput(tool, name, std::string(static_cast<size_t>(size), 'X'), control);
}

}  // namespace

int main(int argc, char** argv) {
    std::string tool = ToolName(argc > 0 ? argv[0] : "");
    AppendLog(tool, argc, argv);
    Control control = ReadControl(tool);
    for (const std::string& text : control.prints) {
        std::printf("%s\n", text.c_str());
    }
    std::fflush(stdout);
    if (!control.no_output) {
        if (tool == "WLINK") {
            Link(tool, argc, argv, control);
        } else {
            Compile(tool, argc, argv, control);
        }
    }
    if (control.drop_directives) std::remove("~ZORBEX~.LNK");
    if (control.rewrite_directives) WriteFile("~ZORBEX~.LNK", control.directives + "\n");
#ifdef SIGKILL
    if (control.die) std::raise(SIGKILL);
#else
    if (control.die) std::abort();
#endif
    return control.fail ? 3 : 0;
}
