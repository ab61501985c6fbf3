#pragma once
// Black-box harness for Halvorn: runs the real daemon in a temporary PONMC_ROOT with
// recording stand-ins for the system commands, and plays its three neighbours:
//   - the API clients (web and SNMP channels, through ApiClient),
//   - Quenrik's task receiver (an Ostrel server on /tmp/halquen.ipc, port 2010) that keeps
//     every task it receives,
//   - Quenrik's notifier (an Ostrel client of /tmp/quenhal.ipc, port 2001).
// Everything the daemon does to "the system" lands in <root>/commands.log; its standard
// output is captured in <root>/halvorn.log. Tests wait with waitUntil(), never with sleeps.
// The daemon binds the system's fixed ports: tests using this harness share the CTest
// RESOURCE_LOCK ponmc_fixed_ports. One harness at a time per process; methods are meant for
// the test's main thread, except api()/get()/set() and TaskPeer's readers, which are
// thread-safe. Failures to set up throw std::runtime_error.

// The system headers stay here for the tests that spawn and signal programs of their own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "APIData.h"
#include "ApiClient.h"
#include "Exception.h"
#include "TestKit.h"
#include "ipc/Ostrel"

extern char** environ;

namespace halvorn_test {

using namespace std::chrono_literals;
using testkit::readWholeFile;
using testkit::udpPortFree;
using testkit::waitForFixedPortsFree;
using testkit::waitUntil;
using testkit::writeWholeFile;

// A task as Quenrik receives it.
struct Task {
    std::string action;
    std::string uri;
    std::string data;  // the task's JSON object text
};

// Quenrik's task receiver: an Ostrel server on <root>/tmp/halquen.ipc, own port 2010. With
// another port file and port (Halvorn's notification receiver: quenhal.ipc, 2000) it records
// whatever a client sends there the same way.
class TaskPeer {
public:
    explicit TaskPeer(std::string portFile, int port = 2010) : portFile_(std::move(portFile)), port_(port) {}
    ~TaskPeer() { stop(); }

    void start() {
        if (thread_.joinable()) return;
        endpoint_ = std::make_unique<Ostrel>(port_);
        // A daemon killed in the middle of a task must not leave this thread (and stop(),
        // which joins it) waiting for the task's last chunk for ever.
        endpoint_->setTransferTimeout(ApiClient::kTransferTimeoutMs);
        if (!endpoint_->createSocket() || !endpoint_->bind(portFile_.c_str()))
            throw std::runtime_error(std::string("task peer: ") + endpoint_->getErrorMessage());
        stop_.store(false);
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
        endpoint_.reset();
    }

    std::vector<Task> tasks() const {
        std::lock_guard<std::mutex> l(mutex_);
        return tasks_;
    }
    size_t count() const {
        std::lock_guard<std::mutex> l(mutex_);
        return tasks_.size();
    }
    // Tasks whose uri is exactly uri, in arrival order.
    std::vector<Task> tasksFor(const std::string& uri) const {
        std::vector<Task> out;
        for (auto& t : tasks())
            if (t.uri == uri) out.push_back(t);
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> l(mutex_);
        tasks_.clear();
    }
    // True once at least n tasks have arrived (polls up to deadline).
    bool waitForCount(size_t n, std::chrono::milliseconds deadline = 10s) const {
        return waitUntil([&] { return count() >= n; }, deadline);
    }

private:
    void run() {
        const int fd = endpoint_->getSocketForTest();
        while (!stop_.load()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            std::string message;
            if (endpoint_->recv(message) < 0) continue;
            Task t;
            try {
                APIData envelope;
                envelope.parseRequest(message.data(), static_cast<int>(message.size()));
                t = Task{envelope.getAction(), envelope.getUri(), envelope.getJsonData()};
            } catch (const Exception&) {
                t = Task{"", "<unparsable>", message};
            }
            std::lock_guard<std::mutex> l(mutex_);
            tasks_.push_back(std::move(t));
        }
    }

