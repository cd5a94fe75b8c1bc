#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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
    return Setting("ZORBEX_E2E_BINARY", kDefaultBinary);
}

std::string ToolsDir() {
    return Setting("ZORBEX_E2E_TOOLS", kDefaultTools);
}

std::string WindowsProgramsDir() {
    return Setting("ZORBEX_E2E_PROGRAMS", (ToolsDir() + "/..").c_str());
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

bool Named(const std::string& entry, const std::string& name) {
    return entry.compare(0, name.size() + 1, name + "=") == 0;
}

// The inherited environment with the tools first on the search path, TZ set
// and the test's own variables; each of these replaces an inherited one.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> own = {"TZ=UTC0"};
    std::string path = ToolsDir();
    std::string wine_path = WindowsName(ToolsDir());
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string item = *entry;
        if (Named(item, "PATH")) path += ":" + item.substr(5);
        if (Named(item, "WINEPATH")) wine_path += ";" + item.substr(9);
    }
    own.push_back("PATH=" + path);
    if (WindowsBuild()) {
        own.push_back("WINEPATH=" + wine_path);
        own.push_back("WINEDEBUG=-all");
    }
    own.insert(own.end(), extra.begin(), extra.end());

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string item = *entry;
        bool replaced = false;
        for (const std::string& mine : own) {
            if (Named(item, mine.substr(0, mine.find('=')))) replaced = true;
        }
        if (!replaced) env.push_back(item);
    }
    env.insert(env.end(), own.begin(), own.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Appends what can be read now. False at the end of the stream, or when
// nothing is waiting in a pipe that does not block.
bool ReadSome(int fd, std::string* sink) {
    char buf[4096];
    for (;;) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0) {
            sink->append(buf, static_cast<size_t>(got));
            return true;
        }
        if (got == 0 || errno != EINTR) return false;
    }
}

// Reads both pipes until the child has ended, then what it left in them.
// The end of the child is what counts, not the end of the pipes: processes
// the runner starts on the side (Wine's own services) can hold them open.
bool Drain(int pid_fd, int out_fd, int err_fd, RunResult* result) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
    pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {pid_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result->out, &result->err};
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        int ready = poll(fds, 3, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !ReadSome(fds[i].fd, sinks[i])) {
                fds[i].fd = -1;
            }
        }
        if (fds[2].revents != 0) break;
    }
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0) continue;
        fcntl(fds[i].fd, F_SETFL, O_NONBLOCK);
        while (ReadSome(fds[i].fd, sinks[i])) {
        }
    }
    return true;
}

// In the child, before the program starts: the signals and limits launch
// asks for.
void PrepareChild(const Launch& launch) {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) signal(signo, SIG_DFL);
    if (launch.ignore_interrupt) signal(SIGINT, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (launch.own_group) setpgid(0, 0);
    if (launch.file_size_limit >= 0) {
        rlimit limit;
        limit.rlim_cur = static_cast<rlim_t>(launch.file_size_limit);
        limit.rlim_max = limit.rlim_cur;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
}

// Starts argv in cwd with its output on two pipes. With launch null the
// child keeps this process's signal dispositions and limits.
Started StartChild(const std::string& cwd, std::vector<std::string> argv_text,
                   std::vector<std::string> env_text, const Launch* launch) {
    std::vector<char*> argv = Pointers(argv_text);
    std::vector<char*> envp = Pointers(env_text);

    Started started;
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return started;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return started;
    }
    if (launch != nullptr && launch->output_closed) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        if (chdir(cwd.c_str()) != 0 || null_fd < 0) _exit(127);
        dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (launch != nullptr) PrepareChild(*launch);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // Also here, so a signal to the group cannot come before the group.
    if (pid > 0 && launch != nullptr && launch->own_group) setpgid(pid, pid);
    close(out_pipe[1]);
    close(err_pipe[1]);
    started.pid = pid;
    started.out_fd = out_pipe[0];
    started.err_fd = err_pipe[0];
    started.pid_fd =
        pid < 0 ? -1 : static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return started;
}

RunResult FinishChild(Started* started) {
    RunResult result{-1, "", ""};
    bool finished = started->pid_fd >= 0 &&
                    Drain(started->pid_fd, started->out_fd, started->err_fd, &result);
    if (started->out_fd >= 0) close(started->out_fd);
    if (started->err_fd >= 0) close(started->err_fd);
    if (started->pid_fd >= 0) close(started->pid_fd);
    started->out_fd = started->err_fd = started->pid_fd = -1;
    pid_t pid = started->pid;
    started->pid = -1;
    if (pid < 0) return result;
    if (!finished) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (finished && WIFEXITED(status)) result.code = WEXITSTATUS(status);
    // Ended by a signal: as a shell reports it.
    if (finished && WIFSIGNALED(status)) result.code = 128 + WTERMSIG(status);
    return result;
}

