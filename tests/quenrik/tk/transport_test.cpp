// The exchange and the receive thread on loopback against the line-card simulator: the card
// binds 127.0.1.1:14113, the simulated OLT answers from 127.0.2.1:14113.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Container.h"
#include "Exception.h"
#include "RequestMessage.h"
#include "ResponseMessage.h"
#include "SocketHelper.h"
#include "TKMessage.h"
#include "UDPSocket.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

// The simulator sits in the same build tree (tools/olt-sim); PONMC_OLT_SIM overrides.
std::string simulatorPath() {
    if (const char* p = std::getenv("PONMC_OLT_SIM")) return p;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "olt-sim";
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/'));  // .../tests/quenrik/tk
    for (int i = 0; i < 3; ++i) path = path.substr(0, path.rfind('/'));
    return path + "/tools/olt-sim/olt-sim";
}

// olt-sim as a child process, driven through its control socket.
class OltSim {
public:
    explicit OltSim(const std::vector<std::string>& options) {
        char folder[] = "/tmp/tk-transport-XXXXXX";
        if (::mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = folder;
        control_ = folder_ + "/ctl";
        std::vector<std::string> args = {simulatorPath(), "--no-stdin", "--control", control_};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            pid_ = -1;
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
        }
        stdout_ = out[0];
        const std::string ready = readLine(stdout_, 10000ms);
        if (ready.rfind("ok ready", 0) != 0) throw std::runtime_error("olt-sim did not get ready: '" + ready + "'");
        ctl_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, control_.c_str(), sizeof address.sun_path - 1);
        if (::connect(ctl_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot reach the olt-sim control socket");
        }
    }

    ~OltSim() {
        if (ctl_ >= 0) {
            const std::string quit = "quit\n";
            (void)!::write(ctl_, quit.data(), quit.size());
            ::close(ctl_);
        }
        if (pid_ > 0) {
            int status = 0;
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (::waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(10ms);
            }
        }
        if (stdout_ >= 0) ::close(stdout_);
        ::unlink(control_.c_str());
        ::rmdir(folder_.c_str());
    }

    // One command, its one reply line; fails the test on "error ...".
    std::string command(const std::string& line) {
        const std::string text = line + "\n";
        if (::write(ctl_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "error write";
        std::string reply = readLine(ctl_, 5000ms);
        EXPECT_EQ(reply.rfind("ok", 0), 0u) << line << " -> " << reply;
        return reply;
    }

    // The count of datagrams this OLT received from the card.
    int requests(int olt) {
        const std::string reply = command("requests " + std::to_string(olt));
        return reply.size() > 3 ? std::stoi(reply.substr(3)) : -1;
    }

private:
    std::string readLine(int fd, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const size_t end = pending_[fd].find('\n');
            if (end != std::string::npos) {
                std::string line = pending_[fd].substr(0, end);
                pending_[fd].erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return "error time-out";
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) return "error closed";
            pending_[fd].append(buffer, static_cast<size_t>(n));
        }
    }

    std::string folder_;
    std::string control_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    int ctl_ = -1;
    std::map<int, std::string> pending_;
};

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.getMessage();
    }
    return "<no failure>";
}

constexpr std::chrono::milliseconds kTry = 300ms;

class Transport : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& simOptions) {
        sim = std::make_unique<OltSim>(simOptions);
        helper.setReopenDelayForTest(50ms);
        helper.start(SocketHelper::kAnyInterface);
        helper.setSourceIP("127.0.1.1");
        ASSERT_TRUE(eventually([&] { return helper.hasDone(); })) << "socket never opened";
        slot.start(helper, "1");
        slot.setClientIpAddress("127.0.2.1");
        slot.setResponseTimeoutForTest(kTry);
    }

    // Declaration order is destruction order reversed: the simulator goes first, the helper
    // (and its receive thread) last.
    SocketHelper helper;
    UDPSocket slot;
    std::unique_ptr<OltSim> sim;
};

