// The simulated OLT as the card sees it: requests in, replies and events out, with the
// state that requests change read back through other requests.
#include "Olt.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace oltsim;

namespace {

const std::string kOltMac = "024f4c540001";
const std::string kOnu0 = "024f4e010000";  // port 0, first ONU
const std::string kOnu1 = "024f4e010001";
const std::string kOnu2 = "024f4e010100";  // port 1, first ONU

Bytes hex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits.push_back(c);
    Bytes b;
    EXPECT_TRUE(fromHex(digits, b)) << text;
    return b;
}

// Rules as the card sets them on a PON port and its NNI port, plus a long one whose
// length byte 0x12 makes it 35 bytes.
const std::string kVlanRule = "08 01 04 05 01 8100 0064 01 01 00 00 0000000000000000 07";  // 22 bytes
const std::string kNniRule = "08 01 05 01 01 01 01 00 00 0000000000000000 07";             // 18 bytes
const std::string kLongRule = "08 01 02 12 0000 01 06 34 00 0000000000000064 02 0102030405060708090a0b0c0d0e0f10";

OltConfig config(size_t partEntries = 64) {
    OltConfig c;
    c.number = 1;
    c.mac = defaultOltMac(1);
    c.onusPerPort = 2;
    c.restartMs = 300;
    c.registerMs = 100;
    c.seed = 7;
    c.partEntries = partEntries;
    return c;
}

class OltTest : public ::testing::Test {
protected:
    explicit OltTest(size_t partEntries = 64) : olt_(config(partEntries), 0) { olt_.advance(0); }

    // Sends a request with a correct length field; returns every reply datagram.
    std::vector<Bytes> send(uint16_t id, const std::string& payload = "") {
        Bytes p = hex(payload);
        Bytes d;
        putU16(d, id);
        putU16(d, ++ctag_);
        putU16(d, static_cast<unsigned>(p.size()));
        putBytes(d, p);
        return olt_.handle(d.data(), d.size(), now_);
    }
    // Result of a single-reply request.
    uint16_t result(uint16_t id, const std::string& payload = "") {
        auto replies = send(id, payload);
        EXPECT_EQ(1u, replies.size());
        return replies.empty() ? 0xffff : getU16(&replies[0][6]);
    }
    // Data of a single reply that must have succeeded.
    std::string data(uint16_t id, const std::string& payload = "") {
        auto replies = send(id, payload);
        EXPECT_EQ(1u, replies.size());
        if (replies.empty()) return "";
        EXPECT_EQ(0, getU16(&replies[0][6])) << olt_.lastRefusal();
        return toHex(replies[0].data() + 8, replies[0].size() - 8);
    }
    std::vector<Bytes> at(int64_t t) {
        now_ = t;
        return olt_.advance(t);
    }
    void enableAndRegister() {
        ASSERT_EQ(0, result(msg::EnableOLT));
        ASSERT_EQ(4u, at(now_ + 100).size());
    }
    void setPaths(std::initializer_list<unsigned> ids) {
        for (unsigned id : ids) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%04x 0000 0001 0020 0002 0001 0020", id);
            ASSERT_EQ(0, result(msg::SetPath, buf));
        }
    }

    Olt olt_;
    int64_t now_ = 0;
    uint16_t ctag_ = 0;
};

const std::string kDomain1026 = "0402 0000 10 10 10 02 0000 02 0002 0006 02 2004 2006 0000 02 0004 0008 02 2000 2002";
const std::string kDomainRules1026 =
    "0402 0001 00 00 01 0000 01 0001 01 0a 03 03 02 0000 09 04 0000 0000 0b 04 0000 0000 01 01 00 00 "
    "0000000000000000 07 00";

}  // namespace

