// The notification queue and the notifier, in-process against stand-ins for Halvorn's
// receiver: order across threads, a Halvorn that is late, one that dies in the middle of a
// message, one that is gone for a while.
#include <gtest/gtest.h>

#include "APIData.h"
#include "IPCWorker.h"
#include "harness/Chain.h"

using namespace quenrik_test;

namespace {

class Notifier : public ::testing::Test {
protected:
    void SetUp() override {
        // Set before any thread of the test runs; Paths reads it on every resolve.
        ::setenv("PONMC_ROOT", root_.path().c_str(), 1);
        Periods periods;
        periods.notifierRetry = 50ms;
        worker_ = std::make_unique<IPCWorker>();
        worker_->setPeriods(periods);
        worker_->setSendLimitsForTest(1, 300, 300);
    }
    void TearDown() override {
        worker_.reset();  // stops and joins the notifier
        receiver_.reset();
        ::unsetenv("PONMC_ROOT");
    }
    void startReceiver() {
        receiver_ = std::make_unique<halvorn_test::TaskPeer>(root_.path() + "/tmp/quenhal.ipc", 2000);
        receiver_->start();
    }
    void add(const std::string& n) { worker_->addNotification("/test", R"({"n":")" + n + "\"}"); }
    std::vector<std::string> received() {
        std::vector<std::string> out;
        for (const auto& t : receiver_->tasks()) out.push_back(field(t.data, "n"));
        return out;
    }

    TempRoot root_;
    std::unique_ptr<IPCWorker> worker_;
    std::unique_ptr<halvorn_test::TaskPeer> receiver_;
};

}  // namespace

TEST_F(Notifier, NotificationsWaitForALateHalvornAndLeaveInCallOrder) {
    worker_->startNotifier();
    std::vector<std::string> expected;
    // Two producers taking turns: the order is the order of the calls, whichever thread.
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i);
        std::thread([&] { add(n); }).join();
        expected.push_back(n);
    }
    // Two producers at once: each one's order is kept and nothing is lost.
    auto burst = [&](const std::string& who) {
        for (int i = 0; i < 200; ++i) add(who + std::to_string(i));
    };
    std::thread a(burst, "a"), b(burst, "b");
    a.join();
    b.join();
    std::this_thread::sleep_for(300ms);  // Halvorn is late: the notifier keeps trying
    EXPECT_EQ(420u, worker_->getQueueSizeForTest());

    startReceiver();
    ASSERT_TRUE(waitUntil([&] { return receiver_->count() >= 420; }, 30s)) << receiver_->count();
    const std::vector<std::string> got = received();
    EXPECT_EQ(expected, std::vector<std::string>(got.begin(), got.begin() + 20));
    for (const std::string who : {"a", "b"}) {
        int next = 0;
        for (const auto& n : got) {
            if (n[0] != who[0]) continue;
            EXPECT_EQ(who + std::to_string(next++), n);
        }
        EXPECT_EQ(200, next);
    }
    EXPECT_EQ(0u, worker_->getQueueSizeForTest());
}

TEST_F(Notifier, AFailedSendCostsThatNotificationAndTheNextOnesGoThrough) {
    testing::internal::CaptureStdout();
    // A Halvorn that answers the ping and then dies before acknowledging the message.
    const int fd = bindLoopbackUdp(2000);
    ASSERT_GE(fd, 0);
    halvorn_test::writeWholeFile(root_.path() + "/tmp/quenhal.ipc", "2000");
    worker_->startNotifier();
    add("lost-mid-message");
    char buffer[70000];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ASSERT_EQ(5, ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength));
    EXPECT_EQ("0ping", std::string(buffer, 5));
    const char pong[9] = {'0', 'p', 'o', 'n', 'g', 0, 0, 0, 0};
    ::sendto(fd, pong, sizeof pong, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    const ssize_t chunk = ::recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr);
    EXPECT_GT(chunk, 1);
    ::close(fd);  // dies without the acknowledgement

    // Halvorn restarted on its port: the next notifications go through.
    ASSERT_TRUE(waitUntil([&] { return worker_->getFailedSendsForTest() == 1; }));
    startReceiver();
    add("after-restart");
    ASSERT_TRUE(waitUntil([&] { return receiver_->count() >= 1; }));

    // Halvorn gone altogether (no pong at all): that notification is dropped too, and once
    // it is back the next ones are delivered in order.
    receiver_->stop();
    add("while-gone");
    ASSERT_TRUE(waitUntil([&] { return worker_->getFailedSendsForTest() == 2; }));
    startReceiver();
    add("back-1");
    add("back-2");
    ASSERT_TRUE(waitUntil([&] { return receiver_->count() >= 2; }));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<std::string>{"back-1", "back-2"}), received());
    // One line for each lost notification: "threadNotifyWorker[<line>]: Exception: ...".
    size_t lines = 0;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines += line.rfind("threadNotifyWorker[", 0) == 0 && line.find("]: Exception: ") != std::string::npos;
    EXPECT_EQ(2u, lines) << out;
}
