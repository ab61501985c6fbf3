#include "RequestMessage.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Exception.h"
#include "Helper.h"
#include "OnuLink.h"

// Payload layouts below are written field by field in the order they travel; every number
// is big-endian. Bytes whose meaning belongs to the OLT chip (rule blocks, domain and
// multicast settings) are sent exactly as the chip expects them and are not explained.

namespace {

constexpr const char* kZero8 = "0000000000000000";  // 8 zero bytes
constexpr uint16_t kMaxVlanId = 4095;
constexpr uint16_t kVlanTpid = 0x8100;

// target: entity tag 5 (OLT port), the OLT MAC, the port. 9 bytes.
void addOltPortTarget(TKMPayload& payload, const std::string& oltMac, uint16_t port) {
    payload.addU8Number(TK_ENTITY_OLT_PORT);
    payload.addMac(oltMac);
    payload.addU16Number(port);
}

// OLT MAC and port without a tag, the prefix of the per-port settings.
void addOltPort(TKMPayload& payload, const std::string& oltMac, uint16_t port) {
    payload.addMac(oltMac);
    payload.addU16Number(port);
}

// Both bandwidth settings (plain and DBA) send the same block after the port: u32 0, u16 0,
// u8 0.
void addOltPortBandwidth(TKMPayload& payload, const std::string& oltMac, uint16_t port) {
    addOltPort(payload, oltMac, port);
    payload.addHex("00000000");
    payload.addHex("0000");
    payload.addU8Number(0);
}

// A queue endpoint is the 2-byte value the OLT reported for the queue, kept as 4 hex
// digits; anything else (an empty text before the queue is learnt, a "0" placeholder)
// would shift every following byte by a nibble.
void addQueue(TKMPayload& payload, const std::string& queue) { payload.addHexBytes(queue, 2); }

// Decimal reading of a VLAN id text as the ONU port request needs it: no number reads as 0
// (untagged); a value above the 12-bit VLAN range cannot be sent and is refused.
long readOnuVlan(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) return 0;
    if (value > kMaxVlanId || (errno == ERANGE && value == LONG_MAX)) {
        throw Exception("Impossible to set VLAN ID equals to (" + text + ")", "addOnuPortVlan", __LINE__);
    }
    return value;
}

// Rule block R(a, b, c, d) of the domain and destination rules, and the tail T that
// follows it in most of them.
void addDestinationRule(TKMPayload& payload, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    payload.addU8Number(1);
    payload.addU8Number(a);
    payload.addU8Number(b);
    payload.addU8Number(3);
    payload.addU8Number(2);
    payload.addU16Number(0);
    payload.addU8Number(9);
    payload.addU8Number(4);
    payload.addU16Number(0);
    payload.addU16Number(0);
    payload.addU8Number(c);
    payload.addU8Number(d);
}

void addDestinationRuleTail(TKMPayload& payload) {
    payload.addU16Number(0);
    payload.addU16Number(0);
    payload.addU8Number(1);
    payload.addU8Number(1);
    payload.addU8Number(0);
    payload.addU8Number(0);
}

}  // namespace

RequestMessage::RequestMessage() = default;

RequestMessage::~RequestMessage() { clear(); }

std::unique_ptr<TKMessage> RequestMessage::getNewMessage(uint16_t id, const uint8_t* payload, uint16_t length) {
    const uint16_t ctag = static_cast<uint16_t>(ctagCounter_ + 1);
    std::unique_ptr<TKMessage> message;
    try {
        message = std::make_unique<TKMessage>(id, ctag, payload, length);
    } catch (...) {
        throw Exception("Impossible to get a new TKMessage", __func__, __LINE__);
    }
    // The counter skips 0 but the Ctag sent is counter + 1 before that skip, so after a wrap
    // one request does carry Ctag 0 and the next one carries 2.
    ++ctagCounter_;
    if (ctagCounter_ == 0) {
        ++ctagCounter_;
    }
    return message;
}

void RequestMessage::addMessage(std::unique_ptr<TKMessage> message) {
    if (message) {
        messages_.push_back(std::move(message));
    }
}

void RequestMessage::clear() { messages_.clear(); }

void RequestMessage::addRequest(uint16_t id) { addMessage(getNewMessage(id, nullptr, 0)); }

