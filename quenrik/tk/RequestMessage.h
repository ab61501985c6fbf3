#pragma once
// The batch of TK requests that one OLT operation sends, with the slot's Ctag counter.
// Owns its TKMessages until clear(). One per slot (PONCardHelper), used by one thread at a
// time under the slot lock; not thread-safe. Builders throw Exception on malformed input
// (MAC text, queue endpoint, rule bytes, VLAN id) before anything is appended, and
// getNewMessage throws "Impossible to get a new TKMessage" when a request cannot be made.
//
// Every builder comes in the form the OLT operations use: typed values in, payload bytes
// laid out here. Builders with a payload also take a ready TKMPayload (built here first),
// for a caller that sends bytes it read back from the OLT or assembled itself: those forms
// and their message IDs are one list, REQUEST_MESSAGE_PAYLOAD_FORMS.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TKHelper.h"
#include "TKMPayload.h"
#include "TKMessage.h"

class OnuLink;

// The ready-payload form of every builder, void <name>(TKMPayload& payload), and the
// message ID it sends: the payload is built (TKMPayload::buildPayload) and sent as it is.
#define REQUEST_MESSAGE_PAYLOAD_FORMS(X)                                                              \
    X(addSetDefaultOAMRate, TK_SET_DEFAULT_OAM_RATE)                                                  \
    X(addSetOLTBridgingConfiguration, TK_SET_OLT_BRIDGING_CONFIGURATION)                              \
    X(addSetOLTNVSEnabled, TK_SET_OLT_NVS_ENABLED)                                                    \
    X(addSetOLTIPMulticastGlobalProvisioning, TK_SET_OLT_IP_MULTICAST_GLOBAL_PROVISIONING)            \
    X(addSetOLTIPMulticastDomainProxyProvisioning, TK_SET_OLT_IP_MULTICAST_DOMAIN_PROXY_PROVISIONING) \
    X(addSetOLTIPMulticastHostCopy, TK_SET_OLT_IP_MULTICAST_HOST_COPY)                                \
    X(addGetOAMExtensionSetSupport, TK_GET_OAM_EXTENSION_SET_SUPPORT)                                 \
    X(addSetOamExtensionSetSupport, TK_SET_OAM_EXTENSION_SET_SUPPORT)                                 \
    X(addClearAllAllowedLinks, TK_CLEAR_ALL_ALLOWED_LINKS)                                            \
    X(addGetStatistics, TK_GET_STATISTICS)                                                            \
    X(addSetDBAPollingIntervalHighResolution, TK_SET_DBA_POLLING_INTERVAL_HIGH_RESOLUTION)            \
    X(addSetEPONLoopTiming, TK_SET_EPON_LOOP_TIMING)                                                  \
    X(addSetAggregateBandwidth, TK_SET_AGGREGATE_BANDWIDTH)                                           \
    X(addSetDBAAggregateBandwidth, TK_SET_DBA_AGGREGATE_BANDWIDTH)                                    \
    X(addSetEncryptionModeDefault, TK_SET_ENCRYPTION_MODE_DEFAULT)                                    \
    X(addSetEPONSyncTime, TK_SET_EPON_SYNC_TIME)                                                      \
    X(addGetOltRule, TK_GET_OLT_PORT_LINK_RULES)                                                      \
    X(addResetONU, TK_RESET_ONU)                                                                      \
    X(addClearAllProvisioningForLogicalLink, TK_CLEAR_ALL_PROVISIONING_FOR_LOGICAL_LINK)              \
    X(addGetONUInformation, TK_GET_ONU_INFORMATION)                                                   \
    X(addEnableLink, TK_ENABLE_LINK)                                                                  \
    X(addDisableLink, TK_DISABLE_LINK)                                                                \
    X(addGetOLTBridgingMode, TK_GET_OLT_BRIDGING_MODE)                                                \
    X(addGetCTC21OpticalTransceiverDiagnosis, TK_GET_CTC21_OPTICAL_TRANSCEIVER_DIAGNOSIS)             \
    X(addCTCSetEthernetPort, TK_CTC_SET_ETHERNET_PORT)                                                \
    X(addOnuPortVlan, TK_ONU_PORT_VLAN)                                                               \
    X(addSetLinkSLA, TK_SET_LINK_SLA)                                                                 \
    X(addSetQueueSLA, TK_SET_QUEUE_SLA)                                                               \
    X(addDeleteQueueSLA, TK_DELETE_QUEUE_SLA)                                                         \
    X(addSetPath, TK_SET_PATH)                                                                        \
    X(addDeletePath, TK_DELETE_PATH)                                                                  \
    X(addSetDomainVersion2, TK_SET_DOMAIN_VERSION2)                                                   \
    X(addSetDomainRules, TK_SET_DOMAIN_RULES)                                                         \
    X(addSetDomainSelectors, TK_SET_DOMAIN_SELECTORS)                                                 \
    X(addSetDestination, TK_SET_DESTINATION)                                                          \
    X(addDeleteDestination, TK_DELETE_DESTINATION)                                                    \
    X(addSetDestinationLearningControl, TK_SET_DESTINATION_LEARNING_CONTROL)                          \
    X(addDeleteDestinationLearningControl, TK_DELETE_DESTINATION_LEARNING_CONTROL)                    \
    X(addGetDestinationRules, TK_GET_DESTINATION_RULES)                                               \
    X(addDestinationRules, TK_SET_DESTINATION_RULES)                                                  \
    X(addDeleteDestinationRules, TK_DELETE_DESTINATION_RULES)                                         \
    X(addOltRule, TK_SET_OLT_RULE)                                                                    \
    X(addDeleteOltPortLinkRule, TK_DELETE_OLT_PORT_LINK_RULE)

