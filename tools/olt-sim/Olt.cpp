#include "Olt.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

namespace oltsim {

// A request the OLT refuses with "parameter out of range"; the text says why.
class Olt::Refused : public std::runtime_error {
public:
    explicit Refused(const std::string& why) : std::runtime_error(why) {}
};

// Bounds-checked view of a request payload; every failed check refuses the request.
class Olt::Payload {
public:
    explicit Payload(const Request& r) : p_(r.payload), n_(r.payloadSize) {}
    size_t size() const { return n_; }
    void expectSize(size_t n) const {
        if (n_ != n) throw Refused("payload of " + std::to_string(n_) + " bytes, expected " + std::to_string(n));
    }
    void expectAtLeast(size_t n) const {
        if (n_ < n)
            throw Refused("payload of " + std::to_string(n_) + " bytes, expected at least " + std::to_string(n));
    }
    uint8_t u8(size_t off) const {
        check(off, 1);
        return p_[off];
    }
    uint16_t u16(size_t off) const {
        check(off, 2);
        return getU16(p_ + off);
    }
    Mac mac(size_t off) const {
        check(off, 6);
        return getMac(p_ + off);
    }
    Bytes bytes(size_t off, size_t len) const {
        check(off, len);
        return Bytes(p_ + off, p_ + off + len);
    }
    Bytes rest(size_t off) const { return bytes(off, n_ - std::min(off, n_)); }
    const uint8_t* at(size_t off) const { return p_ + off; }
    void expectU8(size_t off, uint8_t v, const char* what) const {
        if (u8(off) != v) throw Refused(std::string(what) + " is " + std::to_string(u8(off)));
    }
    void expectU16(size_t off, uint16_t v, const char* what) const {
        if (u16(off) != v) throw Refused(std::string(what) + " is " + std::to_string(u16(off)));
    }

private:
    void check(size_t off, size_t len) const {
        if (off > n_ || len > n_ - off) throw Refused("payload too short");
    }
    const uint8_t* p_;
    size_t n_;
};

namespace {

// Link rules of one port must fit one reply datagram with room to spare; beyond this the
// OLT refuses new rules as out of range.
constexpr size_t kMaxRuleBytesPerPort = 1400;
// The part of the request the SLA parameter block occupies is stored, not interpreted.
constexpr size_t kQueueSlaSize = 22;
constexpr size_t kLinkSlaSize = 34;
constexpr size_t kDomainRulesSize = 45;
constexpr size_t kDestinationSize = 33;
constexpr size_t kDestinationRulesSize = 102;
constexpr size_t kOamRecordSize = 7;
constexpr uint16_t kStatisticsGroup = 0x000b;

// Provisioning requests whose payload the OLT only keeps: fixed size, and for the per-port
// ones the OLT's MAC and a PON port at the start.
struct Setting {
    uint16_t id;
    size_t size;
    bool macAndPort;
    bool needsBridgeDomain;  // the payload starts with a domain that must exist
};
constexpr Setting kSettings[] = {
    {msg::SetDefaultOAMRate, 3, false, false},
    {msg::SetOLTBridgingConfiguration, 10, false, false},
    {msg::ClearAllAllowedLinks, 8, true, false},
    {msg::SetOLTIPMulticastGlobalProvisioning, 8, false, false},
    {msg::SetOLTIPMulticastDomainProxyProvisioning, 70, false, true},
    {msg::SetOLTIPMulticastHostCopy, 17, false, true},
    {msg::SetDBAPollingIntervalHighResolution, 24, true, false},
    {msg::SetEPONLoopTiming, 16, true, false},
    {msg::SetAggregateBandwidth, 15, true, false},
    {msg::SetEncryptionModeDefault, 11, true, false},
    {msg::SetDBAAggregateBandwidth, 15, true, false},
    {msg::SetEPONSyncTime, 10, true, false},
};

// Power-up records of the OAM extension sets: standard OAM on, the others off.
const std::map<uint8_t, Bytes> kDefaultOamSets = {
    {1, {1, 5, 0, 0x00, 0x0d, 0xb6, 1}},
    {2, {2, 5, 0, 0x11, 0x11, 0x11, 0}},
    {3, {3, 5, 0, 0xaa, 0xaa, 0xaa, 0}},
    {4, {4, 5, 0, 0x00, 0xd0, 0xcb, 0}},
};
const Bytes kCtcOui = {0x11, 0x11, 0x11};

// The four bytes between the link MAC and the rest of the ONU port requests: management
// object branch 0x80, leaf 0x0101 and port 0x0001.
const Bytes kOnuPortObject = {0x80, 0x01, 0x01, 0x00, 0x00, 0x01};

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v & 0xffff);
    return buf;
}

}  // namespace

