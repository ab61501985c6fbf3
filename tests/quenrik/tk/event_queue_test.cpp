// A slot's socket: the queue of unsolicited messages is bounded, and a refused OLT address
// leaves the address it had.
#include <gtest/gtest.h>

#include "Exception.h"
#include "TKMessage.h"
#include "UDPSocket.h"

namespace {

std::unique_ptr<TKMessage> alarm(uint16_t ctag) {
    const uint8_t frame[] = {0x80, 0x1A, static_cast<uint8_t>(ctag >> 8), static_cast<uint8_t>(ctag), 0, 4, 0, 0, 0, 0};
    return std::make_unique<TKMessage>(frame, sizeof frame);
}

}  // namespace

TEST(EventQueue, KeepsTheNewestMessagesAndSaysSoOncePerBurst) {
    UDPSocket socket;
    testing::internal::CaptureStdout();
    for (uint16_t i = 1; i <= UDPSocket::kMaxEvents + 100; ++i) {
        auto message = alarm(i);
        ASSERT_TRUE(socket.processRxQueue(message));
    }
    EXPECT_EQ(UDPSocket::kMaxEvents, socket.getEventQueueSizeForTest());
    std::vector<std::unique_ptr<TKMessage>> pulled;
    socket.pullAllAlarm(pulled);
    ASSERT_EQ(UDPSocket::kMaxEvents, pulled.size());
    EXPECT_EQ(101, pulled.front()->getCtag());  // the oldest hundred were dropped
    EXPECT_EQ(UDPSocket::kMaxEvents + 100, pulled.back()->getCtag());
    EXPECT_EQ(0u, socket.getEventQueueSizeForTest());
    // A new burst after the pull is reported again.
    for (uint16_t i = 1; i <= UDPSocket::kMaxEvents + 1; ++i) {
        auto message = alarm(i);
        socket.processRxQueue(message);
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    size_t lines = 0;
    for (size_t at = printed.find("Event queue of slot"); at != std::string::npos;
         at = printed.find("Event queue of slot", at + 1))
        ++lines;
    EXPECT_EQ(2u, lines) << printed;
}

TEST(EventQueue, ARefusedOltAddressKeepsTheOneBefore) {
    UDPSocket socket;
    socket.setClientIpAddress("127.0.2.1");
    EXPECT_THROW(socket.setClientIpAddress("127.0.2.1;reboot"), Exception);
    EXPECT_EQ("127.0.2.1", socket.getClientIpAddress());
    socket.setClientIpAddress("");
    EXPECT_EQ("", socket.getClientIpAddress());
}
