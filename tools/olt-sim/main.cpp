// olt-sim: the socket loop around the simulator core. One thread; poll() over the OLT
// sockets, standard input, the control socket and a self-pipe for SIGTERM/SIGINT.
// Everything the OLTs send goes to the card's address only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Options.h"
#include "Simulator.h"

using namespace oltsim;

namespace {

int gSignalPipe[2] = {-1, -1};
constexpr size_t kMaxLine = 1 << 20;
constexpr size_t kMaxDatagram = 65536;

void onSignal(int) {
    int saved = errno;
    char c = 's';
    ssize_t ignored = write(gSignalPipe[1], &c, 1);
    (void)ignored;
    errno = saved;
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "olt-sim: %s\n", why.c_str());
    std::exit(2);
}

sockaddr_in ipv4(const std::string& ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) fail("bad address " + ip);
    return a;
}

// A text line source: standard input or one control connection. Lines end with '\n'
// (an '\r' before it is dropped).
struct LineChannel {
    int fd = -1;
    bool isStdin = false;
    std::string buffer;
};

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = fd == STDOUT_FILENO ? write(fd, text.data() + done, text.size() - done)
                                        : send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// olt-sim --ctl PATH COMMAND...: sends one control command to a running simulator and
// prints its reply line. Exit 0 for "ok ...", 1 for "error ...", 2 when it cannot be reached.
int controlClient(const std::string& path, const std::vector<std::string>& words) {
    std::string line;
    for (const auto& w : words) line += (line.empty() ? "" : " ") + w;
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof un.sun_path || line.empty()) {
        std::fprintf(stderr, "usage: olt-sim --ctl PATH COMMAND [ARGS...]\n");
        return 2;
    }
    std::strcpy(un.sun_path, path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&un), sizeof un) != 0) {
        std::fprintf(stderr, "olt-sim: cannot reach %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0) close(fd);
        return 2;
    }
    line += '\n';
    std::string reply;
    bool sent = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    for (char c; sent && read(fd, &c, 1) == 1 && c != '\n';) reply += c;
    close(fd);
    if (reply.empty()) {
        std::fprintf(stderr, "olt-sim: no reply from %s\n", path.c_str());
        return 2;
    }
    std::printf("%s\n", reply.c_str());
    return reply.rfind("ok", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--ctl") == 0)
        return controlClient(argc >= 3 ? argv[2] : "", std::vector<std::string>(argv + std::min(argc, 3), argv + argc));
    Options opt;
    try {
        opt = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "olt-sim: %s\n%s", e.what(), kUsage);
        return 2;
    }
    if (opt.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) fail(std::string("pipe: ") + std::strerror(errno));
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const sockaddr_in card = ipv4(opt.cardIp, opt.cardPort);
    std::vector<int> udp;
    for (const auto& ip : opt.oltIps) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd < 0) fail(std::string("socket: ") + std::strerror(errno));
        sockaddr_in local = ipv4(ip, opt.oltPort);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            fail("cannot bind " + ip + ":" + std::to_string(opt.oltPort) + ": " + std::strerror(errno));
        udp.push_back(fd);
    }

    int listener = -1;
    if (!opt.control.empty()) {
        sockaddr_un un{};
        un.sun_family = AF_UNIX;
        if (opt.control.size() >= sizeof un.sun_path) fail("control socket path too long");
        std::strcpy(un.sun_path, opt.control.c_str());
        struct stat st {};
        // A socket left behind by an earlier run would make bind fail; anything else is not ours to remove.
        if (lstat(opt.control.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(opt.control.c_str());
        listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&un), sizeof un) != 0 ||
            listen(listener, 8) != 0)
            fail("cannot listen on " + opt.control + ": " + std::strerror(errno));
    }

    std::ofstream record;
    if (!opt.recordFile.empty()) {
        record.open(opt.recordFile, std::ios::app);
        if (!record) fail("cannot open record file " + opt.recordFile);
    }

    Simulator sim(oltConfigs(opt), opt.oltIps, opt.seed, nowMs());
    if (record.is_open())
        sim.setRecordSink([&record](size_t olt, const Bytes& d) { record << olt + 1 << ' ' << toHex(d) << std::endl; });
    if (opt.verbose) sim.setLog([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    sim.setChurn(opt.churnMs, opt.seed, nowMs());

    std::vector<LineChannel> channels;
    if (!opt.noStdin) channels.push_back(LineChannel{STDIN_FILENO, true, {}});
    uint64_t foreign = 0;

    std::printf("ok ready olts=%d\n", opt.olts);
    std::fflush(stdout);

    bool running = true;
    std::vector<uint8_t> buf(kMaxDatagram);
    while (running && !sim.quitRequested()) {
        for (auto& out : sim.takeDue(nowMs()))
            sendto(udp[static_cast<size_t>(out.olt)], out.bytes.data(), out.bytes.size(), 0,
                   reinterpret_cast<const sockaddr*>(&card), sizeof card);

        std::vector<pollfd> fds;
        fds.push_back({gSignalPipe[0], POLLIN, 0});
        for (int fd : udp) fds.push_back({fd, POLLIN, 0});
        if (listener >= 0) fds.push_back({listener, POLLIN, 0});
        size_t firstChannel = fds.size();
        for (const auto& c : channels) fds.push_back({c.fd, POLLIN, 0});

        int64_t due = sim.nextDueMs();
        int timeout = -1;
        if (due != kNever) timeout = static_cast<int>(std::clamp<int64_t>(due - nowMs(), 0, 60000));
        int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            fail(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[0].revents != 0) break;  // SIGTERM or SIGINT

        for (size_t i = 0; i < udp.size(); ++i) {
            if ((fds[1 + i].revents & POLLIN) == 0) continue;
            while (true) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n = recvfrom(udp[i], buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n < 0) break;  // EAGAIN, or an error report queued by the kernel
                if (from.sin_addr.s_addr != card.sin_addr.s_addr || from.sin_port != card.sin_port) {
                    // The OLT serves one card; anyone else is ignored, as the card ignores strangers.
                    ++foreign;
                    if (opt.verbose) std::fprintf(stderr, "olt %zu: ignored datagram from a foreign address\n", i + 1);
                    continue;
                }
                sim.receive(i, buf.data(), static_cast<size_t>(n), nowMs());
            }
        }

        if (listener >= 0 && (fds[1 + udp.size()].revents & POLLIN) != 0) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                timeval tv{1, 0};  // a client that stops reading must not stall the OLTs for long
                setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
                channels.push_back(LineChannel{fd, false, {}});
            }
        }

        std::vector<size_t> closed;
        for (size_t k = 0; k < channels.size() && firstChannel + k < fds.size(); ++k) {
            if (fds[firstChannel + k].revents == 0) continue;
            LineChannel& c = channels[k];
            char chunk[4096];
            ssize_t n = read(c.fd, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            bool eof = n <= 0;
            if (!eof) c.buffer.append(chunk, static_cast<size_t>(n));
            if (eof && !c.buffer.empty()) c.buffer.push_back('\n');  // a last line without newline still counts
            size_t pos;
            while ((pos = c.buffer.find('\n')) != std::string::npos) {
                std::string line = c.buffer.substr(0, pos);
                c.buffer.erase(0, pos + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.find_first_not_of(" \t") == std::string::npos) continue;
                std::string reply = sim.command(line, nowMs());
                if (reply.rfind("ok olt=", 0) == 0) reply += " foreign=" + std::to_string(foreign);
                if (!writeAll(c.isStdin ? STDOUT_FILENO : c.fd, reply + "\n")) eof = true;
            }
            if (c.buffer.size() > kMaxLine) {
                writeAll(c.isStdin ? STDOUT_FILENO : c.fd, "error line too long\n");
                c.buffer.clear();
            }
            if (eof) {
                if (c.isStdin) running = false;  // end of standard input ends the program
                else close(c.fd);
                closed.push_back(k);
            }
        }
        for (auto it = closed.rbegin(); it != closed.rend(); ++it)
            channels.erase(channels.begin() + static_cast<long>(*it));
    }

    // Send what is already due (for example the reply to the command that asked to quit).
    for (auto& out : sim.takeDue(nowMs()))
        sendto(udp[static_cast<size_t>(out.olt)], out.bytes.data(), out.bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&card), sizeof card);
    for (const auto& c : channels)
        if (!c.isStdin) close(c.fd);
    for (int fd : udp) close(fd);
    if (listener >= 0) {
        close(listener);
        unlink(opt.control.c_str());
    }
    return 0;
}
