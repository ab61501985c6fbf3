// Reply and event layouts, byte for byte against hand-written frames, so a misplaced field
// shows up here rather than as a strange value in the card's tables.
#include "Frames.h"

#include <gtest/gtest.h>

using namespace oltsim;

namespace {

Bytes hex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits.push_back(c);
    Bytes b;
    EXPECT_TRUE(fromHex(digits, b)) << text;
    return b;
}

const Mac kOlt = {0x02, 0x4f, 0x4c, 0x54, 0x00, 0x01};
const Mac kOnu = {0x02, 0x4f, 0x4e, 0x01, 0x00, 0x05};

std::string vendorText64() {
    // "olt-sim line card" then zeros up to 64 bytes.
    std::string t = "6f6c742d73696d206c696e652063617264";
    t.append(2 * 64 - t.size(), '0');
    return t;
}

}  // namespace

TEST(Frames, OltInformationReplyCarriesProductCode3723AtItsOffset) {
    OltInfo info;
    info.mac = kOlt;
    Bytes reply = encodeReply(msg::GetOLTInformation, 0x0102, result::Ok, encodeOltInformation(info));
    Bytes expected =
        hex("0007 0102 005d 0000"  // ID, Ctag, length 93 (2 + 91), result 0
            "024f4c540001 0000 4f4c54 3723 0100 0205" +
            vendorText64() + "0000 3723 00000001 02 02");
    EXPECT_EQ(toHex(expected), toHex(reply));
    // The card reads the product code as two bytes at data offset 11.
    EXPECT_EQ(0x37, reply[8 + 11]);
    EXPECT_EQ(0x23, reply[8 + 12]);
}

TEST(Frames, OltReadyHasTheShortHeaderThenTheOltInformation) {
    OltInfo info;
    info.mac = kOlt;
    info.productCode = 0x3724;
    Bytes ready = encodeOltReady(7, encodeOltInformation(info));
    EXPECT_EQ("80000007005b024f4c54000100004f4c5437240100", toHex(ready).substr(0, 42));
    EXPECT_EQ(6u + 91u, ready.size());
}