    std::string portFile_;
    int port_;
    std::unique_ptr<Ostrel> endpoint_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Task> tasks_;
};

class Harness {
public:
    struct Options {
        bool startTaskPeer = true;  // Quenrik's receiver up before the daemon starts
        bool startDaemon = true;    // start Halvorn in the constructor
        // Run before the daemon's first start: put table files, settings files, an archive...
        std::function<void(Harness&)> prepare;
        // When the daemon ends at once because a fixed port was taken meanwhile (another
        // test program of another build on this machine), wait for the ports and try again.
        bool retryOnBusyPorts = true;
        // More "NAME=value" entries for the daemon's environment (test seams).
        std::vector<std::string> environment;
        // The daemon's program: the product, or its test build with the test seams.
        std::string binary = HALVORN_BINARY;
    };

    Harness() : Harness(Options()) {}
    explicit Harness(const Options& options)
        : retryOnBusyPorts_(options.retryOnBusyPorts), environment_(options.environment), binary_(options.binary) {
        if (!waitForFixedPortsFree()) throw std::runtime_error("the fixed channel ports stay in use");
        writeFile("/mnt/.fwversion", "1.0.7\n");
        peer_ = std::make_unique<TaskPeer>(path("/tmp/halquen.ipc"));
        if (options.startTaskPeer) peer_->start();
        if (options.prepare) options.prepare(*this);
        if (options.startDaemon) start();
    }

    // The daemon's log is scanned before the root (and the log with it) goes.
    ~Harness() {
        kill();
        peer_.reset();
        if (daemon_.scanLog()) sanitizerFindings().fetch_add(1);
    }

    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // ----- the temporary root -----
    const std::string& root() const { return root_.path(); }
    // The real path of a system path: root + absolutePath.
    std::string path(const std::string& absolutePath) const { return root_.path() + absolutePath; }
    void writeFile(const std::string& absolutePath, const std::string& content) {
        writeWholeFile(path(absolutePath), content);
    }
    std::string readFile(const std::string& absolutePath) const { return readWholeFile(path(absolutePath)); }
    bool exists(const std::string& absolutePath) const { return std::filesystem::exists(path(absolutePath)); }
    void remove(const std::string& absolutePath) {
        std::error_code ec;
        std::filesystem::remove_all(path(absolutePath), ec);
    }

    // ----- the daemon -----
    // Starts Halvorn (PONMC_ROOT = root, stand-ins first in PATH, output appended to
    // <root>/halvorn.log) and waits until its web, SNMP and notification channels have
    // published their ports. Old port files are removed first so a restart is seen.
    void start() {
        for (int attempt = 1;; ++attempt) {
            const size_t logBefore = log_().size();
            try {
                startOnce();
                return;
            } catch (const std::runtime_error&) {
                const bool busy = log_().find("Address already in use", logBefore) != std::string::npos;
                if (!retryOnBusyPorts_ || !busy || attempt == 3) throw;
                kill();
                waitForFixedPortsFree();
            }
        }
    }

private:
    void startOnce() {
        if (daemon_.pid() > 0) throw std::runtime_error("Halvorn already running");
        for (const char* f : {"/tmp/web.ipc", "/tmp/snmp.ipc", "/tmp/quenhal.ipc"}) remove(f);
        std::vector<std::string> env = testkit::inheritedEnvironment({"PONMC_ROOT=", "PATH="});
        for (auto& v : testkit::rootEnvironment(root())) env.push_back(v);
        env.insert(env.end(), environment_.begin(), environment_.end());
        daemon_.start({binary_}, env);
        const bool up = daemon_.waitReady(
            [&] { return exists("/tmp/web.ipc") && exists("/tmp/snmp.ipc") && exists("/tmp/quenhal.ipc"); }, 20s);
        if (!up) throw std::runtime_error("Halvorn did not start; log:\n" + log_());
    }

public:
    // SIGKILL and reap; the daemon has no orderly shutdown. No-op when not running.
    void kill() { daemon_.kill(); }
    void stop() { kill(); }
    void restart() {
        kill();
        start();
    }
    pid_t pid() const { return daemon_.pid(); }
    // False once the process has ended (reaps it; exitStatus() then holds its wait status).
    bool running() { return daemon_.running(); }
    int exitStatus() const { return daemon_.waitStatus(); }
    // Number of harnesses whose daemon printed a sanitizer report, in this process.
    static std::atomic<int>& sanitizerFindings() {
        static std::atomic<int> n{0};
        return n;
    }

    // Everything the daemon printed so far (standard output and error).
    std::string log() const { return log_(); }
    bool logContains(const std::string& text) const { return daemon_.logContains(text); }
    size_t logCount(const std::string& text) const { return daemon_.logCount(text); }
    bool waitForLog(const std::string& text, std::chrono::milliseconds deadline = 15s) const {
        return waitUntil([&] { return logContains(text); }, deadline);
    }

