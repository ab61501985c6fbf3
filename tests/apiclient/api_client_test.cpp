// The API client against a stand-in daemon that stops at each step of an exchange: every
// call ends within the client's exchange time-out with the reason, and lets go of the
// channel's lock, so the next client gets its turn. No real daemon here.

#include <gtest/gtest.h>

#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <future>

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
        {"response cut after its first chunk", StopAfter::firstResponseChunk, "Response not received: " + kTransferTimeout},
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
}
