#include "Frames.h"

#include <algorithm>

namespace oltsim {

namespace {
constexpr size_t kBaseHeader = 6;
constexpr size_t kVendorTextLength = 64;

void putHeader(Bytes& out, uint16_t id, uint16_t ctag, size_t restLength) {
    putU16(out, id);
    putU16(out, ctag);
    putU16(out, static_cast<unsigned>(restLength));
}
}  // namespace

bool parseRequest(const uint8_t* p, size_t n, Request& out) {
    if (p == nullptr || n < kBaseHeader) return false;
    out.id = getU16(p);
    out.ctag = getU16(p + 2);
    out.lengthField = getU16(p + 4);
    out.payload = p + kBaseHeader;
    out.payloadSize = n - kBaseHeader;
    return true;
}

Bytes encodeReply(uint16_t id, uint16_t ctag, uint16_t resultCode, const Bytes& data) {
    Bytes out;
    out.reserve(8 + data.size());
    putHeader(out, id, ctag, 2 + data.size());
    putU16(out, resultCode);
    putBytes(out, data);
    return out;
}

Bytes encodeReplyPart(uint16_t id, uint16_t ctag, uint16_t resultCode, uint16_t sequence, const Bytes& data) {
    Bytes out;
    out.reserve(10 + data.size());
    putHeader(out, id, ctag, 4 + data.size());
    putU16(out, resultCode);
    putU16(out, sequence);
    putBytes(out, data);
    return out;
}

std::vector<Bytes> encodeListReply(uint16_t id, uint16_t ctag, const std::vector<Bytes>& entries, size_t perPart) {
    perPart = std::max<size_t>(perPart, 1);
    std::vector<Bytes> out;
    if (entries.size() <= perPart) {
        Bytes data;
        for (const auto& e : entries) putBytes(data, e);
        out.push_back(encodeReply(id, ctag, result::Ok, data));
        return out;
    }
    uint16_t seq = 0;
    for (size_t first = 0; first < entries.size(); first += perPart) {
        size_t last = std::min(entries.size(), first + perPart);
        Bytes data;
        for (size_t i = first; i < last; ++i) putBytes(data, entries[i]);
        uint16_t code = last == entries.size() ? result::LastPart : result::MorePartsFollow;
        out.push_back(encodeReplyPart(id, ctag, code, seq++, data));
    }
    return out;
}

Bytes encodeEvent(uint16_t id, uint16_t ctag, const Bytes& data) {
    Bytes out;
    out.reserve(10 + data.size());
    putHeader(out, id, ctag, 4 + data.size());
    putU32(out, 0);  // not interpreted by the card
    putBytes(out, data);
    return out;
}

Bytes encodeOltReady(uint16_t ctag, const Bytes& oltInformation) {
    Bytes out;
    putHeader(out, msg::OltReady, ctag, oltInformation.size());
    putBytes(out, oltInformation);
    return out;
}

Bytes encodeOltInformation(const OltInfo& info) {
    Bytes out;
    putMac(out, info.mac);
    putU16(out, 0);
    putU8(out, info.vendorOui >> 16);
    putU16(out, info.vendorOui & 0xffff);
    putU16(out, info.productCode);
    putU16(out, info.productVersion);
    putU16(out, info.firmware);
    std::string text = info.vendorText.substr(0, kVendorTextLength);
    out.insert(out.end(), text.begin(), text.end());
    out.resize(out.size() + kVendorTextLength - text.size(), 0);
    putU16(out, info.jedecId);
    putU16(out, info.chipId);
    putU32(out, info.chipVersion);
    putU8(out, info.eponPorts);
    putU8(out, info.nniPorts);
    return out;
}

Bytes encodeNvs(bool afterNextBoot, bool current) {
    return Bytes{static_cast<uint8_t>(afterNextBoot ? 1 : 0), static_cast<uint8_t>(current ? 1 : 0)};
}

Bytes encodeStatistics(const Mac& olt, uint16_t port, const std::vector<StatEntry>& entries) {
    Bytes out;
    putU8(out, tag::OltPort);
    putMac(out, olt);
    putU16(out, port);
    for (const auto& e : entries) {
        putU16(out, e.group);
        putU8(out, e.element);
        putU8(out, e.flags);
        putU64(out, e.value);
    }
    return out;
}

Bytes encodeLinkInfo(const LinkInfo& info) {
    Bytes out;
    putMac(out, info.mac);
    putU16(out, 18);
    putU8(out, info.oui >> 16);
    putU16(out, info.oui & 0xffff);
    putU16(out, info.productCode);
    putU16(out, info.productVersion);
    putU16(out, info.llid);
    putU16(out, info.rtt);
    putU8(out, info.downstreamPort);
    putU16(out, info.vendorType);
    putU8(out, info.reportingFormats);
    putU8(out, info.pendingGrants);
    putU8(out, info.upstreamSpeeds);
    putU8(out, info.upstreamPort);
    return out;
}

Bytes encodeBridgingMode(const Mac& link, const QueueEndpoints& q, uint8_t bridgingType, uint16_t macLimit) {
    Bytes out;
    putMac(out, link);
    putU8(out, bridgingType);
    putU16(out, macLimit);
    for (uint16_t endpoint : {q.down, q.up, q.mcast}) {
        putU16(out, endpoint);
        putU16(out, 0);  // queue index within the endpoint: one queue each
    }
    return out;
}

Bytes encodeOpticalDiagnosis(const Mac& link, const OnuOptics& o) {
    Bytes out;
    putMac(out, link);
    putU16(out, o.temperature);
    putU16(out, o.vcc);
    putU16(out, o.bias);
    putU16(out, o.powerIn);
    putU16(out, o.powerOut);
    return out;
}

size_t ruleLength(uint8_t lengthByte) { return lengthByte <= 1 ? kRuleBaseLength : kRuleBaseLength + lengthByte - 1; }

bool splitRules(const uint8_t* p, size_t n, size_t count, std::vector<Bytes>& out) {
    std::vector<Bytes> rules;
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (n - pos < 4) return false;  // the length byte itself is missing
        size_t len = ruleLength(p[pos + 3]);
        if (n - pos < len) return false;
        rules.emplace_back(p + pos, p + pos + len);
        pos += len;
    }
    if (pos != n) return false;
    out.swap(rules);
    return true;
}

Bytes encodeOltRules(const Bytes& target, uint8_t flags, const std::vector<Bytes>& rules) {
    Bytes out = target;
    putU8(out, flags);
    putU8(out, static_cast<unsigned>(rules.size()));
    for (const auto& r : rules) putBytes(out, r);
    return out;
}

Bytes encodeReportAlarm(uint8_t entityTag, const Mac& mac, std::optional<uint16_t> port, uint8_t alarmCode,
                        uint8_t state, uint8_t count) {
    Bytes out;
    putU8(out, entityTag);
    putMac(out, mac);
    if (port) putU16(out, *port);
    putU8(out, alarmCode);
    putU8(out, state);
    putU8(out, count);
    putU8(out, 0);
    return out;
}

Bytes encodeLinkMoved(const Mac& link, uint8_t from, uint8_t to) {
    Bytes out;
    putMac(out, link);
    putU8(out, from);
    putU8(out, to);
    return out;
}

Bytes encodeIdCount(uint16_t id, uint16_t count) {
    Bytes out;
    putU16(out, id);
    putU16(out, count);
    return out;
}

}  // namespace oltsim