TEST_F(OltTest, EnableBringsOnusUpWithLinkDiscoveryAndListsThem) {
    EXPECT_TRUE(at(1000).empty());
    EXPECT_EQ("", data(msg::GetListOfDiscoveredLinks));
    ASSERT_EQ(0, result(msg::EnableOLT));
    EXPECT_TRUE(at(1099).empty());
    auto events = at(1100);
    ASSERT_EQ(4u, events.size());
    // Third ONU is the first of PON port 1: both port fields of its link information say 1.
    EXPECT_EQ(toHex(hex("8019 0004 001e 00000000 024f4e010100 0012 4f4e55 0001 0100 0001 00c8 01 0000 01 04 01 01")),
              toHex(events[2]));
    std::string all = kOnu0 + kOnu1 + kOnu2 + "024f4e010101";
    EXPECT_EQ(all, data(msg::GetListOfDiscoveredLinks));
    EXPECT_EQ(all, data(msg::GetListOfAllKnownLogicalLinks));
    EXPECT_EQ(kOnu2 + "0012", data(msg::GetONUInformation, kOnu2).substr(0, 16));
    // Queues of ONU index 64 (first of port 1): 0x0200 + 4 * 64 and the two after it.
    EXPECT_EQ(toHex(hex(kOnu2 + "01 0040 0300 0000 0301 0000 0302 0000")), data(msg::GetOLTBridgingMode, kOnu2));
}

TEST_F(OltTest, DisabledOltDropsLinksButKeepsThemKnown) {
    enableAndRegister();
    ASSERT_EQ(0, result(msg::DisableOLT));
    EXPECT_EQ("", data(msg::GetListOfDiscoveredLinks));
    EXPECT_EQ(48u, data(msg::GetListOfAllKnownLogicalLinks).size());
    EXPECT_EQ(3, result(msg::GetCTC21OpticalTransceiverDiagnosis, kOnu0));
}

TEST_F(OltTest, OnuLeavesReturnsAndIsDisabled) {
    enableAndRegister();
    Mac onu0;
    ASSERT_TRUE(parseMac("02:4f:4e:01:00:00", onu0));
    EXPECT_EQ(toHex(hex("801a 0006 000f 00000000 03 024f4e010000 40 01 01 00")), toHex(olt_.leave(onu0, 64)));
    EXPECT_EQ(kOnu1 + kOnu2 + "024f4e010101", data(msg::GetListOfDiscoveredLinks));
    EXPECT_THROW(olt_.leave(onu0, 23), std::invalid_argument);

    olt_.comeBack(onu0, now_);
    auto back = at(now_ + 100);
    ASSERT_EQ(1u, back.size());
    EXPECT_EQ(msg::LinkDiscovery, getU16(back[0].data()));

    ASSERT_EQ(0, result(msg::DisableLink, kOnu0 + "0000"));
    EXPECT_EQ(kOnu1 + kOnu2 + "024f4e010101", data(msg::GetListOfDiscoveredLinks));
    ASSERT_EQ(0, result(msg::EnableOLT));  // a disabled link stays down when the OLT is enabled again
    EXPECT_TRUE(at(now_ + 1000).empty());
    ASSERT_EQ(0, result(msg::EnableLink, kOnu0));
    EXPECT_EQ(1u, at(now_ + 100).size());
}

TEST_F(OltTest, PortRulesAreReadBackByteExactAndDeletedOneByOne) {
    std::string target2 = "05" + kOltMac + "0002";
    ASSERT_EQ(0, result(msg::OltRule, "05" + kOltMac + "0000 00 01" + kVlanRule));
    ASSERT_EQ(0, result(msg::OltRule, target2 + "00 02" + kNniRule + kLongRule));
    EXPECT_EQ(toHex(hex(target2 + "00 02" + kNniRule + kLongRule)), data(msg::GetOltRule, target2));
    EXPECT_EQ(toHex(hex("05" + kOltMac + "0000 00 01" + kVlanRule)), data(msg::GetOltRule, "05" + kOltMac + "0000"));

    // The delete carries the target, the flags, a count of 1 and the rule as read back.
    ASSERT_EQ(0, result(msg::DeleteOltPortLinkRule, target2 + "00 01" + kLongRule));
    EXPECT_EQ(toHex(hex(target2 + "00 01" + kNniRule)), data(msg::GetOltRule, target2));
    EXPECT_EQ(3, result(msg::DeleteOltPortLinkRule, target2 + "00 01" + kLongRule));
    ASSERT_EQ(0, result(msg::DeleteOltPortLinkRule, target2 + "00 01" + kNniRule));
    EXPECT_EQ(toHex(hex(target2 + "00 00")), data(msg::GetOltRule, target2));
    EXPECT_EQ(1u, olt_.portRules(0).size());  // the PON port's rule is untouched
}

