#include "Ostrel"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr char kPing[] = "0ping";
constexpr size_t kPingLength = 5;
// The pong is 9 bytes: "0pong", a zero byte and three bytes that carry nothing. The pinging
// side reads only the first 5 bytes; the three are sent as zeros so the datagram is the same
// every time and never carries leftover memory.
constexpr char kPong[9] = {'0', 'p', 'o', 'n', 'g', 0, 0, 0, 0};
constexpr size_t kPongLength = sizeof(kPong);
// pongClient reads at most this much: a pong-sized datagram.
constexpr size_t kHandshakeRead = 9;

// The decimal number at the start of text: leading blanks and a sign allowed, stops at the
// first non-digit, no digits gives 0. Used for port files and acknowledgements alike.
long long leadingNumber(const char* text) { return std::strtoll(text, nullptr, 10); }

std::string systemError(int err) { return std::strerror(err); }

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A signal is no reason to lose a message: restart the wait.
ssize_t receive(int fd, void* buf, size_t len, sockaddr_in* from = nullptr) {
    for (;;) {
        socklen_t fromLength = sizeof(sockaddr_in);
        ssize_t n = ::recvfrom(fd, buf, len, 0, reinterpret_cast<sockaddr*>(from), from ? &fromLength : nullptr);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// poll() for readability, restarted after a signal with the time that is left.
// 1 readable, 0 time-out, -1 error (errno set).
int pollReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int left = timeoutMs;
    for (;;) {
        timespec before{};
        ::clock_gettime(CLOCK_MONOTONIC, &before);
        int rc = ::poll(&p, 1, left);
        if (rc >= 0) return rc > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
        timespec after{};
        ::clock_gettime(CLOCK_MONOTONIC, &after);
        long spent = (after.tv_sec - before.tv_sec) * 1000L + (after.tv_nsec - before.tv_nsec) / 1000000L;
        left = std::max(0, left - static_cast<int>(spent));
    }
}

int64_t monotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

Ostrel::Ostrel(int port) : m_port(port) {}

Ostrel::~Ostrel() {
    if (m_socket > 0) ::close(m_socket);
}

bool Ostrel::createSocket() {
    if (m_socket > 0) close();
    m_connectionType = NONE;
    // Close-on-exec: the daemons run shell commands and start other programs, which must not
    // inherit (and keep alive) a channel's bound socket.
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        int err = errno;
        std::perror("Ostrel()");
        m_error = systemError(err);
        return false;
    }
    if (fd == 0) {
        // Descriptor 0 means "no socket" in this class; a process with stdin closed can get
        // it from socket(), so move the socket above it.
        int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        int err = errno;
        ::close(fd);
        if (moved < 0) {
            std::perror("Ostrel()");
            m_error = systemError(err);
            return false;
        }
        fd = moved;
    }
    m_socket = fd;
    m_receiveTimeoutMs = 0;  // a fresh socket waits without limit
    return true;
}

bool Ostrel::checkValidState() {
    if (m_connectionType != NONE) {
        m_error = "Connection type doesn't NONE. It's " + std::to_string(m_connectionType);
        return false;
    }
    if (m_socket <= 0) {
        m_error = "Socket wasn't created";
        return false;
    }
    return true;
}

bool Ostrel::bind(const char* path) {
    // The port file goes out before the socket is bound; a client that pings in between
    // gets no pong and simply pings again.
    if (!checkValidState() || !savePortToFile(path, m_port) || !bindSourcePort(m_port)) return false;
    m_connectionType = SERVER;
    return true;
}

bool Ostrel::savePortToFile(const char* path, int port) {
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        m_error = std::string("Impossible to open read-only ipc: ") + path;
        return false;
    }
    std::fprintf(file, "%d", port);  // the digits alone: no newline
    std::fclose(file);
    return true;
}

bool Ostrel::connect(const char* path) {
    if (!checkValidState() || !waitForPortFile(path) || !getPortFromFile(path, m_peerPort) || !bindSourcePort(m_port)) {
        return false;
    }
    m_connectionType = CLIENT;
    return true;
}

