// Prints the round-trip time of one small request/response exchange over Ostrel (client send
// + server recv + server send + client recv) next to a plain UDP echo on the same loopback,
// both measured in the same run in alternating short blocks.
//   bench_ostrel [exchanges per kind, default 20000]
// Ostrel's exchange costs four handshake/acknowledgement datagrams per message on top of the
// data, eight one-way trips against the echo's two, so about 4x is the floor; the goal is 5x.
// On a shared or virtual machine the figures move with where the scheduler puts the threads,
// so the run is repeated with the threads left free, all on one CPU, and split over two CPUs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Ostrel"
#include "Paths.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRequest = "{\"action\":\"get\",\"uri\":\"/onutable/3\"}";
const std::string kResponse = "{\"data\":{\"qvCfgONUEnabled\":\"0\"},\"err\":\"\"}";
const std::string kQuit = "quit";
constexpr int kBlock = 100;

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A plain UDP socket on 127.0.0.1 at a port the kernel picks.
int boundSocket(int* port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof(a);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::perror("bench socket");
        std::exit(1);
    }
    *port = ntohs(a.sin_port);
    return fd;
}

int freePort() {
    int port = 0;
    ::close(boundSocket(&port));
    return port;
}

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Figures {
    double median, p99;
};

Figures summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

}  // namespace

// Puts the calling thread on one CPU (no-op when cpu < 0).
void pinTo(int cpu) {
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ::pthread_setaffinity_np(::pthread_self(), sizeof(set), &set);
}

struct Placement {
    const char* name;
    int clientCpu;  // -1: left to the scheduler
    int serverCpu;
};

// One measurement of both kinds with the given thread placement. Both servers and the
// client are placed the same way for both kinds, so the ratio compares like with like:
// left to the scheduler, the echo pair and the Ostrel pair can land on different CPU
// arrangements, and a cross-CPU wake-up costs more than the library itself.
int measure(const Placement& place, int exchanges) {
    std::string dir = Paths::resolve("/tmp") + "/ostrel-bench-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string portFile = dir + "/bench.ipc";

    // Ostrel server: answers each request with one response until told to stop.
    Ostrel server(freePort());
    if (!server.createSocket() || !server.bind(portFile.c_str())) {
        std::printf("server: %s\n", server.getErrorMessage());
        return 1;
    }
    std::thread ostrelServer([&] {
        pinTo(place.serverCpu);
        for (;;) {
            std::string request;
            if (server.recv(request) < 0) continue;
            if (request == kQuit) break;
            server.send(kResponse);
        }
    });

    // Plain echo server.
    int echoPort = 0;
    int echoFd = boundSocket(&echoPort);
    std::thread echoServer([&] {
        pinTo(place.serverCpu);
        char buf[2048];
        for (;;) {
            sockaddr_in from{};
            socklen_t len = sizeof(from);
            ssize_t n = ::recvfrom(echoFd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) continue;
            if (std::string(buf, static_cast<size_t>(n)) == kQuit) break;
            ::sendto(echoFd, kResponse.data(), kResponse.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    });
    pinTo(place.clientCpu);
    Ostrel client(freePort());
    if (!client.createSocket() || !client.connect(portFile.c_str())) {
        std::printf("client: %s\n", client.getErrorMessage());
        return 1;
    }
    int plainPort = 0;
    int plainFd = boundSocket(&plainPort);
    const sockaddr_in echoAddr = loopback(echoPort);

    std::vector<double> ostrelTimes, echoTimes;
    ostrelTimes.reserve(static_cast<size_t>(exchanges));
    echoTimes.reserve(static_cast<size_t>(exchanges));
    int failures = 0;

    auto ostrelExchange = [&]() -> bool {
        std::string response;
        return client.send(kRequest) == static_cast<int64_t>(kRequest.size()) &&
               client.recv(response) == static_cast<int64_t>(kResponse.size());
    };
    auto echoExchange = [&]() -> bool {
        char buf[2048];
        ::sendto(plainFd, kRequest.data(), kRequest.size(), 0, reinterpret_cast<const sockaddr*>(&echoAddr),
                 sizeof(echoAddr));
        return ::recvfrom(plainFd, buf, sizeof(buf), 0, nullptr, nullptr) == static_cast<ssize_t>(kResponse.size());
    };

    for (int i = 0; i < 1000; ++i) {  // warm-up, not counted
        ostrelExchange();
        echoExchange();
    }
    // Short blocks of each kind in turn: each block runs warm, back to back like a busy
    // channel, and a burst of load from elsewhere hits both kinds alike.
    for (int done = 0; done < exchanges; done += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            auto t0 = Clock::now();
            failures += !echoExchange();
            echoTimes.push_back(micros(Clock::now() - t0));
        }
        for (int i = 0; i < kBlock; ++i) {
            auto t0 = Clock::now();
            failures += !ostrelExchange();
            ostrelTimes.push_back(micros(Clock::now() - t0));
        }
    }

    client.send(kQuit);
    ::sendto(plainFd, kQuit.data(), kQuit.size(), 0, reinterpret_cast<const sockaddr*>(&echoAddr), sizeof(echoAddr));
    ostrelServer.join();
    echoServer.join();
    client.close();
    server.close();
    ::close(plainFd);
    ::close(echoFd);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    const Figures o = summarise(ostrelTimes);
    const Figures e = summarise(echoTimes);
    std::printf("%s: exchanges per kind %d, failures %d\n", place.name, exchanges, failures);
    std::printf("%-22s %10s %10s\n", "round trip (us)", "median", "p99");
    std::printf("%-22s %10.1f %10.1f\n", "plain UDP echo", e.median, e.p99);
    std::printf("%-22s %10.1f %10.1f\n", "Ostrel exchange", o.median, o.p99);
    std::printf("%-22s %10.2f %10.2f   (goal: median ratio <= 5)\n", "ratio Ostrel/echo", o.median / e.median,
                o.p99 / e.p99);
    return failures == 0 ? 0 : 2;
}

int main(int argc, char** argv) {
    int exchanges = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (exchanges < 1000) exchanges = 1000;
    exchanges -= exchanges % kBlock;
    std::printf("request %zu bytes, response %zu bytes\n", kRequest.size(), kResponse.size());
    const Placement placements[] = {
        {"threads left to the scheduler", -1, -1},
        {"client and servers on CPU 0", 0, 0},
        {"client on CPU 0, servers on CPU 1", 0, 1},
    };
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    int status = 0;
    for (const auto& place : placements) {
        if (place.serverCpu >= cpus || place.clientCpu >= cpus) continue;
        // Each measurement runs in its own thread so that pinning never outlives it.
        std::thread run([&] { status |= measure(place, exchanges); });
        run.join();
    }
    return status;
}
