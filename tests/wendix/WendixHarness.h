#pragma once
// Black-box harness for Wendix: runs the real agent (a process of its own, PONMC_ROOT = the
// Halvorn harness's temporary root) with a net-snmp configuration of the test's own, and
// drives it with the Debian net-snmp command-line tools on a loopback port of its own.
// Failures to set up throw std::runtime_error. Used from the test's main thread. A sanitizer
// finding of the agent fails the test.

#include <array>
#include <regex>
#include <set>

#include "harness/Harness.h"

namespace wendix_test {

using namespace halvorn_test;

// The agent's listening port in the tests: not 161, and not the sandbox's 1161.
constexpr int kAgentPort = 16161;

// "1.3.6.1.4.1.E" with a leading dot, as the tools print OIDs with -On.
inline std::string enterprise() { return ".1.3.6.1.4.1." + std::to_string(WENDIX_ENTERPRISE); }

using testkit::runTool;
using testkit::ToolResult;

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
    explicit Agent(std::string root, std::vector<std::string> extraEnv = {})
        : root_(std::move(root)), extraEnv_(std::move(extraEnv)) {
        writeWholeFile(root_ + "/etc/snmp/Wendix.conf",
                       "rocommunity public 127.0.0.1\n"
                       "rwcommunity private 127.0.0.1\n"
                       "dontLogTCPWrappersConnects yes\n");
        writeWholeFile(root_ + "/etc/snmp/snmp.conf", "mibs :\n");
        std::filesystem::create_directories(root_ + "/var/lib/snmp");
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
        std::vector<std::string> env = testkit::inheritedEnvironment({"PONMC_ROOT=", "SNMPCONFPATH="});
        for (auto& e : environment()) env.push_back(e);
        args.insert(args.begin(), WENDIX_BINARY);
        process_.start(args, env);
        if (waitReady && !waitUntil([&] { return !running() || answers(); }, 30s, 100ms))
            throw std::runtime_error("Wendix does not answer; log:\n" + log());
        if (waitReady && !running()) throw std::runtime_error("Wendix ended; log:\n" + log());
    }

    // Sends sig and waits for the end (SIGKILL after 20 s); the exit status, or -1 when it
    // ended by a signal.
    int stop(int sig = SIGTERM) {
        process_.stop(sig, 20s);
        return exitStatus();
    }

    bool running() { return process_.running(); }
    pid_t pid() const { return process_.pid(); }
    int exitStatus() const {
        const int status = process_.waitStatus();
        return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string log() const { return process_.log(); }
    size_t logCount(const std::string& text) const { return process_.logCount(text); }

    // ----- the net-snmp tools -----
    // Waits timeoutSec for each answer and sends retries more requests before giving up.
    ToolResult tool(const std::string& name, const std::string& community, const std::vector<std::string>& args,
                    int port = kAgentPort, int timeoutSec = 5, int retries = 1) const {
        std::vector<std::string> argv = {name,
                                         "-v2c",
                                         "-c",
                                         community,
                                         "-On",
                                         "-t",
                                         std::to_string(timeoutSec),
                                         "-r",
                                         std::to_string(retries),
                                         "-m",
                                         "",
                                         "127.0.0.1:" + std::to_string(port)};
        argv.insert(argv.end(), args.begin(), args.end());
        return runTool(argv, root_,
                       {"SNMP_PERSISTENT_DIR=" + root_ + "/var/lib/snmp", "SNMPCONFPATH=" + root_ + "/etc/snmp"});
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
    ToolResult set(const std::vector<std::array<std::string, 3>>& varbinds,
                   const std::string& community = "private") const {
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
    testkit::DaemonProcess process_{"Wendix", root_ + "/wendix.log"};
};

}  // namespace wendix_test
