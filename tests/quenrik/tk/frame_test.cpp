// TKMessage: request frames, and how a received datagram's header length, result, sequence
// and last-part flag are decided from its ID and result.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exception.h"
#include "TKMessage.h"

namespace {

TEST(Frame, RequestIsBaseHeaderPlusPayload) {
    const uint8_t payload[] = {0xaa, 0xbb, 0xcc};
    TKMessage request(0x0138, 0x1234, payload, sizeof payload);
    const std::vector<uint8_t> wire(request.getMessage(), request.getMessage() + request.getSize());
    EXPECT_EQ(wire, (std::vector<uint8_t>{0x01, 0x38, 0x12, 0x34, 0x00, 0x03, 0xaa, 0xbb, 0xcc}));
    EXPECT_EQ(request.getHeaderLength(), 6);
    EXPECT_EQ(request.getDataLength(), 3);
    EXPECT_EQ(request.getData(), request.getMessage() + 6);
    EXPECT_EQ(request.getResult(), 0);
    EXPECT_EQ(request.getSequence(), 0);
    EXPECT_TRUE(request.getIsLastMessage());

    TKMessage empty(0x0007, 1, nullptr, 0);
    EXPECT_EQ(empty.getSize(), 6);
    EXPECT_EQ(empty.getLength(), 0);
    EXPECT_EQ(empty.getDataLength(), 0);
    // A result written into a 6-byte frame has nowhere to go and must not spill past it.
    empty.setResult(3);
    EXPECT_EQ(empty.getResult(), 0);
}

TEST(Frame, SettersWriteNetworkOrder) {
    TKMessage message(0, 0, nullptr, 4);
    message.setId(0xABCD);
    message.setCtag(0x0102);
    message.setLength(0xFFFE);
    const uint8_t* b = message.getMessage();
    EXPECT_EQ(std::vector<uint8_t>(b, b + 6), (std::vector<uint8_t>{0xab, 0xcd, 0x01, 0x02, 0xff, 0xfe}));
    EXPECT_EQ(message.getId(), 0xABCD);
    EXPECT_EQ(message.getCtag(), 0x0102);
    EXPECT_EQ(message.getLength(), 0xFFFE);
}

struct Received {
    const char* name;
    std::vector<uint8_t> bytes;
    uint8_t headerLength;
    bool last;
    uint16_t result;
    uint16_t sequence;
    uint16_t dataLength;
};

const Received kReceived[] = {
    {"reply, 8 bytes, no data", {0x00, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, 8, true, 0, 0, 0},
    {"reply with data", {0x01, 0x6B, 0x00, 0x05, 0x00, 0x03, 0x00, 0x00, 1, 2, 3}, 8, true, 0, 0, 3},
    {"reply, result 3", {0x01, 0x90, 0x00, 0x05, 0x00, 0x00, 0x00, 0x03}, 8, true, 3, 0, 0},
    {"reply, result 8", {0x01, 0x90, 0x00, 0x05, 0x00, 0x00, 0x00, 0x08, 9}, 8, true, 8, 0, 1},
    {"reply part, more follow (14)",
     {0x01, 0x8F, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x07, 0xaa, 0xbb},
     10,
     false,
     14,
     7,
     2},
    {"reply part, last (15)", {0x01, 0x8F, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x08, 0xaa}, 10, true, 15, 8, 1},
    {"highest reply ID 0x7FFF", {0x7F, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, 8, true, 0, 0, 0},
    {"OLT ready 0x8000: bare header, result not read",
     {0x80, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x0E, 0x11, 0x22},
     6,
     true,
     0,
     0,
     4},
    {"alarm report 0x801A",
     {0x80, 0x1A, 0x00, 0x00, 0x00, 0x08, 0x00, 0x0E, 0x00, 0x00, 0x03, 1, 2, 3, 4, 5},
     10,
     true,
     14,
     0,
     6},
    // Header lengths decided by ID and result can exceed a short datagram: no data, and the
    // missing header bytes read as 0 rather than past the buffer.
    {"unsolicited report of 8 bytes", {0x80, 0x19, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 10, true, 0, 0, 0},
    {"reply part of 9 bytes, more follow", {0x01, 0x8F, 0x00, 0x02, 0x00, 0x00, 0x00, 0x0E, 0x05}, 10, false, 14, 0, 0},
};

TEST(Frame, ReceivedHeaderDecidedByIdAndResult) {
    for (const auto& c : kReceived) {
        SCOPED_TRACE(c.name);
        TKMessage message(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(message.getSize(), c.bytes.size());
        EXPECT_EQ(message.getHeaderLength(), c.headerLength);
        EXPECT_EQ(message.getIsLastMessage(), c.last);
        EXPECT_EQ(message.getResult(), c.result);
        EXPECT_EQ(message.getSequence(), c.sequence);
        EXPECT_EQ(message.getDataLength(), c.dataLength);
        if (c.dataLength != 0) {
            EXPECT_EQ(message.getData()[0], c.bytes[c.headerLength]);
        }
        EXPECT_EQ(message.getId(), (c.bytes[0] << 8) | c.bytes[1]);
        EXPECT_EQ(message.getCtag(), (c.bytes[2] << 8) | c.bytes[3]);
    }
}

TEST(Frame, DatagramOfSevenBytesOrLessIsRefused) {
    const uint8_t bytes[8] = {0x00, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    for (std::size_t length : {0, 5, 7}) {
        SCOPED_TRACE(length);
        try {
            TKMessage message(bytes, length);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), "Impossible to create TKMessage with small size");
            EXPECT_EQ(std::string(e.what()).rfind("TKMessage[", 0), 0u) << e.what();
        }
    }
    EXPECT_THROW(TKMessage(nullptr, 8), Exception);
}

TEST(Frame, SetDataFitsBehindTheHeaderOnly) {
    TKMessage message(0x0204, 1, nullptr, 2);
    const uint8_t two[] = {0x02, 0x0a};
    message.setData(two, 2);
    EXPECT_EQ(message.getData()[1], 0x0a);
    const uint8_t three[] = {1, 2, 3};
    try {
        message.setData(three, 3);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Impossible to set data greater than size created");
        EXPECT_EQ(std::string(e.what()).rfind("setData[", 0), 0u) << e.what();
    }
    EXPECT_EQ(message.getData()[0], 0x02);

    // After newData the buffer is the new size; a buffer shorter than the header is read as
    // zeros and refuses data instead of being overrun.
    message.newData(3);
    EXPECT_EQ(message.getSize(), 3);
    EXPECT_EQ(message.getLength(), 0);
    EXPECT_EQ(message.getDataLength(), 0);
    message.setLength(9);
    EXPECT_THROW(message.setData(two, 1), Exception);
}

}  // namespace
