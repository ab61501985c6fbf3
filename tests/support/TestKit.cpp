#include "TestKit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testkit {

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline, std::chrono::milliseconds every) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= end) return pred();
        std::this_thread::sleep_for(every);
    }
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWholeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

int bindLoopbackUdp(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(static_cast<uint16_t>(port));
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

bool udpPortFree(int port) {
    const int fd = bindLoopbackUdp(port);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool waitForFixedPortsFree(std::chrono::milliseconds deadline) {
    return waitUntil(
        [] {
            for (int port : {2000, 2001, 2010, 2011, 2020, 2022, 2030, 2031})
                if (!udpPortFree(port)) return false;
            return true;
        },
        deadline, 200ms);
}

std::vector<std::string> inheritedEnvironment(std::initializer_list<const char*> dropPrefixes) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        bool drop = false;
        for (const char* prefix : dropPrefixes) drop = drop || v.rfind(prefix, 0) == 0;
        if (!drop) env.push_back(v);
    }
    return env;
}

std::vector<std::string> rootEnvironment(const std::string& root) {
    const char* path = std::getenv("PATH");
    return {"PONMC_ROOT=" + root, "PATH=" + root + "/bin:" + (path ? path : "/usr/bin:/bin")};
}

TempRoot::TempRoot(const std::string& prefix) {
    std::string tmpl = "/tmp/" + prefix + "XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    const std::string install = std::string(HALVORN_STANDINS_DIR) + "/install.sh '" + root_ + "'";
    if (std::system(install.c_str()) != 0) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        throw std::runtime_error("failed: " + install);
    }
}

TempRoot::~TempRoot() {
    if (!std::getenv("HALVORN_KEEP_ROOT")) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

namespace {

// posix_spawn(p) of argv with exactly env; standard input from /dev/null, standard output to
// outPath and standard error to errPath, or to the same file when errPath is empty.
pid_t spawnProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& outPath, const std::string& errPath, bool append, bool searchPath) {
    std::vector<std::string> a = argv, e = env;
    std::vector<char*> args, envp;
    for (auto& s : a) args.push_back(s.data());
    args.push_back(nullptr);
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);
    const int flags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), flags, 0644);
    if (errPath.empty()) posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), flags, 0644);
    pid_t pid = -1;
    const int rc = searchPath ? ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data())
                              : ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error((searchPath ? "cannot run " : "cannot start ") + argv[0]);
    return pid;
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& argv, const std::string& dir,
                   const std::vector<std::string>& extraEnv, std::chrono::seconds deadline) {
    static std::atomic<int> counter{0};
    const std::string base = dir + "/tool-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    std::vector<std::string> env = inheritedEnvironment({});
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    const pid_t pid = spawnProcess(argv, env, base + ".out", base + ".err", false, true);

    ToolResult result;
    int status = 0;
    const bool ended = waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, deadline, 5ms);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    result.out = readWholeFile(base + ".out");
    result.err = readWholeFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return result;
}

DaemonProcess::DaemonProcess(std::string name, std::string logPath, bool scanForSanitizers)
    : name_(std::move(name)), logPath_(std::move(logPath)), scan_(scanForSanitizers) {}

DaemonProcess::~DaemonProcess() {
    kill();
    if (!scanned_) scanLog();
}

void DaemonProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    if (pid_ > 0) throw std::runtime_error(name_ + " already running");
    pid_ = spawnProcess(argv, env, logPath_, "", true, false);
    scanned_ = false;
}

bool DaemonProcess::waitReady(const std::function<bool()>& ready, std::chrono::milliseconds deadline,
                              std::chrono::milliseconds every) {
    return waitUntil([&] { return !running() || ready(); }, deadline, every) && running();
}

bool DaemonProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    waitStatus_ = status;
    pid_ = -1;
    return false;
}

void DaemonProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    waitStatus_ = status;
    pid_ = -1;
}

void DaemonProcess::stop(int sig, std::chrono::milliseconds grace) {
    if (pid_ <= 0) return;
    ::kill(pid_, sig);
    if (!waitUntil([&] { return !running(); }, grace)) kill();
}

std::string DaemonProcess::log() const { return readWholeFile(logPath_); }

bool DaemonProcess::logContains(const std::string& text) const { return log().find(text) != std::string::npos; }

size_t DaemonProcess::logCount(const std::string& text) const { return countOf(log(), text); }

bool DaemonProcess::scanLog() {
    scanned_ = true;
    if (!scan_) return false;
    const std::string text = log();
    // "Sanitizer" catches every sanitizer's report line (AddressSanitizer, LeakSanitizer,
    // ThreadSanitizer, UndefinedBehaviorSanitizer); UBSan's own findings read "runtime error:".
    if (text.find("Sanitizer") == std::string::npos && text.find("runtime error:") == std::string::npos) return false;
    std::fprintf(stderr, "%s reported a sanitizer finding; its output:\n%s\n", name_.c_str(), text.c_str());
    // Only a test program fails: benchmarks and the web stage link this library too, and
    // print the finding alone.
    if (::testing::UnitTest::GetInstance()->total_test_count() > 0)
        ADD_FAILURE() << name_ << " reported a sanitizer finding (see above)";
    return true;
}

}  // namespace testkit
