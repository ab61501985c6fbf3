#pragma once
// The batch of TK requests that one OLT operation sends, with the slot's Ctag counter.
// Owns its TKMessages until clear(). One per slot (PONCardHelper), used by one thread at a
// time under the slot lock; not thread-safe. Builders throw Exception on malformed input
// (MAC text, queue endpoint, rule bytes, VLAN id) before anything is appended, and
// getNewMessage throws "Impossible to get a new TKMessage" when a request cannot be made.
//
// Every builder comes in the form the OLT operations use: typed values in, payload bytes
// laid out here. Builders with a payload also take a ready TKMPayload (built here first),
// for a caller that sends bytes it read back from the OLT or assembled itself.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TKHelper.h"
#include "TKMPayload.h"
#include "TKMessage.h"

class OnuLink;


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
    void addSetDefaultOAMRate(TKMPayload& payload);
    // enBridgeAdvanced picks the advanced bridging block instead of the provisioning one.
    void addSetOLTBridgingConfiguration(bool enBridgeAdvanced = false);
    void addSetOLTBridgingConfiguration(TKMPayload& payload);
    void addSetOLTNVSEnabled(bool enabled);
    void addSetOLTNVSEnabled(TKMPayload& payload);
    void addSetOLTIPMulticastGlobalProvisioning();
    void addSetOLTIPMulticastGlobalProvisioning(TKMPayload& payload);
    void addSetOLTIPMulticastDomainProxyProvisioning();
    void addSetOLTIPMulticastDomainProxyProvisioning(TKMPayload& payload);
    void addSetOLTIPMulticastHostCopy();
    void addSetOLTIPMulticastHostCopy(TKMPayload& payload);
    void addGetOAMExtensionSetSupport(const std::string& oltMac);
    void addGetOAMExtensionSetSupport(TKMPayload& payload);
    void addSetOamExtensionSetSupport(const std::string& oltMac);
    void addSetOamExtensionSetSupport(TKMPayload& payload);

    // --- per OLT port: oltMac is the OLT's EPON MAC, port 0/1 (PON) or 2/3 (NNI) ---
    void addClearAllAllowedLinks(const std::string& oltMac, uint16_t port);
    void addClearAllAllowedLinks(TKMPayload& payload);
    void addGetStatistics(const std::string& oltMac, uint16_t port);
    void addGetStatistics(TKMPayload& payload);
    void addSetDBAPollingIntervalHighResolution(const std::string& oltMac, uint16_t port);
    void addSetDBAPollingIntervalHighResolution(TKMPayload& payload);
    void addSetEPONLoopTiming(const std::string& oltMac, uint16_t port);
    void addSetEPONLoopTiming(TKMPayload& payload);
    void addSetAggregateBandwidth(const std::string& oltMac, uint16_t port);
    void addSetAggregateBandwidth(TKMPayload& payload);
    void addSetEncryptionModeDefault(const std::string& oltMac, uint16_t port);
    void addSetEncryptionModeDefault(TKMPayload& payload);
    void addSetDBAAggregateBandwidth(const std::string& oltMac, uint16_t port);
    void addSetDBAAggregateBandwidth(TKMPayload& payload);
    void addSetEPONSyncTime(const std::string& oltMac, uint16_t port);
    void addSetEPONSyncTime(TKMPayload& payload);
    // One request for one port; the rule listing of a PON port asks for port and port + 2.
    void addGetOltRule(const std::string& oltMac, uint16_t port);
    void addGetOltRule(TKMPayload& payload);

    // --- per link: linkMac is the ONU link's MAC ---
    void addResetONU(const std::string& linkMac);
    void addResetONU(TKMPayload& payload);
    void addClearAllProvisioningForLogicalLink(const std::string& linkMac);
    void addClearAllProvisioningForLogicalLink(TKMPayload& payload);
    void addGetONUInformation(const std::string& linkMac);
    void addGetONUInformation(TKMPayload& payload);
    // withZeroSuffix: the ONU enable task sends the MAC and u16 0; re-enabling a link sends
    // the MAC alone.
    void addEnableLink(const std::string& linkMac, bool withZeroSuffix = true);
    void addEnableLink(TKMPayload& payload);
    void addDisableLink(const std::string& linkMac);
    void addDisableLink(TKMPayload& payload);
    void addGetOLTBridgingMode(const std::string& linkMac);
    void addGetOLTBridgingMode(TKMPayload& payload);
    void addGetCTC21OpticalTransceiverDiagnosis(const std::string& linkMac);
    void addGetCTC21OpticalTransceiverDiagnosis(TKMPayload& payload);
    void addCTCSetEthernetPort(const std::string& linkMac);
    void addCTCSetEthernetPort(TKMPayload& payload);
    void addSetLinkSLA(const std::string& linkMac);
    void addSetLinkSLA(TKMPayload& payload);
    // vlanId is decimal text: above 0 tags the port with that VLAN, 0 or no number leaves
    // it untagged. Above 4095 throws "Impossible to set VLAN ID equals to (<text>)".
    void addOnuPortVlan(const std::string& linkMac, const std::string& vlanId);
    void addOnuPortVlan(TKMPayload& payload);

    // --- queues, paths, domains ---
    // queueEndpoint: the 4 hex digits the OLT reported for the queue.
    void addSetQueueSLA(const std::string& queueEndpoint);
    void addSetQueueSLA(TKMPayload& payload);
    void addDeleteQueueSLA(const std::string& queueEndpoint);
    void addDeleteQueueSLA(TKMPayload& payload);
    void addSetPath(uint16_t path, uint16_t first, uint16_t second, uint16_t width);
    void addSetPath(TKMPayload& payload);
    void addDeletePath(uint16_t path);
    void addDeletePath(TKMPayload& payload);
    void addSetDomainVersion2(uint16_t domain);
    void addSetDomainVersion2(TKMPayload& payload);
    void addSetDomainRules(uint16_t domain, uint16_t first, uint16_t second);
    void addSetDomainRules(TKMPayload& payload);
    void addSetDomainSelectors(uint16_t domain);
    void addSetDomainSelectors(TKMPayload& payload);

    // --- destinations (ONU-to-ONU forwarding of one link) ---
    // The two queues are the link's downstream and broadcast point-to-point queues, 4 hex
    // digits each.
    void addSetDestination(uint16_t destinationId, const std::string& linkMac, const std::string& downP2pQueue,
                           const std::string& broadcastP2pQueue);
    // The same from the link record; throws when the link has no downstream queue yet
    // (destination id 0), which would address no destination.
    void addSetDestination(const OnuLink& link);
    void addSetDestination(TKMPayload& payload);
    void addDeleteDestination(uint16_t destinationId);
    void addDeleteDestination(TKMPayload& payload);
    void addSetDestinationLearningControl(uint16_t destinationId);
    void addSetDestinationLearningControl(TKMPayload& payload);
    void addDeleteDestinationLearningControl(uint16_t destinationId);
    void addDeleteDestinationLearningControl(TKMPayload& payload);
    void addGetDestinationRules(uint16_t destinationId);
    void addGetDestinationRules(TKMPayload& payload);
    void addDestinationRules(uint16_t destinationId);
    void addDestinationRules(TKMPayload& payload);
    // rulesHex: the "payload" text of the Get Destination Rules reply, sent back as it is.
    void addDeleteDestinationRules(const std::string& rulesHex);
    void addDeleteDestinationRules(TKMPayload& payload);

    // --- OLT port/link rules ---
    // The two (discardUntagged false) or four VLAN rules of a PON port: rule 1 on the PON
    // port, the others on the NNI port pon + 2. pon must be 0 or 1 and vlan 1..4095, else
    // "Impossible to add VLAN to PON Number(<pon>)" / "Impossible to set VLAN ID equals to
    // (<vlan>)" and nothing is appended.
    void addOltVlanRules(const std::string& oltMac, uint16_t pon, uint16_t vlan, bool discardUntagged);
    void addOltRule(TKMPayload& payload);
    // targetHex (9 bytes), flags and ruleHex as read from a Get OLT Rule reply; the rule
    // bytes go out unchanged whatever their length.
    void addDeleteOltPortLinkRule(const std::string& targetHex, uint8_t flags, const std::string& ruleHex);
    void addDeleteOltPortLinkRule(TKMPayload& payload);

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