Mac defaultOltMac(int olt) { return Mac{0x02, 0x4f, 0x4c, 0x54, 0x00, static_cast<uint8_t>(olt)}; }

Mac defaultOnuMac(int olt, int port, int index) {
    return Mac{0x02, 0x4f, 0x4e, static_cast<uint8_t>(olt), static_cast<uint8_t>(port), static_cast<uint8_t>(index)};
}

uint64_t Rng::next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

double Rng::unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

int64_t Rng::between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(next() % static_cast<uint64_t>(hi - lo + 1));
}

uint64_t Drift::read(Rng& rng) {
    value += rng.between(-step, step);
    value = std::clamp(value, base - span, base + span);
    return static_cast<uint64_t>(std::max<int64_t>(value, 0));
}

Olt::Olt(const OltConfig& config, int64_t nowMs)
    : config_(config),
      rng_(config.seed * 0x100000001b3ull + static_cast<uint64_t>(config.number)),
      firmware_(config.firmware),
      nvsCurrent_(config.nvsAtPowerUp),
      nvsNext_(config.nvsAtPowerUp) {
    for (int port = 0; port < kPonPorts; ++port) {
        const int count = config_.onusOnPort[port] >= 0 ? config_.onusOnPort[port] : config_.onusPerPort;
        const int perPort = std::clamp(count, 0, kMaxOnusPerPort);
        for (int k = 0; k < perPort; ++k) {
            Onu onu;
            onu.mac = defaultOnuMac(config_.number, port, k);
            onu.port = port;
            onu.index = port * kMaxOnusPerPort + k;
            uint16_t down = static_cast<uint16_t>(0x0200 + 4 * onu.index);
            onu.queues = QueueEndpoints{down, static_cast<uint16_t>(down + 1), static_cast<uint16_t>(down + 2)};
            // Raw units: 1/256 C, 100 uV, 2 uA, 0.1 uW, 0.1 uW; receive power spread between ONUs
            // as fibre lengths differ (about -20 to -15 dBm).
            int64_t rx = 100 + (onu.index * 37) % 220;
            Drift d[5] = {{45 * 256, 512, 24, 45 * 256},
                          {33000, 500, 20, 33000},
                          {6000, 300, 15, 6000},
                          {rx, rx / 6, 2, rx},
                          {17800, 1500, 60, 17800}};
            std::copy(std::begin(d), std::end(d), onu.optics);
            onus_.push_back(onu);
        }
    }
    for (auto& port : oltOptics_) {
        // Transmit power +4 dBm, 3.3 V, 20 mA bias, 40 C.
        Drift d[4] = {
            {25119, 1200, 40, 25119}, {33000, 400, 15, 33000}, {10000, 400, 20, 10000}, {40 * 256, 768, 20, 40 * 256}};
        std::copy(std::begin(d), std::end(d), port);
    }
    resetProvisioning();
    readyAt_ = nowMs;
}

void Olt::resetProvisioning() {
    prov_ = Provisioning{};
    prov_.oamSets = kDefaultOamSets;
}

void Olt::restart(int64_t nowMs, bool factoryDefaults) {
    resetProvisioning();
    if (factoryDefaults) nvsNext_ = config_.nvsAtPowerUp;
    nvsCurrent_ = nvsNext_;
    for (auto& onu : onus_) {
        onu.registered = false;
        onu.known = false;
        onu.registerAt = -1;
        onu.linkEnabled = true;
        onu.hasLinkSla = false;
        onu.linkSla.clear();
        onu.ethernetUp = false;
        onu.vlan = -1;
    }
    queued_.clear();
    restartUntil_ = nowMs + config_.restartMs;
    readyAt_ = restartUntil_;
}

OltInfo Olt::info() const {
    OltInfo i;
    i.mac = config_.mac;
    i.productCode = productCode_;
    i.firmware = firmware_;
    return i;
}

LinkInfo Olt::linkInfo(const Onu& onu) const {
    LinkInfo li;
    li.mac = onu.mac;
    li.llid = static_cast<uint16_t>(onu.index % kMaxOnusPerPort + 1);
    // Round trip time in time quanta: nearer ONUs first, a few kilometres apart.
    li.rtt = static_cast<uint16_t>(200 + 37 * (onu.index % kMaxOnusPerPort));
    li.downstreamPort = static_cast<uint8_t>(onu.port);
    li.upstreamPort = static_cast<uint8_t>(onu.port);
    return li;
}

uint16_t Olt::nextEventCtag() {
    if (++eventCtag_ == 0) ++eventCtag_;
    return eventCtag_;
}