TEST(Frames, ListReplySplitsIntoPartsFourteenThenFifteen) {
    std::vector<Bytes> macs = {hex("024f4e010000"), hex("024f4e010001"), hex("024f4e010100")};
    struct Case {
        const char* name;
        size_t perPart;
        std::vector<std::string> frames;
    } cases[] = {
        {"fits one part", 3, {"0076 0009 0014 0000 024f4e010000 024f4e010001 024f4e010100"}},
        {"two parts",
         2,
         {"0076 0009 0010 000e 0000 024f4e010000 024f4e010001", "0076 0009 000a 000f 0001 024f4e010100"}},
        {"one entry per part",
         1,
         {"0076 0009 000a 000e 0000 024f4e010000", "0076 0009 000a 000e 0001 024f4e010001",
          "0076 0009 000a 000f 0002 024f4e010100"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto frames = encodeListReply(msg::GetListOfAllKnownLogicalLinks, 9, macs, c.perPart);
        ASSERT_EQ(c.frames.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(toHex(hex(c.frames[i])), toHex(frames[i]));
    }
    auto empty = encodeListReply(msg::GetListOfDiscoveredLinks, 9, {}, 64);
    ASSERT_EQ(1u, empty.size());
    EXPECT_EQ("0044000900020000", toHex(empty[0]));
}

TEST(Frames, DataRepliesMatchTheirLayouts) {
    LinkInfo li;
    li.mac = kOnu;
    li.llid = 6;
    li.rtt = 385;
    li.downstreamPort = 1;
    li.upstreamPort = 1;
    StatEntry power{0x000b, 4, 0, 25119};
    StatEntry temp{0x000b, 7, 0, 0xffffffffffffffffull};
    OnuOptics optics{0x2d00, 33000, 6000, 158, 17800};
    struct Case {
        const char* name;
        Bytes data;
        std::string expected;
    } cases[] = {
        {"NVS", encodeNvs(false, true), "00 01"},
        {"statistics", encodeStatistics(kOlt, 1, {power, temp}),
         "05 024f4c540001 0001  000b 04 00 000000000000621f  000b 07 00 ffffffffffffffff"},
        {"ONU information", encodeLinkInfo(li), "024f4e010005 0012 4f4e55 0001 0100 0006 0181 01 0000 01 04 01 01"},
        {"bridging mode", encodeBridgingMode(kOnu, QueueEndpoints{0x0214, 0x0215, 0x0216}),
         "024f4e010005 01 0040 0214 0000 0215 0000 0216 0000"},
        // Readings after the MAC, at data offsets 6, 8, 10, 12, 14.
        {"optical diagnosis", encodeOpticalDiagnosis(kOnu, optics), "024f4e010005 2d00 80e8 1770 009e 4588"},
        {"report alarm ONU link", encodeReportAlarm(tag::OnuLink, kOnu, std::nullopt, 23, 1, 1),
         "03 024f4e010005 17 01 01 00"},
        {"report alarm OLT port", encodeReportAlarm(tag::OltPort, kOlt, uint16_t{1}, 17, 0, 2),
         "05 024f4c540001 0001 11 00 02 00"},
        {"link moved", encodeLinkMoved(kOnu, 0, 1), "024f4e010005 00 01"},
        {"domain entry", encodeIdCount(1026, 4), "0402 0004"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(hex(c.expected)), toHex(c.data));
    }
}

TEST(Frames, EventsHaveTenByteHeaderAndLengthCountsEverythingAfterTheBaseHeader) {
    Bytes ev = encodeEvent(msg::ReportAlarm, 3, encodeReportAlarm(tag::OnuLink, kOnu, std::nullopt, 64, 1, 1));
    EXPECT_EQ(toHex(hex("801a 0003 000f 00000000 03 024f4e010005 40 01 01 00")), toHex(ev));
    Bytes nvs = encodeReply(msg::GetOLTNVSEnabled, 5, result::Ok, encodeNvs(true, false));
    EXPECT_EQ(toHex(hex("012d 0005 0004 0000 01 00")), toHex(nvs));
}

TEST(Frames, RuleLengthByteIsTakenAsItsNumericValue) {
    struct Case {
        uint8_t byte;
        size_t length;
    } cases[] = {{0x00, 18}, {0x01, 18}, {0x02, 19}, {0x05, 22}, {0x12, 35}, {0xff, 272}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.byte));
        EXPECT_EQ(c.length, ruleLength(c.byte));
    }
}

TEST(Frames, GetOltRuleReplyKeepsRulesByteExact) {
    // A 35-byte rule (length byte 0x12) followed by an 18-byte rule (length byte 0x01).
    Bytes longRule = hex("080102 12 0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    Bytes shortRule = hex("080105 01 010101 0000 0000000000000000 07");
    ASSERT_EQ(35u, longRule.size());
    ASSERT_EQ(18u, shortRule.size());
    Bytes target = hex("05 024f4c540001 0002");
    Bytes data = encodeOltRules(target, 0, {longRule, shortRule});
    EXPECT_EQ(toHex(target) + "0002" + toHex(longRule) + toHex(shortRule), toHex(data));

    Bytes both = longRule;
    putBytes(both, shortRule);
    std::vector<Bytes> split;
    ASSERT_TRUE(splitRules(both.data(), both.size(), 2, split));
    EXPECT_EQ((std::vector<Bytes>{longRule, shortRule}), split);

    struct Bad {
        const char* name;
        size_t cut;
        size_t count;
    } bad[] = {{"one byte missing", both.size() - 1, 2},
               {"one rule too few", both.size(), 3},
               {"one rule too many", both.size(), 1},
               {"length byte missing", 3, 1}};
    for (const auto& b : bad) {
        SCOPED_TRACE(b.name);
        EXPECT_FALSE(splitRules(both.data(), b.cut, b.count, split));
    }
}

TEST(Frames, RequestHeaderNeedsSixBytes) {
    Request r;
    Bytes shortOne = hex("0007000100");
    EXPECT_FALSE(parseRequest(shortOne.data(), shortOne.size(), r));
    Bytes req = hex("0138 1234 000d 05024f4c540001 0000 000b ff 04");
    ASSERT_TRUE(parseRequest(req.data(), req.size(), r));
    EXPECT_EQ(0x0138, r.id);
    EXPECT_EQ(0x1234, r.ctag);
    EXPECT_EQ(13u, r.lengthField);
    EXPECT_EQ(13u, r.payloadSize);
}