TEST_F(Transport, MultiPartReplyIsCollectedUpToItsLastPart) {
    start({"--olts", "1", "--onus", "2", "--part-entries", "2"});
    for (const char* mac : {"02:4f:4e:01:00:00", "02:4f:4e:01:00:01", "02:4f:4e:01:01:00"}) {
        sim->command(std::string("discover 1 ") + mac);
    }
    RequestMessage request;
    request.addGetListOfAllKnownLogicalLinks();
    request.addGetOLTNVSEnabled();
    ResponseMessage response;
    slot.sendRequestMessage(&request, &response);

    // The reply with result 14, then the one with 15, and only then the second request's reply.
    ASSERT_EQ(response.getMessagesSize(), 3u);
    EXPECT_EQ(response.getMessageAt(0)->getResult(), 14);
    EXPECT_EQ(response.getMessageAt(1)->getResult(), 15);
    EXPECT_EQ(response.getMessageAt(1)->getSequence(), 1);
    EXPECT_EQ(response.getMessageAt(2)->getId(), 0x012D);
    EXPECT_EQ(sim->requests(1), 2);
    response.parseAllMessages();
    ASSERT_EQ(response.getContainerSize(), 3u);
    EXPECT_EQ(response.getContainer(0)->getListSize("allkn_link_macs"), 2u);
    EXPECT_EQ(response.getContainer(1)->getListSize("allkn_link_macs"), 1u);
    EXPECT_EQ(response.getContainer(2)->getValue("current"), "0");
    // The three discoveries arrived as unsolicited messages meanwhile.
    EXPECT_TRUE(eventually([&] { return slot.getEventQueueSizeForTest() == 3; }));
}

TEST_F(Transport, RequestAnsweredOnTheThirdTrySucceeds) {
    start({"--olts", "1"});
    sim->command("drop 1 2");
    RequestMessage request;
    request.addGetOLTInformation();
    ResponseMessage response;
    slot.sendRequestMessage(&request, &response);

    EXPECT_EQ(sim->requests(1), 3);
    // The three tries are the same datagram, Ctag included.
    const std::string record = sim->command("record 1");
    EXPECT_EQ(record, "ok 3 000700010000 000700010000 000700010000");
    ASSERT_EQ(response.getMessagesSize(), 1u);
    response.parseAllMessages();
    EXPECT_EQ(response.getContainer(0)->getValue("olt_epon_mac"), "02:4f:4c:54:00:01");
}

TEST_F(Transport, UnansweredRequestFailsAfterThreeTriesAndStopsTheBatch) {
    start({"--olts", "1"});
    sim->command("silent 1 on");
    RequestMessage request;
    request.addGetOLTInformation();
    request.addGetOLTNVSEnabled();
    ResponseMessage response;
    EXPECT_EQ(failureOf([&] { slot.sendRequestMessage(&request, &response); }), "Impossible to send messages to card");
    EXPECT_EQ(sim->command("record 1"), "ok 3 000700010000 000700010000 000700010000");
    EXPECT_EQ(response.getMessagesSize(), 0u);
}

TEST_F(Transport, LateReplyWithAnOldCtagIsDropped) {
    start({"--olts", "1"});
    RequestMessage request;
    ResponseMessage response;
    request.addGetOLTNVSEnabled();  // Ctag 1
    slot.sendRequestMessage(&request, &response);
    request.clear();
    response.clear();

    // Ctag 1 again, claiming NVS on, reaches the card just before the answer to Ctag 2.
    sim->command("raw 1 012d0001000400000101 next");
    request.addGetOLTNVSEnabled();  // Ctag 2
    slot.sendRequestMessage(&request, &response);
    ASSERT_EQ(response.getMessagesSize(), 1u);
    EXPECT_EQ(response.getMessageAt(0)->getCtag(), 2);
    response.parseAllMessages();
    EXPECT_EQ(response.getContainer(0)->getValue("current"), "0");
    EXPECT_EQ(slot.getEventQueueSizeForTest(), 0u);
}

TEST_F(Transport, AlarmDuringAnExchangeGoesToTheEventQueue) {
    start({"--olts", "1"});
    sim->command("alarm 1 3 02:4f:4e:01:00:00 23 1 1 next");
    RequestMessage request;
    request.addGetOLTInformation();
    ResponseMessage response;
    slot.sendRequestMessage(&request, &response);
    ASSERT_EQ(response.getMessagesSize(), 1u);
    EXPECT_EQ(response.getMessageAt(0)->getId(), 0x0007);

    ResponseMessage alarms;
    slot.pullAllAlarm(&alarms);
    EXPECT_EQ(slot.getEventQueueSizeForTest(), 0u);
    alarms.parseAllMessages();
    ASSERT_EQ(alarms.getContainerSize(), 1u);
    Container* alarm = alarms.getContainer(0);
    EXPECT_EQ(alarm->getValue("alarm_message_id"), "32794");
    EXPECT_EQ(alarm->getValue("entity_tag"), "3");
    EXPECT_EQ(alarm->getValue("mac_address"), "02:4f:4e:01:00:00");
    EXPECT_EQ(alarm->getValue("alarm_id"), "23");
}

