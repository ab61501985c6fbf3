#include "ResponseMessage.h"

#include <thread>

#include "Container.h"
#include "Exception.h"
#include "RMParser.h"
#include "TKMessage.h"

namespace {

// The readers hand back decimal text; the decoders need a few of those values as numbers.
unsigned long toNumber(const std::string& decimal) { return std::stoul(decimal); }

// OLT identity as sent in the Get OLT Information reply and in the OLT ready report.
// Data offsets: 0 MAC, 6 two reserved bytes, 8 OUI (3), 11 product code (2), 13 product
// version (2), 15 firmware version (2), 17 vendor text (64), 81 JEDEC id (u16), 83 chip id
// (2), 85 chip version (4), 89 EPON port count (u8), 90 NNI port count (u8): 91 bytes.
void readOltInformation(Container& r, const TKMessage& m) {
    uint16_t p = 0;
    r.setNewValue("olt_epon_mac", RMParser::parseMacAddr(p, m));
    p = static_cast<uint16_t>(p + 2);
    r.setNewValue("vendor_oui", RMParser::parseHex(p, m, 3));
    r.setNewValue("product_code", RMParser::parseHex(p, m, 2));
    r.setNewValue("product_version", RMParser::parseHex(p, m, 2));
    r.setNewValue("firmware_version", RMParser::parseHex(p, m, 2));
    r.setNewValue("vendor_info", RMParser::parseHex(p, m, 64));
    r.setNewValue("jedec_id", RMParser::parseU16Number(p, m));
    r.setNewValue("chip_id", RMParser::parseHex(p, m, 2));
    r.setNewValue("chip_version", RMParser::parseHex(p, m, 4));
    r.setNewValue("num_epon_ports", RMParser::parseU8Number(p, m));
    r.setNewValue("num_nni_ports", RMParser::parseU8Number(p, m));
}

// A list of 6-byte MACs filling the data; a trailing partial entry is ignored.
void readMacList(Container& r, const TKMessage& m, const char* listKey) {
    const size_t entries = m.getDataLength() / 6;
    uint16_t p = 0;
    for (size_t i = 0; i < entries; ++i) {
        auto entry = std::make_unique<Container>();
        entry->setNewValue("mac_address", RMParser::parseMacAddr(p, m));
        r.addItemToList(listKey, entry.release());
    }
}

// The link information block after the link MAC (0) and its length (6), from offset 8:
// OUI (3), product code (2), product version (2), LLID (2), RTT (u16), downstream EPON port
// (u8), vendor type (u16), reporting formats, pending grants limit, upstream speeds,
// upstream EPON port (u8 each): 26 bytes in all.
void readLinkInformationRest(Container& r, const TKMessage& m, uint16_t& p) {
    r.setNewValue("info_vendor_oui", RMParser::parseHex(p, m, 3));
    r.setNewValue("info_product_code", RMParser::parseHex(p, m, 2));
    r.setNewValue("info_product_version", RMParser::parseHex(p, m, 2));
    r.setNewValue("info_llid", RMParser::parseHex(p, m, 2));
    r.setNewValue("info_rtt", RMParser::parseU16Number(p, m));
    r.setNewValue("info_downstream_epon_port", RMParser::parseU8Number(p, m));
    r.setNewValue("info_vendor_type", RMParser::parseU16Number(p, m));
    r.setNewValue("info_reporting_formats", RMParser::parseU8Number(p, m));
    r.setNewValue("info_pending_grants_limit", RMParser::parseU8Number(p, m));
    r.setNewValue("info_upstream_speeds", RMParser::parseU8Number(p, m));
    r.setNewValue("info_upstream_epon_port", RMParser::parseU8Number(p, m));
}

// Link information must describe at least the 18 bytes that follow its length field.
constexpr unsigned long kMinLinkInfoLength = 18;

}  // namespace

ResponseMessage::ResponseMessage() = default;

ResponseMessage::~ResponseMessage() = default;

