#include "ApiClient.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

// Bytes a string of the plain form never holds: its closing quote aside, an escape or a
// control byte means the text is not what the compact printer gives back unchanged.
struct StringStops {
    bool stop[256] = {};
    constexpr StringStops() {
        for (int c = 0; c < 0x20; ++c) stop[c] = true;
        stop[static_cast<unsigned char>('"')] = true;
        stop[static_cast<unsigned char>('\\')] = true;
    }
};
constexpr StringStops kStringStops;

// Skips the string at p (which points at its opening quote) when it is plain.
inline bool skipPlainString(const char*& p, const char* end) {
    ++p;
    while (p < end && !kStringStops.stop[static_cast<unsigned char>(*p)]) ++p;
    if (p >= end || *p != '"') return false;
    ++p;
    return true;
}

inline bool skipWord(const char*& p, const char* end, const char* word, size_t length) {
    if (static_cast<size_t>(end - p) < length || std::memcmp(p, word, length) != 0) return false;
    p += length;
    return true;
}

// Validates one JSON value at p in exactly the form cJSON's compact print gives back byte
// for byte: no blanks between tokens, no numbers (they may print differently), no escapes;
// strings, objects, arrays, true, false, null. On success p is just past the value. False
// for anything else, valid JSON or not (the caller then parses the text in full). One pass,
// no recursion, no allocation: a table of 1024 rows is checked in well under a millisecond.
bool skipPlainValue(const char*& at, const char* end) {
    constexpr int kMaxDepth = 512;
    char open[kMaxDepth];
    int depth = 0;
    const char* p = at;
    for (;;) {
        // A value.
        if (p >= end) return false;
        const char c = *p;
        if (c == '"') {
            if (!skipPlainString(p, end)) return false;
        } else if (c == '{' || c == '[') {
            if (depth == kMaxDepth) return false;
            ++p;
            if (p < end && *p == (c == '{' ? '}' : ']')) {
                ++p;  // empty: a complete value
            } else {
                open[depth++] = c;
                if (c == '[') continue;  // its first element
                if (p >= end || *p != '"' || !skipPlainString(p, end) || p >= end || *p != ':') return false;
                ++p;
                continue;  // the member's value
            }
        } else if (!(c == 't' && skipWord(p, end, "true", 4)) && !(c == 'f' && skipWord(p, end, "false", 5)) &&
                   !(c == 'n' && skipWord(p, end, "null", 4))) {
            return false;
        }
        // After a value: close what ends here, or go on with the next element or member.
        for (;;) {
            if (depth == 0) {
                at = p;
                return true;
            }
            if (p >= end) return false;
            const bool inObject = open[depth - 1] == '{';
            if (*p == (inObject ? '}' : ']')) {
                ++p;
                --depth;
                continue;
            }
            if (*p != ',') return false;
            ++p;
            if (inObject) {
                if (p >= end || *p != '"' || !skipPlainString(p, end) || p >= end || *p != ':') return false;
                ++p;
            }
            break;
        }
    }
}

}  // namespace

namespace {

// Where the data of a plain success response lies in text: exactly
// {"data":<compact value>,"err":""} and nothing after it. False for anything else.
bool plainData(const std::string& text, size_t& begin, size_t& end) {
    static const char kHead[] = "{\"data\":";
    static const char kTail[] = ",\"err\":\"\"}";
    const size_t head = sizeof(kHead) - 1, tail = sizeof(kTail) - 1;
    if (text.size() < head + tail || text.compare(0, head, kHead) != 0) return false;
    const char* p = text.data() + head;
    const char* const last = text.data() + text.size();
    if (!skipPlainValue(p, last - tail)) return false;
    if (static_cast<size_t>(last - p) != tail || std::memcmp(p, kTail, tail) != 0) return false;
    begin = head;
    end = static_cast<size_t>(p - text.data());
    return true;
}

ApiClient::Response parsedByTheEnvelope(const std::string& text) {
    APIData response;
    response.parseResponse(text.data(), static_cast<int>(text.size()));
    return ApiClient::Response{response.getError(), response.getJsonData()};
}

}  // namespace