bool Ostrel::waitForPortFile(const char* path) {
    // The server truncates the file and then writes its port, so a file that is there but
    // still empty is a server caught in the middle of bind(): it is waited for like a
    // missing one. On the last test it is read anyway and reported as holding no port.
    for (int test = 1; test <= m_portFileTests; ++test) {
        struct stat info {};
        const bool last = test == m_portFileTests;
        if (::stat(path, &info) == 0 && (info.st_size > 0 || last)) return true;
        if (!last) ::sleep(1);
    }
    m_error = std::string("Timeout watting ipc: ") + path;
    return false;
}

bool Ostrel::getPortFromFile(const char* path, int& port) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        m_error = std::string("Impossible to open read-write ipc: ") + path;
        return false;
    }
    char text[512] = {};
    size_t got = std::fread(text, 1, sizeof(text) - 1, file);
    (void)got;  // text stays zero-terminated whatever was read
    std::fclose(file);
    long long value = leadingNumber(text);
    // A number above the port range would be cut to 16 bits and send the messages to some
    // other port, so it is refused like a missing number (and the port is left untouched).
    if (value > 65535) {
        m_error = std::string("Impossible to read integer port from ipc: ") + path;
        return false;
    }
    port = static_cast<int>(std::max<long long>(value, INT_MIN));
    if (port <= 0) {
        m_error = std::string("Impossible to read integer port from ipc: ") + path;
        return false;
    }
    return true;
}