class RequestMessage {
public:
    // The two domains the system provisions: ONU-to-ONU traffic and the bridge (with IP
    // multicast).
    static constexpr uint16_t kOnu2OnuDomain = 1025;
    static constexpr uint16_t kBridgeDomain = 1026;

    RequestMessage();
    virtual ~RequestMessage();
    RequestMessage(const RequestMessage&) = delete;
    RequestMessage& operator=(const RequestMessage&) = delete;

    // A request with the next Ctag: counter + 1 (16 bits), then the counter moves on and
    // skips 0, so the first request of a slot carries 1 and request 65536 carries 0.
    std::unique_ptr<TKMessage> getNewMessage(uint16_t id, const uint8_t* payload, uint16_t length);
    void addMessage(std::unique_ptr<TKMessage> message);
    // The batch in the order the requests were added.
    const std::vector<std::unique_ptr<TKMessage>>& getAll() const { return messages_; }
    // Destroys every request; the Ctag counter carries on.
    void clear();
    uint16_t getCtagCounter() const { return ctagCounter_; }
    // Lets a test start near the 16-bit wrap without sending 65535 requests.
    void setCtagCounterForTest(uint16_t counter) { ctagCounter_ = counter; }

    // --- OLT commands and queries (no payload) ---
    void addResetOLT();
    void addGetOLTInformation();
    void addEnableOLT();
    void addDisableOLT();
    void addRestoreOLTDefaults();
    void addGetListOfDiscoveredLinks();
    void addGetListOfAllKnownLogicalLinks();
    void addGetOLTNVSEnabled();
    void addGetAllPath();
    void doAddGetAllDomains();

    // --- OLT-wide settings ---
    void addSetDefaultOAMRate();
    // enBridgeAdvanced picks the advanced bridging block instead of the provisioning one.
    void addSetOLTBridgingConfiguration(bool enBridgeAdvanced = false);
    void addSetOLTNVSEnabled(bool enabled);
    void addSetOLTIPMulticastGlobalProvisioning();
    void addSetOLTIPMulticastDomainProxyProvisioning();
    void addSetOLTIPMulticastHostCopy();
    void addGetOAMExtensionSetSupport(const std::string& oltMac);
    void addSetOamExtensionSetSupport(const std::string& oltMac);

    // --- per OLT port: oltMac is the OLT's EPON MAC, port 0/1 (PON) or 2/3 (NNI) ---
    void addClearAllAllowedLinks(const std::string& oltMac, uint16_t port);
    void addGetStatistics(const std::string& oltMac, uint16_t port);
    void addSetDBAPollingIntervalHighResolution(const std::string& oltMac, uint16_t port);
    void addSetEPONLoopTiming(const std::string& oltMac, uint16_t port);
    void addSetAggregateBandwidth(const std::string& oltMac, uint16_t port);
    void addSetEncryptionModeDefault(const std::string& oltMac, uint16_t port);
    void addSetDBAAggregateBandwidth(const std::string& oltMac, uint16_t port);
    void addSetEPONSyncTime(const std::string& oltMac, uint16_t port);
    // One request for one port; the rule listing of a PON port asks for port and port + 2.
    void addGetOltRule(const std::string& oltMac, uint16_t port);