TEST_F(Transport, SlotsSharingAnOltAddressEachGetTheirOwnCopy) {
    start({"--olts", "1"});
    UDPSocket twin;
    twin.start(helper, "2");
    twin.setClientIpAddress("127.0.2.1");
    sim->command("move 1 02:4f:4e:01:00:00 1");
    EXPECT_TRUE(
        eventually([&] { return slot.getEventQueueSizeForTest() == 1 && twin.getEventQueueSizeForTest() == 1; }));

    // A reply belongs to the slot whose exchange asked; the twin drops its copy.
    RequestMessage request;
    request.addGetOLTNVSEnabled();
    ResponseMessage response;
    slot.sendRequestMessage(&request, &response);
    EXPECT_EQ(response.getMessagesSize(), 1u);
    ResponseMessage events;
    twin.pullAllAlarm(&events);
    ASSERT_EQ(events.getMessagesSize(), 1u);
    EXPECT_EQ(events.getMessageAt(0)->getId(), 0x802B);
}

TEST_F(Transport, TinyDatagramClosesAndReopensTheSocket) {
    start({"--olts", "1"});
    ASSERT_EQ(helper.getOpenCountForTest(), 1u);
    testing::internal::CaptureStdout();
    sim->command("raw 1 0102030405");
    const bool reopened = eventually([&] { return helper.getOpenCountForTest() == 2 && helper.isOpenForTest(); });
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(reopened);
    EXPECT_NE(printed.find("Exception: TKMessage["), std::string::npos) << printed;
    EXPECT_NE(printed.find("]: Impossible to create TKMessage with small size\n"), std::string::npos) << printed;

    // Again, ahead of a reply: the reply dies with the closed socket, the retry gets through.
    sim->command("raw 1 0102030405 next");
    RequestMessage request;
    request.addGetOLTInformation();
    ResponseMessage response;
    slot.sendRequestMessage(&request, &response);
    EXPECT_EQ(response.getMessagesSize(), 1u);
    EXPECT_TRUE(eventually([&] { return helper.getOpenCountForTest() == 3; }));
}

TEST_F(Transport, NothingIsSentBeforeTheSourceAddressIsKnown) {
    start({"--olts", "1"});
    SocketHelper idle;
    idle.setReopenDelayForTest(10ms);
    idle.start(SocketHelper::kAnyInterface);
    UDPSocket waiting;
    waiting.start(idle, "3");
    waiting.setClientIpAddress("127.0.2.1");
    waiting.setResponseTimeoutForTest(50ms);
    RequestMessage request;
    request.addGetOLTInformation();
    ResponseMessage response;
    EXPECT_EQ(failureOf([&] { waiting.sendRequestMessage(&request, &response); }),
              "Impossible to send messages to card");
    EXPECT_FALSE(idle.hasDone());
    EXPECT_EQ(sim->requests(1), 0);
}

// Without a peer: the refusals that come before anything is sent, and the sender check.
TEST(TransportSetup, RefusesBeforeSendingAndMatchesSendersExactly) {
    SocketHelper helper;  // never started: nothing is bound
    UDPSocket slot;
    slot.start(helper, "4");
    RequestMessage request;
    request.addGetOLTInformation();
    ResponseMessage response;
    EXPECT_EQ(failureOf([&] { slot.sendRequestMessage(&request, nullptr); }),
              "Impossible to allocate a new Response Message");
    EXPECT_EQ(failureOf([&] { slot.sendRequestMessage(&request, &response); }), "Client ip address empty to slot 4");
    EXPECT_NE(failureOf([&] { slot.setClientIpAddress("127.0.2.x"); }), "<no failure>");
    EXPECT_EQ(slot.getClientIpAddress(), "");

    slot.setClientIpAddress("127.0.2.4");
    auto sender = [](const char* ip, uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, ip, &a.sin_addr);
        return a;
    };
    EXPECT_TRUE(slot.hasClientIpAddress(sender("127.0.2.4", 14113)));
    EXPECT_FALSE(slot.hasClientIpAddress(sender("127.0.2.4", 14114)));
    EXPECT_FALSE(slot.hasClientIpAddress(sender("127.0.2.5", 14113)));
    slot.clearClientIpAddress();
    EXPECT_FALSE(slot.hasClientIpAddress(sender("127.0.2.4", 14113)));
    EXPECT_EQ(failureOf([&] { slot.sendRequestMessage(&request, &response); }), "Client ip address empty to slot 4");
}

}  // namespace
