// Stand-in for the tools, in the end-to-end tests. Installed under each
// tool's name, it appends its command line to STANDIN.LOG, makes the output
// the real tool would make and obeys STANDIN.CTL, whose lines read
// "<WHO> <action> [text]", WHO the tool, its last argument's last part (such
// as A.C), or "*":
//   noout        make no output         fail     exit with status 3
//   lower        output in lower case   dir      a directory for the output
//   print TEXT   write TEXT first       size N   (WLINK) N bytes of executable
//   hang         write half the output, wait 20 seconds, finish, log "finished"
//   die          crash after the output (SIGKILL; on Windows a crash status)
//   sleep MS     wait MS milliseconds first
//   flood N      write N bytes to standard output and N to standard error
//   read         prompt "? " and make the object of the line typed
// A compiler reads its source, the last argument, as named, and makes the
// upper-cased base name with ".OBJ" here; the linker makes the file named on
// the directive file's "name" line.
// Under the names LAUNCHER and CMD it serves the Windows cases (see the end
// of this file).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string Upper(std::string s, int from = 'a', int by = -32) {
    for (char& c : s) c = static_cast<char>(c >= from && c < from + 26 ? c + by : c);
    return s;
}

std::string LastPart(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool ReadFile(const std::string& name, std::string* bytes) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    return static_cast<bool>(in);
}

void WriteFile(const std::string& name, const std::string& bytes, bool append = false) {
    std::ofstream(name, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}

// The value of the last control line for this tool and action; "" when the
// action is given without text, null when it is not given.
std::string who_am_i;  // the last argument's last part, upper-cased

const std::string* Option(const std::string& tool, const char* action) {
    static std::string control, value;
    if (control.empty()) {
        ReadFile("STANDIN.CTL", &control);
        control += '\n';  // read once
    }
    std::istringstream in(control);
    const std::string* found = nullptr;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string who, what;
        words >> who >> what;
        if ((who != "*" && Upper(who) != tool && Upper(who) != who_am_i) || what != action) continue;
        std::getline(words >> std::ws, value);
        found = &value;
    }
    return found;
}

void MakeOutput(const std::string& tool, std::string name, const std::string& bytes) {
    if (Option(tool, "lower")) name = Upper(name, 'A', 32);
    if (Option(tool, "dir")) {
        std::filesystem::create_directory(name);
        return;
    }
    if (Option(tool, "hang")) {
        WriteFile(name, bytes.substr(0, bytes.size() / 2));
        std::this_thread::sleep_for(std::chrono::seconds(20));
        WriteFile(name, bytes);
        WriteFile("STANDIN.LOG", tool + " finished\n", true);
        return;
    }
    WriteFile(name, bytes);
}

void Tool(const std::string& tool, int argc, char** argv) {
    std::string last = argc > 1 ? argv[argc - 1] : "", text, name;
    if (tool != "WLINK") {
        std::string base = LastPart(last);
        if (!ReadFile(last, &text)) return;  // as a compiler that cannot read its source
        text = "OBJECT " + last;
        if (Option(tool, "read") && std::printf("? ") && !std::fflush(stdout)) std::getline(std::cin, text);
        MakeOutput(tool, Upper(base.substr(0, base.rfind('.'))) + ".OBJ", text + "\n");
        return;
    }
    if (last[0] != '@' || !ReadFile(last.substr(1), &text)) return;
    WriteFile("STANDIN.LNK", text);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 5, "name ") == 0) name = line.substr(5, line.find('\r') - 5);
    }
#ifndef _WIN32
    for (char& c : name) c = c == '\\' ? '/' : c;
#endif
    const std::string* size = Option(tool, "size");
    if (!name.empty()) MakeOutput(tool, name, std::string(size ? std::stoul(*size) : 4321, 'X'));
}

}  // namespace

int Helper(const std::string& name, int argc, char** argv);
void Die();

int main(int argc, char** argv) {
    std::string tool = Upper(LastPart(argv[0]));
    if (tool.size() > 4 && tool.substr(tool.size() - 4) == ".EXE") tool.resize(tool.size() - 4);
    if (tool == "LAUNCHER" || tool == "CMD") return Helper(tool, argc, argv);
    std::string line = tool;
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    WriteFile("STANDIN.LOG", line + "\n", true);
    who_am_i = Upper(LastPart(argc > 1 ? argv[argc - 1] : ""));
    if (const std::string* ms = Option(tool, "sleep")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoul(*ms)));
    }
    if (const std::string* n = Option(tool, "flood")) {
        std::string bytes(std::stoul(*n), 'F');
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    }
    if (const std::string* text = Option(tool, "print")) std::printf("%s\n", text->c_str());
    std::fflush(stdout);
    if (!Option(tool, "noout")) Tool(tool, argc, argv);
    if (Option(tool, "die")) Die();
    return Option(tool, "fail") ? 3 : 0;
}

#ifdef _WIN32
#include <windows.h>

// LAUNCHER [-s NAME=VALUE | -u NAME]... PROGRAM LINE-FILE: starts PROGRAM
// with the command line read byte for byte from LINE-FILE, after setting or
// removing variables, and exits with its exit code.
// CMD: a command interpreter that logs its own command line to CMD.LOG and
// runs the text after " /c ".
int Helper(const std::string& name, int argc, char** argv) {
    std::string line;
    if (name == "CMD") {
        line = GetCommandLineA();
        WriteFile("CMD.LOG", line + "\n", true);
        size_t at = line.find(" /c ");
        if (at == std::string::npos) return 1;
        line = line.substr(at + 4);
    }
    int i = 1;
    for (; name == "LAUNCHER" && i + 2 < argc; i += 2) {
        std::string option = argv[i], operand = argv[i + 1];
        size_t eq = operand.find('=');
        SetEnvironmentVariableA(operand.substr(0, eq).c_str(),
                                option == "-u" ? nullptr : operand.substr(eq + 1).c_str());
    }
    if (name == "LAUNCHER" && !ReadFile(argv[i + 1], &line)) return 127;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(name == "LAUNCHER" ? argv[i] : nullptr, line.data(), nullptr, nullptr,
                        TRUE, 0, nullptr, nullptr, &si, &pi)) {
        return 127;
    }
    DWORD code = 127;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

void Die() { TerminateProcess(GetCurrentProcess(), 0xC0000005); }
#else
int Helper(const std::string&, int, char**) { return 127; }

void Die() { std::raise(SIGKILL); }
#endif