TEST_F(OltTest, DomainsNeedTheirPathsAndAreListedWithTheirRuleCount) {
    EXPECT_EQ(3, result(msg::SetDomainVersion2, kDomain1026));  // its paths do not exist yet
    EXPECT_EQ(3, result(msg::SetDomainRules, kDomainRules1026));
    setPaths({8192, 8194, 8196, 8198});
    ASSERT_EQ(0, result(msg::SetDomainVersion2, kDomain1026));
    ASSERT_EQ(0, result(msg::SetDomainRules, kDomainRules1026));
    ASSERT_EQ(0, result(msg::SetDomainRules, kDomainRules1026));
    ASSERT_EQ(0, result(msg::SetDomainVersion2, "0403 0000 10 10 10"));  // a domain without paths
                                                                         // clang-format off
  EXPECT_EQ("04020002" "04030000", data(msg::GetAllDomains));
  EXPECT_EQ("20000001" "20020001" "20040001" "20060001", data(msg::GetAllPath));
  ASSERT_EQ(0, result(msg::DeletePath, "2000"));
  EXPECT_EQ("20020001" "20040001" "20060001", data(msg::GetAllPath));
                                                                         // clang-format on
}

TEST_F(OltTest, DestinationRulesAreDeletedWithTheBytesReadBack) {
    enableAndRegister();
    setPaths({8202, 8206});
    ASSERT_EQ(0, result(msg::SetDomainVersion2, "0401 0000 10 10 10 01 0000 02 0002 0006 02 200a 200e 00"));
    std::string dest = "0202 0401 01 " + kOnu0 + " 0000000000000000 30 02 1a14 10 00 10 00 1a16 10 00 10 00";
    std::string rules =
        "00 01 0000 02 0000"
        "01 0a 03 03 02 0000 09 04 0000 0000 0a 04 0000 0000 01 01 00 00 0000000000000000 07"
        "01 0a 02 03 02 0000 09 04 0000 0000 01 01 00 00 0000000000000000 07 0001 00"
        "01 08 03 03 02 0000 09 04 0000 0000 0a 04 0000 0000 01 01 00 00 0000000000000000 07";
    EXPECT_EQ(3, result(msg::DestinationRules, "0202" + rules));  // no such destination yet
    ASSERT_EQ(0, result(msg::SetDestination, dest));
    ASSERT_EQ(0, result(msg::SetDestinationLearningControl, "0202 0010 0040 0004"));
    ASSERT_EQ(0, result(msg::DestinationRules, "0202" + rules));
    std::string readBack = data(msg::GetDestinationRules, "0202");
    EXPECT_EQ(toHex(hex("0202" + rules)), readBack);
    EXPECT_EQ(3, result(msg::DeleteDestinationRules, readBack.substr(0, readBack.size() - 2)));
    ASSERT_EQ(0, result(msg::DeleteDestinationRules, readBack));
    EXPECT_EQ("0202", data(msg::GetDestinationRules, "0202"));
    ASSERT_EQ(0, result(msg::DeleteDestination, "0202"));
    EXPECT_EQ(3, result(msg::GetDestinationRules, "0202"));
}

TEST_F(OltTest, ResetClearsStateAndAnnouncesReadyAfterTheRestart) {
    setPaths({8192, 8194, 8196, 8198});
    ASSERT_EQ(0, result(msg::SetDomainVersion2, kDomain1026));
    ASSERT_EQ(0, result(msg::OltRule, "05" + kOltMac + "0000 00 01" + kVlanRule));
    ASSERT_EQ(0,
              result(msg::SetOamExtensionSetSupport,
                     "08" + kOltMac + "01 05 00 000db6 01 02 05 00 111111 01 03 05 00 aaaaaa 00 04 05 00 00d0cb 00"));
    ASSERT_TRUE(olt_.ctcEnabled());
    enableAndRegister();
    olt_.setNvs(true);
    ASSERT_EQ(0, result(msg::SetOLTNVSEnabled, "00"));
    EXPECT_EQ("0001", data(msg::GetOLTNVSEnabled));  // takes effect at the next boot

    int64_t resetAt = now_;
    ASSERT_EQ(0, result(msg::ResetOLT));
    EXPECT_TRUE(send(msg::GetOLTInformation).empty());  // restarting: no answer
    EXPECT_TRUE(at(resetAt + 299).empty());
    auto ready = at(resetAt + 300);
    ASSERT_EQ(1u, ready.size());
    EXPECT_EQ(msg::OltReady, getU16(ready[0].data()));
    EXPECT_EQ("", data(msg::GetAllDomains));
    EXPECT_EQ("", data(msg::GetAllPath));
    EXPECT_EQ("", data(msg::GetListOfAllKnownLogicalLinks));
    EXPECT_EQ(toHex(hex("05" + kOltMac + "0000 00 00")), data(msg::GetOltRule, "05" + kOltMac + "0000"));
    EXPECT_EQ("0000", data(msg::GetOLTNVSEnabled));
    EXPECT_FALSE(olt_.ctcEnabled());
    EXPECT_FALSE(olt_.enabled());
    EXPECT_TRUE(at(now_ + 1000).empty());  // ONUs wait for the OLT to be enabled again
}

