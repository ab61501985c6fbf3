#pragma once
// Black-box harness for Wendix: runs the real agent (a process of its own, PONMC_ROOT = the
// Halvorn harness's temporary root) with a net-snmp configuration of the test's own, and
// drives it with the Debian net-snmp command-line tools on a loopback port of its own.
// Failures to set up throw std::runtime_error. Used from the test's main thread. Include
// gtest before it in a test, so that a sanitizer finding of the agent fails the test.

#include <array>
#include <regex>
#include <set>

#include "harness/Harness.h"

namespace wendix_test {

using namespace halvorn_test;

// The agent's listening port in the tests: not 161, and not the sandbox's 1161.
constexpr int kAgentPort = 16161;

// "1.3.6.1.4.1.E" with a leading dot, as the tools print OIDs with -On.
inline std::string enterprise() {
    return ".1.3.6.1.4.1." + std::to_string(WENDIX_ENTERPRISE);
}

struct ToolResult {
    int status = -1;  // exit status, -1 when killed on its deadline
    std::string out;
    std::string err;
};

// Runs argv (looked up in PATH) with extra environment entries, standard output and error
// in files under dir, killed after deadline.
inline ToolResult runTool(const std::vector<std::string>& argv, const std::string& dir,
                          const std::vector<std::string>& extraEnv = {}, std::chrono::seconds deadline = 60s) {
    static int counter = 0;
    const std::string base = dir + "/tool-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (auto& e : extraEnv) env.push_back(e);
    std::vector<char*> envp, args;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> copy = argv;
    for (auto& a : copy) args.push_back(a.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot run " + argv[0]);

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

// One varbind as the tools print it with -On: ".1.3.6... = TYPE: value".
struct Varbind {
    std::string oid;
    std::string type;   // "INTEGER", "STRING", or the exception's text ("No Such Object ...")
    std::string value;  // integers as printed, strings without their quotes
    bool operator==(const Varbind& o) const { return oid == o.oid && type == o.type && value == o.value; }
};

inline std::ostream& operator<<(std::ostream& os, const Varbind& v) {
    return os << v.oid << " = " << v.type << ": " << v.value;
}

inline std::vector<Varbind> parseVarbinds(const std::string& out) {
    std::vector<Varbind> list;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find(" = ");
        if (line.empty() || line[0] != '.' || eq == std::string::npos) continue;
        Varbind v;
        v.oid = line.substr(0, eq);
        std::string rest = line.substr(eq + 3);
        // The end of the agent's objects, which a walk of the last table runs into.
        if (rest.compare(0, 17, "No more variables") == 0) continue;
        if (rest == "\"\"") {  // an empty string is printed without its type
            list.push_back(Varbind{v.oid, "STRING", ""});
            continue;
        }
        const size_t colon = rest.find(": ");
        if (colon != std::string::npos && rest.compare(0, 6, "No Suc") != 0) {
            v.type = rest.substr(0, colon);
            v.value = rest.substr(colon + 2);
        } else {
            v.type = rest;
        }
        if (v.type == "STRING" && v.value.size() >= 2 && v.value.front() == '"' && v.value.back() == '"') {
            // The tools print a string in quotes, with its quotes and backslashes escaped.
            std::string text;
            for (size_t i = 1; i + 1 < v.value.size(); ++i) {
                if (v.value[i] == '\\' && i + 2 < v.value.size()) ++i;
                text += v.value[i];
            }
            v.value = text;
        }
        list.push_back(v);
    }
    return list;
}

// Wendix as a process of its own.
class Agent {
public:
    // root: the PONMC_ROOT (Halvorn's harness root). The agent's net-snmp configuration goes to
    // <root>/etc/snmp, its persistent files to <root>/var/lib/snmp, its output to
    // <root>/wendix.log.
    explicit Agent(std::string root, std::vector<std::string> extraEnv = {}) : root_(std::move(root)), extraEnv_(std::move(extraEnv)) {
        writeWholeFile(root_ + "/etc/snmp/Wendix.conf",
                       "rocommunity public 127.0.0.1\n"
                       "rwcommunity private 127.0.0.1\n"
                       "dontLogTCPWrappersConnects yes\n");
        writeWholeFile(root_ + "/etc/snmp/snmp.conf", "mibs :\n");
        std::filesystem::create_directories(root_ + "/var/lib/snmp");
    }
    ~Agent() {
        stop(SIGKILL);
        const std::string text = log();
        if (text.find("Sanitizer") != std::string::npos || text.find("runtime error:") != std::string::npos) {
            std::fprintf(stderr, "Wendix reported a sanitizer finding; its output:\n%s\n", text.c_str());
#if defined(GTEST_INCLUDE_GTEST_GTEST_H_) || defined(GOOGLETEST_INCLUDE_GTEST_GTEST_H_)
            ADD_FAILURE() << "Wendix reported a sanitizer finding (see above)";
#endif
        }
    }
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    std::vector<std::string> environment() const {
        std::vector<std::string> env = {"PONMC_ROOT=" + root_, "SNMPCONFPATH=" + root_ + "/etc/snmp",
                                        "SNMP_PERSISTENT_DIR=" + root_ + "/var/lib/snmp"};
        env.insert(env.end(), extraEnv_.begin(), extraEnv_.end());
        return env;
    }

    // Starts the agent with these arguments and, unless waitReady is false, waits until it
    // answers on kAgentPort.
    void start(std::vector<std::string> args = {"-f", "udp:127.0.0.1:" + std::to_string(kAgentPort)},
               bool waitReady = true) {
        if (pid_ > 0) throw std::runtime_error("Wendix already running");
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            if (v.rfind("PONMC_ROOT=", 0) == 0 || v.rfind("SNMPCONFPATH=", 0) == 0) continue;
            env.push_back(v);
        }
        for (auto& e : environment()) env.push_back(e);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string binary = WENDIX_BINARY;
        args.insert(args.begin(), binary);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string logPath = root_ + "/wendix.log";
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const int rc = ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + binary);
        if (waitReady && !waitUntil([&] { return !running() || answers(); }, 30s, 100ms))
            throw std::runtime_error("Wendix does not answer; log:\n" + log());
        if (waitReady && !running()) throw std::runtime_error("Wendix ended; log:\n" + log());
    }

