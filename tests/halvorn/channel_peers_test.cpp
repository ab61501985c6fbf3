// The daemon with its channel peers absent, late, restarting and dying mid-message: Quenrik
// missing for longer than the connect limit, Quenrik restarting while tasks wait, and a peer
// that stops answering at each step of a transfer (task, request, response, notification).
// Nothing may end the daemon or leave one of its threads waiting for ever.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "../ipc/OstrelTestKit.h"
#include "JsonFields.h"
#include "harness/Harness.h"

using namespace halvorn_test;
using ostrel_test::RawPeer;

namespace {

const std::string kPong("0pong\0\0\0\0", 9);
// What a bounded transfer wait reports when the peer has gone quiet.
const std::string kTransferTimeout = std::string("recvfrom()") + std::strerror(EAGAIN);

std::vector<std::string> uris(const std::vector<Task>& tasks) {
    std::vector<std::string> out;
    for (auto& t : tasks) out.push_back(t.uri);
    return out;
}

std::string request(const std::string& action, const std::string& uri) {
    APIData envelope;
    envelope.createRequest(action, uri, "");
    return envelope.getJsonProtocol();
}

}  // namespace

TEST(ChannelPeers, QuenrikAbsentPastTheConnectLimitThenLateThenRestarting) {
    constexpr int kConnectSeconds = 2;
    Harness::Options o;
    o.startTaskPeer = false;
    o.environment = {"HALVORN_QUENRIK_WAIT_FOR_TEST=" + std::to_string(kConnectSeconds)};
    o.binary = HALVORN_FOR_TEST_BINARY;
    Harness h(o);

    // Alone for five connect limits: the sender gives up connecting again and again, the
    // daemon keeps answering and queueing.
    const char* early[] = {"/slot/reset", "/slot/disable", "/slot/enable", "/slot/restore-default"};
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5 * kConnectSeconds);
    size_t queued = 0;
    int answered = 0;
    while (std::chrono::steady_clock::now() < until) {
        auto slots = h.get("/slottable");
        ASSERT_EQ(slots.err, "");
        ASSERT_NE(slots.data.find("\"qvSlotIndex\":\"8\""), std::string::npos);
        ++answered;
        if (queued < std::size(early)) {
            ASSERT_EQ(h.set(early[queued], "{\"slot_id\":\"" + std::to_string(queued + 1) + "\"}").err, "");
            ++queued;
        }
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_GT(answered, 10);
    EXPECT_TRUE(h.running());
    EXPECT_GE(h.logCount("-Error: Timeout watting ipc: " + h.path("/tmp/halquen.ipc")), 3u) << h.log();

    // Quenrik starts late: the queued tasks arrive, in order.
    h.tasks().start();
    ASSERT_TRUE(h.tasks().waitForCount(4, 20s)) << h.log();
    EXPECT_EQ(uris(h.tasks().tasks()), std::vector<std::string>(std::begin(early), std::end(early)));
    EXPECT_EQ(h.tasks().tasks()[3].data, "{\"slot_id\":\"4\"}");

    // Quenrik restarts: a send fails meanwhile, and the task it could not deliver still goes
    // first once Quenrik is back, followed by the ones queued after it.
    const std::string pingFailed = "Impossible to ping server lo0:2010";
    const size_t failuresBefore = h.logCount(pingFailed);
    h.tasks().stop();
    h.tasks().clear();
    ASSERT_EQ(h.set("/slot/reset", R"({"slot_id":"7"})").err, "");
    ASSERT_EQ(h.set("/slot/enable", R"({"slot_id":"7"})").err, "");
    ASSERT_TRUE(waitUntil([&] { return h.logCount(pingFailed) > failuresBefore; }, 30s)) << h.log();
    ASSERT_EQ(h.set("/slot/disable", R"({"slot_id":"7"})").err, "");
    h.tasks().start();
    ASSERT_TRUE(h.tasks().waitForCount(3, 30s)) << h.log();
    EXPECT_EQ(uris(h.tasks().tasks()), (std::vector<std::string>{"/slot/reset", "/slot/enable", "/slot/disable"}));
    EXPECT_TRUE(h.running());
}