Olt::Onu* Olt::findOnu(const Mac& mac) {
    for (auto& onu : onus_)
        if (onu.mac == mac) return &onu;
    return nullptr;
}

Olt::Onu& Olt::onuFor(const Mac& mac) {
    Onu* onu = findOnu(mac);
    if (onu == nullptr) throw Refused("unknown link " + macText(mac));
    return *onu;
}

Olt::Onu& Olt::controlOnu(const Mac& mac) {
    Onu* onu = findOnu(mac);
    if (onu == nullptr) throw std::invalid_argument("no ONU " + macText(mac) + " on OLT " + std::to_string(number()));
    return *onu;
}

Olt::Onu& Olt::registeredOnuFor(const Mac& mac) {
    Onu& onu = onuFor(mac);
    if (!onu.registered) throw Refused("link " + macText(onu.mac) + " is not registered");
    return onu;
}

void Olt::scheduleRegistration(Onu& onu, int64_t atMs) {
    if (prov_.enabled && onu.present && onu.linkEnabled && !onu.registered && onu.registerAt < 0) onu.registerAt = atMs;
}

bool Olt::ctcEnabled() const {
    for (const auto& [type, rec] : prov_.oamSets)
        if (Bytes(rec.begin() + 3, rec.begin() + 6) == kCtcOui) return rec[6] == 1;
    return false;
}

uint16_t Olt::pathUsage(uint16_t path) const {
    unsigned n = 0;
    for (const auto& [id, d] : prov_.domains) n += std::count(d.paths.begin(), d.paths.end(), path);
    for (const auto& [id, d] : prov_.destinations) n += (d.downQueue == path) + (d.broadcastQueue == path);
    return static_cast<uint16_t>(n);
}

std::vector<Bytes> Olt::handle(const uint8_t* p, size_t n, int64_t nowMs) {
    Request r;
    if (!parseRequest(p, n, r) || restarting(nowMs)) return {};
    lastRefusal_.clear();
    try {
        if (r.lengthField != r.payloadSize)
            throw Refused("length field " + std::to_string(r.lengthField) + " but " + std::to_string(r.payloadSize) +
                          " payload bytes");
        return dispatch(r, nowMs);
    } catch (const Refused& e) {
        lastRefusal_ = e.what();
        return {encodeReply(r.id, r.ctag, result::OutOfRange)};
    }
}

std::vector<Bytes> Olt::listReply(const Request& r, const std::vector<Bytes>& entries) const {
    return encodeListReply(r.id, r.ctag, entries, config_.partEntries);
}

std::vector<Bytes> Olt::ok(const Request& r, const Bytes& data) {
    return std::vector<Bytes>{encodeReply(r.id, r.ctag, result::Ok, data)};
}

void Olt::ourMac(const Payload& pl, size_t off) const {
    if (pl.mac(off) != config_.mac) throw Refused("OLT MAC " + macText(pl.mac(off)) + " is not ours");
}

int Olt::portTarget(const Payload& pl, size_t off, int maxPort) const {
    pl.expectU8(off, tag::OltPort, "entity tag");
    ourMac(pl, off + 1);
    uint16_t port = pl.u16(off + 7);
    if (port > maxPort) throw Refused("port " + std::to_string(port) + " out of range");
    return port;
}

Olt::Onu& Olt::onuPort(const Payload& pl) {
    Onu& onu = onuFor(pl.mac(0));
    if (pl.bytes(6, 6) != kOnuPortObject) throw Refused("ONU port object " + toHex(pl.bytes(6, 6)));
    return onu;
}

Olt::Domain& Olt::domainOf(uint16_t id) {
    auto it = prov_.domains.find(id);
    if (it == prov_.domains.end()) throw Refused("unknown domain " + std::to_string(id));
    return it->second;
}

Olt::Destination& Olt::destinationOf(uint16_t id) {
    auto it = prov_.destinations.find(id);
    if (it == prov_.destinations.end()) throw Refused("unknown destination " + std::to_string(id));
    return it->second;
}

std::vector<Bytes> Olt::dispatch(const Request& r, int64_t nowMs) {
    const Payload pl(r);
    // Each family answers the message IDs it knows and passes the others on.
    static constexpr Reply (Olt::*kFamilies[])(const Request&, const Payload&, int64_t) = {
        &Olt::settingRequest, &Olt::oltRequest,  &Olt::linkRequest,
        &Olt::domainRequest,  &Olt::ruleRequest, &Olt::opticsRequest};
    for (auto family : kFamilies)
        if (Reply reply = (this->*family)(r, pl, nowMs)) return *reply;
    lastRefusal_ = "message ID 0x" + hex4(r.id) + " not supported";
    return {encodeReply(r.id, r.ctag, result::NotSupported)};
}

