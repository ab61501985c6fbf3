#pragma once
// Small stand-ins for the Ostrel tests: a temporary folder, a free loopback port and a raw
// UDP peer that sees and sends datagrams byte for byte, without the library.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace ostrel_test {

inline sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A folder made with mkdtemp, removed with its content.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/ostrel-test-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A loopback port nobody holds right now (the kernel's pick), so tests never use the
// system's fixed channel ports and parallel test processes do not collide.
inline int freePort() {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof(a);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

// A plain UDP socket on 127.0.0.1 that plays the other end of a channel by hand.
class RawPeer {
public:
    explicit RawPeer(int port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = loopback(port);
        socklen_t len = sizeof(a);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            throw std::runtime_error("raw peer bind failed");
        }
        port_ = ntohs(a.sin_port);
    }
    ~RawPeer() { ::close(fd_); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    int port() const { return port_; }

    // One datagram, or nothing when none arrives within timeoutMs.
    std::optional<std::string> receive(int timeoutMs = 5000, int* fromPort = nullptr) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return std::nullopt;
        std::string buf(70000, '\0');
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return std::nullopt;
        if (fromPort) *fromPort = ntohs(from.sin_port);
        buf.resize(static_cast<size_t>(n));
        return buf;
    }

    void sendTo(int port, const std::string& bytes) {
        sockaddr_in a = loopback(port);
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Runs one blocking library call on its own thread. Joining never hangs a failed test: while
// the call is still blocked, the guard nudges the endpoint with a one-byte "0" datagram,
// which ends any wait of the library (a bad ping, a last chunk or a wrong acknowledgement).
class Aside {
public:
    Aside(int endpointPort, std::function<void()> call)
        : port_(endpointPort), done_(std::async(std::launch::async, std::move(call))) {}
    ~Aside() { finish(); }

    // Waits for the call; true when it ended without a nudge.
    bool finish() {
        if (!done_.valid()) return clean_;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (done_.wait_for(std::chrono::milliseconds(clean_ ? 5000 : 100)) != std::future_status::ready) {
            clean_ = false;
            if (std::chrono::steady_clock::now() > deadline) std::abort();
            nudger_.sendTo(port_, "0");
        }
        done_.get();
        return clean_;
    }

private:
    int port_;
    std::future<void> done_;
    RawPeer nudger_;
    bool clean_ = true;
};

}  // namespace ostrel_test