bool Ostrel::bindSourcePort(int port) {
    // Address reuse lets an endpoint that is built anew per request (the SNMP agent's
    // client) bind its fixed port again at once.
    int one = 1;
    sockaddr_in addr = loopback(port);
    if (::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
        ::bind(m_socket, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        int err = errno;
        std::perror("bind()");
        m_error = systemError(err);
        return false;
    }
    return true;
}

int64_t Ostrel::send(const std::string& message) {
    if (m_peerPort <= 0) {
        m_error = "Invalid destination port: " + std::to_string(m_peerPort);
        return -1;
    }
    // An empty message would have no chunk: after the pong the receiver would wait for data
    // and take the next message's ping for it. Nothing to carry, so nothing goes out.
    if (message.empty()) return 0;

    int64_t result = -1;
    if (!pingServer()) {
        m_error = "Impossible to ping server lo0:" + std::to_string(m_peerPort);
    } else {
        result = sendChunks(message);
        if (result == static_cast<int64_t>(message.size())) return result;
        if (result >= 0) {
            m_error = "error transmission: sent=" + std::to_string(message.size()) + ",recv=" + std::to_string(result);
        }
    }
    std::printf("err: %s\n", m_error.c_str());
    std::fflush(stdout);
    return result;
}

bool Ostrel::pingServer() {
    // The time-out stays on the socket afterwards: a recv right after a failed ping phase
    // gives up after one ping time-out as well.
    setReceiveTimeout(m_pingTimeoutMs, "sendChunks::timeout()");
    char reply[kPingLength];
    for (int attempt = 0; attempt < m_pingAttempts; ++attempt) {
        if (deadlineLeftMs() == 0) return false;
        if (!sendDatagram(kPing, kPingLength)) return false;
        // The deadline may come before this ping's time-out: then wait only until it.
        const int left = deadlineLeftMs();
        if (left >= 0 && left < m_pingTimeoutMs && pollReadable(m_socket, left) <= 0) return false;
        // A time-out, an error, an empty or a foreign datagram each cost one attempt.
        ssize_t n = ::recvfrom(m_socket, reply, sizeof(reply), 0, nullptr, nullptr);
        if (n == static_cast<ssize_t>(kPingLength) && std::memcmp(reply, "0pong", 5) == 0) return true;
    }
    return false;  // send() names the failure
}

int64_t Ostrel::sendChunks(const std::string& message) {
    setReceiveTimeout(0, "sendChunks::timeout()");
    char* ack = buffer();
    const int64_t total = static_cast<int64_t>(message.size());
    int64_t sent = 0;
    while (sent < total) {
        const int64_t remaining = total - sent;
        const bool more = remaining > kMaxChunkPayload;
        const size_t chunk = more ? static_cast<size_t>(kMaxChunkPayload) : static_cast<size_t>(remaining);
        const char* data = message.data() + sent;
        sent += static_cast<int64_t>(chunk);
        if (!sendChunkDatagram(more ? '1' : '0', data, chunk)) return -1;

        ssize_t n = receiveInTransfer(ack, std::max<size_t>(chunk, kHandshakeRead));
        if (n < 0) {
            int err = errno;
            std::perror("recvfrom()");
            m_error = "recvfrom()" + systemError(err);
            return -2;
        }
        if (n == 0) continue;  // an empty acknowledgement is taken on trust
        ack[n] = '\0';
        const long long acked = leadingNumber(ack + 1);
        if (acked != static_cast<long long>(chunk) + 1) {
            m_error = "chunk: sent=" + std::to_string(chunk + 1) + ",recv=" + std::to_string(acked);
            return -3;
        }
    }
    return sent;
}

int64_t Ostrel::recv(std::string& message) {
    if (!pongClient()) return -1;
    return recvChunks(message);
}

bool Ostrel::pongClient() {
    // No time-out of its own: it waits with whatever the last step left on the socket.
    char ping[kHandshakeRead + 1] = {};
    sockaddr_in from{};
    ssize_t n = receive(m_socket, ping, kHandshakeRead, &from);
    if (n < 0) {
        int err = errno;
        std::perror("recvfrom()");
        m_error = "recvfrom()" + systemError(err);
        return false;
    }
    if (n < static_cast<ssize_t>(kPingLength) || std::memcmp(ping, kPing, kPingLength) != 0) {
        // Out of step (a chunk of a message whose ping we missed, say): the datagram is spent.
        m_error = "ping error, received: " + std::string(ping, ::strnlen(ping, static_cast<size_t>(n)));
        return false;
    }
    // A server answers whoever pinged it last; a client keeps the port from the port file.
    if (m_connectionType == SERVER) m_peerPort = ntohs(from.sin_port);
    return sendDatagram(kPong, kPongLength);
}

int64_t Ostrel::recvChunks(std::string& message) {
    setReceiveTimeout(0, "timeout()");
    char* chunk = buffer();
    int64_t total = 0;
    // Past the limit the rest of the message is still taken and acknowledged, so the sender
    // finishes in step and the next ping is seen as a ping; only its bytes are dropped.
    const size_t callerLength = message.size();
    bool tooLong = false;
    for (;;) {
        ssize_t n = receiveInTransfer(chunk, kMaxDatagram);
        if (n < 0) {
            int err = errno;
            std::perror("recvfrom()");
            m_error = "recvfrom()" + systemError(err);
            return -1;
        }
        // An empty datagram has no flag and no bytes: no sender of this protocol makes one.
        // Acknowledging it would hand the sender an acknowledgement for a chunk it did not
        // send (and fail its message), and ending the message on it would cut the message
        // short, so it is dropped and the wait goes on.
        if (n == 0) continue;
        const bool last = chunk[0] != '1';
        total += n - 1;
        if (!tooLong && total > m_maxMessage) {
            tooLong = true;
            message.resize(callerLength);
            message.shrink_to_fit();
        }
        if (!tooLong) message.append(chunk + 1, static_cast<size_t>(n - 1));

        char ack[16];
        int ackLength = std::snprintf(ack, sizeof(ack), "0%zd", n);
        if (!sendDatagram(ack, static_cast<size_t>(ackLength))) return -2;
        if (!last) continue;
        if (!tooLong) return total;
        m_error = "Message too long: more than " + std::to_string(m_maxMessage) + " bytes";
        return -1;
    }
}

bool Ostrel::close() {
    if (m_socket <= 0) return false;
    int rc = ::close(m_socket);
    int err = errno;
    // Forget the descriptor even on failure: the number may be handed out again at once.
    m_socket = -1;
    m_receiveTimeoutMs = -1;
    if (rc != 0) {
        m_error = systemError(err);
        return false;
    }
    return true;
}

bool Ostrel::shutdown() { return close(); }

const char* Ostrel::getErrorMessage() { return m_error.c_str(); }

void Ostrel::setPortFileWaitLimit(int tests) { m_portFileTests = std::max(tests, 1); }

void Ostrel::setPingLimits(int attempts, int timeoutMs) {
    m_pingAttempts = std::max(attempts, 1);
    // A zero SO_RCVTIMEO would mean "wait for ever", the opposite of a short limit.
    m_pingTimeoutMs = std::max(timeoutMs, 1);
}

void Ostrel::setTransferTimeout(int timeoutMs) { m_transferTimeoutMs = std::max(timeoutMs, 0); }

ssize_t Ostrel::receiveInTransfer(void* buf, size_t len) {
    int limit = m_transferTimeoutMs > 0 ? m_transferTimeoutMs : -1;
    const int left = deadlineLeftMs();
    if (left >= 0 && (limit < 0 || left < limit)) limit = left;
    if (limit >= 0) {
        // poll instead of SO_RCVTIMEO: the socket keeps the time-out the steps are known to
        // leave behind (none after a transfer), so a server's next wait for a ping is unbounded.
        int rc = pollReadable(m_socket, limit);
        if (rc == 0) errno = EAGAIN;
        if (rc <= 0) return -1;
    }
    return receive(m_socket, buf, len);
}

void Ostrel::setDeadline(int msFromNow) { m_deadlineMs = msFromNow < 0 ? -1 : monotonicMs() + msFromNow; }

int Ostrel::deadlineLeftMs() const {
    if (m_deadlineMs < 0) return -1;
    const int64_t left = m_deadlineMs - monotonicMs();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, INT_MAX));
}