ApiClient::Response ApiClient::parseResponseText(const std::string& text) {
    size_t begin = 0, end = 0;
    if (plainData(text, begin, end)) return Response{"", text.substr(begin, end - begin)};
    return parsedByTheEnvelope(text);
}

ApiClient::Response ApiClient::parseResponseText(std::string&& text) {
    size_t begin = 0, end = 0;
    if (!plainData(text, begin, end)) return parsedByTheEnvelope(text);
    text.erase(end);
    text.erase(0, begin);
    return Response{"", std::move(text)};
}

ApiClient::ApiClient(std::string portFile, int ownPort) : ApiClient(std::move(portFile), ownPort, Options()) {}

ApiClient::ApiClient(std::string portFile, int ownPort, Options options)
    : portFile_(std::move(portFile)), ownPort_(ownPort), options_(std::move(options)) {}

ApiClient ApiClient::forWeb() { return ApiClient(Paths::resolve(Paths::kWebIpc), kWebClientPort); }

ApiClient ApiClient::forSnmp() { return ApiClient(Paths::resolve(Paths::kSnmpIpc), kSnmpClientPort); }

void ApiClient::setPortFileWaitSeconds(int seconds) { options_.portFileWaitMs = std::max(seconds, 1) * 1000; }

int ApiClient::getExchangeTimeoutMs() const {
    if (options_.exchangeTimeoutMs > 0) return options_.exchangeTimeoutMs;
    if (options_.exchangeTimeoutMs < 0) return -1;
    const int64_t sum = int64_t{options_.portFileWaitMs} + int64_t{options_.pingAttempts} * options_.pingTimeoutMs +
                        options_.responseTimeoutMs + 2 * int64_t{options_.transferTimeoutMs};
    return static_cast<int>(std::min<int64_t>(sum, INT_MAX));
}

std::string ApiClient::text(const std::string& form, const std::string& why, int ms) const {
    // One pass from left to right: what is put in is never read as a field itself.
    std::string out;
    for (size_t at = 0; at < form.size();) {
        if (form.compare(at, 6, "{file}") == 0) {
            out += portFile_;
            at += 6;
        } else if (form.compare(at, 4, "{ms}") == 0) {
            out += std::to_string(ms);
            at += 4;
        } else if (form.compare(at, 5, "{why}") == 0) {
            out += why;
            at += 5;
        } else {
            out += form[at++];
        }
    }
    return out;
}

bool ApiClient::stampOf(PortFileStamp& stamp) const {
    struct stat st;
    if (::stat(portFile_.c_str(), &st) != 0) return false;
    stamp.inode = st.st_ino;
    stamp.mtime = st.st_mtim;
    return true;
}

void ApiClient::rememberUnreachable() {
    if (options_.unreachableHoldMs <= 0) return;
    unreachable_.valid = stampOf(unreachable_);
    unreachable_.at = std::chrono::steady_clock::now();
}