void ResponseMessage::addResponseMessage(std::unique_ptr<TKMessage> message) {
    if (message) messages_.push_back(std::move(message));
}

void ResponseMessage::parseAllMessages() {
    // Indexed on purpose: a decoder failure clears messages_ and the exception leaves the loop.
    for (size_t i = 0; i < messages_.size(); ++i) {
        std::unique_ptr<Container> record = parseMessage(messages_[i].get());
        if (record) records_.push_back(std::move(record));
    }
}

std::unique_ptr<Container> ResponseMessage::parseMessage(const TKMessage* message) {
    if (message == nullptr) throw Exception("Invalid TKMessage pointer", "parseMessage", __LINE__);
    const TKMessage& m = *message;
    switch (m.getId()) {
        // Replies that carry nothing but their result code.
        case 0x0001:
        case 0x0008:
        case 0x0009:
        case 0x0050:
        case 0x0077:
        case 0x0111:
        case 0x0126:
        case 0x012B:
        case 0x012E:
        case 0x014F:
        case 0x0151:
        case 0x015D:
        case 0x0163:
        case 0x0167:
        case 0x0173:
        case 0x0178:
        case 0x017A:
        case 0x0180:
        case 0x0181:
        case 0x0183:
        case 0x0189:
        case 0x018D:
        case 0x0190:
        case 0x0191:
        case 0x0193:
        case 0x0196:
        case 0x0198:
        case 0x019A:
        case 0x019C:
        case 0x01B4:
        case 0x01ED:
        case 0x01F2:
        case 0x0205:
        case 0x0206:
        case 0x0220:
        case 0x0225: parseCheckResultOk(m); return nullptr;
        case 0x0007: return parseGet_OLT_Information(m);
        case 0x0044: return parseGet_List_of_Discovered_Links(m);
        case 0x0076: return parseGet_List_of_All_Known_Logical_Links(m);
        case 0x012D: return parseGet_NVS_Enabled(m);
        case 0x0138: return parseGet_Statistics(m);
        case 0x016B: return parseGet_ONU_Information(m);
        case 0x0179: return parseGet_All_Paths(m);
        case 0x017D: return parseGet_All_Domains(m);
        case 0x0184: return parseGet_OLT_Bridging_Mode(m);
        case 0x018F: return parseGet_OLT_PortLink_Rules(m);
        case 0x01B3: return parseGet_OAM_Extension_Set_Support(m);
        case 0x0204: return parseGet_Destination_Rules(m);
        case 0x0249: return parseGet_CTC_21_Optical_Transceiver_Diagnosis(m);
        case 0x8000: return parseOLT_Ready(m);
        case 0x8019: return parseLink_Discovery(m);
        case 0x801A: return parseReport_Alarm(m);
        case 0x802B: return parseOnuLinkMovedBetweenPonPorts(m);
        default:
            throw Exception("Response Message ID (" + std::to_string(m.getId()) + ") not handled", "parseMessage",
                            __LINE__);
    }
}

Container* ResponseMessage::getContainer(size_t i) const { return i < records_.size() ? records_[i].get() : nullptr; }

const TKMessage* ResponseMessage::getMessageAt(size_t i) const {
    return i < messages_.size() ? messages_[i].get() : nullptr;
}

void ResponseMessage::clear() {
    records_.clear();
    messages_.clear();
}

void ResponseMessage::parseCheckResultOk(const TKMessage& message) const {
    const unsigned result = message.getResult();
    if (result == 0) return;
    const std::string id = std::to_string(message.getId());
    // Bit 3 covers 8..15, among them the part markers 14 and 15.
    if ((result & 0x8) != 0 || result == 2 || result == 4) {
        if (tolerantPause_.count() > 0) std::this_thread::sleep_for(tolerantPause_);
        return;
    }
    if (result == 1) throw Exception("Unsupported Message ID <" + id + ">", "parseCheckResultOk", __LINE__);
    if (result == 3) {
        throw Exception("Error Return Code(PARAM_OUT_OF_RANGE) from Message ID <" + id + ">", "parseCheckResultOk",
                        __LINE__);
    }
    throw Exception("Invalid Return Code(" + std::to_string(result) + ") from Message ID <" + id + ">",
                    "parseCheckResultOk", __LINE__);
}