// Provisioning the OLT only keeps (kSettings).
Olt::Reply Olt::settingRequest(const Request& r, const Payload& pl, int64_t) {
    for (const Setting& s : kSettings) {
        if (s.id != r.id) continue;
        pl.expectSize(s.size);
        int port = -1;
        if (s.macAndPort) {
            ourMac(pl, 0);
            port = pl.u16(6);
            if (port >= kPonPorts) throw Refused("port " + std::to_string(port) + " out of range");
        }
        if (s.needsBridgeDomain) domainOf(pl.u16(0));
        prov_.settings[{s.id, port}] = pl.rest(0);
        return ok(r);
    }
    return std::nullopt;
}

// The OLT itself: identity, enable, restart, the NVS setting.
Olt::Reply Olt::oltRequest(const Request& r, const Payload& pl, int64_t nowMs) {
    switch (r.id) {
        case msg::ResetOLT:
        case msg::RestoreOLTDefaults: {
            pl.expectSize(0);
            auto reply = ok(r);
            restart(nowMs, r.id == msg::RestoreOLTDefaults);
            return reply;
        }
        case msg::GetOLTInformation: pl.expectSize(0); return ok(r, encodeOltInformation(info()));
        case msg::EnableOLT:
            pl.expectSize(0);
            prov_.enabled = true;
            for (auto& onu : onus_) scheduleRegistration(onu, nowMs + config_.registerMs);
            return ok(r);
        case msg::DisableOLT:
            pl.expectSize(0);
            prov_.enabled = false;
            // Every link drops with the OLT; the ONUs stay known.
            for (auto& onu : onus_) {
                onu.registered = false;
                onu.registerAt = -1;
            }
            return ok(r);
        case msg::GetOLTNVSEnabled: pl.expectSize(0); return ok(r, encodeNvs(nvsNext_, nvsCurrent_));
        case msg::SetOLTNVSEnabled: {
            pl.expectSize(1);
            uint8_t v = pl.u8(0);
            if (v > 1) throw Refused("NVS value " + std::to_string(v));
            nvsNext_ = v == 1;  // takes effect at the next restart
            return ok(r);
        }
        default: return std::nullopt;
    }
}

// Links and ONUs: the link lists, per-ONU settings, link enable, SLAs.
Olt::Reply Olt::linkRequest(const Request& r, const Payload& pl, int64_t nowMs) {
    switch (r.id) {
        case msg::GetListOfAllKnownLogicalLinks:
        case msg::GetListOfDiscoveredLinks: {
            pl.expectSize(0);
            std::vector<Bytes> macs;
            for (const auto& onu : onus_) {
                bool listed = r.id == msg::GetListOfDiscoveredLinks ? onu.registered : onu.known;
                if (listed) macs.emplace_back(onu.mac.begin(), onu.mac.end());
            }
            return listReply(r, macs);
        }
        case msg::ResetONU: {
            pl.expectSize(6);
            Onu& onu = onuFor(pl.mac(0));
            // The ONU reboots: its link drops with a dying gasp and registers again once it is up.
            if (onu.registered) {
                onu.registered = false;
                queued_.push_back(encodeEvent(msg::ReportAlarm, nextEventCtag(),
                                              encodeReportAlarm(tag::OnuLink, onu.mac, std::nullopt, 64, 1, 1)));
            }
            onu.registerAt = -1;
            scheduleRegistration(onu, nowMs + config_.restartMs + config_.registerMs);
            return ok(r);
        }
        case msg::ClearAllProvisioningForLogicalLink: {
            pl.expectSize(6);
            Onu& onu = onuFor(pl.mac(0));
            onu.hasLinkSla = false;
            onu.linkSla.clear();
            onu.ethernetUp = false;
            onu.vlan = -1;
            for (uint16_t q : {onu.queues.down, onu.queues.up, onu.queues.mcast}) prov_.queueSlas.erase(q);
            return ok(r);
        }
        case msg::OnuPortVlan: {
            pl.expectAtLeast(13);
            Onu& onu = onuPort(pl);
            uint8_t mode = pl.u8(12);
            if (mode == 0) {
                pl.expectSize(13);
                onu.vlan = 0;
            } else if (mode == 1) {
                pl.expectSize(17);
                pl.expectU16(13, 0x8100, "tag protocol identifier");
                uint16_t vid = pl.u16(15);
                if (vid == 0 || vid > 4095) throw Refused("VLAN " + std::to_string(vid) + " out of range");
                onu.vlan = vid;
            } else {
                throw Refused("tag mode " + std::to_string(mode));
            }
            return ok(r);
        }
        case msg::CTCSetEthernetPort: {
            pl.expectSize(16);
            Onu& onu = onuPort(pl);
            onu.ethernetUp = true;
            return ok(r);
        }
        case msg::GetONUInformation: {
            pl.expectSize(6);
            Onu& onu = registeredOnuFor(pl.mac(0));
            return ok(r, encodeLinkInfo(linkInfo(onu)));
        }
        case msg::SetQueueSLA:
            pl.expectSize(kQueueSlaSize);
            pl.expectU16(2, 0, "queue index");
            prov_.queueSlas[pl.u16(0)] = pl.rest(4);
            return ok(r);
        case msg::DeleteQueueSLA:
            pl.expectSize(4);
            pl.expectU16(2, 0, "queue index");
            prov_.queueSlas.erase(pl.u16(0));
            return ok(r);
        case msg::EnableLink:
        case msg::DisableLink: {
            // Sent with and without a trailing u16 0.
            if (pl.size() != 6) {
                pl.expectSize(8);
                pl.expectU16(6, 0, "link option");
            }
            Onu& onu = onuFor(pl.mac(0));
            onu.linkEnabled = r.id == msg::EnableLink;
            if (onu.linkEnabled) {
                scheduleRegistration(onu, nowMs + config_.registerMs);
            } else {
                onu.registered = false;
                onu.registerAt = -1;
            }
            return ok(r);
        }
        case msg::GetOLTBridgingMode: {
            pl.expectSize(6);
            Onu& onu = onuFor(pl.mac(0));
            return ok(r, encodeBridgingMode(onu.mac, onu.queues));
        }
        case msg::SetLinkSLA: {
            pl.expectSize(kLinkSlaSize);
            Onu& onu = onuFor(pl.mac(0));
            onu.hasLinkSla = true;
            onu.linkSla = pl.rest(6);
            return ok(r);
        }
        default: return std::nullopt;
    }
}