RunResult Spawn(const std::string& cwd, std::vector<std::string> argv_text,
                std::vector<std::string> env_text) {
    Started started = StartChild(cwd, std::move(argv_text), std::move(env_text), nullptr);
    return FinishChild(&started);
}

constexpr int kAwaitSeconds = 10;

// The value of a "Name:" line of /proc/<pid>/status; empty when missing.
std::string ProcessStatus(int pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, name.size() + 1, name + ":") != 0) continue;
        size_t start = line.find_first_not_of(" \t", name.size() + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "";
}

std::vector<std::string> RunnerWords() {
    return Words(Setting("ZORBEX_E2E_RUNNER", kDefaultRunner));
}

}  // namespace

std::string WindowsName(const std::string& path) {
    std::string name = "Z:" + path;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

std::string ProgramPath() { return BinaryPath(); }

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
    std::vector<std::string> argv = RunnerWords();
    argv.push_back(BinaryPath());
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = Spawn(cwd, argv, ChildEnvironment(env_));
    EXPECT_NE(result.code, -1) << "the program did not end in time";
    EXPECT_EQ(result.err, "") << "the program wrote to the error stream";
    return result;
}

Started E2e::Start(const std::vector<std::string>& args, const Launch& launch) {
    std::vector<std::string> argv = RunnerWords();
    argv.push_back(BinaryPath());
    argv.insert(argv.end(), args.begin(), args.end());
    Started started = StartChild(dir_, argv, ChildEnvironment(env_), &launch);
    EXPECT_GT(started.pid, 0) << "the program could not be started";
    return started;
}

RunResult E2e::Wait(Started* started) {
    RunResult result = FinishChild(started);
    EXPECT_NE(result.code, -1) << "the program did not end in time";
    return result;
}

RunResult E2e::RunWith(const Launch& launch, const std::vector<std::string>& args) {
    Started started = Start(args, launch);
    RunResult result = Wait(&started);
    EXPECT_EQ(result.err, "") << "the program wrote to the error stream";
    return result;
}

void E2e::Signal(const Started& started, int signo, bool group) {
    ASSERT_GT(started.pid, 0);
    ASSERT_EQ(kill(group ? -started.pid : started.pid, signo), 0) << std::strerror(errno);
}

bool E2e::AwaitBlocked(const Started& started) {
    constexpr unsigned long long kTerm = 1ULL << (SIGTERM - 1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kAwaitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        unsigned long long caught =
            std::strtoull(ProcessStatus(started.pid, "SigCgt").c_str(), nullptr, 16);
        // No child either: not waiting for a tool.
        std::string id = std::to_string(started.pid);
        std::ifstream children("/proc/" + id + "/task/" + id + "/children");
        std::string child;
        bool waiting_for_tool = static_cast<bool>(children >> child);
        if ((caught & kTerm) != 0 && ProcessStatus(started.pid, "State")[0] == 'S' &&
            !waiting_for_tool) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

bool E2e::AwaitEnd(const Started& started, int seconds) {
    pollfd ended = {started.pid_fd, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        int ready = poll(&ended, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

bool E2e::AwaitFile(const std::string& name) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kAwaitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Exists(name)) return true;
        usleep(10000);
    }
    return false;
}

void E2e::MakeFifo(const std::string& name) {
    std::string path = dir_ + "/" + name;
    ASSERT_EQ(mkfifo(path.c_str(), 0666), 0) << std::strerror(errno);
}

int E2e::OpenFifoWriter(const std::string& name) {
    std::string path = dir_ + "/" + name;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kAwaitSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        // Without a reader a writer that does not block gets ENXIO.
        int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, 0);
            return fd;
        }
        if (errno != ENXIO) return -1;
        usleep(10000);
    }
    return -1;
}

RunResult E2e::RunWindowsProgram(const std::string& program,
                                 const std::vector<std::string>& args) {
    std::vector<std::string> argv = RunnerWords();
    argv.push_back(WindowsProgramPath(program));
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result = Spawn(dir_, argv, ChildEnvironment(env_));
    EXPECT_NE(result.code, -1) << program << " did not end in time";
    return result;
}

std::string E2e::WindowsProgramPath(const std::string& program) const {
    return WindowsProgramsDir() + "/" + program;
}

void E2e::SetEnv(const std::string& name, const std::string& value) {
    env_.push_back(name + "=" + value);
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
    return Upper(WindowsBuild() ? WindowsName(name) : name);
}

}  // namespace zorbex_e2e
