// The bytes Ostrel puts on the wire and expects back, seen from a raw UDP peer.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "Ostrel"
#include "OstrelTestKit.h"

using namespace ostrel_test;

namespace {

const std::string kPong("0pong\0\0\0\0", 9);

// Message bytes of every value, zero bytes included: the channel carries them untouched.
std::string binaryMessage(size_t length) {
    std::string m(length, '\0');
    for (size_t i = 0; i < length; ++i) m[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return m;
}

struct ChunkCase {
    const char* name;
    std::string message;
    std::vector<std::string> datagrams;  // chunk datagrams, flag byte first
    std::vector<std::string> acks;
};

std::vector<ChunkCase> chunkCases() {
    const std::string full = binaryMessage(64999);
    const std::string over = binaryMessage(65000);
    return {
        {"three bytes", "abc", {"0abc"}, {"04"}},
        {"64999 bytes fit one chunk", full, {"0" + full}, {"065000"}},
        {"65000 bytes need two chunks",
         over,
         {"1" + over.substr(0, 64999), "0" + over.substr(64999)},
         {"065000", "02"}},
    };
}

// An endpoint bound as the server of a channel whose port file lives in a temporary folder.
struct ServerEndpoint {
    TempDir dir;
    std::string path = dir.file("chan.ipc");
    int port = freePort();
    Ostrel ostrel{port};
    ServerEndpoint() {
        EXPECT_TRUE(ostrel.createSocket());
        EXPECT_TRUE(ostrel.bind(path.c_str())) << ostrel.getErrorMessage();
    }
    ~ServerEndpoint() { ostrel.close(); }
};

// After whatever went before, the server endpoint takes the next message whole.
void expectNextMessageServed(ServerEndpoint& s, RawPeer& client) {
    std::string message;
    int64_t result = 0;
    {
        Aside call(s.port, [&] { result = s.ostrel.recv(message); });
        client.sendTo(s.port, "0ping");
        ASSERT_EQ(client.receive(), std::optional<std::string>(kPong));
        client.sendTo(s.port, "0next");
        ASSERT_EQ(client.receive(), std::optional<std::string>("05"));
    }
    EXPECT_EQ(result, 4);
    EXPECT_EQ(message, "next");
}

// An endpoint connected as client to a raw peer acting as the server.
struct ClientEndpoint {
    TempDir dir;
    std::string path = dir.file("chan.ipc");
    RawPeer server;
    int port = freePort();
    Ostrel ostrel{port};
    ClientEndpoint() {
        writeFile(path, std::to_string(server.port()));
        EXPECT_TRUE(ostrel.createSocket());
        ostrel.setPingLimits(3, 2000);
        EXPECT_TRUE(ostrel.connect(path.c_str())) << ostrel.getErrorMessage();
    }
    ~ClientEndpoint() { ostrel.close(); }
};

// The kernel keeps SO_RCVTIMEO in clock ticks, so it reads back rounded up to one.
constexpr int kTickMs = 10;

int receiveTimeoutMs(const Ostrel& o) {
    timeval tv{};
    socklen_t len = sizeof(tv);
    getsockopt(o.getSocketForTest(), SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
    return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

TEST(OstrelWire, PortFileHoldsTheDigitsAlone) {
    ServerEndpoint s;
    EXPECT_EQ(readFile(s.path), std::to_string(s.port));
}

TEST(OstrelWire, SenderPingsThenSendsFlaggedChunks) {
    for (const auto& c : chunkCases()) {
        SCOPED_TRACE(c.name);
        ClientEndpoint e;
        int64_t result = 0;
        Aside call(e.port, [&] { result = e.ostrel.send(c.message); });

        int from = 0;
        EXPECT_EQ(e.server.receive(5000, &from), std::optional<std::string>("0ping"));
        EXPECT_EQ(from, e.port);
        e.server.sendTo(e.port, kPong);
        for (size_t i = 0; i < c.datagrams.size(); ++i) {
            auto got = e.server.receive();
            ASSERT_TRUE(got.has_value()) << "chunk " << i;
            EXPECT_EQ(got->size(), c.datagrams[i].size()) << "chunk " << i;
            EXPECT_TRUE(*got == c.datagrams[i]) << "chunk " << i << " differs";
            e.server.sendTo(e.port, c.acks[i]);
        }
        EXPECT_TRUE(call.finish());
        EXPECT_EQ(result, static_cast<int64_t>(c.message.size())) << e.ostrel.getErrorMessage();
        EXPECT_FALSE(e.server.receive(0).has_value()) << "nothing after the last chunk";
    }
}

TEST(OstrelWire, ReceiverPongsAndAcknowledgesEachChunk) {
    for (const auto& c : chunkCases()) {
        SCOPED_TRACE(c.name);
        ServerEndpoint s;
        RawPeer client;
        std::string message;
        int64_t result = 0;
        Aside call(s.port, [&] { result = s.ostrel.recv(message); });

        client.sendTo(s.port, "0ping");
        int from = 0;
        auto pong = client.receive(5000, &from);
        ASSERT_TRUE(pong.has_value());
        EXPECT_EQ(*pong, kPong);
        EXPECT_EQ(from, s.port);
        for (size_t i = 0; i < c.datagrams.size(); ++i) {
            client.sendTo(s.port, c.datagrams[i]);
            EXPECT_EQ(client.receive(), std::optional<std::string>(c.acks[i])) << "chunk " << i;
        }
        EXPECT_TRUE(call.finish());
        EXPECT_EQ(result, static_cast<int64_t>(c.message.size())) << s.ostrel.getErrorMessage();
        EXPECT_TRUE(message == c.message);
    }
}

// A server has no fixed peer: every ping names the endpoint its next send goes to.
TEST(OstrelWire, ServerAnswersTheEndpointThatPingedLast) {
    ServerEndpoint s;
    s.ostrel.setPingLimits(3, 2000);
    RawPeer first, second;
    for (RawPeer* client : {&first, &second}) {
        std::string request;
        Aside serve(s.port, [&] { s.ostrel.recv(request); });
        client->sendTo(s.port, "0ping");
        ASSERT_EQ(client->receive(), std::optional<std::string>(kPong));
        client->sendTo(s.port, "0req");
        ASSERT_EQ(client->receive(), std::optional<std::string>("04"));
        ASSERT_TRUE(serve.finish());

        int64_t result = 0;
        Aside answer(s.port, [&] { result = s.ostrel.send("resp"); });
        ASSERT_EQ(client->receive(), std::optional<std::string>("0ping"));
        client->sendTo(s.port, kPong);
        ASSERT_EQ(client->receive(), std::optional<std::string>("0resp"));
        client->sendTo(s.port, "05");
        ASSERT_TRUE(answer.finish());
        EXPECT_EQ(result, 4);
    }
    EXPECT_FALSE(first.receive(0).has_value()) << "the first client got the second one's answer";
}

TEST(OstrelErrors, SendBeforeAnyPingHasNoDestination) {
    ServerEndpoint s;
    testing::internal::CaptureStdout();
    EXPECT_EQ(s.ostrel.send("{}"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(s.ostrel.getErrorMessage(), "Invalid destination port: -1");
}

// A silent server: the ping phase gives up after the set attempts, and the ping time-out
// stays on the socket, so the next recv gives up after one time-out as well.
TEST(OstrelErrors, PingPhaseGivesUpAndLeavesItsTimeout) {
    ClientEndpoint e;
    e.ostrel.setPingLimits(3, 50);
    testing::internal::CaptureStdout();
    EXPECT_EQ(e.ostrel.send("abc"), -1);
    const std::string expected = "Impossible to ping server lo0:" + std::to_string(e.server.port());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "err: " + expected + "\n");
    EXPECT_EQ(e.ostrel.getErrorMessage(), expected);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(e.server.receive(0), std::optional<std::string>("0ping"));
    EXPECT_FALSE(e.server.receive(0).has_value()) << "more pings than attempts";

    EXPECT_NEAR(receiveTimeoutMs(e.ostrel), 50, kTickMs);
    std::string message;
    EXPECT_EQ(e.ostrel.recv(message), -1);
    EXPECT_STREQ(e.ostrel.getErrorMessage(), "recvfrom()Resource temporarily unavailable");
}

// The receive time-out each step leaves on the socket: later steps wait with it.
TEST(OstrelErrors, ReceiveTimeoutLeftByEachStep) {
    ClientEndpoint e;
    e.ostrel.setPingLimits(2, 70);
    EXPECT_EQ(receiveTimeoutMs(e.ostrel), 0) << "fresh socket";

    e.ostrel.send("abc");  // nobody answers
    EXPECT_NEAR(receiveTimeoutMs(e.ostrel), 70, kTickMs) << "after a failed ping phase";
    while (e.server.receive(0)) {}

    {
        Aside call(e.port, [&] { EXPECT_EQ(e.ostrel.send("abc"), 3); });
        ASSERT_EQ(e.server.receive(), std::optional<std::string>("0ping"));
        e.server.sendTo(e.port, kPong);
        ASSERT_EQ(e.server.receive(), std::optional<std::string>("0abc"));
        e.server.sendTo(e.port, "04");
    }
    EXPECT_EQ(receiveTimeoutMs(e.ostrel), 0) << "after a delivered message";

    {
        Aside call(e.port, [&] { EXPECT_TRUE(e.ostrel.pingServer()); });
        ASSERT_EQ(e.server.receive(), std::optional<std::string>("0ping"));
        e.server.sendTo(e.port, kPong);
    }
    EXPECT_NEAR(receiveTimeoutMs(e.ostrel), 70, kTickMs) << "after a ping phase on its own";

    {
        std::string message;
        Aside call(e.port, [&] { EXPECT_EQ(e.ostrel.recv(message), 2); });
        e.server.sendTo(e.port, "0ping");
        ASSERT_EQ(e.server.receive(), std::optional<std::string>(kPong));
        e.server.sendTo(e.port, "0hi");
        ASSERT_EQ(e.server.receive(), std::optional<std::string>("03"));
    }
    EXPECT_EQ(receiveTimeoutMs(e.ostrel), 0) << "after a received message";
}

struct AckCase {
    const char* name;
    std::string ack;
    int64_t result;
    const char* error;  // printed after "err: " too; nullptr when the send succeeds
};

TEST(OstrelErrors, AcknowledgementIsChecked) {
    const AckCase cases[] = {
        {"right length", "04", 3, nullptr},
        {"wrong length", "05", -3, "chunk: sent=4,recv=5"},
        {"no digits", "0x", -3, "chunk: sent=4,recv=0"},
        {"a stray pong", kPong, -3, "chunk: sent=4,recv=0"},
        {"empty is taken on trust", "", 3, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientEndpoint e;
        int64_t result = 0;
        std::string out;
        {
            Aside call(e.port, [&] {
                testing::internal::CaptureStdout();
                result = e.ostrel.send("abc");
                out = testing::internal::GetCapturedStdout();
            });
            ASSERT_EQ(e.server.receive(), std::optional<std::string>("0ping"));
            e.server.sendTo(e.port, kPong);
            ASSERT_EQ(e.server.receive(), std::optional<std::string>("0abc"));
            e.server.sendTo(e.port, c.ack);
        }
        EXPECT_EQ(result, c.result);
        if (c.error) {
            EXPECT_STREQ(e.ostrel.getErrorMessage(), c.error);
            EXPECT_EQ(out, std::string("err: ") + c.error + "\n");
        } else {
            EXPECT_EQ(out, "");
        }
    }
}

// A datagram where a ping belongs is spent with that one recv; the next message is whole.
TEST(OstrelErrors, OutOfStepDatagramCostsOneMessage) {
    struct Case {
        const char* name;
        std::string datagram;
        const char* shown;
    };
    const Case cases[] = {
        {"a data chunk", "0abc", "0abc"},
        {"a long chunk shows 9 bytes", "1" + std::string(40, 'x'), "1xxxxxxxx"},
        {"shown up to a zero byte", std::string("0pi\0ng", 6), "0pi"},
        {"an empty datagram", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerEndpoint s;
        RawPeer client;
        std::string message;
        {
            Aside call(s.port, [&] { EXPECT_EQ(s.ostrel.recv(message), -1); });
            client.sendTo(s.port, c.datagram);
        }
        EXPECT_EQ(s.ostrel.getErrorMessage(), std::string("ping error, received: ") + c.shown);
        EXPECT_FALSE(client.receive(0).has_value()) << "a bad ping got an answer";

        expectNextMessageServed(s, client);
    }
}

// An empty datagram carries neither a flag nor bytes: the receiver drops it unanswered and
// keeps waiting for the chunk.
TEST(OstrelErrors, EmptyDatagramAmongChunksIsDropped) {
    ServerEndpoint s;
    RawPeer client;
    std::string message;
    int64_t result = 0;
    {
        Aside call(s.port, [&] { result = s.ostrel.recv(message); });
        client.sendTo(s.port, "0ping");
        ASSERT_EQ(client.receive(), std::optional<std::string>(kPong));
        client.sendTo(s.port, "1ab");
        ASSERT_EQ(client.receive(), std::optional<std::string>("03"));
        client.sendTo(s.port, "");
        client.sendTo(s.port, "0c");
        EXPECT_EQ(client.receive(), std::optional<std::string>("02"));
    }
    EXPECT_EQ(result, 3);
    EXPECT_EQ(message, "abc");
    EXPECT_FALSE(client.receive(0).has_value()) << "the empty datagram was acknowledged";
}

// A peer that dies mid-message: with a transfer bound, the sender's wait for an
// acknowledgement and the receiver's wait for the next chunk end with the time-out text,
// the socket keeps no time-out of its own, and the endpoint serves the next message.
TEST(OstrelBoundedWaits, PeerSilentMidMessage) {
    const std::string timeoutText = std::string("recvfrom()") + std::strerror(EAGAIN);
    {
        SCOPED_TRACE("sender: no acknowledgement");
        ClientEndpoint e;
        e.ostrel.setTransferTimeout(200);
        int64_t result = 0;
        {
            Aside call(e.port, [&] {
                testing::internal::CaptureStdout();
                result = e.ostrel.send("abc");
                testing::internal::GetCapturedStdout();
            });
            ASSERT_EQ(e.server.receive(), std::optional<std::string>("0ping"));
            e.server.sendTo(e.port, kPong);
            ASSERT_EQ(e.server.receive(), std::optional<std::string>("0abc"));
            EXPECT_TRUE(call.finish()) << "the acknowledgement wait was not bounded";
        }
        EXPECT_EQ(result, -2);
        EXPECT_EQ(e.ostrel.getErrorMessage(), timeoutText);
    }
    {
        SCOPED_TRACE("receiver: no last chunk");
        ServerEndpoint s;
        s.ostrel.setTransferTimeout(200);
        RawPeer client;
        std::string message;
        int64_t result = 0;
        {
            Aside call(s.port, [&] { result = s.ostrel.recv(message); });
            client.sendTo(s.port, "0ping");
            ASSERT_EQ(client.receive(), std::optional<std::string>(kPong));
            client.sendTo(s.port, "1ab");
            ASSERT_EQ(client.receive(), std::optional<std::string>("03"));
            EXPECT_TRUE(call.finish()) << "the chunk wait was not bounded";
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(s.ostrel.getErrorMessage(), timeoutText);
        EXPECT_EQ(receiveTimeoutMs(s.ostrel), 0) << "a server must wait for its next ping for ever";

        expectNextMessageServed(s, client);
    }
    {
        SCOPED_TRACE("waiting for a reply that never comes");
        ClientEndpoint e;
        EXPECT_FALSE(e.ostrel.waitForDatagram(50));
        EXPECT_EQ(e.ostrel.getErrorMessage(), timeoutText);
        e.server.sendTo(e.port, "0ping");
        EXPECT_TRUE(e.ostrel.waitForDatagram(2000));
    }
}

// A deadline ends every wait of a transfer, whatever the ping and transfer limits allow:
// the ping phase fails as when its attempts run out, a chunk wait with the time-out text.
TEST(OstrelBoundedWaits, DeadlineEndsEveryWait) {
    const std::string timeoutText = std::string("recvfrom()") + std::strerror(EAGAIN);
    {
        SCOPED_TRACE("ping phase against a silent server");
        ClientEndpoint e;
        e.ostrel.setPingLimits(10, 2000);  // 20 s without the deadline
        e.ostrel.setDeadline(300);
        int64_t result = 0;
        {
            Aside call(e.port, [&] {
                testing::internal::CaptureStdout();
                result = e.ostrel.send("abc");
                testing::internal::GetCapturedStdout();
            });
            EXPECT_TRUE(call.finish()) << "the ping phase went past the deadline";
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(e.ostrel.getErrorMessage(), "Impossible to ping server lo0:" + std::to_string(e.server.port()));
    }
    {
        SCOPED_TRACE("reply whose last chunk never comes");
        ClientEndpoint e;
        e.ostrel.setDeadline(300);  // no transfer time-out: only the deadline bounds the wait
        std::string message;
        int64_t result = 0;
        {
            Aside call(e.port, [&] { result = e.ostrel.recv(message); });
            e.server.sendTo(e.port, "0ping");
            ASSERT_EQ(e.server.receive(), std::optional<std::string>(kPong));
            e.server.sendTo(e.port, "1ab");
            ASSERT_EQ(e.server.receive(), std::optional<std::string>("03"));
            EXPECT_TRUE(call.finish()) << "the chunk wait went past the deadline";
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(e.ostrel.getErrorMessage(), timeoutText);
    }
}

// A message longer than the receiver's limit: every chunk is still acknowledged (the sender
// ends in step), recv fails with the limit's text and leaves the caller's text alone, and
// the next message is served. The limit itself is accepted.
TEST(OstrelLimits, MessageAboveTheLimitIsDrainedAndRefused) {
    struct Case {
        const char* name;
        int64_t limit;  // 0: the default
        size_t length;
        bool accepted;
    };
    const Case cases[] = {
        {"exactly the limit", 100, 100, true},
        {"one byte over, in the last chunk", 100, 101, false},
        {"over within the first chunk", 100, 64999 * 2 + 7, false},
        {"default limit, one byte over", 0, static_cast<size_t>(Ostrel::kDefaultMaxMessage) + 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerEndpoint s;
        if (c.limit > 0) s.ostrel.setMaxMessageSize(c.limit);
        const int64_t limit = c.limit > 0 ? c.limit : Ostrel::kDefaultMaxMessage;
        RawPeer client;
        std::string message = "kept";
        int64_t result = 0;
        {
            Aside call(s.port, [&] { result = s.ostrel.recv(message); });
            client.sendTo(s.port, "0ping");
            ASSERT_EQ(client.receive(), std::optional<std::string>(kPong));
            const std::string payload(static_cast<size_t>(Ostrel::kMaxChunkPayload), 'x');
            for (size_t sent = 0; sent < c.length;) {
                const size_t chunk = std::min(c.length - sent, payload.size());
                sent += chunk;
                const bool more = sent < c.length;
                client.sendTo(s.port, (more ? "1" : "0") + payload.substr(0, chunk));
                ASSERT_EQ(client.receive(), std::optional<std::string>("0" + std::to_string(chunk + 1)))
                    << "chunk ending at " << sent;
            }
        }
        if (c.accepted) {
            EXPECT_EQ(result, static_cast<int64_t>(c.length));
            EXPECT_EQ(message, "kept" + std::string(c.length, 'x'));
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(s.ostrel.getErrorMessage(), "Message too long: more than " + std::to_string(limit) + " bytes");
            EXPECT_TRUE(message == "kept") << "the caller's text now holds " << message.size() << " bytes";
        }

        expectNextMessageServed(s, client);
    }
}

}  // namespace
