// The agent as a process: its command line, its listening addresses, its end on SIGTERM,
// Halvorn absent, late and dying, and input that is no SNMP request it should answer.

#include <gtest/gtest.h>

#include <dirent.h>

#include "JsonFields.h"
#include "WendixHarness.h"

using namespace wendix_test;

namespace {

const std::string kSlotStatus = ".3.1.9.1.1.2";

// A temporary root of its own, for runs that need no Halvorn.
class TempRoot {
public:
    TempRoot() {
        char tmpl[] = "/tmp/wendix-test-XXXXXX";
        if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        path = tmpl;
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

Harness::Options halvornNotStarted() {
    Harness::Options o;
    o.startDaemon = false;
    return o;
}

// Pids of running Wendix processes whose command line holds arg.
std::vector<pid_t> wendixProcessesWith(const std::string& arg) {
    std::vector<pid_t> pids;
    DIR* proc = ::opendir("/proc");
    if (!proc) return pids;
    while (dirent* d = ::readdir(proc)) {
        const pid_t pid = std::atoi(d->d_name);
        if (pid <= 0) continue;
        std::string cmd = readWholeFile("/proc/" + std::to_string(pid) + "/cmdline");
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        if (cmd.rfind(WENDIX_BINARY, 0) == 0 && cmd.find(arg) != std::string::npos) pids.push_back(pid);
    }
    ::closedir(proc);
    return pids;
}

void sendDatagram(const std::string& bytes, int port = kAgentPort) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::close(fd);
}

TEST(WendixCommandLine, HelpListsTheDirectivesAndExitsWithoutServing) {
    TempRoot root;
    Agent agent(root.path);
    agent.start({"-H"}, false);
    ASSERT_TRUE(waitUntil([&] { return !agent.running(); }, 20s));
    EXPECT_EQ(agent.exitStatus(), 0);
    const std::string log = agent.log();
    EXPECT_NE(log.find("Configuration directives understood:\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  rocommunity"), std::string::npos) << log;
    EXPECT_EQ(log.find("Cache Error"), std::string::npos) << log;
}

TEST(WendixCommandLine, AnUnknownOptionPrintsTheUsageAndExits) {
    TempRoot root;
    Agent agent(root.path);
    agent.start({"-x"}, false);
    ASSERT_TRUE(waitUntil([&] { return !agent.running(); }, 20s));
    EXPECT_EQ(agent.exitStatus(), 0);
    const std::string log = agent.log();
    EXPECT_NE(log.find("unknown option x\n"), std::string::npos) << log;
    EXPECT_NE(log.find("usage: Wendix[-D<tokens>] [-f] [-L] [-H] [LISTENING ADDRESSES]\n\t-f      Do not fork()"),
              std::string::npos)
        << log;
}

TEST(WendixCommandLine, ACacheTimeOutThatIsNoCountOfSecondsPrintsTheUsageAndExits) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"-C", "0"}, "invalid cache time-out 0\n"},
        {{"-C", "1x"}, "invalid cache time-out 1x\n"},
        {{"-C", "86401"}, "invalid cache time-out 86401\n"},
        {{"-C"}, "unknown option C\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TempRoot root;
        Agent agent(root.path);
        agent.start(c.args, false);
        ASSERT_TRUE(waitUntil([&] { return !agent.running(); }, 20s));
        EXPECT_EQ(agent.exitStatus(), 0);
        const std::string log = agent.log();
        EXPECT_NE(log.find(c.line + "usage: Wendix[-D<tokens>]"), std::string::npos) << log;
        EXPECT_EQ(log.find("Cache Error"), std::string::npos) << log;
    }
}

TEST(WendixProcess, ListensOnEveryAddressGivenAndEndsWithStatusZeroOnSigterm) {
    Harness h;
    Agent agent(h.root());
    agent.start({"-f", "-L", "udp:127.0.0.1:" + std::to_string(kAgentPort), "udp:127.0.0.1:16162"});
    EXPECT_TRUE(agent.answers(16162));
    EXPECT_EQ(agent.walk(enterprise() + kSlotStatus).size(), 8u);

    // A second agent cannot listen there: it says so and ends with a failure status.
    TempRoot other;
    Agent second(other.path);
    second.start({"-f", "udp:127.0.0.1:16162"}, false);
    ASSERT_TRUE(waitUntil([&] { return !second.running(); }, 20s));
    EXPECT_EQ(second.exitStatus(), 1);
    EXPECT_NE(second.log().find("Fatal Error - main["), std::string::npos) << second.log();

    EXPECT_EQ(agent.stop(SIGTERM), 0);
}