void RequestMessage::addRequest(uint16_t id, TKMPayload& payload) {
    payload.buildPayload();
    addMessage(getNewMessage(id, payload.getPayload(), payload.getSize()));
}

void RequestMessage::addLinkRequest(uint16_t id, const std::string& linkMac, bool withZeroSuffix) {
    TKMPayload payload;
    payload.addMac(linkMac);
    if (withZeroSuffix) {
        payload.addU16Number(0);
    }
    addRequest(id, payload);
}

void RequestMessage::addU16Request(uint16_t id, uint16_t value) {
    TKMPayload payload;
    payload.addU16Number(value);
    addRequest(id, payload);
}

void RequestMessage::addSLAQueueParams(TKMPayload& payload, uint16_t number) {
    payload.addU32Number(0);
    payload.addU16Number(0xFFFF);
    payload.addU8Number(0xFF);
    payload.addU16Number(0xFFFF);
    payload.addU32Number(1000000);
    payload.addU16Number(200);
    payload.addU8Number(2);
    payload.addU16Number(number);
}

// The ready-payload forms, one per entry of the list in the header.
#define REQUEST_MESSAGE_DEFINE(name, id) \
    void RequestMessage::name(TKMPayload& payload) { addRequest(id, payload); }
REQUEST_MESSAGE_PAYLOAD_FORMS(REQUEST_MESSAGE_DEFINE)
#undef REQUEST_MESSAGE_DEFINE

// --- no payload ---

void RequestMessage::addResetOLT() { addRequest(TK_RESET_OLT); }
void RequestMessage::addGetOLTInformation() { addRequest(TK_GET_OLT_INFORMATION); }
void RequestMessage::addEnableOLT() { addRequest(TK_ENABLE_OLT); }
void RequestMessage::addDisableOLT() { addRequest(TK_DISABLE_OLT); }
void RequestMessage::addRestoreOLTDefaults() { addRequest(TK_RESTORE_OLT_DEFAULTS); }
void RequestMessage::addGetListOfDiscoveredLinks() { addRequest(TK_GET_LIST_OF_DISCOVERED_LINKS); }
void RequestMessage::addGetListOfAllKnownLogicalLinks() { addRequest(TK_GET_LIST_OF_ALL_KNOWN_LOGICAL_LINKS); }
void RequestMessage::addGetOLTNVSEnabled() { addRequest(TK_GET_OLT_NVS_ENABLED); }
void RequestMessage::addGetAllPath() { addRequest(TK_GET_ALL_PATHS); }
void RequestMessage::doAddGetAllDomains() { addRequest(TK_GET_ALL_DOMAINS); }

// --- OLT-wide settings ---

void RequestMessage::addSetDefaultOAMRate() {
    TKMPayload payload;
    payload.addU8Number(1);
    payload.addU8Number(20);
    payload.addU8Number(1);
    addSetDefaultOAMRate(payload);
}

void RequestMessage::addSetOLTBridgingConfiguration(bool enBridgeAdvanced) {
    TKMPayload payload;
    payload.addHex(enBridgeAdvanced ? "00000000" : "00050000");
    payload.addBool(false);
    payload.addU8Number(enBridgeAdvanced ? 0xFF : 24);
    payload.addBool(true);
    payload.addBool(true);
    payload.addBool(false);
    payload.addU8Number(1);
    addSetOLTBridgingConfiguration(payload);
}

void RequestMessage::addSetOLTNVSEnabled(bool enabled) {
    TKMPayload payload;
    payload.addBool(enabled);
    addSetOLTNVSEnabled(payload);
}

void RequestMessage::addSetOLTIPMulticastGlobalProvisioning() {
    TKMPayload payload;
    payload.addU16Number(4096);
    payload.addU32Number(1000000);
    payload.addU16Number(0);
    addSetOLTIPMulticastGlobalProvisioning(payload);
}

void RequestMessage::addSetOLTIPMulticastDomainProxyProvisioning() {
    TKMPayload payload;
    payload.addU16Number(kBridgeDomain);
    payload.addU32Number(3);
    payload.addU32Number(3);
    payload.addU32Number(0);
    payload.addU32Number(1000000);
    payload.addU32Number(10000);
    for (uint16_t value : {1000, 0, 2, 600, 580, 55, 2, 800, 2, 110, 10, 0, 1000, 0}) {
        payload.addU16Number(value);
    }
    payload.addHex("C0A86502");                          // proxy IPv4 source 192.168.101.2
    payload.addHex("FE800000000000000000000000000001");  // proxy IPv6 source fe80::1
    addSetOLTIPMulticastDomainProxyProvisioning(payload);
}

