#pragma once
// The pieces every daemon harness of the tests stands on: polling with a deadline, whole-file
// reads and writes, loopback UDP ports, the environment of a child process, a temporary
// PONMC_ROOT with the stand-ins of tests/fixtures/standins, a one-shot tool run and a daemon as
// a child process whose output is scanned for sanitizer reports. The paths of the programs
// under test come as compile definitions of this library (HALVORN_BINARY, QUENRIK_BINARY,
// OLT_SIM_BINARY, WENDIX_BINARY, PONMC_CLI_BINARY, PONMC_WEB_BINARY, PONMC_WEB_STATIC,
// HALVORN_STANDINS_DIR). Free functions are thread-safe; each class is for one thread.
// Set-up failures throw std::runtime_error.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace testkit {

using namespace std::chrono_literals;

// Polls pred every `every` until it holds or the deadline passes; returns pred's last value.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline = 10s,
               std::chrono::milliseconds every = 50ms);

// The file's content, "" when it cannot be read.
std::string readWholeFile(const std::string& path);
// Creates the parent folders; throws when the file cannot be written.
void writeWholeFile(const std::string& path, const std::string& content);
// How often what occurs in text (overlapping occurrences count).
size_t countOf(const std::string& text, const std::string& what);

// A UDP socket bound to 127.0.0.1:port (a channel port held by someone else, or a bare peer
// that speaks the channel by hand); -1 when the port is taken. The caller closes it.
int bindLoopbackUdp(int port);
// True when no socket holds 127.0.0.1:port (UDP).
bool udpPortFree(int port);
// Waits until the system's fixed channel ports and our clients' ports are free. CTest's
// resource lock keeps our own test programs apart; this wait also covers a daemon or test of
// another build tree on the same machine that still holds them.
bool waitForFixedPortsFree(std::chrono::milliseconds deadline = 120s);

// This process's environment without the entries that start with one of dropPrefixes
// ("PATH=", "QUENRIK_"): the start of a child's environment.
std::vector<std::string> inheritedEnvironment(std::initializer_list<const char*> dropPrefixes);
// PONMC_ROOT=root and PATH with root's stand-ins (<root>/bin) first.
std::vector<std::string> rootEnvironment(const std::string& root);

// A temporary PONMC_ROOT (mkdtemp under /tmp with the given name prefix) with the stand-ins
// installed; removed with its content unless HALVORN_KEEP_ROOT is set (so the logs a failure
// message points at can still be read).
class TempRoot {
public:
    explicit TempRoot(const std::string& prefix);
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::string& path() const { return root_; }

private:
    std::string root_;
};

struct ToolResult {
    int status = -1;  // exit status, -1 when killed on its deadline or by a signal
    std::string out;
    std::string err;
};

// Runs argv (looked up in PATH) with this process's environment plus extraEnv, standard output
// and error in files under dir (removed afterwards), killed after deadline.
ToolResult runTool(const std::vector<std::string>& argv, const std::string& dir,
                   const std::vector<std::string>& extraEnv = {}, std::chrono::seconds deadline = 60s);

// One program as a child process: standard output and error appended to one log file,
// standard input from /dev/null. It is killed and reaped on destruction; then, unless
// scanning is off, a sanitizer report in its log ("...Sanitizer...", "runtime error:") is
// printed on stderr with the whole log and fails the running test.
class DaemonProcess {
public:
    // name: how failure messages call it ("Halvorn").
    DaemonProcess(std::string name, std::string logPath, bool scanForSanitizers = true);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    // Spawns argv[0] (a path) with exactly env. Throws when it runs already or cannot start.
    void start(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    // Waits until ready holds while the program runs; false when it ended or the deadline passed.
    bool waitReady(const std::function<bool()>& ready, std::chrono::milliseconds deadline,
                   std::chrono::milliseconds every = 50ms);

    // False once the process has ended (reaps it; waitStatus() then holds its wait status).
    bool running();
    pid_t pid() const { return pid_; }
    // The wait status of the last end, -1 before any.
    int waitStatus() const { return waitStatus_; }
    // SIGKILL and reap. No-op when not running.
    void kill();
    // Sends sig and waits grace for the end; then SIGKILL and reap. No-op when not running.
    void stop(int sig, std::chrono::milliseconds grace);

    std::string log() const;
    bool logContains(const std::string& text) const;
    size_t logCount(const std::string& text) const;
    const std::string& logPath() const { return logPath_; }

    // Scans the log now (the destructor then does not, unless the program is started again):
    // true when it holds a sanitizer report, which is then printed and fails the running test.
    // For owners that stop the program themselves or must scan before removing the log.
    bool scanLog();

private:
    std::string name_;
    std::string logPath_;
    bool scan_;
    bool scanned_ = false;
    pid_t pid_ = -1;
    int waitStatus_ = -1;
};

}  // namespace testkit
