#pragma once
// Wire codecs of the OLT side of the management protocol: request header parsing and
// the layout of every reply and unsolicited message the simulated OLT sends.
// Pure functions over byte strings: no sockets, no state, thread-safe. They never throw;
// callers validate payloads before encoding.
//
// Frames (all numbers big-endian):
//   request      ID u16 | Ctag u16 | length u16 (payload size) | payload
//   reply        ID u16 | Ctag u16 (echoed) | length u16 | result u16 | data
//   reply part   ID u16 | Ctag u16 | length u16 | result u16 (14 more / 15 last) | seq u16 | data
//   event        ID u16 (> 0x8000) | Ctag u16 | length u16 | 4 bytes 0 | data
//   OLT Ready    0x8000 | Ctag u16 | length u16 | OLT information
// The length field of everything the OLT sends counts the bytes after the 6-byte base
// header (datagram size - 6), the same rule as in requests, so the card's length checks
// see the result code and sequence number as part of it.
#include <optional>

#include "Bytes.h"

namespace oltsim {

// Message IDs of the protocol, requests and unsolicited messages.
namespace msg {
constexpr uint16_t SetDefaultOAMRate = 0x0001;
constexpr uint16_t ResetOLT = 0x0006;
constexpr uint16_t GetOLTInformation = 0x0007;
constexpr uint16_t EnableOLT = 0x0008;
constexpr uint16_t DisableOLT = 0x0009;
constexpr uint16_t RestoreOLTDefaults = 0x000A;
constexpr uint16_t GetListOfDiscoveredLinks = 0x0044;
constexpr uint16_t SetOLTBridgingConfiguration = 0x0050;
constexpr uint16_t ResetONU = 0x0053;
constexpr uint16_t GetListOfAllKnownLogicalLinks = 0x0076;
constexpr uint16_t ClearAllProvisioningForLogicalLink = 0x0077;
constexpr uint16_t OnuPortVlan = 0x0111;
constexpr uint16_t ClearAllAllowedLinks = 0x0126;
constexpr uint16_t CTCSetEthernetPort = 0x012B;
constexpr uint16_t GetOLTNVSEnabled = 0x012D;
constexpr uint16_t SetOLTNVSEnabled = 0x012E;
constexpr uint16_t GetStatistics = 0x0138;
constexpr uint16_t SetOLTIPMulticastGlobalProvisioning = 0x014F;
constexpr uint16_t SetOLTIPMulticastDomainProxyProvisioning = 0x0151;
constexpr uint16_t SetOLTIPMulticastHostCopy = 0x015D;
constexpr uint16_t SetDBAPollingIntervalHighResolution = 0x0163;
constexpr uint16_t SetEPONLoopTiming = 0x0167;
constexpr uint16_t GetONUInformation = 0x016B;
constexpr uint16_t SetAggregateBandwidth = 0x0173;
constexpr uint16_t SetPath = 0x0178;
constexpr uint16_t GetAllPath = 0x0179;
constexpr uint16_t DeletePath = 0x017A;
constexpr uint16_t GetAllDomains = 0x017D;
constexpr uint16_t SetQueueSLA = 0x0180;
constexpr uint16_t EnableLink = 0x0181;
constexpr uint16_t DisableLink = 0x0182;
constexpr uint16_t DeleteQueueSLA = 0x0183;
constexpr uint16_t GetOLTBridgingMode = 0x0184;
constexpr uint16_t SetEncryptionModeDefault = 0x0189;
constexpr uint16_t SetLinkSLA = 0x018D;
constexpr uint16_t GetOltRule = 0x018F;
constexpr uint16_t OltRule = 0x0190;
constexpr uint16_t DeleteOltPortLinkRule = 0x0191;
constexpr uint16_t SetDomainRules = 0x0193;
constexpr uint16_t SetDestination = 0x0196;
constexpr uint16_t DeleteDestination = 0x0198;
constexpr uint16_t SetDestinationLearningControl = 0x019A;
constexpr uint16_t SetDBAAggregateBandwidth = 0x019C;
constexpr uint16_t GetOAMExtensionSetSupport = 0x01B3;
constexpr uint16_t SetOamExtensionSetSupport = 0x01B4;
constexpr uint16_t DeleteDestinationLearningControl = 0x01ED;
constexpr uint16_t SetDomainSelectors = 0x01F2;
constexpr uint16_t GetDestinationRules = 0x0204;
constexpr uint16_t DestinationRules = 0x0205;
constexpr uint16_t DeleteDestinationRules = 0x0206;
constexpr uint16_t SetEPONSyncTime = 0x0220;
constexpr uint16_t SetDomainVersion2 = 0x0225;
constexpr uint16_t GetCTC21OpticalTransceiverDiagnosis = 0x0249;

constexpr uint16_t OltReady = 0x8000;
constexpr uint16_t LinkDiscovery = 0x8019;
constexpr uint16_t ReportAlarm = 0x801A;
constexpr uint16_t OnuLinkMoved = 0x802B;
}  // namespace msg

namespace result {
constexpr uint16_t Ok = 0;
constexpr uint16_t NotSupported = 1;
constexpr uint16_t OutOfRange = 3;
constexpr uint16_t MorePartsFollow = 14;
constexpr uint16_t LastPart = 15;
}  // namespace result

// Entity tags of targets and alarm reports.
namespace tag {
constexpr uint8_t OnuLink = 3;
constexpr uint8_t OltPort = 5;
constexpr uint8_t OltLink = 7;
constexpr uint8_t OamExtension = 8;  // first byte of the OAM extension requests, before the OLT MAC
}  // namespace tag

// A request as it arrived: header fields and a view of the payload (valid while the datagram is).
struct Request {
    uint16_t id = 0;
    uint16_t ctag = 0;
    uint16_t lengthField = 0;
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;  // datagram size - 6, whatever the length field says
};

// False when the datagram is shorter than the 6-byte header (nothing to answer to).
bool parseRequest(const uint8_t* p, size_t n, Request& out);

Bytes encodeReply(uint16_t id, uint16_t ctag, uint16_t resultCode, const Bytes& data = {});
Bytes encodeReplyPart(uint16_t id, uint16_t ctag, uint16_t resultCode, uint16_t sequence, const Bytes& data);
// A list reply: one reply with result 0 when entries fit in one part (an empty list is a
// reply without data), else parts of at most perPart entries, results 14 ... 14 15,
// sequence numbers from 0. perPart 0 counts as 1.
std::vector<Bytes> encodeListReply(uint16_t id, uint16_t ctag, const std::vector<Bytes>& entries, size_t perPart);
Bytes encodeEvent(uint16_t id, uint16_t ctag, const Bytes& data);
Bytes encodeOltReady(uint16_t ctag, const Bytes& oltInformation);

// OLT information (91 bytes): MAC, 2 bytes 0, vendor OUI 3, product code 2, product version 2,
// firmware version 2, vendor text 64 (zero padded, cut at 64), JEDEC id u16, chip id 2,
// chip version 4, EPON port count u8, NNI port count u8.
struct OltInfo {
    Mac mac{};
    uint32_t vendorOui = 0x4f4c54;
    uint16_t productCode = 0x3723;
    uint16_t productVersion = 0x0100;
    uint16_t firmware = 0x0205;
    std::string vendorText = "olt-sim line card";
    uint16_t jedecId = 0;
    uint16_t chipId = 0x3723;
    uint32_t chipVersion = 1;
    uint8_t eponPorts = 2;
    uint8_t nniPorts = 2;
};
Bytes encodeOltInformation(const OltInfo& info);

// Get NVS Enabled: u8 setting after next boot, u8 current setting.
Bytes encodeNvs(bool afterNextBoot, bool current);

// Get Statistics: target 05 MAC port (9 bytes), then 12-byte entries.
struct StatEntry {
    uint16_t group = 0;
    uint8_t element = 0;
    uint8_t flags = 0;
    uint64_t value = 0;
};
Bytes encodeStatistics(const Mac& olt, uint16_t port, const std::vector<StatEntry>& entries);

// Link information block (26 bytes) of Get ONU Information and Link Discovery: MAC,
// info length u16 (18: the bytes after it), OUI 3, product code 2, product version 2,
// LLID 2, RTT u16, downstream EPON port u8, vendor type u16, reporting formats u8,
// pending grants limit u8, upstream speeds u8, upstream EPON port u8.
struct LinkInfo {
    Mac mac{};
    uint32_t oui = 0x4f4e55;
    uint16_t productCode = 0x0001;
    uint16_t productVersion = 0x0100;
    uint16_t llid = 0;
    uint16_t rtt = 0;
    uint8_t downstreamPort = 0;
    uint16_t vendorType = 0;
    uint8_t reportingFormats = 1;
    uint8_t pendingGrants = 4;
    uint8_t upstreamSpeeds = 1;
    uint8_t upstreamPort = 0;
};
Bytes encodeLinkInfo(const LinkInfo& info);

// Get OLT Bridging Mode (21 bytes): MAC, bridging type u8, MAC table limit u16, then per
// downstream, upstream and multicast: endpoint (2 bytes) and queue index u16.
struct QueueEndpoints {
    uint16_t down = 0;
    uint16_t up = 0;
    uint16_t mcast = 0;
};
Bytes encodeBridgingMode(const Mac& link, const QueueEndpoints& q, uint8_t bridgingType = 1, uint16_t macLimit = 64);

// Optical transceiver diagnosis (16 bytes): MAC at 0, then u16 readings at 6, 8, 10, 12, 14:
// temperature (1/256 C), supply Vcc (100 uV), bias (2 uA), power in (0.1 uW), power out (0.1 uW).
// The readings follow the MAC; they never overlap it.
struct OnuOptics {
    uint16_t temperature = 0;
    uint16_t vcc = 0;
    uint16_t bias = 0;
    uint16_t powerIn = 0;
    uint16_t powerOut = 0;
};
Bytes encodeOpticalDiagnosis(const Mac& link, const OnuOptics& o);

// Port/link rules: a rule's fourth byte n gives its length, 18 bytes when n is 0 or 1 and
// 18 + (n - 1) otherwise, n taken as the byte's numeric value (0x12 -> 35 bytes).
constexpr size_t kRuleBaseLength = 18;
size_t ruleLength(uint8_t lengthByte);
// Splits exactly count rules from p..p+n; false when the bytes do not hold exactly that.
bool splitRules(const uint8_t* p, size_t n, size_t count, std::vector<Bytes>& out);
// Get OLT Rule: target (9 bytes), flags u8, rule count u8, the rules as stored.
Bytes encodeOltRules(const Bytes& target, uint8_t flags, const std::vector<Bytes>& rules);

// Report Alarm: entity tag u8, MAC, (port u16 for tag 5), alarm code u8, state u8,
// count u8, info length u8 (0, no info follows).
Bytes encodeReportAlarm(uint8_t entityTag, const Mac& mac, std::optional<uint16_t> port, uint8_t alarmCode,
                        uint8_t state, uint8_t count);
// ONU Link Moved Between PON Ports: MAC, from port u8, to port u8.
Bytes encodeLinkMoved(const Mac& link, uint8_t from, uint8_t to);
// One entry of Get All Domains / Get All Paths: id u16, count u16.
Bytes encodeIdCount(uint16_t id, uint16_t count);

}  // namespace oltsim