ApiClient::Response ApiClient::request(const std::string& action, const std::string& uri, const std::string& data) {
    using Clock = std::chrono::steady_clock;
    const int timeoutMs = getExchangeTimeoutMs();
    const Clock::time_point deadline =
        timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto msUntil = [](Clock::time_point until) {
        if (until == Clock::time_point::max()) return INT_MAX;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        return static_cast<int>(std::min<decltype(left)>(std::max<decltype(left)>(left, 0), INT_MAX));
    };
    auto leftMs = [&] { return msUntil(deadline); };
    auto within = [&deadline](int ms) { return std::min(deadline, Clock::now() + std::chrono::milliseconds(ms)); };

    APIData envelope;
    envelope.createRequest(action, uri, data);

    // A daemon that has just failed us is not asked again until its port file changes.
    if (unreachable_.valid) {
        PortFileStamp now;
        const bool same = stampOf(now) && now.inode == unreachable_.inode &&
                          now.mtime.tv_sec == unreachable_.mtime.tv_sec &&
                          now.mtime.tv_nsec == unreachable_.mtime.tv_nsec;
        if (same && Clock::now() - unreachable_.at < std::chrono::milliseconds(options_.unreachableHoldMs))
            throw Exception(text(options_.texts.heldUnreachable), __func__, __LINE__);
        unreachable_.valid = false;
    }

    // The port file is also the lock: wait for it as Ostrel's connect would.
    FileLock lock;
    const Clock::time_point fileDeadline = within(options_.portFileWaitMs);
    for (;;) {
        lock.fd = ::open(portFile_.c_str(), O_RDONLY | O_CLOEXEC);
        if (lock.fd >= 0) break;
        const int why = errno;
        if (Clock::now() >= fileDeadline)
            throw Exception(text(why == ENOENT ? options_.texts.noPortFile : options_.texts.portFileUnreadable),
                            __func__, __LINE__);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Our turn on the channel, taken with a limit: a blocking flock would wait for ever
    // behind a client that never lets go. An interrupted try counts as a busy one, so the
    // limit holds however often it happens.
    const Clock::time_point lockDeadline = options_.lockWaitMs > 0 ? within(options_.lockWaitMs) : deadline;
    const int lockLimitMs = lockDeadline < deadline ? options_.lockWaitMs : timeoutMs;
    for (int pauseMs = std::max(options_.lockPauseMs, 1);;) {
        if (::flock(lock.fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR)
            throw Exception(std::string("flock(): ") + std::strerror(errno), __func__, __LINE__);
        const int left = msUntil(lockDeadline);
        if (left == 0) throw Exception(text(options_.texts.channelBusy, "", lockLimitMs), __func__, __LINE__);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(pauseMs, left)));
        pauseMs = std::min(pauseMs * 2, std::max(options_.lockPauseMaxMs, 1));
    }

    // Declared after the lock: the endpoint is closed before the lock is let go.
    Ostrel endpoint(ownPort_);
    endpoint.setPortFileWaitLimit(1);
    endpoint.setPingLimits(options_.pingAttempts, options_.pingTimeoutMs);
    endpoint.setTransferTimeout(options_.transferTimeoutMs);
    // Pings, acknowledgements and response chunks all end by the exchange's deadline.
    if (timeoutMs >= 0) endpoint.setDeadline(leftMs());
    if (!endpoint.createSocket() || !endpoint.connect(portFile_.c_str()))
        throw Exception(text(options_.texts.notConnected, endpoint.getErrorMessage()), __func__, __LINE__);
    if (endpoint.send(envelope.getJsonProtocol()) < 0) {
        rememberUnreachable();
        throw Exception(text(options_.texts.notSent, endpoint.getErrorMessage()), __func__, __LINE__);
    }

    // Ostrel's recv has no time-out of its own for the first datagram; the server's ping
    // opens the reply, so wait for it here and a dead daemon costs a bounded wait.
    if (!endpoint.waitForDatagram(std::min(options_.responseTimeoutMs, leftMs()))) {
        rememberUnreachable();
        throw Exception(text(options_.texts.noResponse), __func__, __LINE__);
    }

    static std::atomic<size_t> processLargestReply{0};
    std::atomic<size_t>& largestReply = options_.largestReply ? *options_.largestReply : processLargestReply;
    std::string reply;
    reply.reserve(largestReply.load());
    if (endpoint.recv(reply) < 0)
        throw Exception(text(options_.texts.notReceived, endpoint.getErrorMessage()), __func__, __LINE__);
    endpoint.close();
    if (reply.size() > largestReply.load()) largestReply.store(reply.size());

    return parseResponseText(std::move(reply));
}