TEST_F(OltTest, OamExtensionSetsAreReportedForTheRequestedTypes) {
    std::string query = "08" + kOltMac + "01 00 02 00 03 00 04 00";
    std::string before = data(msg::GetOAMExtensionSetSupport, query);
    EXPECT_EQ(
        toHex(hex("08" + kOltMac + "01 05 00 000db6 01 02 05 00 111111 00 03 05 00 aaaaaa 00 04 05 00 00d0cb 00")),
        before);
    ASSERT_EQ(0, result(msg::SetOamExtensionSetSupport, "08" + kOltMac + "02 05 00 111111 01"));
    EXPECT_EQ(toHex(hex("08" + kOltMac + "02 05 00 111111 01")),
              data(msg::GetOAMExtensionSetSupport, "08" + kOltMac + "02 00"));
}

TEST_F(OltTest, MalformedRequestsAreRefusedAndChangeNothing) {
    enableAndRegister();
    const std::string otherMac = "024f4c540002";
    struct Case {
        const char* name;
        uint16_t id;
        std::string payload;
        uint16_t result;
    } cases[] = {
        {"unknown message ID", 0x7777, "", result::NotSupported},
        {"unsolicited ID sent as request", msg::ReportAlarm, "", result::NotSupported},
        {"payload where none belongs", msg::GetOLTInformation, "00", result::OutOfRange},
        {"statistics of another OLT", msg::GetStatistics, "05" + otherMac + "0000 000b ff 04", result::OutOfRange},
        {"statistics of an NNI port", msg::GetStatistics, "05" + kOltMac + "0002 000b ff 04", result::OutOfRange},
        {"statistics of another group", msg::GetStatistics, "05" + kOltMac + "0000 000c ff 04", result::OutOfRange},
        {"rule on port 4", msg::OltRule, "05" + kOltMac + "0004 00 01" + kNniRule, result::OutOfRange},
        {"rule count says two, bytes hold one", msg::OltRule, "05" + kOltMac + "0002 00 02" + kNniRule,
         result::OutOfRange},
        {"rule cut short", msg::OltRule, "05" + kOltMac + "0002 00 01" + kVlanRule.substr(0, kVlanRule.size() - 2),
         result::OutOfRange},
        {"ONU information of a stranger", msg::GetONUInformation, "024f4e090000", result::OutOfRange},
        {"VLAN 4096", msg::OnuPortVlan, kOnu0 + "80 01 01 00 0001 01 8100 1000", result::OutOfRange},
        {"VLAN tag mode 1 without tag", msg::OnuPortVlan, kOnu0 + "80 01 01 00 0001 01", result::OutOfRange},
        {"NVS value 2", msg::SetOLTNVSEnabled, "02", result::OutOfRange},
        {"loop timing of another OLT", msg::SetEPONLoopTiming, otherMac + "0000 0000 1a5e 0c35 0000",
         result::OutOfRange},
        {"encryption on port 2", msg::SetEncryptionModeDefault, kOltMac + "0002 00 0000", result::OutOfRange},
        {"host copy before the bridge domain", msg::SetOLTIPMulticastHostCopy,
         "0402 00 06 00 06 00 06 06 07 06 06 06 06 06 06 00", result::OutOfRange},
        {"queue SLA one byte short", msg::SetQueueSLA, "0200 0000 00000000 ffff ff ffff 000f4240 00c8 02 00",
         result::OutOfRange},
        {"OAM extension record of length 4", msg::SetOamExtensionSetSupport, "08" + kOltMac + "02 04 00 111111 01",
         result::OutOfRange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto replies = send(c.id, c.payload);
        ASSERT_EQ(1u, replies.size());
        EXPECT_EQ(toHex(hex("")), toHex(replies[0].data() + 8, replies[0].size() - 8));  // no data
        EXPECT_EQ(c.id, getU16(replies[0].data()));
        EXPECT_EQ(ctag_, getU16(replies[0].data() + 2));
        EXPECT_EQ(c.result, getU16(replies[0].data() + 6));
    }
    EXPECT_TRUE(olt_.portRules(2).empty());
    EXPECT_EQ("0000", data(msg::GetOLTNVSEnabled));
    EXPECT_NE(std::string::npos, olt_.stateText().find("vlans= "));

    // A length field that disagrees with the datagram is refused too.
    Bytes lying = hex("0007 0001 0004");
    auto replies = olt_.handle(lying.data(), lying.size(), now_);
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ(toHex(hex("0007 0001 0002 0003")), toHex(replies[0]));
    EXPECT_TRUE(olt_.handle(lying.data(), 5, now_).empty());  // no header: nothing to answer
}

TEST_F(OltTest, OnuOpticsFollowTheMacAndDriftWithinPlausibleBounds) {
    enableAndRegister();
    Olt twin(config(), 0);  // same seed, same requests: same readings
    double lastTemp = 0;
    int changes = 0;
    for (int i = 0; i < 300; ++i) {
        auto replies = send(msg::GetCTC21OpticalTransceiverDiagnosis, kOnu1);
        ASSERT_EQ(1u, replies.size());
        const Bytes& r = replies[0];
        ASSERT_EQ(8u + 16u, r.size());
        EXPECT_EQ(kOnu1, toHex(r.data() + 8, 6));
        double temp = getU16(&r[8 + 6]) / 256.0;
        double vcc = getU16(&r[8 + 8]) / 10000.0;
        double bias = getU16(&r[8 + 10]) * 2 / 1000.0;
        double rx = 10 * std::log10(getU16(&r[8 + 12]) / 10.0) - 30;
        double tx = 10 * std::log10(getU16(&r[8 + 14]) / 10.0) - 30;
        ASSERT_TRUE(temp > 40 && temp < 50) << temp;
        ASSERT_TRUE(vcc > 3.2 && vcc < 3.4) << vcc;
        ASSERT_TRUE(bias > 10 && bias < 14) << bias;
        ASSERT_TRUE(rx > -22 && rx < -13) << rx;
        ASSERT_TRUE(tx > 1 && tx < 4) << tx;
        if (i > 0) {
            EXPECT_LT(std::abs(temp - lastTemp), 0.5);  // slowly
            changes += temp != lastTemp;
        }
        lastTemp = temp;
    }
    EXPECT_GT(changes, 100);
}

TEST_F(OltTest, OltStatisticsGiveTheFourOpticalValues) {
    std::string d = data(msg::GetStatistics, "05" + kOltMac + "0001 000b ff 04");
    ASSERT_EQ(2u * (9 + 4 * 12), d.size());
    EXPECT_EQ("05" + kOltMac + "0001", d.substr(0, 18));
    for (int e = 0; e < 4; ++e) EXPECT_EQ("000b0" + std::to_string(4 + e) + "00", d.substr(18 + 24 * e, 8));
}

class OltPartsTest : public OltTest {
protected:
    OltPartsTest() : OltTest(3) {}
};

TEST_F(OltPartsTest, LongLinkListComesInPartsUnderOneCtag) {
    enableAndRegister();
    auto parts = send(msg::GetListOfAllKnownLogicalLinks);
    ASSERT_EQ(2u, parts.size());
    EXPECT_EQ(toHex(hex("0076 0002 0016 000e 0000" + kOnu0 + kOnu1 + kOnu2)), toHex(parts[0]));
    EXPECT_EQ(toHex(hex("0076 0002 000a 000f 0001 024f4e010101")), toHex(parts[1]));
}

// The card's requests in the order its provisioning, polling and tasks send them, with the
// payloads exactly as it builds them: every one must be accepted.
TEST_F(OltTest, EveryRequestOfTheCardIsAcceptedInItsOrder) {
    const std::string m = kOltMac;
    const std::string sla = "00000000 ffff ff ffff 000f4240 00c8 02 0010";
    const std::string destRules =
        "00 01 0000 02 0000"
        "01 0a 03 03 02 0000 09 04 0000 0000 0a 04 0000 0000 01 01 00 00 0000000000000000 07"
        "01 0a 02 03 02 0000 09 04 0000 0000 01 01 00 00 0000000000000000 07 0001 00"
        "01 08 03 03 02 0000 09 04 0000 0000 0a 04 0000 0000 01 01 00 00 0000000000000000 07";
    auto domainRules = [](const std::string& domain, const std::string& a, const std::string& b) {
        return domain + " 0001 00 00 01 " + a + " 01 " + b +
               " 01 0a 03 03 02 0000 09 04 0000 0000 0b 04 0000 0000 01 01 00 00 0000000000000000 07 00";
    };
    struct Step {
        const char* name;
        uint16_t id;
        std::string payload;
    };
    std::vector<Step> provisioning = {
        {"OLT information", msg::GetOLTInformation, ""},
        {"get NVS", msg::GetOLTNVSEnabled, ""},
        {"set NVS", msg::SetOLTNVSEnabled, "00"},
        {"CTC query", msg::GetOAMExtensionSetSupport, "08" + m + "01 00 02 00 03 00 04 00"},
        {"disable OLT", msg::DisableOLT, ""},
        {"CTC on", msg::SetOamExtensionSetSupport,
         "08" + m + "01 05 00 000db6 01 02 05 00 111111 01 03 05 00 aaaaaa 00 04 05 00 00d0cb 00"},
        {"DBA aggregate bandwidth", msg::SetDBAAggregateBandwidth, m + "0001 00000000 0000 00"},
        {"aggregate bandwidth", msg::SetAggregateBandwidth, m + "0001 00000000 0000 00"},
        {"encryption", msg::SetEncryptionModeDefault, m + "0001 00 0000"},
        {"clear allowed links", msg::ClearAllAllowedLinks, m + "0001"},
        {"DBA polling", msg::SetDBAPollingIntervalHighResolution, m + "0001 0005 0005 0005 0005 0005 0005 0005 0005"},
        {"OAM rate", msg::SetDefaultOAMRate, "01 14 01"},
        {"bridging", msg::SetOLTBridgingConfiguration, "00050000 00 18 01 01 00 01"},
        {"loop timing", msg::SetEPONLoopTiming, m + "0001 0000 1a5e 0c35 0000"},
        {"sync time", msg::SetEPONSyncTime, m + "0001 0010"},
        {"path 8192", msg::SetPath, "2000 0001 0001 0020 0002 0001 0020"},
        {"path 8194", msg::SetPath, "2002 0001 0001 0020 0003 0001 0020"},
        {"path 8196", msg::SetPath, "2004 0000 0001 0020 0003 0001 0020"},
        {"path 8198", msg::SetPath, "2006 0000 0001 0020 0002 0001 0020"},
        {"path 8200", msg::SetPath, "2008 0000 0001 0020 0000 0001 0020"},
        {"path 8202", msg::SetPath, "200a 0000 0001 0020 0002 0001 0020"},
        {"path 8204", msg::SetPath, "200c 0001 0001 0020 0001 0001 0020"},
        {"path 8206", msg::SetPath, "200e 0001 0001 0020 0003 0001 0020"},
        {"domain 1025", msg::SetDomainVersion2, "0401 0000 10 10 10 01 0000 02 0002 0006 02 200a 200e 00"},
        {"domain 1025 rules", msg::SetDomainRules, domainRules("0401", "0000", "0001")},
        {"domain 1025 selectors", msg::SetDomainSelectors, "0401 0001 0000000000000000 30"},
        {"multicast global", msg::SetOLTIPMulticastGlobalProvisioning, "1000 000F4240 0000"},
        {"domain 1026", msg::SetDomainVersion2, kDomain1026},
        {"domain 1026 rules", msg::SetDomainRules, domainRules("0402", "0001", "0001")},
        {"multicast proxy", msg::SetOLTIPMulticastDomainProxyProvisioning,
         "0402 00000003 00000003 00000000 000F4240 00002710 03e8 0000 0002 0258 0244 0037 0002 0320 0002 006e 000a "
         "0000 03e8 0000 C0A86502 FE800000000000000000000000000001"},
        {"multicast host copy", msg::SetOLTIPMulticastHostCopy, "0402 00 06 00 06 00 06 06 07 06 06 06 06 06 06 00"},
        {"known links", msg::GetListOfAllKnownLogicalLinks, ""},
        {"discovered links", msg::GetListOfDiscoveredLinks, ""},
        {"clear a link", msg::ClearAllProvisioningForLogicalLink, kOnu0},
        {"enable OLT", msg::EnableOLT, ""},
    };
    std::vector<Step> polling = {
        {"domains", msg::GetAllDomains, ""},
        {"queues", msg::GetOLTBridgingMode, kOnu0},
        {"link SLA", msg::SetLinkSLA, kOnu0 + sla + "01 02 00000000 00000000"},
        {"queue SLA", msg::SetQueueSLA, "0200 0000" + sla},
        {"multicast SLA", msg::SetQueueSLA, "0202 0000" + sla},
        {"Ethernet up", msg::CTCSetEthernetPort, kOnu0 + "80 01 01 00 0001 01 01 01 01"},
        {"ONU-to-ONU path", msg::SetPath, "2014 0000 0001 0020 0002 0001 0020"},
        {"ONU-to-ONU broadcast path", msg::SetPath, "2016 0000 0001 0020 0000 0001 0020"},
        {"destination", msg::SetDestination,
         "0400 0401 01" + kOnu0 + "0000000000000000 30 02 2014 10 00 10 00 2016 10 00 10 00"},
        {"learning control", msg::SetDestinationLearningControl, "0400 0010 0040 0004"},
        {"destination rules", msg::DestinationRules, "0400" + destRules},
        {"p2p SLA", msg::SetQueueSLA, "2014 0000" + sla},
        {"ONU information", msg::GetONUInformation, kOnu0},
        {"paths", msg::GetAllPath, ""},
        {"ONU optics", msg::GetCTC21OpticalTransceiverDiagnosis, kOnu0},
        {"OLT optics", msg::GetStatistics, "05" + m + "0000 000b ff 04"},
        {"rules of PON port", msg::GetOltRule, "05" + m + "0000"},
        {"rules of NNI port", msg::GetOltRule, "05" + m + "0002"},
        {"VLAN rule", msg::OltRule, "05" + m + "0000 00 01 08 01 04 05 01 8100 0064 01 01 00 00 0000000000000000 07"},
        {"NNI rule", msg::OltRule, "05" + m + "0002 00 01 08 01 05 01 01 01 01 00 00 0000000000000000 07"},
        {"discard tagged", msg::OltRule, "05" + m + "0002 00 01 08 01 02 02 0000 01 06 34 00 0000000000000064 02"},
        {"discard untagged", msg::OltRule, "05" + m + "0002 00 01 08 01 02 02 0000 01 06 00 00 0000000000000000 06"},
        {"delete rule", msg::DeleteOltPortLinkRule,
         "05" + m + "0002 00 01 08 01 02 02 0000 01 06 00 00 0000000000000000 06"},
        {"ONU VLAN", msg::OnuPortVlan, kOnu0 + "80 01 01 00 0001 01 8100 0064"},
        {"ONU untagged", msg::OnuPortVlan, kOnu0 + "80 01 01 00 0001 00"},
        {"disable link", msg::DisableLink, kOnu0 + "0000"},
        {"enable link", msg::EnableLink, kOnu0 + "0000"},
        {"enable link, short form", msg::EnableLink, kOnu0},
        {"reset ONU", msg::ResetONU, kOnu0},
        {"delete learning control", msg::DeleteDestinationLearningControl, "0400"},
        {"delete destination", msg::DeleteDestination, "0400"},
        {"delete path", msg::DeletePath, "2014"},
        {"delete SLA", msg::DeleteQueueSLA, "0200 0000"},
        {"restore defaults", msg::RestoreOLTDefaults, ""},
    };
    auto run = [this](const std::vector<Step>& steps) {
        for (const auto& s : steps) {
            SCOPED_TRACE(s.name);
            auto replies = send(s.id, s.payload);
            ASSERT_EQ(1u, replies.size());
            EXPECT_EQ(0, getU16(&replies[0][6])) << olt_.lastRefusal();
        }
    };
    run(provisioning);
    at(now_ + 100);
    run(polling);
}