void RequestMessage::addSetOLTIPMulticastHostCopy() {
    TKMPayload payload;
    payload.addU16Number(kBridgeDomain);
    for (uint8_t value : {0, 6, 0, 6, 0, 6, 6, 7, 6, 6, 6, 6, 6, 6, 0}) {
        payload.addU8Number(value);
    }
    addSetOLTIPMulticastHostCopy(payload);
}

// OAM extension sets: type 1 (OUI 000db6), 2 (111111, the CTC extension whose state tells
// whether the OLT has been provisioned), 3 (aaaaaa) and 4 (00d0cb).
void RequestMessage::addGetOAMExtensionSetSupport(const std::string& oltMac) {
    TKMPayload payload;
    payload.addU8Number(8);
    payload.addMac(oltMac);
    for (uint8_t type = 1; type <= 4; ++type) {
        payload.addU8Number(type);
        payload.addU8Number(0);
    }
    addGetOAMExtensionSetSupport(payload);
}

void RequestMessage::addSetOamExtensionSetSupport(const std::string& oltMac) {
    struct ExtensionSet {
        uint8_t type;
        const char* oui;
        bool enabled;
    };
    static const ExtensionSet kSets[] = {
        {1, "000db6", true}, {2, "111111", true}, {3, "aaaaaa", false}, {4, "00d0cb", false}};
    TKMPayload payload;
    payload.addU8Number(8);
    payload.addMac(oltMac);
    for (const auto& set : kSets) {
        payload.addU8Number(set.type);
        payload.addU8Number(5);  // length of the rest of the record
        payload.addU8Number(0);  // version
        payload.addHex(set.oui);
        payload.addBool(set.enabled);
    }
    addSetOamExtensionSetSupport(payload);
}

// --- per OLT port ---

void RequestMessage::addClearAllAllowedLinks(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPort(payload, oltMac, port);
    addClearAllAllowedLinks(payload);
}

void RequestMessage::addGetStatistics(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPortTarget(payload, oltMac, port);
    payload.addU16Number(0x000B);  // statistics group
    payload.addU8Number(0xFF);
    payload.addU8Number(4);
    addGetStatistics(payload);
}

void RequestMessage::addSetDBAPollingIntervalHighResolution(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPort(payload, oltMac, port);
    for (int i = 0; i < 8; ++i) {
        payload.addU16Number(5);
    }
    addSetDBAPollingIntervalHighResolution(payload);
}

void RequestMessage::addSetEPONLoopTiming(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPort(payload, oltMac, port);
    payload.addU16Number(0);
    payload.addU16Number(6750);
    payload.addU16Number(3125);
    payload.addU16Number(0);
    addSetEPONLoopTiming(payload);
}

void RequestMessage::addSetAggregateBandwidth(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPortBandwidth(payload, oltMac, port);
    addSetAggregateBandwidth(payload);
}

void RequestMessage::addSetDBAAggregateBandwidth(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPortBandwidth(payload, oltMac, port);
    addSetDBAAggregateBandwidth(payload);
}

void RequestMessage::addSetEncryptionModeDefault(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPort(payload, oltMac, port);
    payload.addU8Number(0);
    payload.addHex("0000");
    addSetEncryptionModeDefault(payload);
}

void RequestMessage::addSetEPONSyncTime(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPort(payload, oltMac, port);
    payload.addU16Number(16);
    addSetEPONSyncTime(payload);
}

void RequestMessage::addGetOltRule(const std::string& oltMac, uint16_t port) {
    TKMPayload payload;
    addOltPortTarget(payload, oltMac, port);
    addGetOltRule(payload);
}

// --- per link ---

void RequestMessage::addResetONU(const std::string& linkMac) { addLinkRequest(TK_RESET_ONU, linkMac, false); }

void RequestMessage::addClearAllProvisioningForLogicalLink(const std::string& linkMac) {
    addLinkRequest(TK_CLEAR_ALL_PROVISIONING_FOR_LOGICAL_LINK, linkMac, false);
}

