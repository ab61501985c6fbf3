// ponmc-cli against the running daemon: output, exit statuses, and several clients at once.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "harness/Harness.h"

using namespace halvorn_test;

namespace {

struct CliRun {
    pid_t pid = -1;
    std::string outFile;
    std::string errFile;
};

struct CliResult {
    int status = -1;  // exit status
    std::string out;
    std::string err;
};

CliRun startCli(Harness& h, const std::vector<std::string>& args, int n) {
    CliRun run;
    run.outFile = h.path("/cli" + std::to_string(n) + ".out");
    run.errFile = h.path("/cli" + std::to_string(n) + ".err");
    std::vector<std::string> argv = {PONMC_CLI_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env = {"PONMC_ROOT=" + h.root(), "PATH=/usr/bin:/bin"};
    std::vector<char*> cenv;
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, run.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, run.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = ::posix_spawn(&run.pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    return run;
}

CliResult finish(const CliRun& run) {
    CliResult r;
    int status = 0;
    ::waitpid(run.pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readWholeFile(run.outFile);
    r.err = readWholeFile(run.errFile);
    return r;
}

CliResult cli(Harness& h, const std::vector<std::string>& args) { return finish(startCli(h, args, 0)); }

}  // namespace

TEST(Cli, PrintsDataOrErrorWithExitStatus) {
    Harness h;
    const std::string slot2 = h.get("/slottable/2").data;
    ASSERT_FALSE(slot2.empty());
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"get", {"get", "/slottable/2"}, 0, slot2 + "\n", ""},
        {"get on snmp", {"--snmp", "get", "/slottable/2"}, 0, slot2 + "\n", ""},
        {"set", {"set", "/systeminfo", R"({"timezone":"1"})"}, 0, "", ""},
        {"refused set",
         {"set", "/systeminfo", R"({"mgntIpAddr":"1.2.3.256"})"},
         1,
         "",
         "Invalid IPv4(1.2.3.256) for 'mgntIpAddr'\n"},
        {"unknown row", {"get", "/onutable/9"}, 1, "", "id(9) not found on table /onutable\n"},
        {"data not JSON", {"set", "/onutable/1", "{"}, 64, "", "Invalid JSON data: {\n"},
        {"usage", {"frob", "/onutable"}, 64, "", ""},
        {"set without data", {"set", "/onutable/1"}, 64, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CliResult r = cli(h, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
    }
    EXPECT_EQ(h.get("/systeminfo").data.find("\"timezone\":\"1\"") != std::string::npos, true);
}

TEST(Cli, UnreachableDaemonFailsWithStatus2) {
    Harness h;
    h.kill();  // the port files stay behind, as after a crash
    CliResult stale = cli(h, {"get", "/onutable"});
    EXPECT_EQ(stale.status, 2);
    EXPECT_EQ(stale.err.rfind("Halvorn not reachable: ", 0), 0u) << stale.err;

    h.remove("/tmp/web.ipc");
    CliResult none = cli(h, {"get", "/onutable"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "Halvorn not reachable: no port file " + h.path("/tmp/web.ipc") + "\n");
}

TEST(Cli, TimeoutBoundsTheWaitForABusyChannel) {
    Harness h;
    // Another client holds the channel and never lets go.
    int holder = ::open(h.path("/tmp/web.ipc").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    CliRun run = startCli(h, {"--timeout", "1", "get", "/slottable/1"}, 0);
    int status = 0;
    const bool ended = waitUntil([&] { return ::waitpid(run.pid, &status, WNOHANG) == run.pid; }, 15s);
    if (!ended) {
        ::kill(run.pid, SIGKILL);
        ::waitpid(run.pid, &status, 0);
    }
    ::close(holder);
    ASSERT_TRUE(ended) << "the client waited for the channel past its time-out";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(readWholeFile(run.errFile),
              "Halvorn not reachable: channel busy for 1000 ms (lock on " + h.path("/tmp/web.ipc") + ")\n");
    // Once the channel is free the next client is served.
    EXPECT_EQ(cli(h, {"--timeout", "1", "get", "/slottable/1"}).status, 0);
}

TEST(Cli, ParallelClientsNeverMixTheirExchanges) {
    Harness h;
    const std::string slot = h.get("/slottable/1").data;
    const std::string olt = h.get("/olttable/3").data;
    ASSERT_NE(slot, olt);
    // In-process requests on the same channel at the same time, through the same lock.
    std::atomic<int> inProcessBad{0};
    std::thread inProcess([&] {
        for (int i = 0; i < 10; ++i)
            if (h.get("/slottable/1").data != slot) ++inProcessBad;
    });
    for (int round = 0; round < 3; ++round) {
        std::vector<CliRun> runs;
        for (int i = 0; i < 8; ++i) runs.push_back(startCli(h, {"get", i % 2 ? "/olttable/3" : "/slottable/1"}, i));
        for (int i = 0; i < 8; ++i) {
            SCOPED_TRACE("round " + std::to_string(round) + " client " + std::to_string(i));
            CliResult r = finish(runs[i]);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, (i % 2 ? olt : slot) + "\n");
        }
    }
    inProcess.join();
    EXPECT_EQ(inProcessBad.load(), 0);
}