    // The system commands run so far, one per call, as the stand-ins recorded them:
    // "ip addr add ...", "<root>/sbin/reboot", "<root>/mnt/bin/startNtp.sh start ...".
    std::vector<std::string> commands() const {
        std::vector<std::string> lines;
        std::istringstream in(readFile("/commands.log"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    size_t countCommand(const std::string& line) const {
        size_t n = 0;
        for (auto& c : commands()) n += c == line;
        return n;
    }
    void clearCommands() { writeFile("/commands.log", ""); }

    // ----- API requests -----
    // One request on the web channel (or the SNMP channel). Throws Exception when the
    // daemon does not answer (message says why).
    ApiClient::Response api(const std::string& action, const std::string& uri, const std::string& data = "",
                            bool snmp = false) {
        ApiClient client = snmp ? ApiClient(path("/tmp/snmp.ipc"), ApiClient::kSnmpClientPort)
                                : ApiClient(path("/tmp/web.ipc"), ApiClient::kWebClientPort);
        return client.request(action, uri, data);
    }
    ApiClient::Response get(const std::string& uri, bool snmp = false) { return api("get", uri, "", snmp); }
    ApiClient::Response set(const std::string& uri, const std::string& data, bool snmp = false) {
        return api("set", uri, data, snmp);
    }
    // A raw text on the web channel, answered by the daemon (for malformed requests).
    ApiClient::Response raw(const std::string& text) {
        // The client builds envelopes itself; a raw text needs the channel by hand.
        int fd = ::open(path("/tmp/web.ipc").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("no web port file");
        ::flock(fd, LOCK_EX);
        Ostrel endpoint(ApiClient::kWebClientPort);
        endpoint.setPortFileWaitLimit(1);
        endpoint.setPingLimits(2, 5000);
        endpoint.setTransferTimeout(ApiClient::kTransferTimeoutMs);
        endpoint.setDeadline(60000);
        std::string reply;
        bool ok = endpoint.createSocket() && endpoint.connect(path("/tmp/web.ipc").c_str()) &&
                  endpoint.send(text) >= 0 && endpoint.recv(reply) >= 0;
        ::close(fd);
        if (!ok) throw std::runtime_error(std::string("raw request failed: ") + endpoint.getErrorMessage());
        APIData response;
        response.parseResponse(reply.data(), static_cast<int>(reply.size()));
        return ApiClient::Response{response.getError(), response.getJsonData()};
    }

    // ----- Quenrik's side -----
    TaskPeer& tasks() { return *peer_; }
    // Sends one notification as Quenrik's notifier does ({"action":"set","uri":..,"data":..}).
    void notify(const std::string& uri, const std::string& data) {
        std::lock_guard<std::mutex> l(notifyMutex_);
        if (!notifier_) {
            notifier_ = std::make_unique<Ostrel>(2001);
            notifier_->setPortFileWaitLimit(5);
            notifier_->setPingLimits(3, 5000);
            notifier_->setTransferTimeout(ApiClient::kTransferTimeoutMs);
            if (!notifier_->createSocket() || !notifier_->connect(path("/tmp/quenhal.ipc").c_str())) {
                std::string why = notifier_->getErrorMessage();
                notifier_.reset();
                throw std::runtime_error("notifier: " + why);
            }
        }
        APIData envelope;
        envelope.createRequest("set", uri, data);
        if (notifier_->send(envelope.getJsonProtocol()) < 0) {
            std::string why = notifier_->getErrorMessage();
            notifier_.reset();  // the daemon may have been restarted: connect afresh next time
            throw std::runtime_error("notify failed: " + why);
        }
    }

private:
    std::string log_() const { return daemon_.log(); }

    testkit::TempRoot root_{"halvorn-test-"};
    // Declared after the root: it is killed and its log scanned before the root is removed.
    testkit::DaemonProcess daemon_{"Halvorn", root_.path() + "/halvorn.log"};
    bool retryOnBusyPorts_ = true;
    std::vector<std::string> environment_;
    std::string binary_;
    std::unique_ptr<TaskPeer> peer_;
    std::mutex notifyMutex_;
    std::unique_ptr<Ostrel> notifier_;
};

}  // namespace halvorn_test
