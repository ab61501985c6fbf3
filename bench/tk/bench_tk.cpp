// One slot's request/response exchange against olt-sim on loopback, next to a plain UDP
// echo round trip of the same datagram sizes measured in the same run.
//   bench_tk [exchanges] [olt-sim path]
// Binds 127.0.1.1:14113 (the card's address), so it must not run beside the transport tests.
// Prints: exchanges per second, median and p99 of one exchange; the same for the request sent
// to olt-sim from a plain socket and for a plain in-process echo; and the ratio of the
// exchange's median to the echo's (the goal is an exchange within twice the echo round trip).

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Exception.h"
#include "RequestMessage.h"
#include "ResponseMessage.h"
#include "SocketHelper.h"
#include "UDPSocket.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Sizes of a Get OLT NVS Enabled exchange: a 6-byte request, an 8 + 2 byte reply.
constexpr size_t kRequestBytes = 6;
constexpr size_t kReplyBytes = 10;

struct Figures {
    double perSecond;
    double medianUs;
    double p99Us;
};

Figures summarise(std::vector<double> us, double totalSeconds) {
    std::sort(us.begin(), us.end());
    return {static_cast<double>(us.size()) / totalSeconds, us[us.size() / 2], us[(us.size() * 99) / 100]};
}

// Runs once() 200 times to warm up, then count timed times: the one loop behind every figure.
template <typename Once>
Figures timed(int count, Once&& once) {
    for (int i = 0; i < 200; ++i) once();
    std::vector<double> us;
    us.reserve(static_cast<size_t>(count));
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        once();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return summarise(std::move(us), seconds);
}

std::string simulatorPath(int argc, char** argv) {
    if (argc > 2) return argv[2];
    if (const char* p = std::getenv("PONMC_OLT_SIM")) return p;
#ifdef OLT_SIM_PATH
    return OLT_SIM_PATH;
#else
    return "olt-sim";
#endif
}

pid_t startSimulator(const std::string& path) {
    int out[2];
    if (::pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {path, "--olts", "1", "--no-stdin"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return -1;
    }
    // Wait (bounded) for "ok ready".
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
        char buffer[256];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (line.rfind("ok ready", 0) != 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

void stopSimulator(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

Figures benchExchange(int count) {
    SocketHelper helper;
    helper.setReopenDelayForTest(std::chrono::milliseconds(10));
    helper.start(SocketHelper::kAnyInterface);
    helper.setSourceIP("127.0.1.1");
    for (int i = 0; i < 500 && !helper.hasDone(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    UDPSocket slot;
    slot.start(helper, "1");
    slot.setClientIpAddress("127.0.2.1");
    RequestMessage request;
    ResponseMessage response;
    auto once = [&] {
        request.clear();
        response.clear();
        request.addGetOLTNVSEnabled();
        slot.sendRequestMessage(&request, &response);
    };
    return timed(count, once);
}

// The same request straight from a plain socket at the card's address: the simulator's own
// share of an exchange, without the receive thread and the wake-up of the waiting slot.
Figures benchSimDirect(int count) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in card{};
    card.sin_family = AF_INET;
    card.sin_port = htons(SocketHelper::kPort);
    ::inet_pton(AF_INET, "127.0.1.1", &card.sin_addr);
    sockaddr_in olt = card;
    ::inet_pton(AF_INET, "127.0.2.1", &olt.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&card), sizeof card) != 0) {
        ::close(fd);
        return {0, 0, 0};
    }
    uint8_t request[kRequestBytes] = {0x01, 0x2d, 0, 0, 0, 0};
    uint8_t buffer[1518];
    uint16_t ctag = 0;
    auto once = [&] {
        ++ctag;
        request[2] = static_cast<uint8_t>(ctag >> 8);
        request[3] = static_cast<uint8_t>(ctag);
        ::sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&olt), sizeof olt);
        ::recv(fd, buffer, sizeof buffer, 0);
    };
    const Figures figures = timed(count, once);
    ::close(fd);
    return figures;
}

// A plain echo: one thread answers each datagram with a reply of the exchange's reply size.
Figures benchEcho(int count) {
    auto bound = [] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        return fd;
    };
    const int server = bound();
    const int client = bound();
    sockaddr_in serverAddress{};
    socklen_t length = sizeof serverAddress;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&serverAddress), &length);
    timeval poll{0, 200000};
    ::setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof poll);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        uint8_t buffer[1518];
        uint8_t reply[kReplyBytes] = {};
        while (!stop.load()) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            if (::recvfrom(server, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength) <= 0)
                continue;
            ::sendto(server, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    });
    uint8_t request[kRequestBytes] = {};
    uint8_t buffer[1518];
    auto once = [&] {
        ::sendto(client, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&serverAddress), sizeof serverAddress);
        ::recv(client, buffer, sizeof buffer, 0);
    };
    const Figures figures = timed(count, once);
    stop.store(true);
    echo.join();
    ::close(server);
    ::close(client);
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
    const std::string sim = simulatorPath(argc, argv);
    const pid_t pid = startSimulator(sim);
    if (pid < 0) {
        std::fprintf(stderr, "bench_tk: cannot start %s\n", sim.c_str());
        return 1;
    }
    Figures exchange{};
    try {
        exchange = benchExchange(count);
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench_tk: %s\n", e.what());
        stopSimulator(pid);
        return 1;
    }
    const Figures direct = benchSimDirect(count);
    stopSimulator(pid);
    const Figures echo = benchEcho(count);
    std::printf("exchanges: %d (Get NVS Enabled, one slot, olt-sim on loopback)\n", count);
    std::printf("exchange  rate %9.0f /s  median %7.1f us  p99 %7.1f us\n", exchange.perSecond, exchange.medianUs,
                exchange.p99Us);
    std::printf("sim alone rate %9.0f /s  median %7.1f us  p99 %7.1f us  (plain socket to olt-sim)\n", direct.perSecond,
                direct.medianUs, direct.p99Us);
    std::printf("udp echo  rate %9.0f /s  median %7.1f us  p99 %7.1f us\n", echo.perSecond, echo.medianUs, echo.p99Us);
    std::printf("exchange / echo median: %.2f (goal: at most 2.00)\n", exchange.medianUs / echo.medianUs);
    if (direct.medianUs > 0) {
        std::printf("exchange / sim alone median: %.2f (what the receive thread and the hand-over add)\n",
                    exchange.medianUs / direct.medianUs);
    }
    return 0;
}