void RequestMessage::addGetONUInformation(const std::string& linkMac) {
    addLinkRequest(TK_GET_ONU_INFORMATION, linkMac, false);
}

void RequestMessage::addEnableLink(const std::string& linkMac, bool withZeroSuffix) {
    addLinkRequest(TK_ENABLE_LINK, linkMac, withZeroSuffix);
}

void RequestMessage::addDisableLink(const std::string& linkMac) { addLinkRequest(TK_DISABLE_LINK, linkMac, true); }

void RequestMessage::addGetOLTBridgingMode(const std::string& linkMac) {
    addLinkRequest(TK_GET_OLT_BRIDGING_MODE, linkMac, false);
}

void RequestMessage::addGetCTC21OpticalTransceiverDiagnosis(const std::string& linkMac) {
    addLinkRequest(TK_GET_CTC21_OPTICAL_TRANSCEIVER_DIAGNOSIS, linkMac, false);
}

// The link's first UNI port: MAC, u8 128, u8 1, u8 1, u8 0, u16 1, then the port settings.
static void addLinkUniPort(TKMPayload& payload, const std::string& linkMac) {
    payload.addMac(linkMac);
    payload.addU8Number(0x80);
    payload.addU8Number(1);
    payload.addU8Number(1);
    payload.addU8Number(0);
    payload.addU16Number(1);
}

void RequestMessage::addCTCSetEthernetPort(const std::string& linkMac) {
    TKMPayload payload;
    addLinkUniPort(payload, linkMac);
    for (int i = 0; i < 4; ++i) {
        payload.addU8Number(1);
    }
    addCTCSetEthernetPort(payload);
}

void RequestMessage::addOnuPortVlan(const std::string& linkMac, const std::string& vlanId) {
    const long vlan = readOnuVlan(vlanId);
    TKMPayload payload;
    addLinkUniPort(payload, linkMac);
    if (vlan > 0) {
        payload.addU8Number(1);  // tagged
        payload.addU16Number(kVlanTpid);
        payload.addU16Number(static_cast<uint16_t>(vlan));
    } else {
        payload.addU8Number(0);  // untagged
    }
    addOnuPortVlan(payload);
}

void RequestMessage::addSetLinkSLA(const std::string& linkMac) {
    TKMPayload payload;
    payload.addMac(linkMac);
    addSLAQueueParams(payload);
    payload.addU8Number(1);
    payload.addU8Number(2);
    payload.addU32Number(0);
    payload.addU32Number(0);
    addSetLinkSLA(payload);
}

// --- queues, paths, domains ---

void RequestMessage::addSetQueueSLA(const std::string& queueEndpoint) {
    TKMPayload payload;
    addQueue(payload, queueEndpoint);
    payload.addU16Number(0);
    addSLAQueueParams(payload);
    addSetQueueSLA(payload);
}

void RequestMessage::addDeleteQueueSLA(const std::string& queueEndpoint) {
    TKMPayload payload;
    addQueue(payload, queueEndpoint);
    payload.addU16Number(0);
    addDeleteQueueSLA(payload);
}

void RequestMessage::addSetPath(uint16_t path, uint16_t first, uint16_t second, uint16_t width) {
    TKMPayload payload;
    payload.addU16Number(path);
    payload.addU16Number(first);
    payload.addU16Number(1);
    payload.addU16Number(width);
    payload.addU16Number(second);
    payload.addU16Number(1);
    payload.addU16Number(width);
    addSetPath(payload);
}

void RequestMessage::addDeletePath(uint16_t path) { addU16Request(TK_DELETE_PATH, path); }

// A path group: u16 0, u8 2, u16 a, u16 b, u8 2, then the two paths of the group.
static void addPathGroup(TKMPayload& payload, uint16_t a, uint16_t b, uint16_t firstPath, uint16_t secondPath) {
    payload.addU16Number(0);
    payload.addU8Number(2);
    payload.addU16Number(a);
    payload.addU16Number(b);
    payload.addU8Number(2);
    payload.addU16Number(firstPath);
    payload.addU16Number(secondPath);
}

