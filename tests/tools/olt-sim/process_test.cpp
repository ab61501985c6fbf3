// The olt-sim program end to end: real UDP sockets on loopback, the card's side played by a
// socket bound to 127.0.1.1:14113, the control channel over standard input and over the
// Unix socket. Every wait polls with a deadline.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Bytes.h"

using namespace oltsim;

namespace {

constexpr int kDeadlineMs = 5000;

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

sockaddr_in ipv4(const char* ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

bool waitReadable(int fd, int64_t deadline) {
    while (true) {
        int left = static_cast<int>(deadline - nowMs());
        if (left < 0) return false;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, left);
        if (r > 0) return true;
        if (r == 0) return false;
    }
}

// Reads one '\n'-terminated line from fd, keeping what follows in buffer.
std::optional<std::string> readLine(int fd, std::string& buffer, int timeoutMs = kDeadlineMs) {
    int64_t deadline = nowMs() + timeoutMs;
    while (buffer.find('\n') == std::string::npos) {
        if (!waitReadable(fd, deadline)) return std::nullopt;
        char chunk[65536];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    size_t pos = buffer.find('\n');
    std::string line = buffer.substr(0, pos);
    buffer.erase(0, pos + 1);
    return line;
}

struct Datagram {
    std::string from;  // "ip:port"
    std::string hex;
};

// The management card's end: bound to 127.0.1.1:14113.
class CardSocket {
public:
    CardSocket() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = ipv4("127.0.1.1", 14113);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~CardSocket() { close(fd_); }
    bool bound() const { return bound_; }
    void send(const char* oltIp, const std::string& hexBytes) {
        Bytes b;
        ASSERT_TRUE(fromHex(hexBytes, b));
        sockaddr_in to = ipv4(oltIp, 14113);
        ASSERT_EQ(static_cast<ssize_t>(b.size()),
                  sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    }
    std::optional<Datagram> receive() {
        if (!waitReadable(fd_, nowMs() + kDeadlineMs)) return std::nullopt;
        uint8_t buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return std::nullopt;
        char ip[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
        return Datagram{std::string(ip) + ":" + std::to_string(ntohs(from.sin_port)),
                        toHex(buf, static_cast<size_t>(n))};
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

// The program under test with its standard input and output on pipes.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv;
            std::string path = OLT_SIM_PATH;
            argv.push_back(path.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~SimProcess() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    std::optional<std::string> line() { return readLine(stdout_, buffer_); }
    std::string command(const std::string& text) {
        std::string l = text + "\n";
        if (write(stdin_, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return "write failed";
        return line().value_or("no reply");
    }
    void closeStdin() {
        close(stdin_);
        stdin_ = -1;
    }
    // Exit status, or -1 when the program is still running at the deadline.
    int waitExit() {
        int64_t deadline = nowMs() + kDeadlineMs;
        while (nowMs() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
    std::string buffer_;
};

// One command over the Unix control socket.
std::string controlCommand(const std::string& path, const std::string& text) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    std::strncpy(un.sun_path, path.c_str(), sizeof un.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&un), sizeof un) != 0) {
        close(fd);
        return "connect failed";
    }
    std::string l = text + "\n";
    std::string buffer;
    std::string reply = "write failed";
    if (write(fd, l.data(), l.size()) == static_cast<ssize_t>(l.size()))
        reply = readLine(fd, buffer).value_or("no reply");
    close(fd);
    return reply;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/olt-sim-test-XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf " + path_).c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string nvsRequest(int ctag) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "012d%04x0000", ctag);
    return buf;
}
std::string nvsReply(int ctag) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "012d%04x000400000000", ctag);
    return buf;
}

}  // namespace

TEST(OltSimProcess, AnswersTheCardAndObeysTheControlChannel) {
    CardSocket card;
    ASSERT_TRUE(card.bound()) << "127.0.1.1:14113 is in use";
    TempDir dir;
    std::string ctl = dir.path() + "/ctl";
    SimProcess sim({"--olts", "2", "--onus", "2", "--control", ctl});
    ASSERT_EQ("ok ready olts=2", sim.line().value_or("no start line"));

    // Both OLTs announce themselves at power-up, each from its own address.
    std::vector<std::string> readyFrom;
    for (int i = 0; i < 2; ++i) {
        auto d = card.receive();
        ASSERT_TRUE(d);
        EXPECT_EQ("8000", d->hex.substr(0, 4));
        readyFrom.push_back(d->from);
    }
    std::sort(readyFrom.begin(), readyFrom.end());
    EXPECT_EQ((std::vector<std::string>{"127.0.2.1:14113", "127.0.2.2:14113"}), readyFrom);

    card.send("127.0.2.2", "000701010000");
    auto info = card.receive();
    ASSERT_TRUE(info);
    EXPECT_EQ("127.0.2.2:14113", info->from);
    // clang-format off
  EXPECT_EQ("00070101005d0000" "024f4c540002" "0000" "4f4c54" "3723", info->hex.substr(0, 16 + 12 + 4 + 6 + 4));
    // clang-format on

    // Dropped request: the next datagram the card sees answers the request after it.
    EXPECT_EQ("ok", controlCommand(ctl, "drop 1 1"));
    card.send("127.0.2.1", nvsRequest(1));
    card.send("127.0.2.1", nvsRequest(2));
    auto first = card.receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(nvsReply(2), first->hex);

    // Late reply: overtaken by the reply to a later request.
    EXPECT_EQ("ok", controlCommand(ctl, "delay 1 300 1"));
    card.send("127.0.2.1", nvsRequest(3));
    card.send("127.0.2.1", nvsRequest(4));
    auto a = card.receive();
    auto b = card.receive();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(nvsReply(4), a->hex);
    EXPECT_EQ(nvsReply(3), b->hex);

    // An alarm during the next exchange arrives before that exchange's reply.
    EXPECT_EQ("ok", sim.command("alarm 1 3 02:4f:4e:01:00:00 23 1 next"));
    card.send("127.0.2.1", nvsRequest(5));
    auto alarm = card.receive();
    auto reply = card.receive();
    ASSERT_TRUE(alarm && reply);
    EXPECT_EQ("801a", alarm->hex.substr(0, 4));
    EXPECT_EQ("03024f4e01000017010100", alarm->hex.substr(20));
    EXPECT_EQ(nvsReply(5), reply->hex);

    // A raw 5-byte datagram from OLT 2.
    EXPECT_EQ("ok", sim.command("raw 2 0102030405"));
    auto raw = card.receive();
    ASSERT_TRUE(raw);
    EXPECT_EQ("127.0.2.2:14113", raw->from);
    EXPECT_EQ("0102030405", raw->hex);

    // A stranger gets no answer; the card's next request does.
    {
        int other = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from = ipv4("127.0.1.1", 0);
        ASSERT_EQ(0, bind(other, reinterpret_cast<sockaddr*>(&from), sizeof from));
        Bytes req;
        ASSERT_TRUE(fromHex(nvsRequest(6), req));
        sockaddr_in to = ipv4("127.0.2.1", 14113);
        sendto(other, req.data(), req.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        close(other);
    }
    card.send("127.0.2.1", nvsRequest(7));
    auto seventh = card.receive();
    ASSERT_TRUE(seventh);
    EXPECT_EQ(nvsReply(7), seventh->hex);

    // The record holds exactly the bytes that reached OLT 1 from the card.
    EXPECT_EQ("ok 6 " + nvsRequest(1) + " " + nvsRequest(2) + " " + nvsRequest(3) + " " + nvsRequest(4) + " " +
                  nvsRequest(5) + " " + nvsRequest(7),
              sim.command("record 1"));
    std::string status = sim.command("status 1");
    EXPECT_NE(std::string::npos, status.find(" foreign=1")) << status;

    // The program itself is a client of the control socket for scripts: the reply line, and
    // the exit status says ok (0), refused (1) or unreachable (2).
    auto client = [&](const std::string& args) {
        std::string out;
        FILE* p = popen((std::string(OLT_SIM_PATH) + " --ctl " + args + " 2>/dev/null").c_str(), "r");
        for (char buf[256]; p && fgets(buf, sizeof buf, p);) out += buf;
        int status = p ? pclose(p) : -1;
        return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + " " + out;
    };
    EXPECT_EQ("0 ok 1\n", client(ctl + " requests 2"));  // the Get OLT Information above
    EXPECT_EQ("1 error OLT must be 1..2\n", client(ctl + " requests 3"));
    EXPECT_EQ("2 ", client(dir.path() + "/nothing status"));

    ASSERT_EQ(0, kill(sim.pid(), SIGTERM));
    EXPECT_EQ(0, sim.waitExit());
    EXPECT_NE(0, access(ctl.c_str(), F_OK));  // the control socket is removed on the way out
}

TEST(OltSimProcess, EndOfStandardInputEndsTheProgram) {
    CardSocket card;
    ASSERT_TRUE(card.bound()) << "127.0.1.1:14113 is in use";
    SimProcess sim({"--olts", "1"});
    ASSERT_EQ("ok ready olts=1", sim.line().value_or("no start line"));
    sim.closeStdin();
    EXPECT_EQ(0, sim.waitExit());
}

TEST(OltSimProcess, RefusesAddressesOutsideLoopback) {
    for (const char* bad : {"--card=10.0.0.1", "--olt-ip=192.168.1.2"}) {
        SCOPED_TRACE(bad);
        SimProcess sim({"--olts", "1", bad});
        EXPECT_EQ(2, sim.waitExit());
    }
}
