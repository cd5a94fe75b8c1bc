#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace zorbex_e2e {
namespace {

constexpr int kRunSeconds = 30;

std::string Setting(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string BinaryPath() {
    return Setting("ZORBEX_E2E_BINARY", ZORBEX_E2E_BINARY_DEFAULT);
}

std::string ToolsDir() {
    return Setting("ZORBEX_E2E_TOOLS", ZORBEX_E2E_TOOLS_DEFAULT);
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string WithLineEnds(const std::string& text) {
    if (!WindowsBuild()) return text;
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    std::string path = ToolsDir();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string item = *entry;
        if (item.rfind("PATH=", 0) == 0) {
            path += ":" + item.substr(5);
        } else if (item.rfind("TZ=", 0) != 0) {
            env.push_back(item);
        }
    }
    env.push_back("PATH=" + path);
    env.push_back("TZ=UTC0");
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Reads both pipes until the child closes them or the time is up.
bool Drain(int out_fd, int err_fd, RunResult* result) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result->out, &result->err};
    int open_count = 2;
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

RunResult Spawn(const std::string& cwd, const std::vector<std::string>& args) {
    std::vector<std::string> argv_text = Words(Setting("ZORBEX_E2E_RUNNER", ""));
    argv_text.push_back(BinaryPath());
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<std::string> env_text = ChildEnvironment();
    std::vector<char*> argv = Pointers(argv_text);
    std::vector<char*> envp = Pointers(env_text);

    RunResult result{-1, "", ""};
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        if (chdir(cwd.c_str()) != 0 || null_fd < 0) _exit(127);
        dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }
    bool finished = Drain(out_pipe[0], err_pipe[0], &result);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (!finished) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (finished && WIFEXITED(status)) result.code = WEXITSTATUS(status);
    return result;
}

}  // namespace

bool WindowsBuild() {
    std::string forced = Setting("ZORBEX_E2E_WINDOWS", "");
    if (!forced.empty()) return forced != "0";
    std::string binary = BinaryPath();
    return binary.size() >= 4 && Upper(binary.substr(binary.size() - 4)) == ".EXE";
}

std::string Out(const std::string& text) {
    return WithLineEnds(kBanner + text);
}

std::string Done(const std::string& exe, long size) {
    return "\nDone. Created " + exe + " (" + std::to_string(size) + " bytes)\n";
}

std::string DirectiveText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return WithLineEnds(text);
}

void E2e::SetUp() {
    std::string base = Setting("TMPDIR", "/tmp");
    std::string pattern = base + "/zorbex-e2e-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    ASSERT_NE(mkdtemp(name.data()), nullptr) << "cannot make " << pattern;
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(name.data(), resolved), nullptr);
    dir_ = resolved;
    ASSERT_EQ(access(BinaryPath().c_str(), X_OK), 0)
        << "no program to test at " << BinaryPath();
    ASSERT_TRUE(fs::exists(ToolsDir() + "/WLINK") ||
                fs::exists(ToolsDir() + "/WLINK.EXE"))
        << "no stand-in tools in " << ToolsDir();
}

void E2e::TearDown() {
    if (dir_.empty()) return;
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

RunResult E2e::Run(const std::vector<std::string>& args,
                   const std::string& subdir) {
    std::string cwd = subdir.empty() ? dir_ : dir_ + "/" + subdir;
    RunResult result = Spawn(cwd, args);
    EXPECT_NE(result.code, -1) << "the program did not end in time";
    // A runner such as wine writes its own notes to the error stream.
    if (Setting("ZORBEX_E2E_RUNNER", "").empty()) {
        EXPECT_EQ(result.err, "") << "the program wrote to the error stream";
    }
    return result;
}

void E2e::Write(const std::string& name, const std::string& bytes) {
    fs::path path = fs::path(dir_) / name;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void E2e::WriteAt(const std::string& name, const std::string& stamp) {
    Write(name, "/* " + name + " */\n");
    SetTime(name, stamp);
}

void E2e::MakeDir(const std::string& name) {
    fs::create_directories(fs::path(dir_) / name);
}

void E2e::SetTime(const std::string& name, const std::string& stamp) {
    tm fields{};
    ASSERT_EQ(std::sscanf(stamp.c_str(), "%d-%d-%d %d:%d:%d", &fields.tm_year,
                          &fields.tm_mon, &fields.tm_mday, &fields.tm_hour,
                          &fields.tm_min, &fields.tm_sec),
              6)
        << "bad stamp " << stamp;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    timespec times[2];
    times[0].tv_sec = timegm(&fields);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    std::string path = dir_ + "/" + name;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0)
        << "cannot set the time of " << path << ": " << std::strerror(errno);
}

long long E2e::ModifiedTime(const std::string& name) {
    struct stat info;
    std::string path = dir_ + "/" + name;
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<long long>(info.st_mtim.tv_sec);
}

std::string E2e::Read(const std::string& name) {
    std::ifstream in(fs::path(dir_) / name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool E2e::Exists(const std::string& name) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(fs::path(dir_) / name, ignored));
}

std::vector<std::string> E2e::List(const std::string& subdir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(dir_) / subdir)) {
        std::string name = entry.path().filename().string();
        if (entry.symlink_status().type() == fs::file_type::directory) {
            name += "/";
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void E2e::ExpectFiles(std::vector<std::string> expected,
                      const std::string& subdir) {
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(List(subdir), expected);
}

std::vector<std::string> E2e::LogLines(const std::string& subdir) {
    std::vector<std::string> lines;
    std::istringstream in(Read(subdir.empty() ? "STANDIN.LOG"
                                              : subdir + "/STANDIN.LOG"));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void E2e::Control(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    Write("STANDIN.CTL", text);
}

void E2e::Project(const std::string& text) { Write("ZORBEX.ZBX", text); }

std::string E2e::AbsoluteName(const std::string& relative) const {
    std::string name = relative.empty() ? dir_ : dir_ + "/" + relative;
    if (WindowsBuild()) {
        // The POSIX root is drive Z: of the Windows layer.
        std::replace(name.begin(), name.end(), '/', '\\');
        name = "Z:" + name;
    }
    return Upper(name);
}

}  // namespace zorbex_e2e