// Paths and domains with their rules and selectors.
Olt::Reply Olt::domainRequest(const Request& r, const Payload& pl, int64_t) {
    switch (r.id) {
        case msg::SetPath: {
            pl.expectSize(14);
            pl.expectU16(4, 1, "path first count");
            pl.expectU16(10, 1, "path second count");
            if (pl.u16(2) > kMaxRulePort || pl.u16(8) > kMaxRulePort) throw Refused("path port out of range");
            prov_.paths[pl.u16(0)] = pl.rest(0);
            return ok(r);
        }
        case msg::GetAllPath: {
            pl.expectSize(0);
            std::vector<Bytes> entries;
            for (const auto& [id, path] : prov_.paths) entries.push_back(encodeIdCount(id, pathUsage(id)));
            return listReply(r, entries);
        }
        case msg::DeletePath:
            pl.expectSize(2);
            prov_.paths.erase(pl.u16(0));
            return ok(r);
        case msg::GetAllDomains: {
            pl.expectSize(0);
            std::vector<Bytes> entries;
            for (const auto& [id, d] : prov_.domains)
                entries.push_back(encodeIdCount(id, static_cast<uint16_t>(d.rules.size())));
            return listReply(r, entries);
        }
        case msg::SetDomainRules:
            pl.expectSize(kDomainRulesSize);
            domainOf(pl.u16(0)).rules.push_back(pl.rest(0));
            return ok(r);
        case msg::SetDomainSelectors:
            pl.expectSize(13);
            domainOf(pl.u16(0)).selectors = pl.rest(0);
            return ok(r);
        case msg::SetDomainVersion2: {
            pl.expectAtLeast(7);
            pl.expectU16(2, 0, "domain option");
            Domain d;
            d.definition = pl.rest(0);
            if (pl.size() > 7) {
                // Path groups: u16 0, u8 2, u16 a, u16 b, u8 2, u16 path, u16 path; one optional trailing byte.
                size_t groups = pl.u8(7);
                size_t need = 8 + 12 * groups;
                if (groups == 0 || pl.size() < need || pl.size() > need + 1)
                    throw Refused("domain path groups malformed");
                for (size_t g = 0; g < groups; ++g) {
                    size_t off = 8 + 12 * g;
                    pl.expectU8(off + 2, 2, "path group count");
                    pl.expectU8(off + 7, 2, "path group path count");
                    for (size_t k : {off + 8, off + 10}) {
                        uint16_t path = pl.u16(k);
                        if (prov_.paths.count(path) == 0)
                            throw Refused("domain uses unknown path " + std::to_string(path));
                        d.paths.push_back(path);
                    }
                }
            }
            prov_.domains[pl.u16(0)] = d;  // a redefined domain starts without rules
            return ok(r);
        }
        default: return std::nullopt;
    }
}

