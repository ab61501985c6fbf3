#include "ApiClient.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
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

// Strict JSON syntax scanner over [p, end): advances p past one value. It allocates nothing.
// plain stays true only while the text is what cJSON's compact print of the parsed value
// would give back byte for byte: no blanks between tokens, no numbers, no escapes.
class Scanner {
public:
    Scanner(const char* p, const char* end) : p_(p), end_(end) {}

    bool value(int depth = 0) {
        if (depth > 512 || p_ >= end_) return false;
        switch (*p_) {
            case '"': return string();
            case '{': return object(depth);
            case '[': return array(depth);
            case 't': return word("true");
            case 'f': return word("false");
            case 'n': return word("null");
            default: return number();
        }
    }
    void blanks() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) {
            ++p_;
            plain_ = false;
        }
    }
    bool take(char c) {
        if (p_ >= end_ || *p_ != c) return false;
        ++p_;
        return true;
    }
    bool takeText(const char* text) {
        size_t n = std::strlen(text);
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, text, n) != 0) return false;
        p_ += n;
        return true;
    }
    const char* at() const { return p_; }
    bool plain() const { return plain_; }

private:
    bool string() {
        ++p_;
        while (p_ < end_) {
            unsigned char c = static_cast<unsigned char>(*p_++);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                plain_ = false;
                if (p_ >= end_) return false;
                char e = *p_++;
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i, ++p_)
                        if (p_ >= end_ || !std::isxdigit(static_cast<unsigned char>(*p_))) return false;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == '\0') {
                    return false;
                }
            }
        }
        return false;
    }
    bool object(int depth) {
        ++p_;
        blanks();
        if (take('}')) return true;
        for (;;) {
            blanks();
            if (p_ >= end_ || *p_ != '"' || !string()) return false;
            blanks();
            if (!take(':')) return false;
            blanks();
            if (!value(depth + 1)) return false;
            blanks();
            if (take('}')) return true;
            if (!take(',')) return false;
        }
    }
    bool array(int depth) {
        ++p_;
        blanks();
        if (take(']')) return true;
        for (;;) {
            blanks();
            if (!value(depth + 1)) return false;
            blanks();
            if (take(']')) return true;
            if (!take(',')) return false;
        }
    }
    bool word(const char* w) { return takeText(w); }
    bool number() {
        plain_ = false;
        auto digits = [this] {
            const char* s = p_;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
            return p_ > s;
        };
        take('-');
        if (take('0')) {
        } else if (!digits()) {
            return false;
        }
        if (take('.') && !digits()) return false;
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (!take('+')) take('-');
            if (!digits()) return false;
        }
        return true;
    }

    const char* p_;
    const char* end_;
    bool plain_ = true;
};

}  // namespace

ApiClient::Response ApiClient::parseResponseText(const std::string& text) {
    // Fast path: exactly {"data":<compact value>,"err":""} and nothing after it.
    Scanner s(text.data(), text.data() + text.size());
    if (s.takeText("{\"data\":")) {
        const char* begin = s.at();
        if (s.value() && s.plain()) {
            const char* end = s.at();
            if (s.takeText(",\"err\":\"\"}") && s.at() == text.data() + text.size())
                return Response{"", std::string(begin, end)};
        }
    }
    APIData response;
    response.parseResponse(text.data(), static_cast<int>(text.size()));
    return Response{response.getError(), response.getJsonData()};
}

ApiClient::ApiClient(std::string portFile, int ownPort) : portFile_(std::move(portFile)), ownPort_(ownPort) {}

ApiClient ApiClient::forWeb() {
    return ApiClient(Paths::resolve(Paths::kWebIpc), kWebClientPort);
}

ApiClient ApiClient::forSnmp() {
    return ApiClient(Paths::resolve(Paths::kSnmpIpc), kSnmpClientPort);
}

int ApiClient::getExchangeTimeoutMs() const {
    if (exchangeTimeoutMs_ > 0) return exchangeTimeoutMs_;
    const int64_t sum = int64_t{std::max(portFileWaitSeconds_, 1)} * 1000 + int64_t{pingAttempts_} * pingTimeoutMs_ +
                        responseTimeoutMs_ + 2 * kTransferTimeoutMs;
    return static_cast<int>(std::min<int64_t>(sum, INT_MAX));
}

ApiClient::Response ApiClient::request(const std::string& action, const std::string& uri, const std::string& data) {
    using Clock = std::chrono::steady_clock;
    const int timeoutMs = getExchangeTimeoutMs();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto leftMs = [&deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::max<decltype(left)>(left, 0));
    };

    APIData envelope;
    envelope.createRequest(action, uri, data);

    // The port file is also the lock: wait for it as Ostrel's connect would.
    FileLock lock;
    const Clock::time_point fileDeadline =
        std::min(deadline, Clock::now() + std::chrono::seconds(std::max(portFileWaitSeconds_, 1)));
    for (;;) {
        lock.fd = ::open(portFile_.c_str(), O_RDONLY | O_CLOEXEC);
        if (lock.fd >= 0) break;
        if (Clock::now() >= fileDeadline)
            throw Exception("Halvorn not reachable: no port file " + portFile_, __func__, __LINE__);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Our turn on the channel, taken with the deadline: a blocking flock would wait for ever
    // behind a client that never lets go. The pause between tries grows to 20 ms.
    for (int pauseMs = 1;;) {
        if (::flock(lock.fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK)
            throw Exception(std::string("flock(): ") + std::strerror(errno), __func__, __LINE__);
        const int left = leftMs();
        if (left == 0)
            throw Exception("Halvorn not reachable: channel busy for " + std::to_string(timeoutMs) + " ms (lock on " +
                                portFile_ + ")",
                            __func__, __LINE__);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(pauseMs, left)));
        pauseMs = std::min(pauseMs * 2, 20);
    }

    Ostrel endpoint(ownPort_);
    endpoint.setPortFileWaitLimit(1);
    endpoint.setPingLimits(pingAttempts_, pingTimeoutMs_);
    endpoint.setTransferTimeout(kTransferTimeoutMs);
    // Pings, acknowledgements and response chunks all end by the exchange's deadline.
    endpoint.setDeadline(leftMs());
    if (!endpoint.createSocket() || !endpoint.connect(portFile_.c_str()))
        throw Exception(std::string("Halvorn not reachable: ") + endpoint.getErrorMessage(), __func__, __LINE__);
    if (endpoint.send(envelope.getJsonProtocol()) < 0)
        throw Exception(std::string("Halvorn not reachable: ") + endpoint.getErrorMessage(), __func__, __LINE__);

    // Ostrel's recv has no time-out of its own for the first datagram; the server's ping
    // opens the reply, so wait for it here and a dead daemon costs a bounded wait.
    if (!endpoint.waitForDatagram(std::min(responseTimeoutMs_, leftMs())))
        throw Exception("No response from Halvorn on " + portFile_, __func__, __LINE__);

    std::string reply;
    if (endpoint.recv(reply) < 0)
        throw Exception(std::string("Response not received: ") + endpoint.getErrorMessage(), __func__, __LINE__);
    endpoint.close();

    return parseResponseText(reply);
}
