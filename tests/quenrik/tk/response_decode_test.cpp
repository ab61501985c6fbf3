// Reply and report decoding against hand-written datagrams: every decoder's keys, the
// failures that must reach the operator word for word, and the collector's clear-on-failure.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "Container.h"
#include "Exception.h"
#include "ResponseMessage.h"
#include "TKMessage.h"

namespace {

using Bytes = std::vector<uint8_t>;

// "0102 ab" -> {0x01, 0x02, 0xab}; spaces only for reading.
Bytes hex(const std::string& text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void putU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// A reply as the OLT sends it: ID, Ctag, length (bytes after the 6-byte base header), result,
// then the sequence number for the part codes 14 and 15, then data.
Bytes reply(uint16_t id, uint16_t result, const Bytes& data, uint16_t ctag = 1) {
    Bytes b;
    putU16(b, id);
    putU16(b, ctag);
    const bool part = result == 14 || result == 15;
    putU16(b, static_cast<uint16_t>(2 + (part ? 2 : 0) + data.size()));
    putU16(b, result);
    if (part) putU16(b, 0);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// An unsolicited report: ID, Ctag, length, 4 uninterpreted bytes, data.
Bytes report(uint16_t id, const Bytes& data) {
    Bytes b;
    putU16(b, id);
    putU16(b, 7);
    putU16(b, static_cast<uint16_t>(4 + data.size()));
    b.insert(b.end(), {0, 0, 0, 0});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The length field set by hand, for decoders that judge the header's length field.
Bytes withLengthField(Bytes b, uint16_t length) {
    b[4] = static_cast<uint8_t>(length >> 8);
    b[5] = static_cast<uint8_t>(length);
    return b;
}

std::unique_ptr<TKMessage> message(const Bytes& b) { return std::make_unique<TKMessage>(b.data(), b.size()); }

// "rules.1.rule" walks into the list "rules", child 1, value "rule". "<absent>" when missing.
std::string valueAt(Container& record, const std::string& path) {
    Container* c = &record;
    std::string rest = path;
    for (;;) {
        const size_t dot = rest.find('.');
        if (dot == std::string::npos) return c->hasKey(rest) ? c->getValue(rest) : "<absent>";
        const std::string list = rest.substr(0, dot);
        rest = rest.substr(dot + 1);
        const size_t dot2 = rest.find('.');
        const size_t index = std::stoul(rest.substr(0, dot2));
        if (!c->hasList(list) || index >= c->getListSize(list)) return "<absent>";
        c = c->getList(list)[index];
        rest = rest.substr(dot2 + 1);
    }
}

// Line numbers in the nested text are the source's own business; compare without them.
std::string withoutLines(const std::string& text) { return std::regex_replace(text, std::regex("\\[[0-9]+\\]"), ""); }

const Bytes kOltMac = hex("024f4c540001");
const Bytes kOnuMac = hex("024f4e010003");

// 91 data bytes of OLT identity.
Bytes oltInformation() {
    Bytes vendor(64, 0);
    vendor[0] = 'Q';
    vendor[63] = 0x7f;
    return cat({kOltMac, hex("0000 4f4c54 3723 0100 0205"), vendor, hex("1234 3723 00000001 02 02")});
}

// 26 data bytes: link MAC, info length 18 and the block behind it.
Bytes linkInformation(uint16_t infoLength = 18) {
    Bytes b = kOnuMac;
    putU16(b, infoLength);
    return cat({b, hex("4f4e55 0001 0100 0003 01f4 01 0000 01 04 01 00")});
}

struct Decoded {
    const char* name;
    Bytes datagram;
    std::vector<std::pair<std::string, std::string>> expect;  // path -> value ("<absent>")
};

TEST(ResponseDecode, RecordsCarryTheDocumentedKeys) {
    const std::string vendorHex = "51" + std::string(124, '0') + "7f";
    const std::vector<Decoded> cases = {
        {"OLT information",
         reply(0x0007, 0, oltInformation()),
         {{"olt_epon_mac", "02:4f:4c:54:00:01"},
          {"vendor_oui", "4f4c54"},
          {"product_code", "3723"},
          {"product_version", "0100"},
          {"firmware_version", "0205"},
          {"vendor_info", vendorHex},
          {"jedec_id", "4660"},
          {"chip_id", "3723"},
          {"chip_version", "00000001"},
          {"num_epon_ports", "2"},
          {"num_nni_ports", "2"},
          {"alarm_message_id", "<absent>"}}},
        {"OLT ready has the bare 6-byte header",
         withLengthField(cat({hex("8000 0009 0000"), oltInformation()}), 91),
         {{"olt_epon_mac", "02:4f:4c:54:00:01"}, {"num_nni_ports", "2"}, {"alarm_message_id", "32768"}}},
        {"13-byte known-link list: two entries, the 13th byte ignored",
         reply(0x0076, 0, hex("024f4e010000 024f4e010101 ff")),
         {{"allkn_link_macs.0.mac_address", "02:4f:4e:01:00:00"},
          {"allkn_link_macs.1.mac_address", "02:4f:4e:01:01:01"},
          {"allkn_link_macs.2.mac_address", "<absent>"}}},
        {"discovered links, a middle part of a multi-part reply",
         reply(0x0044, 14, hex("024f4e010000")),
         {{"disc_link_macs.0.mac_address", "02:4f:4e:01:00:00"}}},
        {"empty link list", reply(0x0044, 0, {}), {{"disc_link_macs.0.mac_address", "<absent>"}}},
        {"OAM extension reply of exactly 7 data bytes has no sets",
         reply(0x01B3, 0, hex("08 024f4c540001")),
         {{"oam_sets.0.type", "<absent>"}}},
        {"OAM extension sets",
         reply(0x01B3, 0, hex("08 024f4c540001 01 05 00 000db6 01 04 05 00 00d0cb 00")),
         {{"oam_sets.0.type", "1"},
          {"oam_sets.0.length", "5"},
          {"oam_sets.0.version", "0"},
          {"oam_sets.0.oui", "000db6"},
          {"oam_sets.0.state", "1"},
          {"oam_sets.1.type", "4"},
          {"oam_sets.1.oui", "00d0cb"},
          {"oam_sets.1.state", "0"}}},
        {"NVS result 1: storage counts as off",
         reply(0x012D, 1, {}),
         {{"current", "0"}, {"after_next_boot", "<absent>"}}},
        {"NVS", reply(0x012D, 0, hex("01 00")), {{"after_next_boot", "1"}, {"current", "0"}}},
        {"all domains",
         reply(0x017D, 0, hex("0401 0003 0402 0004")),
         {{"domain_lst.0.id", "1025"},
          {"domain_lst.0.count", "3"},
          {"domain_lst.1.id", "1026"},
          {"domain_lst.1.count", "4"}}},
        {"all domains with a length field of 0",
         withLengthField(reply(0x017D, 0, hex("0401 0003")), 0),
         {{"domain_lst.0.id", "<absent>"}}},
        {"all paths",
         reply(0x0179, 15, hex("2000 0002 2001 0000")),
         {{"paths.0.id", "8192"}, {"paths.0.usage_count", "2"}, {"paths.1.id", "8193"}, {"paths.1.usage_count", "0"}}},
        {"optics: MAC first, then the five readings",
         reply(0x0249, 0, hex("024f4e010003 1900 80e8 1388 2710 03e8")),
         {{"result", "0"},
          {"target_onu", "02:4f:4e:01:00:03"},
          {"transceiver_temperature", "6400"},
          {"supply_vcc", "33000"},
          {"tx_bias_current", "5000"},
          {"tx_power_in", "10000"},
          {"tx_power_out", "1000"}}},
        {"optics refused by the ONU keeps only the result",
         reply(0x0249, 3, {}),
         {{"result", "3"}, {"target_onu", "<absent>"}}},
        {"destination rules kept verbatim", reply(0x0204, 0, hex("0401 0001 0A0b")), {{"payload", "040100010a0b"}}},
        {"statistics with an all-ones counter",
         reply(0x0138, 0, hex("05 024f4c540001 0000 000b 04 00 ffffffffffffffff 000b 07 01 0000000000001900")),
         {{"result", "0"},
          {"target_tag", "5"},
          {"target_label_mac_address", "02:4f:4c:54:00:01"},
          {"target_label_port_number", "0"},
          {"result_list_stats.0.result_id_val_group", "11"},
          {"result_list_stats.0.result_id_val_element", "4"},
          {"result_list_stats.0.result_id_flags", "0"},
          {"result_list_stats.0.result_value", "18446744073709551615"},
          {"result_list_stats.1.result_id_val_element", "7"},
          {"result_list_stats.1.result_id_flags", "1"},
          {"result_list_stats.1.result_value", "6400"}}},
        {"statistics refused keeps only the result",
         reply(0x0138, 3, {}),
         {{"result", "3"}, {"target_tag", "<absent>"}}},
        {"ONU information",
         reply(0x016B, 0, linkInformation()),
         {{"result", "0"},
          {"link_mac", "02:4f:4e:01:00:03"},
          {"info_length", "18"},
          {"info_vendor_oui", "4f4e55"},
          {"info_product_code", "0001"},
          {"info_product_version", "0100"},
          {"info_llid", "0003"},
          {"info_rtt", "500"},
          {"info_downstream_epon_port", "1"},
          {"info_vendor_type", "0"},
          {"info_reporting_formats", "1"},
          {"info_pending_grants_limit", "4"},
          {"info_upstream_speeds", "1"},
          {"info_upstream_epon_port", "0"},
          {"alarm_message_id", "<absent>"}}},
        {"link discovery",
         report(0x8019, linkInformation()),
         {{"alarm_message_id", "32793"},
          {"link_mac", "02:4f:4e:01:00:03"},
          {"info_llid", "0003"},
          {"info_upstream_epon_port", "0"},
          {"result", "<absent>"}}},
        {"bridging mode",
         reply(0x0184, 0, hex("024f4e010003 01 0040 0203 0000 0204 0001 0205 0002")),
         {{"link", "02:4f:4e:01:00:03"},
          {"bridging_type", "1"},
          {"mac_table_entry_limit", "64"},
          {"down_path_endpoint", "0203"},
          {"down_queue_index", "0"},
          {"up_path_endpoint", "0204"},
          {"up_queue_index", "1"},
          {"mcast_path_endpoint", "0205"},
          {"mcast_queue_index", "2"}}},
        {"ONU link moved",
         report(0x802B, hex("024f4e010003 00 01")),
         {{"alarm_message_id", "32811"}, {"link_mac_address", "02:4f:4e:01:00:03"}, {"from", "0"}, {"to", "1"}}},
    };
    for (const Decoded& c : cases) {
        SCOPED_TRACE(c.name);
        ResponseMessage response;
        std::unique_ptr<TKMessage> m = message(c.datagram);
        std::unique_ptr<Container> record = response.parseMessage(m.get());
        ASSERT_NE(record, nullptr);
        for (const auto& [path, value] : c.expect) EXPECT_EQ(valueAt(*record, path), value) << path;
    }
}

TEST(ResponseDecode, ReportAlarmReadsTheAddressByEntityTag) {
    struct Case {
        const char* name;
        Bytes data;
        std::string port;
        std::string alarmId;
    } cases[] = {
        {"ONU link: MAC only", hex("03 024f4e010003 17 01 02 00"), "<absent>", "23"},
        {"OLT link: MAC only", hex("07 024f4c540001 40 01 02 00"), "<absent>", "64"},
        {"OLT port: MAC and port", hex("05 024f4c540001 0001 11 01 02 00"), "1", "17"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResponseMessage response;
        auto m = message(report(0x801A, c.data));
        auto record = response.parseMessage(m.get());
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->getValue("alarm_message_id"), "32794");
        EXPECT_EQ(record->getValue("entity_tag"), std::to_string(c.data[0]));
        EXPECT_EQ(valueAt(*record, "port_number"), c.port);
        EXPECT_EQ(record->getValue("alarm_id"), c.alarmId);
        EXPECT_EQ(record->getValue("alarm_state"), "1");
        EXPECT_EQ(record->getValue("alarm_count"), "2");
        EXPECT_EQ(record->getValue("alarm_info_len"), "0");
    }
}

// A rule's fourth byte counts its conditions in binary: 0x12 means 18 + 17 = 35 bytes.
TEST(ResponseDecode, PortLinkRulesTakeTheirLengthFromTheFourthByte) {
    const std::string rule12 = "08010512" + std::string(28, 'a') + std::string(34, 'b');  // 35 bytes
    const std::string rule01 = "08010501" + std::string(28, 'c');                         // 18 bytes
    const std::string rule00 = "08010200" + std::string(28, 'd');                         // 18 bytes
    const std::string rule05 = "08010405" + std::string(28, 'e') + "01020304";            // 22 bytes
    const Bytes data = cat({hex("05 024f4c540001 0002 00 04"), hex(rule12), hex(rule01), hex(rule00), hex(rule05)});
    ResponseMessage response;
    auto m = message(reply(0x018F, 0, data));
    auto record = response.parseMessage(m.get());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->getValue("result"), "0");
    EXPECT_EQ(record->getValue("target"), "05024f4c5400010002");
    EXPECT_EQ(record->getValue("flags"), "0");
    ASSERT_EQ(record->getListSize("rules"), 4u);
    EXPECT_EQ(valueAt(*record, "rules.0.rule"), rule12);
    EXPECT_EQ(valueAt(*record, "rules.1.rule"), rule01);
    EXPECT_EQ(valueAt(*record, "rules.2.rule"), rule00);
    EXPECT_EQ(valueAt(*record, "rules.3.rule"), rule05);
}

Bytes truncated(Bytes b, size_t cut) {
    b.resize(b.size() - cut);
    return b;
}

struct Refused {
    const char* name;
    Bytes datagram;
    std::string text;  // full nested text, line numbers left out
};

TEST(ResponseDecode, BadRepliesFailUnderTheDecodersName) {
    const std::vector<Refused> cases = {
        {"truncated OLT information", reply(0x0007, 0, truncated(oltInformation(), 2)),
         "parseGet_OLT_Information: checkValidOffset: Impossible to parse offset=89, length=1"},
        {"truncated OLT ready", hex("8000 0001 0000 024f4c540001"),
         "parseOLT_Ready: checkValidOffset: Impossible to parse offset=8, length=3"},
        {"OAM extension of 6 data bytes", reply(0x01B3, 0, hex("08 024f4c5400")),
         "parseGet_OAM_Extension_Set_Support: parseGet_OAM_Extension_Set_Support: Invalid data length size"},
        {"NVS without the two bytes", reply(0x012D, 0, hex("01")),
         "parseGet_NVS_Enabled: parseGet_NVS_Enabled: Invalid NVS Enabled payload"},
        {"optics without readings", reply(0x0249, 0, hex("024f4e")),
         "parseGet_CTC_21_Optical_Transceiver_Diagnosis: parseGet_CTC_21_Optical_Transceiver_Diagnosis: "
         "Invalid Optical Transceiver Diagnosis"},
        {"optics in the 14-byte overlapping layout", reply(0x0249, 0, hex("024f4e010003 1900 80e8 1388 2710")),
         "parseGet_CTC_21_Optical_Transceiver_Diagnosis: checkValidOffset: Impossible to parse offset=14, length=2"},
        {"destination rules refused", reply(0x0204, 3, {}),
         "parseGet_Destination_Rules: parseGet_Destination_Rules: Invalid Get Destination Rules"},
        {"port rules refused", reply(0x018F, 1, hex("05024f4c5400010000 00 00")),
         "parseGet_OLT_PortLink_Rules: parseGet_OLT_PortLink_Rules: Invalid OLT Port/Link Rules"},
        {"port rules with a 10-byte length field", reply(0x018F, 0, hex("05024f4c54000100")),
         "parseGet_OLT_PortLink_Rules: parseGet_OLT_PortLink_Rules: Invalid OLT Port/Link Rules"},
        {"port rule cut inside its extra bytes",
         reply(0x018F, 0, cat({hex("05024f4c5400010000 00 01 08010512"), Bytes(20, 0)})),
         "parseGet_OLT_PortLink_Rules: checkValidOffset: Impossible to parse offset=29, length=17"},
        {"statistics too short", reply(0x0138, 0, hex("05 024f4c")),
         "parseGet_Statistics: parseGet_Statistics: Invalid Statistics"},
        {"statistics entry cut short", reply(0x0138, 0, hex("05 024f4c540001 0000 000b 04 00 ffffffffffff")),
         "parseGet_Statistics: checkValidOffset: Impossible to parse offset=13, length=8"},
        {"ONU information too short", reply(0x016B, 0, hex("0203")),
         "parseGet_ONU_Information: parseGet_ONU_Information: Invalid Link Info payload"},
        {"ONU information of 17 bytes", reply(0x016B, 0, linkInformation(17)),
         "parseGet_ONU_Information: parseGet_ONU_Information: Link Info Length is below 18 bytes"},
        {"link discovery too short", report(0x8019, hex("02")),
         "parseLink_Discovery: parseLink_Discovery: Invalid Link payload"},
        {"link discovery of 17 bytes", report(0x8019, linkInformation(17)),
         "parseLink_Discovery: parseLink_Discovery: Link Length is below 18 bytes"},
        {"alarm for entity tag 4", report(0x801A, hex("04 024f4e010003 17 01 01 00")),
         "parseReport_Alarm: parseReport_Alarm: Entity Tag(4) not handled"},
        {"alarm for an OLT port without its port number", report(0x801A, hex("05 024f4c540001 00")),
         "parseReport_Alarm: checkValidOffset: Impossible to parse offset=7, length=2"},
        {"bridging mode cut short", reply(0x0184, 0, hex("024f4e010003 01 0040")),
         "parseGet_OLT_Bridging_Mode: checkValidOffset: Impossible to parse offset=9, length=2"},
        {"link moved without the ports", report(0x802B, hex("024f4e010003 00")),
         "parseOnuLinkMovedBetweenPonPorts: checkValidOffset: Impossible to parse offset=7, length=1"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        // A good reply collected earlier must go too: the caller sees nothing of that exchange.
        ResponseMessage response;
        response.addResponseMessage(message(reply(0x0044, 0, kOnuMac)));
        response.addResponseMessage(message(c.datagram));
        try {
            response.parseAllMessages();
            ADD_FAILURE() << "no failure";
        } catch (const Exception& e) {
            EXPECT_EQ(withoutLines(e.what()), c.text);
        }
        EXPECT_EQ(response.getMessagesSize(), 0u);
        EXPECT_EQ(response.getContainerSize(), 0u);
    }
}

TEST(ResponseDecode, ResultCheckAcceptsToleratedCodesAndNamesTheRest) {
    struct Case {
        uint16_t id;
        uint16_t result;
        const char* message;  // nullptr: accepted
    } cases[] = {
        {0x0008, 0, nullptr},
        {0x0008, 2, nullptr},
        {0x0008, 4, nullptr},
        {0x0181, 8, nullptr},
        {0x0181, 14, nullptr},
        {0x0225, 15, nullptr},
        {0x0008, 1, "Unsupported Message ID <8>"},
        {0x0190, 3, "Error Return Code(PARAM_OUT_OF_RANGE) from Message ID <400>"},
        {0x0190, 5, "Invalid Return Code(5) from Message ID <400>"},
        {0x0190, 16, "Invalid Return Code(16) from Message ID <400>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + "/" + std::to_string(c.result));
        ResponseMessage response;
        response.setTolerantPauseForTest(std::chrono::milliseconds(0));
        auto m = message(reply(c.id, c.result, {}));
        if (c.message == nullptr) {
            EXPECT_EQ(response.parseMessage(m.get()), nullptr);
            continue;
        }
        try {
            response.parseMessage(m.get());
            ADD_FAILURE() << "accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), c.message);
            EXPECT_EQ(withoutLines(e.what()), std::string("parseCheckResultOk: ") + c.message);
        }
    }
}

// Dispatch and result-check failures leave what was decoded before them in place.
TEST(ResponseDecode, UnhandledIdsFailWithoutClearing) {
    for (uint16_t id : {0x0182, 0x0006, 0x000A, 0x0053, 0x7fff, 0x8001}) {
        SCOPED_TRACE(id);
        ResponseMessage response;
        response.addResponseMessage(message(reply(0x0044, 0, kOnuMac)));
        response.addResponseMessage(message(id >= 0x8000 ? report(id, {}) : reply(id, 0, {})));
        try {
            response.parseAllMessages();
            ADD_FAILURE() << "accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), "Response Message ID (" + std::to_string(id) + ") not handled");
        }
        EXPECT_EQ(response.getMessagesSize(), 2u);
        ASSERT_EQ(response.getContainerSize(), 1u);
        EXPECT_EQ(valueAt(*response.getContainer(0), "disc_link_macs.0.mac_address"), "02:4f:4e:01:00:03");
    }
    ResponseMessage response;
    try {
        response.parseMessage(nullptr);
        ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Invalid TKMessage pointer");
    }
}

// The collector keeps records in message order, skips check-only replies, and hands out
// nothing past its end.
TEST(ResponseDecode, ParseAllKeepsOneRecordPerDataReply) {
    ResponseMessage response;
    response.addResponseMessage(message(reply(0x0076, 14, hex("024f4e010000"))));
    response.addResponseMessage(message(reply(0x0076, 15, hex("024f4e010001"))));
    response.addResponseMessage(message(reply(0x0008, 0, {})));
    response.addResponseMessage(message(reply(0x012D, 0, hex("0101"))));
    response.parseAllMessages();
    EXPECT_EQ(response.getMessagesSize(), 4u);
    ASSERT_EQ(response.getContainerSize(), 3u);
    EXPECT_EQ(valueAt(*response.getContainer(0), "allkn_link_macs.0.mac_address"), "02:4f:4e:01:00:00");
    EXPECT_EQ(valueAt(*response.getContainer(1), "allkn_link_macs.0.mac_address"), "02:4f:4e:01:00:01");
    EXPECT_EQ(response.getContainer(2)->getValue("current"), "1");
    EXPECT_EQ(response.getContainer(3), nullptr);
    response.clear();
    EXPECT_EQ(response.getMessagesSize(), 0u);
    EXPECT_EQ(response.getContainerSize(), 0u);
}

}  // namespace