TEST(WendixProcess, WithoutDashFItDetachesAndServes) {
    Harness h;
    Agent launcher(h.root());
    const std::string address = "udp:127.0.0.1:" + std::to_string(kAgentPort);
    launcher.start({address}, false);
    ASSERT_TRUE(waitUntil([&] { return !launcher.running(); }, 20s));
    EXPECT_EQ(launcher.exitStatus(), 0);
    std::vector<pid_t> daemons;
    ASSERT_TRUE(waitUntil([&] { return (daemons = wendixProcessesWith(address)).size() == 1; }, 20s));
    EXPECT_TRUE(waitUntil([&] { return launcher.answers(); }, 20s));
    EXPECT_EQ(launcher.walk(enterprise() + kSlotStatus).size(), 8u);
    ::kill(daemons[0], SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return wendixProcessesWith(address).empty(); }, 20s));
    // Nothing of this test may stay behind on the port.
    for (pid_t pid : wendixProcessesWith(address)) ::kill(pid, SIGKILL);
}

TEST(WendixProcess, StartsWithoutHalvornAnswersEmptyTablesAndRecoversWhenItComes) {
    Harness h(halvornNotStarted());
    Agent agent(h.root());
    agent.start();
    // Each table's first load failed and said so.
    EXPECT_EQ(agent.logCount("_load["), 5u) << agent.log();
    EXPECT_EQ(agent.logCount("Cache Error: Timeout watting ipc: " + h.path("/tmp/snmp.ipc")), 5u) << agent.log();
    EXPECT_TRUE(agent.walk(enterprise()).empty());

    h.start();
    // A table whose load failed is loaded again by the next request.
    EXPECT_EQ(agent.walk(enterprise() + kSlotStatus).size(), 8u);
    EXPECT_TRUE(agent.running());
}

TEST(WendixProcess, AHalvornThatDiesCostsSecondsAndIsFoundAgainWhenItRestarts) {
    Harness h;
    Agent agent(h.root());
    agent.start({"-f", "-C", "1", "udp:127.0.0.1:" + std::to_string(kAgentPort)});
    ASSERT_EQ(agent.walk(enterprise() + kSlotStatus).size(), 8u);

    h.kill();                             // its port file stays behind: every exchange runs into the ping time-out
    std::this_thread::sleep_for(1200ms);  // the cached copies expire
    // Answered within the tool's own time-outs (5 s, one retry): empty tables, not a hang.
    EXPECT_TRUE(agent.walk(enterprise()).empty());
    EXPECT_TRUE(agent.walk(enterprise(), true).empty());
    EXPECT_GT(agent.logCount("Cache Error: Impossible to ping server lo0:2020"), 0u) << agent.log();

    h.start();
    EXPECT_EQ(agent.walk(enterprise() + kSlotStatus).size(), 8u);
}

TEST(WendixProcess, MalformedPacketsAndUnknownCommunitiesGetNoAnswerAndChangeNothing) {
    Harness h;
    Agent agent(h.root());
    agent.start();
    const std::string garbage[] = {
        "",
        std::string("\x30", 1),                                     // a sequence cut after its tag
        std::string("\x30\x84\xff\xff\xff\xff\x02\x01\x01", 9),     // a length far past the datagram
        std::string("\x30\x0b\x02\x01\x01\x04\x06public\xa0", 14),  // a PDU tag with nothing after it
        std::string(1400, '\xff'),
        "0ping",
    };
    for (const auto& g : garbage) sendDatagram(g);

    ToolResult wrong = agent.tool("snmpget", "secret", {enterprise() + kSlotStatus + ".1"}, kAgentPort, 1, 0);
    EXPECT_NE(wrong.status, 0);
    EXPECT_NE(wrong.err.find("Timeout"), std::string::npos) << wrong.err << wrong.out;

    EXPECT_TRUE(agent.running());
    EXPECT_EQ(agent.get(enterprise() + kSlotStatus + ".1"),
              (Varbind{enterprise() + kSlotStatus + ".1", "INTEGER", "2"}));
    EXPECT_EQ(field(h.get("/slottable/1").data, "qvSlotSet"), "0");
}

}  // namespace