void RequestMessage::addSetDomainVersion2(uint16_t domain) {
    TKMPayload payload;
    payload.addU16Number(domain);
    payload.addU16Number(0);
    payload.addU8Number(16);
    payload.addU8Number(16);
    payload.addU8Number(16);
    // Only the two domains the system builds have path groups; any other domain gets the
    // common fields alone.
    if (domain == kOnu2OnuDomain) {
        payload.addU8Number(1);
        addPathGroup(payload, 2, 6, 8202, 8206);
        payload.addU8Number(0);
    } else if (domain == kBridgeDomain) {
        payload.addU8Number(2);
        addPathGroup(payload, 2, 6, 8196, 8198);
        addPathGroup(payload, 4, 8, 8192, 8194);
    }
    addSetDomainVersion2(payload);
}

void RequestMessage::addSetDomainRules(uint16_t domain, uint16_t first, uint16_t second) {
    TKMPayload payload;
    payload.addU16Number(domain);
    payload.addU16Number(1);
    payload.addU8Number(0);
    payload.addU8Number(0);
    payload.addU8Number(1);
    payload.addU16Number(first);
    payload.addU8Number(1);
    payload.addU16Number(second);
    addDestinationRule(payload, 10, 3, 11, 4);
    addDestinationRuleTail(payload);
    payload.addHex(kZero8);
    payload.addU8Number(7);
    payload.addU8Number(0);
    addSetDomainRules(payload);
}

void RequestMessage::addSetDomainSelectors(uint16_t domain) {
    TKMPayload payload;
    payload.addU16Number(domain);
    payload.addU16Number(1);
    payload.addHex(kZero8);
    payload.addU8Number(48);
    addSetDomainSelectors(payload);
}

// --- destinations ---

void RequestMessage::addSetDestination(uint16_t destinationId, const std::string& linkMac,
                                       const std::string& downP2pQueue, const std::string& broadcastP2pQueue) {
    TKMPayload payload;
    payload.addU16Number(destinationId);
    payload.addU16Number(kOnu2OnuDomain);
    payload.addU8Number(1);
    payload.addMac(linkMac);
    payload.addHex(kZero8);
    payload.addU8Number(48);
    payload.addU8Number(2);  // two queues follow
    for (const std::string* queue : {&downP2pQueue, &broadcastP2pQueue}) {
        addQueue(payload, *queue);
        payload.addU8Number(16);
        payload.addU8Number(0);
        payload.addU8Number(16);
        payload.addU8Number(0);
    }
    addSetDestination(payload);
}

void RequestMessage::addSetDestination(const OnuLink& link) {
    const int destinationId = link.getDestinationId();
    if (destinationId <= 0 || destinationId > UINT16_MAX) {
        throw Exception(
            "Invalid destination ID (" + std::to_string(destinationId) + ") for link " + link.getMacAddress(), __func__,
            __LINE__);
    }
    addSetDestination(static_cast<uint16_t>(destinationId), link.getMacAddress(), link.getDownstreamP2PQueue(),
                      link.getBroadcastP2PQueue());
}

void RequestMessage::addDeleteDestination(uint16_t destinationId) {
    addU16Request(TK_DELETE_DESTINATION, destinationId);
}

void RequestMessage::addSetDestinationLearningControl(uint16_t destinationId) {
    TKMPayload payload;
    payload.addU16Number(destinationId);
    payload.addU16Number(16);
    payload.addU16Number(64);
    payload.addU16Number(4);
    addSetDestinationLearningControl(payload);
}

void RequestMessage::addDeleteDestinationLearningControl(uint16_t destinationId) {
    addU16Request(TK_DELETE_DESTINATION_LEARNING_CONTROL, destinationId);
}

void RequestMessage::addGetDestinationRules(uint16_t destinationId) {
    addU16Request(TK_GET_DESTINATION_RULES, destinationId);
}

void RequestMessage::addDestinationRules(uint16_t destinationId) {
    TKMPayload payload;
    payload.addU16Number(destinationId);
    payload.addU8Number(0);
    payload.addU8Number(1);
    payload.addU16Number(0);
    payload.addU8Number(2);
    payload.addU16Number(0);

    addDestinationRule(payload, 10, 3, 10, 4);
    addDestinationRuleTail(payload);
    payload.addHex(kZero8);
    payload.addU8Number(7);

    addDestinationRule(payload, 10, 2, 1, 1);
    payload.addU8Number(0);
    payload.addU8Number(0);
    payload.addHex(kZero8);
    payload.addU8Number(7);

    payload.addU16Number(1);
    payload.addU8Number(0);
    addDestinationRule(payload, 8, 3, 10, 4);
    addDestinationRuleTail(payload);
    payload.addHex(kZero8);
    payload.addU8Number(7);
    addDestinationRules(payload);
}

