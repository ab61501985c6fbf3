// The API client against a stand-in daemon that stops at each step of an exchange: every
// call ends within the client's exchange time-out with the reason, and lets go of the
// channel's lock, so the next client gets its turn; and the callers' own options (limits,
// texts, the hold on a silent daemon). No real daemon here.

#include <gtest/gtest.h>

#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <thread>

#include "../ipc/OstrelTestKit.h"
#include "ApiClient.h"
#include "Exception.h"

using namespace ostrel_test;

namespace {

const std::string kPong("0pong\0\0\0\0", 9);
const std::string kTransferTimeout = std::string("recvfrom()") + std::strerror(EAGAIN);

// What the stand-in daemon does before it goes quiet.
enum class StopAfter { nothing, pong, requestAcknowledged, firstResponseChunk };

// The daemon's side of one exchange up to the step, on its own thread.
void daemonUpTo(RawPeer& daemon, StopAfter step) {
    if (step == StopAfter::nothing) return;
    int client = 0;
    if (daemon.receive(5000, &client) != std::optional<std::string>("0ping")) return;
    daemon.sendTo(client, kPong);
    if (step == StopAfter::pong) return;
    auto chunk = daemon.receive(5000);
    if (!chunk) return;
    daemon.sendTo(client, "0" + std::to_string(chunk->size()));
    if (step == StopAfter::requestAcknowledged) return;
    daemon.sendTo(client, "0ping");
    if (daemon.receive(5000) != std::optional<std::string>(kPong)) return;
    daemon.sendTo(client, "1{\"data\":[");
}

bool lockIsFree(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) ::close(fd);
    return free;
}

}  // namespace

TEST(ApiClientTimeout, EveryStepOfADeadDaemonEndsWithinTheExchangeTimeout) {
    struct Case {
        const char* name;
        StopAfter step;
        std::string error;  // "%f" stands for the port file, "%p" for the daemon's port
    };
    const Case cases[] = {
        {"no pong", StopAfter::nothing, "Halvorn not reachable: Impossible to ping server lo0:%p"},
        {"request never acknowledged", StopAfter::pong, "Halvorn not reachable: " + kTransferTimeout},
        {"no response", StopAfter::requestAcknowledged, "No response from Halvorn on %f"},
        {"response cut after its first chunk", StopAfter::firstResponseChunk,
         "Response not received: " + kTransferTimeout},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string portFile = dir.file("web.ipc");
        RawPeer daemon;
        writeFile(portFile, std::to_string(daemon.port()));
        const int clientPort = freePort();
        ApiClient client(portFile, clientPort);
        // Without the exchange time-out each of these waits 10 s or more, or for ever.
        client.setPingLimits(2, 5000);
        client.setExchangeTimeoutMs(1000);
        std::thread stand(daemonUpTo, std::ref(daemon), c.step);
        std::string error;
        {
            Aside call(clientPort, [&] {
                try {
                    client.request("get", "/onutable", "");
                } catch (const Exception& e) {
                    error = e.getMessage();
                }
            });
            EXPECT_TRUE(call.finish()) << "the exchange went past its time-out";
        }
        stand.join();
        std::string expected = c.error;
        if (size_t at = expected.find("%f"); at != std::string::npos) expected.replace(at, 2, portFile);
        if (size_t at = expected.find("%p"); at != std::string::npos)
            expected.replace(at, 2, std::to_string(daemon.port()));
        EXPECT_EQ(error, expected);
        EXPECT_TRUE(lockIsFree(portFile));
    }
}