// The OLT ports' link rules and the destinations with theirs.
Olt::Reply Olt::ruleRequest(const Request& r, const Payload& pl, int64_t) {
    switch (r.id) {
        case msg::GetOltRule: {
            pl.expectSize(9);
            int port = portTarget(pl, 0, kMaxRulePort);
            return ok(r, encodeOltRules(pl.bytes(0, 9), prov_.ruleFlags[port], prov_.rules[port]));
        }
        case msg::OltRule:
        case msg::DeleteOltPortLinkRule: {
            pl.expectAtLeast(11);
            int port = portTarget(pl, 0, kMaxRulePort);
            uint8_t count = pl.u8(10);
            std::vector<Bytes> given;
            if (count == 0 || !splitRules(pl.at(11), pl.size() - 11, count, given))
                throw Refused("rule bytes do not hold " + std::to_string(count) + " rules");
            auto& kept = prov_.rules[port];
            if (r.id == msg::OltRule) {
                size_t total = 0;
                for (const auto& rule : kept) total += rule.size();
                for (const auto& rule : given) total += rule.size();
                if (total > kMaxRuleBytesPerPort || kept.size() + given.size() > 255)
                    throw Refused("rule table of port full");
                kept.insert(kept.end(), given.begin(), given.end());
                prov_.ruleFlags[port] = pl.u8(9);
                return ok(r);
            }
            // A delete names rules byte for byte as Get OLT Rule reported them; all or nothing.
            std::vector<Bytes> after = kept;
            for (const auto& rule : given) {
                auto it = std::find(after.begin(), after.end(), rule);
                if (it == after.end()) throw Refused("no such rule " + toHex(rule));
                after.erase(it);
            }
            kept.swap(after);
            return ok(r);
        }
        case msg::SetDestination: {
            pl.expectSize(kDestinationSize);
            domainOf(pl.u16(2));
            onuFor(pl.mac(5));
            Destination d;
            d.definition = pl.rest(0);
            d.domain = pl.u16(2);
            d.downQueue = pl.u16(21);
            d.broadcastQueue = pl.u16(27);
            prov_.destinations[pl.u16(0)] = d;
            return ok(r);
        }
        case msg::DeleteDestination:
            pl.expectSize(2);
            prov_.destinations.erase(pl.u16(0));
            return ok(r);
        case msg::SetDestinationLearningControl:
            pl.expectSize(8);
            destinationOf(pl.u16(0)).learning = pl.rest(2);
            return ok(r);
        case msg::DeleteDestinationLearningControl: {
            pl.expectSize(2);
            auto it = prov_.destinations.find(pl.u16(0));
            if (it != prov_.destinations.end()) it->second.learning.clear();
            return ok(r);
        }
        case msg::GetDestinationRules: {
            pl.expectSize(2);
            const Destination& d = destinationOf(pl.u16(0));
            Bytes data = pl.rest(0);
            putBytes(data, d.rules);
            return ok(r, data);
        }
        case msg::DestinationRules:
            pl.expectSize(kDestinationRulesSize);
            putBytes(destinationOf(pl.u16(0)).rules, pl.rest(2));
            return ok(r);
        case msg::DeleteDestinationRules: {
            // Carries back the Get Destination Rules data: it must match what is kept.
            pl.expectAtLeast(2);
            Destination& d = destinationOf(pl.u16(0));
            if (pl.rest(2) != d.rules) throw Refused("destination rules differ from the kept ones");
            d.rules.clear();
            return ok(r);
        }
        default: return std::nullopt;
    }
}