void Ostrel::setMaxMessageSize(int64_t bytes) { m_maxMessage = std::max<int64_t>(bytes, 1); }

bool Ostrel::waitForDatagram(int timeoutMs) {
    int rc = pollReadable(m_socket, std::max(timeoutMs, 0));
    if (rc > 0) return true;
    m_error = "recvfrom()" + systemError(rc == 0 ? EAGAIN : errno);
    return false;
}

void Ostrel::setReceiveTimeout(int timeoutMs, const char* failName) {
    if (m_receiveTimeoutMs == timeoutMs && m_socket > 0) return;
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    if (::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
        std::perror(failName);
        m_receiveTimeoutMs = -1;
        return;
    }
    m_receiveTimeoutMs = timeoutMs;
}

bool Ostrel::sendDatagram(const void* data, size_t length) {
    sockaddr_in peer = loopback(m_peerPort);
    ssize_t n = ::sendto(m_socket, data, length, MSG_CONFIRM, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer));
    if (n != static_cast<ssize_t>(length)) {
        int err = errno;
        m_error = "sendto()" + systemError(err);
        std::perror("sendto()");
        return false;
    }
    return true;
}

bool Ostrel::sendChunkDatagram(char flag, const char* data, size_t length) {
    // Flag and payload leave in one datagram straight from the caller's string: no copy.
    sockaddr_in peer = loopback(m_peerPort);
    iovec parts[2];
    parts[0].iov_base = &flag;
    parts[0].iov_len = 1;
    parts[1].iov_base = const_cast<char*>(data);
    parts[1].iov_len = length;
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof(peer);
    msg.msg_iov = parts;
    msg.msg_iovlen = 2;
    ssize_t n = ::sendmsg(m_socket, &msg, MSG_CONFIRM);
    if (n != static_cast<ssize_t>(length + 1)) {
        int err = errno;
        m_error = "sendto()" + systemError(err);
        std::perror("sendto()");
        return false;
    }
    return true;
}

char* Ostrel::buffer() {
    if (!m_buffer) m_buffer.reset(new char[kMaxDatagram + 1]);
    return m_buffer.get();
}