std::unique_ptr<Container> ResponseMessage::decode(const char* decoder, int line,
                                                   const std::function<void(Container&)>& body) {
    auto record = std::make_unique<Container>();
    std::string failure;
    try {
        body(*record);
        return record;
    } catch (const Exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "Unknown Exception Error";
    }
    record.reset();
    // The caller must see neither the messages nor the records of an exchange that had a bad reply.
    clear();
    throw Exception(failure, decoder, line);
}

std::unique_ptr<Container> ResponseMessage::parseGet_OLT_Information(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) { readOltInformation(r, message); });
}

std::unique_ptr<Container> ResponseMessage::parseOLT_Ready(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) {
        readOltInformation(r, message);
        r.setNewValue("alarm_message_id", std::to_string(message.getId()));
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_List_of_All_Known_Logical_Links(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) { readMacList(r, message, "allkn_link_macs"); });
}

std::unique_ptr<Container> ResponseMessage::parseGet_List_of_Discovered_Links(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) { readMacList(r, message, "disc_link_macs"); });
}

std::unique_ptr<Container> ResponseMessage::parseGet_OAM_Extension_Set_Support(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        const size_t dataLength = message.getDataLength();
        if (dataLength <= 6) throw Exception("Invalid data length size", name, __LINE__);
        // The first 7 bytes (the target the request named) precede the 7-byte records of
        // type, length, version, OUI (3) and state.
        const size_t entries = (dataLength - 7) / 7;
        uint16_t p = 7;
        for (size_t i = 0; i < entries; ++i) {
            auto entry = std::make_unique<Container>();
            entry->setNewValue("type", RMParser::parseU8Number(p, message));
            entry->setNewValue("length", RMParser::parseU8Number(p, message));
            entry->setNewValue("version", RMParser::parseU8Number(p, message));
            entry->setNewValue("oui", RMParser::parseHex(p, message, 3));
            entry->setNewValue("state", RMParser::parseU8Number(p, message));
            r.addItemToList("oam_sets", entry.release());
        }
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_NVS_Enabled(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        // An OLT without non-volatile storage control answers "not supported": storage is off.
        if (message.getResult() == 1) {
            r.setNewValue("current", "0");
            return;
        }
        if (message.getLength() <= 3) throw Exception("Invalid NVS Enabled payload", name, __LINE__);
        uint16_t p = 0;
        r.setNewValue("after_next_boot", RMParser::parseU8Number(p, message));
        r.setNewValue("current", RMParser::parseU8Number(p, message));
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_All_Domains(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) {
        if (message.getLength() == 0) return;
        const size_t entries = message.getDataLength() / 4;
        uint16_t p = 0;
        for (size_t i = 0; i < entries; ++i) {
            auto entry = std::make_unique<Container>();
            entry->setNewValue("id", RMParser::parseU16Number(p, message));
            entry->setNewValue("count", RMParser::parseU16Number(p, message));
            r.addItemToList("domain_lst", entry.release());
        }
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_All_Paths(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) {
        const size_t entries = message.getDataLength() / 4;
        uint16_t p = 0;
        for (size_t i = 0; i < entries; ++i) {
            auto entry = std::make_unique<Container>();
            entry->setNewValue("id", RMParser::parseU16Number(p, message));
            entry->setNewValue("usage_count", RMParser::parseU16Number(p, message));
            r.addItemToList("paths", entry.release());
        }
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_CTC_21_Optical_Transceiver_Diagnosis(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        r.setNewValue("result", std::to_string(message.getResult()));
        if (message.getResult() == 0 && message.getLength() <= 7) {
            throw Exception("Invalid Optical Transceiver Diagnosis", name, __LINE__);
        }
        if (message.getLength() < 9) return;
        // The ONU's MAC (0..5) comes first and the five u16 readings follow it at 6, 8, 10,
        // 12 and 14; reading them from offset 2 would take MAC bytes for temperature and
        // voltage. A reply shorter than 16 data bytes fails the offset check.
        uint16_t p = 0;
        r.setNewValue("target_onu", RMParser::parseMacAddr(p, message));
        r.setNewValue("transceiver_temperature", RMParser::parseU16Number(p, message));
        r.setNewValue("supply_vcc", RMParser::parseU16Number(p, message));
        r.setNewValue("tx_bias_current", RMParser::parseU16Number(p, message));
        r.setNewValue("tx_power_in", RMParser::parseU16Number(p, message));
        r.setNewValue("tx_power_out", RMParser::parseU16Number(p, message));
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_Destination_Rules(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        if (message.getResult() != 0) throw Exception("Invalid Get Destination Rules", name, __LINE__);
        // Kept verbatim: Delete Destination Rules sends exactly these bytes back.
        uint16_t p = 0;
        r.setNewValue("payload", RMParser::parseHex(p, message, message.getDataLength()));
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_OLT_PortLink_Rules(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        r.setNewValue("result", std::to_string(message.getResult()));
        if (message.getResult() != 0 || message.getLength() <= 10) {
            throw Exception("Invalid OLT Port/Link Rules", name, __LINE__);
        }
        uint16_t p = 0;
        r.setNewValue("target", RMParser::parseHex(p, message, 9));
        r.setNewValue("flags", RMParser::parseU8Number(p, message));
        const unsigned long rules = toNumber(RMParser::parseU8Number(p, message));
        for (unsigned long i = 0; i < rules; ++i) {
            const uint16_t start = p;
            std::string rule = RMParser::parseHex(p, message, 18);
            // A rule's fourth byte is its condition count n: 18 bytes hold one condition and
            // each further one adds a byte. It is a binary count (0x12 is 18), not two
            // decimal digits; the same rule is used when rules are built for Set OLT Rule.
            const unsigned n = message.getData()[start + 3];
            if (n > 1) rule += RMParser::parseHex(p, message, n - 1);
            auto entry = std::make_unique<Container>();
            entry->setNewValue("rule", rule);
            r.addItemToList("rules", entry.release());
        }
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_Statistics(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        r.setNewValue("result", std::to_string(message.getResult()));
        const unsigned length = message.getLength();
        if (message.getResult() == 0 && length <= 8) throw Exception("Invalid Statistics", name, __LINE__);
        if (length < 10) return;
        // Target: entity tag (0), MAC (1), port (7); then 12-byte counters from offset 9.
        uint16_t p = 0;
        r.setNewValue("target_tag", RMParser::parseU8Number(p, message));
        r.setNewValue("target_label_mac_address", RMParser::parseMacAddr(p, message));
        r.setNewValue("target_label_port_number", RMParser::parseU16Number(p, message));
        // Counted from the header's length field (it includes the 2-byte result); a field
        // that claims more than arrived fails on the offset check.
        const size_t entries = (length - 9) / 12;
        for (size_t i = 0; i < entries; ++i) {
            auto entry = std::make_unique<Container>();
            entry->setNewValue("result_id_val_group", RMParser::parseU16Number(p, message));
            entry->setNewValue("result_id_val_element", RMParser::parseU8Number(p, message));
            entry->setNewValue("result_id_flags", RMParser::parseU8Number(p, message));
            entry->setNewValue("result_value", RMParser::parseU64Number(p, message));
            r.addItemToList("result_list_stats", entry.release());
        }
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_ONU_Information(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        r.setNewValue("result", std::to_string(message.getResult()));
        if (message.getResult() == 0 && message.getLength() <= 7) {
            throw Exception("Invalid Link Info payload", name, __LINE__);
        }
        if (message.getLength() < 9) return;
        uint16_t p = 0;
        r.setNewValue("link_mac", RMParser::parseMacAddr(p, message));
        const std::string infoLength = RMParser::parseU16Number(p, message);
        r.setNewValue("info_length", infoLength);
        if (toNumber(infoLength) < kMinLinkInfoLength) {
            throw Exception("Link Info Length is below 18 bytes", name, __LINE__);
        }
        readLinkInformationRest(r, message, p);
    });
}

std::unique_ptr<Container> ResponseMessage::parseLink_Discovery(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        if (message.getLength() <= 7) throw Exception("Invalid Link payload", name, __LINE__);
        uint16_t p = 0;
        r.setNewValue("link_mac", RMParser::parseMacAddr(p, message));
        const std::string infoLength = RMParser::parseU16Number(p, message);
        r.setNewValue("info_length", infoLength);
        if (toNumber(infoLength) < kMinLinkInfoLength) {
            throw Exception("Link Length is below 18 bytes", name, __LINE__);
        }
        r.setNewValue("alarm_message_id", std::to_string(message.getId()));
        readLinkInformationRest(r, message, p);
    });
}

std::unique_ptr<Container> ResponseMessage::parseGet_OLT_Bridging_Mode(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) {
        // The three endpoints stay hex: queue SLA requests send them back unchanged.
        uint16_t p = 0;
        r.setNewValue("link", RMParser::parseMacAddr(p, message));
        r.setNewValue("bridging_type", RMParser::parseU8Number(p, message));
        r.setNewValue("mac_table_entry_limit", RMParser::parseU16Number(p, message));
        r.setNewValue("down_path_endpoint", RMParser::parseHex(p, message, 2));
        r.setNewValue("down_queue_index", RMParser::parseU16Number(p, message));
        r.setNewValue("up_path_endpoint", RMParser::parseHex(p, message, 2));
        r.setNewValue("up_queue_index", RMParser::parseU16Number(p, message));
        r.setNewValue("mcast_path_endpoint", RMParser::parseHex(p, message, 2));
        r.setNewValue("mcast_queue_index", RMParser::parseU16Number(p, message));
    });
}

std::unique_ptr<Container> ResponseMessage::parseReport_Alarm(const TKMessage& message) {
    const char* name = __func__;
    return decode(name, __LINE__, [&](Container& r) {
        r.setNewValue("alarm_message_id", std::to_string(message.getId()));
        uint16_t p = 0;
        const std::string tag = RMParser::parseU8Number(p, message);
        r.setNewValue("entity_tag", tag);
        switch (toNumber(tag)) {
            case 3:  // ONU link
            case 7:  // OLT link
                r.setNewValue("mac_address", RMParser::parseMacAddr(p, message));
                break;
            case 5:  // OLT port: the OLT's MAC and the port number
                r.setNewValue("mac_address", RMParser::parseMacAddr(p, message));
                r.setNewValue("port_number", RMParser::parseU16Number(p, message));
                break;
            default: throw Exception("Entity Tag(" + tag + ") not handled", name, __LINE__);
        }
        r.setNewValue("alarm_id", RMParser::parseU8Number(p, message));
        r.setNewValue("alarm_state", RMParser::parseU8Number(p, message));
        r.setNewValue("alarm_count", RMParser::parseU8Number(p, message));
        r.setNewValue("alarm_info_len", RMParser::parseU8Number(p, message));
    });
}

std::unique_ptr<Container> ResponseMessage::parseOnuLinkMovedBetweenPonPorts(const TKMessage& message) {
    return decode(__func__, __LINE__, [&](Container& r) {
        r.setNewValue("alarm_message_id", std::to_string(message.getId()));
        uint16_t p = 0;
        r.setNewValue("link_mac_address", RMParser::parseMacAddr(p, message));
        r.setNewValue("from", RMParser::parseU8Number(p, message));
        r.setNewValue("to", RMParser::parseU8Number(p, message));
    });
}