// Optics readings and the OAM extension sets.
Olt::Reply Olt::opticsRequest(const Request& r, const Payload& pl, int64_t) {
    switch (r.id) {
        case msg::GetStatistics: {
            pl.expectSize(13);
            int port = portTarget(pl, 0, kPonPorts - 1);
            pl.expectU16(9, kStatisticsGroup, "statistics group");
            pl.expectU8(11, 0xff, "statistics element");
            pl.expectU8(12, 4, "statistics count");
            std::vector<StatEntry> stats;
            for (uint8_t e = 0; e < 4; ++e)  // elements 4..7: tx power, Vcc, bias, temperature
                stats.push_back(
                    StatEntry{kStatisticsGroup, static_cast<uint8_t>(4 + e), 0, oltOptics_[port][e].read(rng_)});
            return ok(r, encodeStatistics(config_.mac, static_cast<uint16_t>(port), stats));
        }
        case msg::GetOAMExtensionSetSupport: {
            pl.expectAtLeast(7);
            if ((pl.size() - 7) % 2 != 0) throw Refused("OAM extension types malformed");
            pl.expectU8(0, tag::OamExtension, "OAM extension target");
            ourMac(pl, 1);
            Bytes data = pl.bytes(0, 7);
            for (size_t off = 7; off < pl.size(); off += 2) {
                pl.expectU8(off + 1, 0, "OAM extension type filler");
                auto it = prov_.oamSets.find(pl.u8(off));
                if (it != prov_.oamSets.end()) putBytes(data, it->second);
            }
            return ok(r, data);
        }
        case msg::SetOamExtensionSetSupport: {
            pl.expectAtLeast(7 + kOamRecordSize);
            if ((pl.size() - 7) % kOamRecordSize != 0) throw Refused("OAM extension records malformed");
            pl.expectU8(0, tag::OamExtension, "OAM extension target");
            ourMac(pl, 1);
            std::map<uint8_t, Bytes> sets = prov_.oamSets;
            for (size_t off = 7; off < pl.size(); off += kOamRecordSize) {
                pl.expectU8(off + 1, 5, "OAM extension record length");
                if (pl.u8(off + 6) > 1) throw Refused("OAM extension state " + std::to_string(pl.u8(off + 6)));
                sets[pl.u8(off)] = pl.bytes(off, kOamRecordSize);
            }
            prov_.oamSets.swap(sets);
            return ok(r);
        }
        case msg::GetCTC21OpticalTransceiverDiagnosis: {
            pl.expectSize(6);
            Onu& onu = registeredOnuFor(pl.mac(0));
            OnuOptics o;
            o.temperature = static_cast<uint16_t>(onu.optics[0].read(rng_));
            o.vcc = static_cast<uint16_t>(onu.optics[1].read(rng_));
            o.bias = static_cast<uint16_t>(onu.optics[2].read(rng_));
            o.powerIn = static_cast<uint16_t>(onu.optics[3].read(rng_));
            o.powerOut = static_cast<uint16_t>(onu.optics[4].read(rng_));
            return ok(r, encodeOpticalDiagnosis(onu.mac, o));
        }
        default: return std::nullopt;
    }
}

std::vector<Bytes> Olt::advance(int64_t nowMs) {
    std::vector<Bytes> out;
    out.swap(queued_);
    if (readyAt_ >= 0 && readyAt_ <= nowMs) {
        readyAt_ = -1;
        out.push_back(ready());
    }
    if (restarting(nowMs)) return out;
    std::vector<Onu*> due;
    for (auto& onu : onus_)
        if (onu.registerAt >= 0 && onu.registerAt <= nowMs) due.push_back(&onu);
    std::stable_sort(due.begin(), due.end(), [](const Onu* a, const Onu* b) { return a->registerAt < b->registerAt; });
    for (Onu* onu : due) {
        onu->registerAt = -1;
        if (!prov_.enabled || !onu->present || !onu->linkEnabled || onu->registered) continue;
        onu->registered = true;
        onu->known = true;
        out.push_back(encodeEvent(msg::LinkDiscovery, nextEventCtag(), encodeLinkInfo(linkInfo(*onu))));
    }
    return out;
}

int64_t Olt::nextDueMs() const {
    if (!queued_.empty()) return 0;
    int64_t due = readyAt_ >= 0 ? readyAt_ : kNever;
    for (const auto& onu : onus_)
        if (onu.registerAt >= 0) due = std::min(due, std::max(onu.registerAt, restartUntil_));
    return due;
}

Bytes Olt::ready() { return encodeOltReady(nextEventCtag(), encodeOltInformation(info())); }

Bytes Olt::leave(const Mac& mac, uint8_t alarmCode) {
    Onu& onu = controlOnu(mac);
    if (!onu.present) throw std::invalid_argument("ONU " + macText(mac) + " is already gone");
    onu.present = false;
    onu.registered = false;
    onu.registerAt = -1;
    return encodeEvent(msg::ReportAlarm, nextEventCtag(),
                       encodeReportAlarm(tag::OnuLink, mac, std::nullopt, alarmCode, 1, 1));
}

void Olt::comeBack(const Mac& mac, int64_t nowMs) {
    Onu& onu = controlOnu(mac);
    if (onu.present) throw std::invalid_argument("ONU " + macText(mac) + " is not gone");
    onu.present = true;
    scheduleRegistration(onu, nowMs + config_.registerMs);
}

Bytes Olt::move(const Mac& mac, int toPort) {
    Onu& onu = controlOnu(mac);
    if (toPort < 0 || toPort >= kPonPorts) throw std::invalid_argument("PON port must be 0 or 1");
    if (toPort == onu.port)
        throw std::invalid_argument("ONU " + macText(mac) + " is already on port " + std::to_string(toPort));
    uint8_t from = static_cast<uint8_t>(onu.port);
    onu.port = toPort;
    return encodeEvent(msg::OnuLinkMoved, nextEventCtag(), encodeLinkMoved(mac, from, static_cast<uint8_t>(toPort)));
}