TEST(ApiClientTimeout, LockHeldByAnotherClientIsWaitedForOnlyUntilTheTimeout) {
    TempDir dir;
    const std::string portFile = dir.file("web.ipc");
    RawPeer daemon;
    writeFile(portFile, std::to_string(daemon.port()));
    int holder = ::open(portFile.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    ApiClient client(portFile, freePort());
    client.setExchangeTimeoutMs(300);
    auto result = std::async(std::launch::async, [&]() -> std::string {
        try {
            client.request("get", "/onutable", "");
            return "answered";
        } catch (const Exception& e) {
            return e.getMessage();
        }
    });
    const bool ended = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    ::close(holder);  // lets a client that did not give up go on, so the test never hangs
    EXPECT_TRUE(ended) << "the wait for the lock went past the time-out";
    EXPECT_EQ(result.get(), "Halvorn not reachable: channel busy for 300 ms (lock on " + portFile + ")");
}

TEST(ApiClientTimeout, DefaultTimeoutCoversEveryPhase) {
    ApiClient client("/nonexistent", 1);
    EXPECT_EQ(client.getExchangeTimeoutMs(), 5000 + 2 * 5000 + 60000 + 2 * ApiClient::kTransferTimeoutMs);
    client.setResponseTimeoutMs(1000);
    client.setPingLimits(1, 2000);
    client.setPortFileWaitSeconds(1);
    EXPECT_EQ(client.getExchangeTimeoutMs(), 1000 + 2000 + 1000 + 2 * ApiClient::kTransferTimeoutMs);
    client.setExchangeTimeoutMs(700);
    EXPECT_EQ(client.getExchangeTimeoutMs(), 700);
    client.setExchangeTimeoutMs(ApiClient::kNoExchangeTimeout);
    EXPECT_EQ(client.getExchangeTimeoutMs(), -1);

    ApiClient::Options o;
    o.portFileWaitMs = 0;
    o.pingAttempts = 1;
    o.pingTimeoutMs = 300;
    o.transferTimeoutMs = 100;
    o.responseTimeoutMs = 400;
    EXPECT_EQ(ApiClient("/nonexistent", 1, o).getExchangeTimeoutMs(), 0 + 300 + 400 + 2 * 100);
}

// Each caller's texts and limits, in the form the SNMP agent uses them: the port file tested
// once, no exchange time-out, the lock waited for on its own limit.
TEST(ApiClientOptions, EveryFailureSaysWhyInTheCallersOwnWords) {
    struct Case {
        const char* name;
        std::string expected;  // "%f" stands for the port file, "%p" for the daemon's port
        bool underAFile = false;
        bool noPortFile = false;
        bool lockHeld = false;
        int exchangeTimeoutMs = ApiClient::kNoExchangeTimeout;
    };
    const Case cases[] = {
        {"no port file", "no file %f", false, true},
        {"port file unreadable", "cannot open %f", true},
        {"lock held, own limit", "busy %f for 200 ms", false, false, true},
        {"lock held, exchange time-out first", "busy %f for 150 ms", false, false, true, 150},
        {"daemon silent", "Impossible to ping server lo0:%p, on %f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        RawPeer daemon;  // never answers
        std::string portFile = dir.file("snmp.ipc");
        if (c.underAFile) {
            writeFile(dir.file("plain"), "");
            portFile = dir.file("plain") + "/snmp.ipc";
        } else if (!c.noPortFile) {
            writeFile(portFile, std::to_string(daemon.port()));
        }
        int holder = c.lockHeld ? ::open(portFile.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (c.lockHeld) {
            ASSERT_EQ(::flock(holder, LOCK_EX), 0);
        }

        ApiClient::Options o;
        o.portFileWaitMs = 0;
        o.pingAttempts = 1;
        o.pingTimeoutMs = 200;
        o.lockWaitMs = 200;
        o.exchangeTimeoutMs = c.exchangeTimeoutMs;
        o.texts.noPortFile = "no file {file}";
        o.texts.portFileUnreadable = "cannot open {file}";
        o.texts.channelBusy = "busy {file} for {ms} ms";
        o.texts.notSent = "{why}, on {file}";
        const int clientPort = freePort();
        ApiClient client(portFile, clientPort, o);
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        {
            Aside call(clientPort, [&] {
                try {
                    client.request("get", "/slottable", "");
                } catch (const Exception& e) {
                    error = e.getMessage();
                }
            });
            EXPECT_TRUE(call.finish()) << "the exchange went past its limits";
        }
        // Each of these ends on a limit of a few hundred milliseconds (the port file is not
        // waited for): well within the defaults' seconds.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
        if (holder >= 0) ::close(holder);
        std::string expected = c.expected;
        if (size_t at = expected.find("%f"); at != std::string::npos) expected.replace(at, 2, portFile);
        if (size_t at = expected.find("%p"); at != std::string::npos)
            expected.replace(at, 2, std::to_string(daemon.port()));
        EXPECT_EQ(error, expected);
    }
}

// After a daemon that took no request, the client does not ask again (and pays the ping
// again) until the hold is over or the port file is rewritten by a restarted daemon.
TEST(ApiClientOptions, ASilentDaemonIsHeldUnreachableUntilTheHoldEndsOrItsPortFileChanges) {
    struct Case {
        const char* name;
        int holdMs;
        bool rewrite;  // else: the hold runs out
    };
    const Case cases[] = {{"port file rewritten", 60000, true}, {"hold over", 300, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string portFile = dir.file("snmp.ipc");
        RawPeer daemon;  // never answers
        writeFile(portFile, std::to_string(daemon.port()));
        ApiClient::Options o;
        o.pingAttempts = 1;
        o.pingTimeoutMs = 200;
        o.unreachableHoldMs = c.holdMs;
        ApiClient client(portFile, freePort(), o);
        auto attempt = [&] {
            try {
                client.request("get", "/slottable", "");
                return std::string("answered");
            } catch (const Exception& e) {
                return e.getMessage();
            }
        };
        const std::string noPing =
            "Halvorn not reachable: Impossible to ping server lo0:" + std::to_string(daemon.port());
        EXPECT_EQ(attempt(), noPing);
        EXPECT_TRUE(daemon.receive(1000));
        EXPECT_EQ(attempt(), "Halvorn did not answer on " + portFile);
        EXPECT_FALSE(daemon.receive(100)) << "a held daemon was asked";
        if (c.rewrite) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a time stamp of its own
            writeFile(portFile, std::to_string(daemon.port()));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
        }
        EXPECT_EQ(attempt(), noPing);
        EXPECT_TRUE(daemon.receive(1000));
    }
}
