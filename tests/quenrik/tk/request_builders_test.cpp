// Every request builder against its payload written by hand from the message table: ID,
// base header, length field and every payload byte. A row that fails names its builder.

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

#include "Exception.h"
#include "OnuLink.h"
#include "RequestMessage.h"

// Payloads are written one protocol field per string literal, as in the message tables:
// the layout is the check's readability, so it is kept as written.
// clang-format off
namespace {

const std::string kOltMac = "00:0d:b6:11:22:33";
const std::string kLinkMac = "a0:b1:c2:d3:e4:f5";
#define OLT "000db6112233"
#define LINK "a0b1c2d3e4f5"
// SLA parameter block: u32 0, u16 ffff, u8 ff, u16 ffff, u32 1000000, u16 200, u8 2, u16 16.
#define SLA "00000000" "ffff" "ff" "ffff" "000f4240" "00c8" "02" "0010"

std::string hexOf(const uint8_t* bytes, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One request as it leaves: the 6-byte header, then exactly the payload.
void expectRequest(const TKMessage& message, uint16_t id, const std::string& payloadHex, std::size_t payloadBytes) {
    ASSERT_EQ(payloadHex.size(), payloadBytes * 2) << "expected text of the row itself is miscounted";
    EXPECT_EQ(message.getId(), id);
    EXPECT_EQ(message.getHeaderLength(), 6);
    EXPECT_EQ(message.getLength(), payloadBytes);
    EXPECT_EQ(message.getSize(), 6 + payloadBytes);
    EXPECT_EQ(message.getMessage()[0], id >> 8);
    EXPECT_EQ(message.getMessage()[1], id & 0xFF);
    EXPECT_EQ(message.getMessage()[4], payloadBytes >> 8);
    EXPECT_EQ(message.getMessage()[5], payloadBytes & 0xFF);
    EXPECT_TRUE(message.getIsLastMessage());
    EXPECT_EQ(hexOf(message.getData(), message.getDataLength()), lower(payloadHex));
}

struct BuilderCase {
    const char* name;
    std::function<void(RequestMessage&)> build;
    uint16_t id;
    std::string payload;  // hex, spaces never; blocks split only for reading
    std::size_t bytes;
};

const BuilderCase kBuilders[] = {
    {"addSetDefaultOAMRate", [](RequestMessage& r) { r.addSetDefaultOAMRate(); }, 0x0001, "011401", 3},
    {"addResetOLT", [](RequestMessage& r) { r.addResetOLT(); }, 0x0006, "", 0},
    {"addGetOLTInformation", [](RequestMessage& r) { r.addGetOLTInformation(); }, 0x0007, "", 0},
    {"addEnableOLT", [](RequestMessage& r) { r.addEnableOLT(); }, 0x0008, "", 0},
    {"addDisableOLT", [](RequestMessage& r) { r.addDisableOLT(); }, 0x0009, "", 0},
    {"addRestoreOLTDefaults", [](RequestMessage& r) { r.addRestoreOLTDefaults(); }, 0x000A, "", 0},
    {"addGetListOfDiscoveredLinks", [](RequestMessage& r) { r.addGetListOfDiscoveredLinks(); }, 0x0044, "", 0},
    {"addSetOLTBridgingConfiguration (bridge advanced)",
     [](RequestMessage& r) { r.addSetOLTBridgingConfiguration(true); }, 0x0050, "00000000" "00" "ff" "01" "01" "00" "01",
     10},
    {"addSetOLTBridgingConfiguration (provisioning)", [](RequestMessage& r) { r.addSetOLTBridgingConfiguration(); },
     0x0050, "00050000" "00" "18" "01" "01" "00" "01", 10},
    {"addResetONU", [](RequestMessage& r) { r.addResetONU(kLinkMac); }, 0x0053, LINK, 6},
    {"addGetListOfAllKnownLogicalLinks", [](RequestMessage& r) { r.addGetListOfAllKnownLogicalLinks(); }, 0x0076, "",
     0},
    {"addClearAllProvisioningForLogicalLink",
     [](RequestMessage& r) { r.addClearAllProvisioningForLogicalLink(kLinkMac); }, 0x0077, LINK, 6},
    {"addOnuPortVlan (VLAN 100)", [](RequestMessage& r) { r.addOnuPortVlan(kLinkMac, "100"); }, 0x0111,
     LINK "80" "01" "01" "00" "0001" "01" "8100" "0064", 17},
    {"addOnuPortVlan (VLAN 0, untagged)", [](RequestMessage& r) { r.addOnuPortVlan(kLinkMac, "0"); }, 0x0111,
     LINK "80" "01" "01" "00" "0001" "00", 13},
    {"addOnuPortVlan (no number, untagged)", [](RequestMessage& r) { r.addOnuPortVlan(kLinkMac, "abc"); }, 0x0111,
     LINK "80" "01" "01" "00" "0001" "00", 13},
    {"addClearAllAllowedLinks", [](RequestMessage& r) { r.addClearAllAllowedLinks(kOltMac, 1); }, 0x0126,
     OLT "0001", 8},
    {"addCTCSetEthernetPort", [](RequestMessage& r) { r.addCTCSetEthernetPort(kLinkMac); }, 0x012B,
     LINK "80" "01" "01" "00" "0001" "01" "01" "01" "01", 16},
    {"addGetOLTNVSEnabled", [](RequestMessage& r) { r.addGetOLTNVSEnabled(); }, 0x012D, "", 0},
    {"addSetOLTNVSEnabled", [](RequestMessage& r) { r.addSetOLTNVSEnabled(false); }, 0x012E, "00", 1},
    {"addGetStatistics", [](RequestMessage& r) { r.addGetStatistics(kOltMac, 1); }, 0x0138,
     "05" OLT "0001" "000b" "ff" "04", 13},
    {"addSetOLTIPMulticastGlobalProvisioning",
     [](RequestMessage& r) { r.addSetOLTIPMulticastGlobalProvisioning(); }, 0x014F, "1000" "000F4240" "0000", 8},
    {"addSetOLTIPMulticastDomainProxyProvisioning",
     [](RequestMessage& r) { r.addSetOLTIPMulticastDomainProxyProvisioning(); }, 0x0151,
     "0402" "00000003" "00000003" "00000000" "000F4240" "00002710"
     // 1000, 0, 2, 600, 580, 55, 2, 800, 2, 110, 10, 0, 1000, 0
     "03e8" "0000" "0002" "0258" "0244" "0037" "0002" "0320" "0002" "006e" "000a" "0000" "03e8" "0000"
     "C0A86502" "FE800000000000000000000000000001",
     70},
    {"addSetOLTIPMulticastHostCopy", [](RequestMessage& r) { r.addSetOLTIPMulticastHostCopy(); }, 0x015D,
     "0402" "00" "06" "00" "06" "00" "06" "06" "07" "06" "06" "06" "06" "06" "06" "00", 17},
    {"addSetDBAPollingIntervalHighResolution",
     [](RequestMessage& r) { r.addSetDBAPollingIntervalHighResolution(kOltMac, 0); }, 0x0163,
     OLT "0000" "0005" "0005" "0005" "0005" "0005" "0005" "0005" "0005", 24},
    {"addSetEPONLoopTiming", [](RequestMessage& r) { r.addSetEPONLoopTiming(kOltMac, 1); }, 0x0167,
     OLT "0001" "0000" "1a5e" "0c35" "0000", 16},
    {"addGetONUInformation", [](RequestMessage& r) { r.addGetONUInformation(kLinkMac); }, 0x016B, LINK, 6},
    {"addSetAggregateBandwidth", [](RequestMessage& r) { r.addSetAggregateBandwidth(kOltMac, 0); }, 0x0173,
     OLT "0000" "00000000" "0000" "00", 15},
    {"addSetPath", [](RequestMessage& r) { r.addSetPath(8192, 1, 2, 32); }, 0x0178,
     "2000" "0001" "0001" "0020" "0002" "0001" "0020", 14},
    {"addGetAllPath", [](RequestMessage& r) { r.addGetAllPath(); }, 0x0179, "", 0},
    {"addDeletePath", [](RequestMessage& r) { r.addDeletePath(8202); }, 0x017A, "200a", 2},
    {"doAddGetAllDomains", [](RequestMessage& r) { r.doAddGetAllDomains(); }, 0x017D, "", 0},
    {"addSetQueueSLA", [](RequestMessage& r) { r.addSetQueueSLA("1a14"); }, 0x0180, "1a14" "0000" SLA, 22},
    {"addEnableLink (ONU enable)", [](RequestMessage& r) { r.addEnableLink(kLinkMac); }, 0x0181, LINK "0000", 8},
    {"addEnableLink (link re-enable)", [](RequestMessage& r) { r.addEnableLink(kLinkMac, false); }, 0x0181, LINK,
     6},
    {"addDisableLink", [](RequestMessage& r) { r.addDisableLink(kLinkMac); }, 0x0182, LINK "0000", 8},
    {"addDeleteQueueSLA (upper-case queue text)", [](RequestMessage& r) { r.addDeleteQueueSLA("1A15"); }, 0x0183,
     "1a15" "0000", 4},
    {"addGetOLTBridgingMode", [](RequestMessage& r) { r.addGetOLTBridgingMode(kLinkMac); }, 0x0184, LINK, 6},
    {"addSetEncryptionModeDefault", [](RequestMessage& r) { r.addSetEncryptionModeDefault(kOltMac, 1); }, 0x0189,
     OLT "0001" "00" "0000", 11},
    {"addSetLinkSLA", [](RequestMessage& r) { r.addSetLinkSLA(kLinkMac); }, 0x018D,
     LINK SLA "01" "02" "00000000" "00000000", 34},
    {"addGetOltRule", [](RequestMessage& r) { r.addGetOltRule(kOltMac, 3); }, 0x018F, "05" OLT "0003", 9},
    {"addDeleteOltPortLinkRule (18-byte rule)",
     [](RequestMessage& r) {
         r.addDeleteOltPortLinkRule("05" OLT "0002", 0, "080105010101010000" "0000000000000000" "07");
     },
     0x0191, "05" OLT "0002" "00" "01" "080105010101010000" "0000000000000000" "07", 29},
    {"addSetDomainRules", [](RequestMessage& r) { r.addSetDomainRules(1026, 1, 0); }, 0x0193,
     "0402" "0001" "00" "00" "01" "0001" "01" "0000" "01" "0a" "03" "03" "02" "0000" "09" "04" "0000" "0000" "0b" "04"
     "0000" "0000" "01" "01" "00" "00" "0000000000000000" "07" "00",
     45},
    {"addSetDestination", [](RequestMessage& r) { r.addSetDestination(522, kLinkMac, "1A32", "1A34"); }, 0x0196,
     "020a" "0401" "01" LINK "0000000000000000" "30" "02" "1a32" "10" "00" "10" "00" "1a34" "10" "00" "10" "00", 33},
    {"addDeleteDestination", [](RequestMessage& r) { r.addDeleteDestination(522); }, 0x0198, "020a", 2},
    {"addSetDestinationLearningControl", [](RequestMessage& r) { r.addSetDestinationLearningControl(522); }, 0x019A,
     "020a" "0010" "0040" "0004", 8},
    {"addSetDBAAggregateBandwidth", [](RequestMessage& r) { r.addSetDBAAggregateBandwidth(kOltMac, 1); }, 0x019C,
     OLT "0001" "00000000" "0000" "00", 15},
    {"addGetOAMExtensionSetSupport", [](RequestMessage& r) { r.addGetOAMExtensionSetSupport(kOltMac); }, 0x01B3,
     "08" OLT "01" "00" "02" "00" "03" "00" "04" "00", 15},
    {"addSetOamExtensionSetSupport", [](RequestMessage& r) { r.addSetOamExtensionSetSupport(kOltMac); }, 0x01B4,
     "08" OLT "01" "05" "00" "000db6" "01" "02" "05" "00" "111111" "01" "03" "05" "00" "aaaaaa" "00" "04" "05" "00"
     "00d0cb" "00",
     35},
    {"addDeleteDestinationLearningControl",
     [](RequestMessage& r) { r.addDeleteDestinationLearningControl(522); }, 0x01ED, "020a", 2},
    {"addSetDomainSelectors", [](RequestMessage& r) { r.addSetDomainSelectors(1025); }, 0x01F2,
     "0401" "0001" "0000000000000000" "30", 13},
    {"addGetDestinationRules", [](RequestMessage& r) { r.addGetDestinationRules(522); }, 0x0204, "020a", 2},
    {"addDestinationRules", [](RequestMessage& r) { r.addDestinationRules(522); }, 0x0205,
     "020a" "00" "01" "0000" "02" "0000"
     "01" "0a" "03" "03" "02" "0000" "09" "04" "0000" "0000" "0a" "04" "0000" "0000" "01" "01" "00" "00"
     "0000000000000000" "07"
     "01" "0a" "02" "03" "02" "0000" "09" "04" "0000" "0000" "01" "01" "00" "00" "0000000000000000" "07" "0001" "00"
     "01" "08" "03" "03" "02" "0000" "09" "04" "0000" "0000" "0a" "04" "0000" "0000" "01" "01" "00" "00"
     "0000000000000000" "07",
     102},
    {"addDeleteDestinationRules", [](RequestMessage& r) { r.addDeleteDestinationRules("020a0001abCD"); }, 0x0206,
     "020a0001abcd", 6},
    {"addDeleteDestinationRules (reply without rules)", [](RequestMessage& r) { r.addDeleteDestinationRules(""); },
     0x0206, "", 0},
    {"addSetEPONSyncTime", [](RequestMessage& r) { r.addSetEPONSyncTime(kOltMac, 0); }, 0x0220,
     OLT "0000" "0010", 10},
    {"addSetDomainVersion2 (ONU-to-ONU domain 1025)", [](RequestMessage& r) { r.addSetDomainVersion2(1025); }, 0x0225,
     "0401" "0000" "10" "10" "10" "01" "0000" "02" "0002" "0006" "02" "200a" "200e" "00", 21},
    {"addSetDomainVersion2 (bridge domain 1026)", [](RequestMessage& r) { r.addSetDomainVersion2(1026); }, 0x0225,
     "0402" "0000" "10" "10" "10" "02" "0000" "02" "0002" "0006" "02" "2004" "2006" "0000" "02" "0004" "0008" "02"
     "2000" "2002",
     32},
    {"addSetDomainVersion2 (other domain)", [](RequestMessage& r) { r.addSetDomainVersion2(1000); }, 0x0225,
     "03e8" "0000" "10" "10" "10", 7},
    {"addGetCTC21OpticalTransceiverDiagnosis",
     [](RequestMessage& r) { r.addGetCTC21OpticalTransceiverDiagnosis(kLinkMac); }, 0x0249, LINK, 6},
};

TEST(RequestBuilders, EveryBuilderSendsTheTablePayloadByteForByte) {
    for (const auto& c : kBuilders) {
        SCOPED_TRACE(c.name);
        RequestMessage request;
        c.build(request);
        ASSERT_EQ(request.getAll().size(), 1u);
        expectRequest(*request.getAll()[0], c.id, c.payload, c.bytes);
        EXPECT_EQ(request.getAll()[0]->getCtag(), 1);
    }
}

TEST(RequestBuilders, MacTextWithoutColonsGivesTheSameBytes) {
    RequestMessage request;
    request.addGetStatistics("000DB6112233", 0);
    expectRequest(*request.getAll()[0], 0x0138, "05" OLT "0000" "000b" "ff" "04", 13);
}

// doSetOltVlan: rule 1 on the PON port, the others on the NNI port pon + 2; the fourth rule
// byte sizes each rule (05 -> 22 bytes, 01 -> 18, 02 -> 19).
TEST(RequestBuilders, OltVlanRulesAreTwoOrFourRequests) {
    {
        SCOPED_TRACE("PON 1, VLAN 100, untagged traffic kept");
        RequestMessage request;
        request.addOltVlanRules(kOltMac, 1, 100, false);
        const auto& all = request.getAll();
        ASSERT_EQ(all.size(), 2u);
        expectRequest(*all[0], 0x0190,
                      "05" OLT "0001" "00" "01"
                      "08" "01" "04" "05" "01" "8100" "0064" "01" "01" "00" "00" "0000000000000000" "07",
                      11 + 22);
        expectRequest(*all[1], 0x0190,
                      "05" OLT "0003" "00" "01"
                      "08" "01" "05" "01" "01" "01" "01" "00" "00" "0000000000000000" "07",
                      11 + 18);
        EXPECT_EQ(all[0]->getCtag(), 1);
        EXPECT_EQ(all[1]->getCtag(), 2);
    }
    {
        SCOPED_TRACE("PON 0, VLAN 4095, untagged traffic discarded");
        RequestMessage request;
        request.addOltVlanRules(kOltMac, 0, 4095, true);
        const auto& all = request.getAll();
        ASSERT_EQ(all.size(), 4u);
        expectRequest(*all[0], 0x0190,
                      "05" OLT "0000" "00" "01"
                      "08" "01" "04" "05" "01" "8100" "0fff" "01" "01" "00" "00" "0000000000000000" "07",
                      11 + 22);
        expectRequest(*all[1], 0x0190,
                      "05" OLT "0002" "00" "01"
                      "08" "01" "05" "01" "01" "01" "01" "00" "00" "0000000000000000" "07",
                      11 + 18);
        expectRequest(*all[2], 0x0190,
                      "05" OLT "0002" "00" "01"
                      "08" "01" "02" "02" "0000" "01" "06" "34" "00" "0000000000000FFF" "02",
                      11 + 19);
        expectRequest(*all[3], 0x0190,
                      "05" OLT "0002" "00" "01"
                      "08" "01" "02" "02" "0000" "01" "06" "00" "00" "0000000000000000" "06",
                      11 + 19);
    }
}

// A rule read back from the OLT with length byte 0x12 is 18 + 17 = 35 bytes; the delete
// request must carry all of them, not an 18-byte or a decimal-"12" cut.
TEST(RequestBuilders, DeleteOltRuleCarriesALongRuleWhole) {
    const std::string rule = "080102" "12" "0000010634000000000000006402" "0102030405060708090a0b0c0d0e0f1011";
    ASSERT_EQ(rule.size(), 35u * 2);
    RequestMessage request;
    request.addDeleteOltPortLinkRule("05" OLT "0002", 0x80, rule);
    expectRequest(*request.getAll()[0], 0x0191, "05" OLT "0002" "80" "01" + rule, 9 + 2 + 35);
}

TEST(RequestBuilders, DestinationFromTheLinkRecord) {
    OnuLink link(kLinkMac);
    link.setDownstreamQueue("A");  // destination 10 + 512 = 522, P2P queues 1A32 / 1A33 / 1A34
    RequestMessage request;
    request.addSetDestination(link);
    expectRequest(*request.getAll()[0], 0x0196,
                  "020a" "0401" "01" LINK "0000000000000000" "30" "02" "1a32" "10" "00" "10" "00" "1a34" "10" "00"
                  "10" "00",
                  33);
}

// A builder handed a ready payload sends exactly its bytes under its own ID.
TEST(RequestBuilders, PayloadFormSendsTheGivenBytes) {
    TKMPayload payload;
    payload.addHex("0102");
    payload.addU16Number(0xBEEF);
    RequestMessage request;
    request.addDeleteOltPortLinkRule(payload);
    expectRequest(*request.getAll()[0], 0x0191, "0102beef", 4);
}

struct BadInput {
    const char* name;
    std::function<void(RequestMessage&)> build;
    std::string message;
};

const BadInput kBadInputs[] = {
    {"MAC with five pairs", [](RequestMessage& r) { r.addResetONU("a0:b1:c2:d3:e4"); },
     "Invalid MAC address (a0:b1:c2:d3:e4)"},
    {"MAC with dashes", [](RequestMessage& r) { r.addGetONUInformation("a0-b1-c2-d3-e4-f5"); },
     "Invalid MAC address (a0-b1-c2-d3-e4-f5)"},
    {"MAC with a non-hex digit", [](RequestMessage& r) { r.addDisableLink("a0:b1:c2:d3:e4:fg"); },
     "Invalid MAC address (a0:b1:c2:d3:e4:fg)"},
    {"empty OLT MAC (OLT not identified yet)", [](RequestMessage& r) { r.addSetEPONSyncTime("", 0); },
     "Invalid MAC address ()"},
    {"queue never learnt (empty)", [](RequestMessage& r) { r.addSetQueueSLA(""); },
     "Invalid hexadecimal value () for 2 bytes"},
    {"queue placeholder 0", [](RequestMessage& r) { r.addDeleteQueueSLA("0"); },
     "Invalid hexadecimal value (0) for 2 bytes"},
    {"queue of five digits", [](RequestMessage& r) { r.addSetDestination(522, kLinkMac, "1A32", "10001"); },
     "Invalid hexadecimal value (10001) for 2 bytes"},
    {"ONU VLAN above 4095", [](RequestMessage& r) { r.addOnuPortVlan(kLinkMac, "4096"); },
     "Impossible to set VLAN ID equals to (4096)"},
    {"ONU VLAN beyond any integer",
     [](RequestMessage& r) { r.addOnuPortVlan(kLinkMac, "99999999999999999999999"); },
     "Impossible to set VLAN ID equals to (99999999999999999999999)"},
    {"OLT VLAN on an NNI port", [](RequestMessage& r) { r.addOltVlanRules(kOltMac, 2, 100, false); },
     "Impossible to add VLAN to PON Number(2)"},
    {"OLT VLAN 0", [](RequestMessage& r) { r.addOltVlanRules(kOltMac, 0, 0, false); },
     "Impossible to set VLAN ID equals to (0)"},
    {"OLT VLAN 4096", [](RequestMessage& r) { r.addOltVlanRules(kOltMac, 0, 4096, true); },
     "Impossible to set VLAN ID equals to (4096)"},
    {"OLT rules with a bad OLT MAC", [](RequestMessage& r) { r.addOltVlanRules("00:0d:b6", 0, 100, true); },
     "Invalid MAC address (00:0d:b6)"},
    {"rule target of 8 bytes", [](RequestMessage& r) { r.addDeleteOltPortLinkRule("05" OLT "00", 0, "0801"); },
     "Invalid hexadecimal value (05" OLT "00) for 9 bytes"},
    {"rule with an odd digit count",
     [](RequestMessage& r) { r.addDeleteOltPortLinkRule("05" OLT "0000", 0, "080"); },
     "Invalid hexadecimal value (080)"},
    {"empty rule", [](RequestMessage& r) { r.addDeleteOltPortLinkRule("05" OLT "0000", 0, ""); },
     "Invalid hexadecimal value ()"},
    {"destination rules that are not hex", [](RequestMessage& r) { r.addDeleteDestinationRules("02xx"); },
     "Invalid hexadecimal value (02xx)"},
    {"destination of a link without queues", [](RequestMessage& r) { r.addSetDestination(OnuLink(kLinkMac)); },
     "Invalid destination ID (0) for link a0:b1:c2:d3:e4:f5"},
};

TEST(RequestBuilders, MalformedValuesAreRefusedAndNothingIsAppended) {
    for (const auto& c : kBadInputs) {
        SCOPED_TRACE(c.name);
        RequestMessage request;
        request.addEnableOLT();
        try {
            c.build(request);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), c.message);
        }
        EXPECT_EQ(request.getAll().size(), 1u);
    }
}

}  // namespace
// clang-format on