Bytes Olt::discovery(const Mac& mac) {
    Onu& onu = controlOnu(mac);
    // Forced by the operator: the link counts as registered whatever the OLT's state.
    onu.present = true;
    onu.registered = true;
    onu.known = true;
    onu.registerAt = -1;
    return encodeEvent(msg::LinkDiscovery, nextEventCtag(), encodeLinkInfo(linkInfo(onu)));
}

Bytes Olt::alarm(uint8_t entityTag, const Mac& mac, uint16_t port, uint8_t code, uint8_t state, uint8_t count) {
    std::optional<uint16_t> p;
    if (entityTag == tag::OltPort) p = port;
    return encodeEvent(msg::ReportAlarm, nextEventCtag(), encodeReportAlarm(entityTag, mac, p, code, state, count));
}

Bytes Olt::event(uint16_t id, const Bytes& data) { return encodeEvent(id, nextEventCtag(), data); }

const std::vector<Bytes>& Olt::portRules(int port) const {
    if (port < 0 || port > kMaxRulePort) throw std::invalid_argument("port must be 0..3");
    return prov_.rules[port];
}

std::string Olt::statusText() const {
    int online = 0;
    for (const auto& onu : onus_) online += onu.registered;
    std::ostringstream s;
    s << "mac=" << macText(config_.mac) << " enabled=" << prov_.enabled << " nvs=" << nvsNext_ << '/' << nvsCurrent_
      << " ctc=" << ctcEnabled() << " product=" << hex4(productCode_) << " firmware=" << hex4(firmware_)
      << " onus=" << onus_.size() << " online=" << online;
    return s.str();
}

std::vector<Mac> Olt::registeredOnus() const {
    std::vector<Mac> out;
    for (const auto& onu : onus_)
        if (onu.registered) out.push_back(onu.mac);
    return out;
}

std::string Olt::onusText() const {
    std::ostringstream s;
    bool first = true;
    for (const auto& onu : onus_) {
        const char* state = !onu.present       ? "gone"
                            : !onu.linkEnabled ? "disabled"
                            : onu.registered   ? "online"
                                               : "offline";
        s << (first ? "" : " ") << macText(onu.mac) << '/' << onu.port << '/' << state;
        first = false;
    }
    return s.str();
}

std::string Olt::stateText() const {
    std::ostringstream s;
    auto list = [&s](const char* key, const std::vector<std::string>& items) {
        s << ' ' << key << '=';
        for (size_t i = 0; i < items.size(); ++i) s << (i ? "," : "") << items[i];
    };
    s << "enabled=" << prov_.enabled << " nvs=" << nvsNext_ << '/' << nvsCurrent_ << " ctc=" << ctcEnabled();
    std::vector<std::string> items;
    for (const auto& [id, d] : prov_.domains)
        items.push_back(std::to_string(id) + ":" + std::to_string(d.rules.size()));
    list("domains", items);
    items.clear();
    for (const auto& [id, p] : prov_.paths) items.push_back(std::to_string(id));
    list("paths", items);
    items.clear();
    for (int port = 0; port <= kMaxRulePort; ++port)
        if (!prov_.rules[port].empty())
            items.push_back(std::to_string(port) + ":" + std::to_string(prov_.rules[port].size()));
    list("rules", items);
    items.clear();
    for (const auto& [id, d] : prov_.destinations)
        items.push_back(std::to_string(id) + (d.learning.empty() ? "" : "+learning") +
                        (d.rules.empty() ? "" : "+rules"));
    list("destinations", items);
    items.clear();
    for (const auto& [q, sla] : prov_.queueSlas) items.push_back(hex4(q));
    list("queue-slas", items);
    items.clear();
    std::vector<std::string> vlans;
    std::vector<std::string> ether;
    for (const auto& onu : onus_) {
        if (onu.hasLinkSla) items.push_back(macText(onu.mac));
        if (onu.vlan >= 0) vlans.push_back(macText(onu.mac) + "=" + std::to_string(onu.vlan));
        if (onu.ethernetUp) ether.push_back(macText(onu.mac));
    }
    list("link-slas", items);
    list("vlans", vlans);
    list("ethernet-up", ether);
    items.clear();
    for (const auto& [key, payload] : prov_.settings)
        items.push_back(hex4(key.first) + (key.second >= 0 ? "/" + std::to_string(key.second) : ""));
    list("settings", items);
    items.clear();
    for (const auto& onu : onus_)
        if (!onu.linkEnabled) items.push_back(macText(onu.mac));
    list("links-disabled", items);
    return s.str();
}

}  // namespace oltsim