TEST(ChannelPeers, TaskSenderWhosePeerStopsAcknowledgingGoesOn) {
    Harness::Options o;
    o.startTaskPeer = false;
    o.prepare = [](Harness& h) { h.writeFile("/tmp/halquen.ipc", "2010"); };
    Harness h(o);
    {
        // Quenrik answers the ping, takes the chunk and dies before acknowledging it.
        RawPeer quenrik(2010);
        ASSERT_EQ(h.set("/slot/reset", R"({"slot_id":"1"})").err, "");
        int senderPort = 0;
        ASSERT_EQ(quenrik.receive(20000, &senderPort), std::optional<std::string>("0ping"));
        quenrik.sendTo(senderPort, kPong);
        auto chunk = quenrik.receive(5000);
        ASSERT_TRUE(chunk.has_value());
        EXPECT_NE(chunk->find("/slot/reset"), std::string::npos);
    }
    ASSERT_EQ(h.set("/slot/enable", R"({"slot_id":"2"})").err, "");
    h.tasks().start();
    // The sender was not left waiting: it gave up on the acknowledgement, and the task that
    // may have reached Quenrik is not sent twice.
    ASSERT_TRUE(h.tasks().waitForCount(1, 30s)) << h.log();
    EXPECT_EQ(uris(h.tasks().tasks()), std::vector<std::string>{"/slot/enable"});
    EXPECT_TRUE(h.logContains(kTransferTimeout)) << h.log();
}

TEST(ChannelPeers, RequestWorkerOutlivesClientsThatVanishMidExchange) {
    Harness h;
    {
        SCOPED_TRACE("the request's last chunk never comes");
        RawPeer client(ApiClient::kWebClientPort);
        client.sendTo(2030, "0ping");
        ASSERT_EQ(client.receive(), std::optional<std::string>(kPong));
        const std::string chunk = "1{\"action\":\"get\",";
        client.sendTo(2030, chunk);
        ASSERT_EQ(client.receive(), std::optional<std::string>("0" + std::to_string(chunk.size())));
    }
    ASSERT_TRUE(h.waitForLog("-Error: " + kTransferTimeout, 20s)) << h.log();
    EXPECT_EQ(h.get("/slottable/2").err, "");
    {
        SCOPED_TRACE("the response is never acknowledged");
        RawPeer client(ApiClient::kWebClientPort);
        client.sendTo(2030, "0ping");
        ASSERT_EQ(client.receive(), std::optional<std::string>(kPong));
        client.sendTo(2030, "0" + request("get", "/slottable/3"));
        ASSERT_TRUE(client.receive().has_value());  // the acknowledgement
        ASSERT_EQ(client.receive(), std::optional<std::string>("0ping"));
        client.sendTo(2030, kPong);
        auto response = client.receive();
        ASSERT_TRUE(response.has_value());
        EXPECT_NE(response->find("\"qvSlotIndex\":\"3\""), std::string::npos);
    }
    ASSERT_TRUE(waitUntil([&] { return h.logCount("-Error: " + kTransferTimeout) >= 2; }, 20s)) << h.log();
    auto after = h.get("/slottable/4");
    EXPECT_EQ(after.err, "");
    EXPECT_EQ(field(after.data, "qvSlotIndex"), "4");
    EXPECT_TRUE(h.running());
}

TEST(ChannelPeers, NotificationReceiverOutlivesANotifierThatVanishesMidMessage) {
    Harness h;
    {
        RawPeer notifier(2001);
        notifier.sendTo(2000, "0ping");
        ASSERT_EQ(notifier.receive(), std::optional<std::string>(kPong));
        const std::string chunk = "1{\"action\":\"set\",";
        notifier.sendTo(2000, chunk);
        ASSERT_EQ(notifier.receive(), std::optional<std::string>("0" + std::to_string(chunk.size())));
    }
    ASSERT_TRUE(h.waitForLog("threadRcvWorker[", 20s)) << h.log();
    EXPECT_TRUE(h.logContains("-Error: " + kTransferTimeout)) << h.log();
    h.notify("/onu/new", R"({"mac_address":"00:0a:0b:0c:0d:0e","slot_id":"2","pon_port":"0","online_status":"1"})");
    ASSERT_TRUE(waitUntil([&] { return h.get("/onutable/1").err.empty(); })) << h.log();
    EXPECT_EQ(field(h.get("/onutable/1").data, "qvCfgONUPhysicalID"), "00:0a:0b:0c:0d:0e");
}
