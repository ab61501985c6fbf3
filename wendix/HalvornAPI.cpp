#include "HalvornAPI.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ApiClient.h"
#include "Exception.h"
#include "Paths.h"
#include "ipc/Ostrel"

namespace {

// Holds the exclusive advisory lock on a port file for one exchange; the descriptor (and
// with it the lock) goes on every way out.
class PortFileLock {
public:
    PortFileLock(const std::string& path, int waitMs) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            // The texts the channel's connect gives for the same two cases.
            if (errno == ENOENT) throw Exception("Timeout watting ipc: " + path, __func__, __LINE__);
            throw Exception("Impossible to open read-write ipc: " + path, __func__, __LINE__);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                const std::string why = std::strerror(errno);
                ::close(fd_);
                throw Exception("flock(): " + why, __func__, __LINE__);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                ::close(fd_);
                throw Exception("Timeout locking ipc: " + path, __func__, __LINE__);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~PortFileLock() { ::close(fd_); }
    PortFileLock(const PortFileLock&) = delete;
    PortFileLock& operator=(const PortFileLock&) = delete;

private:
    int fd_ = -1;
};

// Turns the envelope into a response that carries the error text. createResponse alone
// builds the text but leaves the envelope's error field empty (only a parsed response fills
// it), and the callers read the error field: parse the text back.
void setErrorResponse(APIData& envelope, const std::string& message) {
    envelope.createResponse(message, "");
    const std::string text = envelope.getJsonProtocol();
    envelope.parseResponse(text.c_str(), static_cast<int>(text.size()));
}

}  // namespace

HalvornAPI* HalvornAPI::getInstance() {
    static HalvornAPI* instance = new HalvornAPI();
    return instance;
}

HalvornAPI::HalvornAPI() : portFile_(Paths::resolve(Paths::kSnmpIpc)) {}

void HalvornAPI::setLimitsForTest(int pingTimeoutMs, int replyTimeoutMs, int unreachableHoldMs) {
    pingTimeoutMs_ = pingTimeoutMs;
    replyTimeoutMs_ = replyTimeoutMs;
    unreachableHoldMs_ = unreachableHoldMs;
}

bool HalvornAPI::stampOf(PortFileStamp& stamp) const {
    struct stat st;
    if (::stat(portFile_.c_str(), &st) != 0) return false;
    stamp.inode = st.st_ino;
    stamp.mtime = st.st_mtim;
    return true;
}

APIData HalvornAPI::doRequestApiData(const std::string& action, const std::string& uri, const std::string& data) {
    APIData envelope;
    try {
        envelope.createRequest(action, uri, data);
        exchange(envelope);
    } catch (const Exception& e) {
        std::printf("%s[%d]: Exception: %s\n", __func__, __LINE__, e.what());
        try {
            setErrorResponse(envelope, e.getMessage());
        } catch (...) {
        }
    } catch (...) {
        // Whatever went wrong, the caller must not take the envelope for an answer.
        std::printf("%s[%d]: Unexpected exception\n", __func__, __LINE__);
        try {
            setErrorResponse(envelope, "Unexpected exception");
        } catch (...) {
        }
    }
    return envelope;
}

void HalvornAPI::exchange(APIData& envelope) {
    if (unreachable_.valid) {
        PortFileStamp now;
        const bool same = stampOf(now) && now.inode == unreachable_.inode &&
                          now.mtime.tv_sec == unreachable_.mtime.tv_sec &&
                          now.mtime.tv_nsec == unreachable_.mtime.tv_nsec;
        const auto held = std::chrono::steady_clock::now() - unreachable_.at;
        if (same && held < std::chrono::milliseconds(unreachableHoldMs_))
            throw Exception("Halvorn did not answer on " + portFile_, __func__, __LINE__);
        unreachable_.valid = false;
    }
    auto rememberUnreachable = [this] {
        unreachable_.valid = stampOf(unreachable_);
        unreachable_.at = std::chrono::steady_clock::now();
    };

    // Declared after the lock: the channel is closed before the lock is released.
    PortFileLock lock(portFile_, kLockWaitMs);
    Ostrel channel(kOwnPort);
    channel.setPortFileWaitLimit(1);
    channel.setPingLimits(1, pingTimeoutMs_);
    channel.setTransferTimeout(kTransferTimeoutMs);

    if (!channel.createSocket()) throw Exception(channel.getErrorMessage(), __func__, __LINE__);
    if (!channel.connect(portFile_.c_str())) throw Exception(channel.getErrorMessage(), __func__, __LINE__);
    if (channel.send(envelope.getJsonProtocol()) < 0) {
        rememberUnreachable();
        throw Exception(channel.getErrorMessage(), __func__, __LINE__);
    }
    // recv waits for the reply's ping without a limit of its own.
    if (!channel.waitForDatagram(replyTimeoutMs_)) {
        rememberUnreachable();
        throw Exception("No response on " + portFile_, __func__, __LINE__);
    }
    // Room for a reply like the largest one so far: a big table is then received without
    // growing (and copying) the text chunk by chunk.
    std::string text;
    text.reserve(largestReply_);
    if (channel.recv(text) < 0) throw Exception(channel.getErrorMessage(), __func__, __LINE__);
    largestReply_ = std::max(largestReply_, text.size());
    channel.close();
    // Read as parseResponse would (same results, same exceptions), but a table's compact
    // text is taken by position after a syntax check, in place: no parse tree of the whole
    // table and no second copy of it, which cost milliseconds and, for 2048 ONUs, a few MiB
    // of the agent's peak memory.
    const ApiClient::Response response = ApiClient::parseResponseText(std::move(text));
    if (response.err.empty()) envelope.createResponseCompact(response.data);
    else setErrorResponse(envelope, response.err);
}

bool HalvornAPI::doRequest(const std::string& action, const std::string& uri, const std::string& data) {
    APIData response = doRequestApiData(action, uri, data);
    if (response.getError().empty()) return true;
    std::printf("%s[%d]: Error: %s\n", __func__, __LINE__, response.getError().c_str());
    return false;
}
