#include "SocketHelper.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>

#include "Exception.h"
#include "TKMessage.h"
#include "UDPSocket.h"

namespace {

// How often a blocked receive looks up to see whether its helper is being destroyed.
constexpr int kReceivePollMs = 200;

std::mutex gInstancesMutex;
// Deliberately never destroyed: slot threads may still send while the process exits, and
// the kernel closes the socket at exit anyway.
std::map<std::string, SocketHelper*>* gInstances = new std::map<std::string, SocketHelper*>();

}  // namespace

SocketHelper* SocketHelper::getInstance(const std::string& interface) {
    std::lock_guard<std::mutex> lock(gInstancesMutex);
    auto it = gInstances->find(interface);
    if (it != gInstances->end()) return it->second;
    SocketHelper* helper = nullptr;
    try {
        helper = new SocketHelper();
        helper->start(interface);
    } catch (...) {
        delete helper;
        throw Exception("Impossible to allocate SocketHelper to iface: " + interface, "getInstance", __LINE__);
    }
    (*gInstances)[interface] = helper;
    return helper;
}

SocketHelper::SocketHelper() = default;

SocketHelper::~SocketHelper() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stop_.store(true);
    }
    stopSignal_.notify_all();
    if (receiver_.joinable()) receiver_.join();
    closeSocket();
}

void SocketHelper::start(const std::string& interface) {
    if (receiver_.joinable()) return;
    interface_ = interface;
    receiver_ = std::thread(&SocketHelper::processRxQueue, this);
}

void SocketHelper::setSourceIP(const std::string& ip) {
    std::lock_guard<std::mutex> lock(sourceMutex_);
    if (sourceIP_.empty()) sourceIP_ = ip;
}

std::string SocketHelper::getSourceIP() const {
    std::lock_guard<std::mutex> lock(sourceMutex_);
    return sourceIP_;
}

void SocketHelper::registerUDPSocket(UDPSocket* socket) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    sockets_.push_back(socket);
}

void SocketHelper::unregisterUDPSocket(UDPSocket* socket) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    sockets_.erase(std::remove(sockets_.begin(), sockets_.end(), socket), sockets_.end());
}

void SocketHelper::send(const TKMessage& message, const sockaddr_in& address) {
    // Held across sendto so the receive thread cannot close the descriptor (and the number
    // be reused by another file) while a slot is sending on it.
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_ < 0) return;
    (void)::sendto(fd_, message.getMessage(), message.getSize(), MSG_CONFIRM,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

bool SocketHelper::isOpenForTest() const {
    std::lock_guard<std::mutex> lock(fdMutex_);
    return fd_ >= 0;
}

bool SocketHelper::pauseUnlessStopped(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopSignal_.wait_for(lock, pause, [this] { return stop_.load(); });
}

void SocketHelper::bind() {
    // Close-on-exec: the slots run ping through the shell, which must not inherit the port.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        std::perror("socket failed");
        throw Exception("Failed to create UDP socket", "bind", __LINE__);
    }
    if (interface_ != kAnyInterface) {
        if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface_.c_str(),
                         static_cast<socklen_t>(interface_.size() + 1)) < 0) {
            std::perror("setsockopt failed");
            ::close(fd);
            throw Exception("Set socket failed", "bind", __LINE__);
        }
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    const std::string source = getSourceIP();
    const int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) {
        std::perror("reuse()");
        ::close(fd);
        throw Exception("Failed to reuse socket", "bind", __LINE__);
    }
    // Not in the socket's own protocol, but without it a blocked receive would never notice
    // that a test's helper is being destroyed; a timed-out receive is simply repeated.
    timeval poll{0, kReceivePollMs * 1000};
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof poll);
    if (::inet_pton(AF_INET, source.c_str(), &local.sin_addr) != 1) {
        errno = EINVAL;
        std::perror("bind failed");
        ::close(fd);
        throw Exception("Failed to bind socket", "bind", __LINE__);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        std::perror("bind failed");
        ::close(fd);
        throw Exception("Failed to bind socket", "bind", __LINE__);
    }
    std::lock_guard<std::mutex> lock(fdMutex_);
    fd_ = fd;
}

void SocketHelper::closeSocket() {
    std::lock_guard<std::mutex> lock(fdMutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void SocketHelper::processRxQueue() {
    while (!stop_.load()) {
        if (!pauseUnlessStopped(std::chrono::milliseconds(reopenDelayMs_.load()))) break;
        if (getSourceIP().empty()) continue;
        try {
            bind();
            done_.store(true);
            openCount_.fetch_add(1);
            int fd;
            {
                std::lock_guard<std::mutex> lock(fdMutex_);
                fd = fd_;
            }
            receiveUntilFailure(fd);
        } catch (const Exception& e) {
            std::printf("Exception: %s\n", e.what());
            std::fflush(stdout);
        } catch (...) {
            std::printf("Unknow Exception on SocketHelper::processRxQueue\n");
            std::fflush(stdout);
        }
        // A datagram the frame refuses (7 bytes or less) also lands here: the socket is
        // opened afresh after the pause, and the exchange's retries cover what was lost.
        closeSocket();
    }
}

void SocketHelper::receiveUntilFailure(int fd) {
    uint8_t buffer[kMaxDatagram];
    while (!stop_.load()) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, buffer, sizeof buffer, MSG_WAITALL, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0) continue;
        dispatch(buffer, static_cast<size_t>(n), from);
    }
}

void SocketHelper::dispatch(const uint8_t* datagram, size_t length, const sockaddr_in& from) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    // Every slot configured with the sender's address gets a copy of its own: two slots may
    // name the same OLT. Datagrams from any other address are dropped undecoded.
    for (UDPSocket* socket : sockets_) {
        if (!socket->hasClientIpAddress(from)) continue;
        auto message = std::make_unique<TKMessage>(datagram, length);
        socket->processRxQueue(message);
    }
}