    // --- per link: linkMac is the ONU link's MAC ---
    void addResetONU(const std::string& linkMac);
    void addClearAllProvisioningForLogicalLink(const std::string& linkMac);
    void addGetONUInformation(const std::string& linkMac);
    // withZeroSuffix: the ONU enable task sends the MAC and u16 0; re-enabling a link sends
    // the MAC alone.
    void addEnableLink(const std::string& linkMac, bool withZeroSuffix = true);
    void addDisableLink(const std::string& linkMac);
    void addGetOLTBridgingMode(const std::string& linkMac);
    void addGetCTC21OpticalTransceiverDiagnosis(const std::string& linkMac);
    void addCTCSetEthernetPort(const std::string& linkMac);
    void addSetLinkSLA(const std::string& linkMac);
    // vlanId is decimal text: above 0 tags the port with that VLAN, 0 or no number leaves
    // it untagged. Above 4095 throws "Impossible to set VLAN ID equals to (<text>)".
    void addOnuPortVlan(const std::string& linkMac, const std::string& vlanId);

    // --- queues, paths, domains ---
    // queueEndpoint: the 4 hex digits the OLT reported for the queue.
    void addSetQueueSLA(const std::string& queueEndpoint);
    void addDeleteQueueSLA(const std::string& queueEndpoint);
    void addSetPath(uint16_t path, uint16_t first, uint16_t second, uint16_t width);
    void addDeletePath(uint16_t path);
    void addSetDomainVersion2(uint16_t domain);
    void addSetDomainRules(uint16_t domain, uint16_t first, uint16_t second);
    void addSetDomainSelectors(uint16_t domain);

    // --- destinations (ONU-to-ONU forwarding of one link) ---
    // The two queues are the link's downstream and broadcast point-to-point queues, 4 hex
    // digits each.
    void addSetDestination(uint16_t destinationId, const std::string& linkMac, const std::string& downP2pQueue,
                           const std::string& broadcastP2pQueue);
    // The same from the link record; throws when the link has no downstream queue yet
    // (destination id 0), which would address no destination.
    void addSetDestination(const OnuLink& link);
    void addDeleteDestination(uint16_t destinationId);
    void addSetDestinationLearningControl(uint16_t destinationId);
    void addDeleteDestinationLearningControl(uint16_t destinationId);
    void addGetDestinationRules(uint16_t destinationId);
    void addDestinationRules(uint16_t destinationId);
    // rulesHex: the "payload" text of the Get Destination Rules reply, sent back as it is.
    void addDeleteDestinationRules(const std::string& rulesHex);

    // --- OLT port/link rules ---
    // The two (discardUntagged false) or four VLAN rules of a PON port: rule 1 on the PON
    // port, the others on the NNI port pon + 2. pon must be 0 or 1 and vlan 1..4095, else
    // "Impossible to add VLAN to PON Number(<pon>)" / "Impossible to set VLAN ID equals to
    // (<vlan>)" and nothing is appended.
    void addOltVlanRules(const std::string& oltMac, uint16_t pon, uint16_t vlan, bool discardUntagged);
    // targetHex (9 bytes), flags and ruleHex as read from a Get OLT Rule reply; the rule
    // bytes go out unchanged whatever their length.
    void addDeleteOltPortLinkRule(const std::string& targetHex, uint8_t flags, const std::string& ruleHex);

    // The ready-payload forms (REQUEST_MESSAGE_PAYLOAD_FORMS above); addOltRule sends one
    // rule request as addOltVlanRules builds them and has no other form.
#define REQUEST_MESSAGE_DECLARE(name, id) void name(TKMPayload& payload);
    REQUEST_MESSAGE_PAYLOAD_FORMS(REQUEST_MESSAGE_DECLARE)
#undef REQUEST_MESSAGE_DECLARE

    // The 18-byte SLA parameter block every SLA request carries; the last field is the
    // number the callers give (always 16).
    static void addSLAQueueParams(TKMPayload& payload, uint16_t number = 16);

private:
    void addRequest(uint16_t id);
    void addRequest(uint16_t id, TKMPayload& payload);
    // The many requests whose payload is only the link MAC (with u16 0 behind it when
    // withZeroSuffix), or only one u16 (a path or destination ID).
    void addLinkRequest(uint16_t id, const std::string& linkMac, bool withZeroSuffix);
    void addU16Request(uint16_t id, uint16_t value);

    // Owned requests, in sending order.
    std::vector<std::unique_ptr<TKMessage>> messages_;
    // Ctag of the last request made; never rests at 0.
    uint16_t ctagCounter_ = 0;
};