void RequestMessage::addDeleteDestinationRules(const std::string& rulesHex) {
    TKMPayload payload;
    // A reply without rules comes back as an empty text and is sent back as an empty payload.
    if (!rulesHex.empty()) {
        payload.addHexBlock(rulesHex);
    }
    addDeleteDestinationRules(payload);
}

// --- OLT port/link rules ---

void RequestMessage::addOltVlanRules(const std::string& oltMac, uint16_t pon, uint16_t vlan, bool discardUntagged) {
    if (pon > TK_PORT_EPON_1) {
        throw Exception("Impossible to add VLAN to PON Number(" + std::to_string(pon) + ")", __func__, __LINE__);
    }
    if (vlan == 0 || vlan > kMaxVlanId) {
        throw Exception("Impossible to set VLAN ID equals to (" + std::to_string(vlan) + ")", __func__, __LINE__);
    }
    const uint16_t nni = static_cast<uint16_t>(pon + 2);

    // Each request: the port target, u8 0, u8 1 (one rule), then the rule. The rule's fourth
    // byte n sizes it: 18 bytes for n 0 or 1, 18 + (n - 1) above.
    auto header = [&](TKMPayload& payload, uint16_t port, uint8_t b, uint8_t c) {
        addOltPortTarget(payload, oltMac, port);
        payload.addU8Number(0);
        payload.addU8Number(1);
        payload.addU8Number(8);
        payload.addU8Number(1);
        payload.addU8Number(b);
        payload.addU8Number(c);
    };

    // Build every payload before appending any, so a bad MAC leaves the batch untouched.
    std::vector<std::unique_ptr<TKMPayload>> rules;

    // Rule 1, on the PON port: tag upstream traffic with the VLAN.
    auto rule = std::make_unique<TKMPayload>();
    header(*rule, pon, 4, 5);
    rule->addU8Number(1);
    rule->addU16Number(kVlanTpid);
    rule->addU16Number(vlan);
    rule->addU8Number(1);
    rule->addU8Number(1);
    rule->addU8Number(0);
    rule->addU8Number(0);
    rule->addHex(kZero8);
    rule->addU8Number(7);
    rules.push_back(std::move(rule));

    // Rule 2, on the NNI port of the same number.
    rule = std::make_unique<TKMPayload>();
    header(*rule, nni, 5, 1);
    rule->addU8Number(1);
    rule->addU8Number(1);
    rule->addU8Number(1);
    rule->addU8Number(0);
    rule->addU8Number(0);
    rule->addHex(kZero8);
    rule->addU8Number(7);
    rules.push_back(std::move(rule));

    if (discardUntagged) {
        // Rule 3: the VLAN as a 64-bit match value.
        rule = std::make_unique<TKMPayload>();
        header(*rule, nni, 2, 2);
        rule->addU16Number(0);
        rule->addU8Number(1);
        rule->addU8Number(6);
        rule->addU8Number(52);
        rule->addU8Number(0);
        rule->addHex(Helper::toStringHex(vlan, 16));
        rule->addU8Number(2);
        rules.push_back(std::move(rule));

        // Rule 4: everything else is discarded.
        rule = std::make_unique<TKMPayload>();
        header(*rule, nni, 2, 2);
        rule->addU16Number(0);
        rule->addU8Number(1);
        rule->addU8Number(6);
        rule->addU8Number(0);
        rule->addU8Number(0);
        rule->addHex(kZero8);
        rule->addU8Number(6);
        rules.push_back(std::move(rule));
    }
    for (auto& payload : rules) {
        addOltRule(*payload);
    }
}

void RequestMessage::addDeleteOltPortLinkRule(const std::string& targetHex, uint8_t flags, const std::string& ruleHex) {
    TKMPayload payload;
    payload.addHexBytes(targetHex, 9);
    payload.addU8Number(flags);
    payload.addU8Number(1);  // one rule
    // The rule goes back exactly as the OLT listed it; its own length byte may make it longer
    // than 18 bytes, and trimming or padding it would name a rule the OLT does not have.
    payload.addHexBlock(ruleHex);
    addDeleteOltPortLinkRule(payload);
}