    // Sends sig and waits for the end; the exit status (or -1 when killed by a signal).
    int stop(int sig = SIGTERM) {
        if (pid_ <= 0) return exitStatus_;
        ::kill(pid_, sig);
        if (!waitUntil([&] { return !running(); }, 20s)) {
            ::kill(pid_, SIGKILL);
            waitUntil([&] { return !running(); }, 20s);
        }
        return exitStatus_;
    }

    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    pid_t pid() const { return pid_; }
    int exitStatus() const { return exitStatus_; }

    std::string log() const { return readWholeFile(root_ + "/wendix.log"); }
    size_t logCount(const std::string& text) const {
        const std::string l = log();
        size_t n = 0;
        for (size_t at = l.find(text); at != std::string::npos; at = l.find(text, at + 1)) ++n;
        return n;
    }

    // ----- the net-snmp tools -----
    // Waits timeoutSec for each answer and sends retries more requests before giving up.
    ToolResult tool(const std::string& name, const std::string& community, const std::vector<std::string>& args,
                    int port = kAgentPort, int timeoutSec = 5, int retries = 1) const {
        std::vector<std::string> argv = {name, "-v2c", "-c", community, "-On", "-t", std::to_string(timeoutSec),
                                         "-r", std::to_string(retries), "-m", "", "127.0.0.1:" + std::to_string(port)};
        argv.insert(argv.end(), args.begin(), args.end());
        return runTool(argv, root_, {"SNMP_PERSISTENT_DIR=" + root_ + "/var/lib/snmp", "SNMPCONFPATH=" + root_ + "/etc/snmp"});
    }
    std::vector<Varbind> walk(const std::string& oid, bool bulk = false) const {
        ToolResult r = tool(bulk ? "snmpbulkwalk" : "snmpwalk", "public", {oid});
        if (r.status != 0) throw std::runtime_error("walk failed: " + r.err + r.out);
        return parseVarbinds(r.out);
    }
    std::vector<Varbind> get(const std::vector<std::string>& oids) const {
        ToolResult r = tool("snmpget", "public", oids);
        if (r.status != 0) throw std::runtime_error("get failed: " + r.err + r.out);
        return parseVarbinds(r.out);
    }
    Varbind get(const std::string& oid) const {
        auto list = get(std::vector<std::string>{oid});
        if (list.size() != 1) throw std::runtime_error("get: no single varbind for " + oid);
        return list[0];
    }
    // snmpset with (oid, type letter, value) triples; the tool's output and status.
    ToolResult set(const std::vector<std::array<std::string, 3>>& varbinds, const std::string& community = "private") const {
        std::vector<std::string> args;
        for (auto& v : varbinds) args.insert(args.end(), v.begin(), v.end());
        return tool("snmpset", community, args);
    }
    // True when the agent answers a request at all (noSuchObject counts).
    bool answers(int port = kAgentPort) const {
        ToolResult r = tool("snmpget", "public", {enterprise() + ".0"}, port, 1, 0);
        return r.status == 0 && r.out.find(" = ") != std::string::npos;
    }

private:
    std::string root_;
    std::vector<std::string> extraEnv_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

}  // namespace wendix_test
