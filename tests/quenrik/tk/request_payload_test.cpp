// TKMPayload: hex text to bytes, the number appenders, copies, and refusal of text that would
// send the OLT other bytes than meant.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exception.h"
#include "TKMPayload.h"

namespace {

std::vector<uint8_t> bytesOf(const TKMPayload& payload) {
    return std::vector<uint8_t>(payload.getPayload(), payload.getPayload() + payload.getSize());
}

TEST(Payload, BuildsPairsInOrderAndDropsAnOddLastDigit) {
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"0a0B", {0x0a, 0x0b}}, {"0a0", {0x0a}}, {"F", {}}, {"", {}}, {"00ff7F80", {0x00, 0xff, 0x7f, 0x80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TKMPayload payload;
        payload.addHex(c.text);
        payload.buildPayload();
        EXPECT_EQ(payload.getSize(), c.bytes.size());
        EXPECT_EQ(bytesOf(payload), c.bytes);
        EXPECT_EQ(payload.toString(), c.text);
    }
}

TEST(Payload, NumberAppendersWriteLowerCaseNetworkOrder) {
    TKMPayload payload;
    payload.addU8Number(0xAB);
    payload.addU16Number(0xBEEF);
    payload.addU32Number(0x01020304);
    payload.addBool(true);
    payload.addBool(false);
    payload.addU16Number(5);
    // clang-format off
    EXPECT_EQ(payload.toString(), "abbeef010203040100" "0005");
    // clang-format on
    payload.buildPayload();
    EXPECT_EQ(bytesOf(payload), (std::vector<uint8_t>{0xab, 0xbe, 0xef, 1, 2, 3, 4, 1, 0, 0, 5}));
}

TEST(Payload, RebuildClearAndClone) {
    TKMPayload payload;
    payload.addHex("0102");
    payload.buildPayload();
    payload.addHex("03");
    payload.buildPayload();  // releases the first bytes and converts the whole text again
    EXPECT_EQ(bytesOf(payload), (std::vector<uint8_t>{1, 2, 3}));

    auto copy = payload.clone();
    payload.clearPayload();
    EXPECT_EQ(payload.getSize(), 0);
    EXPECT_EQ(payload.getPayload(), nullptr);
    EXPECT_EQ(payload.toString(), "010203");
    // The copy owns its bytes: releasing the source's leaves it intact.
    EXPECT_EQ(copy->toString(), "010203");
    EXPECT_EQ(bytesOf(*copy), (std::vector<uint8_t>{1, 2, 3}));

    payload.clear();
    EXPECT_EQ(payload.toString(), "");
    auto unbuilt = copy->clone();
    copy->clear();
    EXPECT_EQ(unbuilt->toString(), "010203");
    EXPECT_EQ(unbuilt->getSize(), 3);

    TKMPayload neverBuilt;
    neverBuilt.addHex("ff");
    auto textOnly = neverBuilt.clone();
    EXPECT_EQ(textOnly->getPayload(), nullptr);
    EXPECT_EQ(textOnly->getSize(), 0);
    EXPECT_EQ(textOnly->toString(), "ff");
}

TEST(Payload, RefusesTextThatIsNotHexOrTooLong) {
    TKMPayload bad;
    bad.addHex("0a0g");
    try {
        bad.buildPayload();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Invalid hexadecimal text in payload at position 3");
    }
    EXPECT_EQ(bad.getSize(), 0);

    TKMPayload colons;
    colons.addHex("00:11");
    EXPECT_THROW(colons.buildPayload(), Exception);

    TKMPayload largest;
    largest.addHex(std::string(65529 * 2, '0'));
    largest.buildPayload();
    EXPECT_EQ(largest.getSize(), 65529);

    TKMPayload tooLong;
    tooLong.addHex(std::string(65530 * 2, '0'));
    try {
        tooLong.buildPayload();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Payload too long (65530 bytes)");
    }
}

TEST(Payload, MacAcceptsBothTextFormsOnly) {
    TKMPayload payload;
    payload.addMac("00:0D:b6:11:22:33");
    payload.addMac("a0b1c2d3e4f5");
    EXPECT_EQ(payload.toString(), "000Db6112233a0b1c2d3e4f5");
    for (const char* bad : {"00:0d:b6:11:22", "00:0d:b6:11:22:3", "00:0d:b6:11:22:33:", "000db611223",
                            "00.0d.b6.11.22.33", "0:00d:b6:11:22:33", " 00:0d:b6:11:22:33"}) {
        SCOPED_TRACE(bad);
        try {
            payload.addMac(bad);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), std::string("Invalid MAC address (") + bad + ")");
        }
    }
    EXPECT_EQ(payload.toString(), "000Db6112233a0b1c2d3e4f5");
}

}  // namespace
