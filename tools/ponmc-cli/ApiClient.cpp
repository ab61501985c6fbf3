#include "ApiClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "APIData.h"
#include "Exception.h"
#include "Paths.h"
#include "ipc/Ostrel"

namespace {

// Closes the descriptor (and so drops the flock) on every way out of request().
struct FileLock {
    int fd = -1;
    ~FileLock() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

ApiClient::ApiClient(std::string portFile, int ownPort) : portFile_(std::move(portFile)), ownPort_(ownPort) {}

ApiClient ApiClient::forWeb() {
    return ApiClient(Paths::resolve(Paths::kWebIpc), kWebClientPort);
}

ApiClient ApiClient::forSnmp() {
    return ApiClient(Paths::resolve(Paths::kSnmpIpc), kSnmpClientPort);
}

ApiClient::Response ApiClient::request(const std::string& action, const std::string& uri, const std::string& data) {
    APIData envelope;
    envelope.createRequest(action, uri, data);

    // The port file is also the lock: wait for it as Ostrel's connect would.
    FileLock lock;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(portFileWaitSeconds_, 1));
    for (;;) {
        lock.fd = ::open(portFile_.c_str(), O_RDONLY | O_CLOEXEC);
        if (lock.fd >= 0) break;
        if (std::chrono::steady_clock::now() >= deadline)
            throw Exception("Halvorn not reachable: no port file " + portFile_, __func__, __LINE__);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    while (::flock(lock.fd, LOCK_EX) != 0) {
        if (errno != EINTR) throw Exception(std::string("flock(): ") + std::strerror(errno), __func__, __LINE__);
    }

    Ostrel endpoint(ownPort_);
    endpoint.setPortFileWaitLimit(1);
    endpoint.setPingLimits(pingAttempts_, pingTimeoutMs_);
    if (!endpoint.createSocket() || !endpoint.connect(portFile_.c_str()))
        throw Exception(std::string("Halvorn not reachable: ") + endpoint.getErrorMessage(), __func__, __LINE__);
    if (endpoint.send(envelope.getJsonProtocol()) < 0)
        throw Exception(std::string("Halvorn not reachable: ") + endpoint.getErrorMessage(), __func__, __LINE__);

    // Ostrel's recv has no time-out of its own; the server's ping opens the reply, so wait
    // for that first datagram here and a dead daemon costs a bounded wait.
    pollfd p{endpoint.getSocketForTest(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, responseTimeoutMs_);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) throw Exception("No response from Halvorn on " + portFile_, __func__, __LINE__);

    std::string reply;
    if (endpoint.recv(reply) < 0)
        throw Exception(std::string("Response not received: ") + endpoint.getErrorMessage(), __func__, __LINE__);
    endpoint.close();

    APIData response;
    response.parseResponse(reply.data(), static_cast<int>(reply.size()));
    return Response{response.getError(), response.getJsonData()};
}
