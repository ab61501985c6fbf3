#pragma once
// One simulated OLT line card: the state its requests change (enable, NVS, OAM extension
// sets, paths, domains, port rules, destinations, SLAs, link settings), its ONUs and the
// unsolicited messages it sends. Pure: bytes in, bytes out, time passed in as milliseconds
// of a monotonic clock; no sockets. Not thread-safe (the program runs one loop thread).
// Control operations throw std::invalid_argument with a one-line reason for bad input;
// request handling never throws (a bad request is answered with a result code).
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Frames.h"

namespace oltsim {

constexpr int kMaxOnusPerPort = 64;
constexpr int kPonPorts = 2;
constexpr int kMaxRulePort = 3;  // ports 0, 1 (EPON) and 2, 3 (NNI) carry rules
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

struct OltConfig {
    int number = 1;  // 1..8, names the OLT in MACs and messages
    Mac mac{};
    int onusPerPort = 4;
    // ONUs on each PON port when not -1 (a sandbox gives every port its own count).
    int onusOnPort[2] = {-1, -1};
    bool nvsAtPowerUp = false;
    uint16_t firmware = 0x0205;
    int64_t restartMs = 300;
    int64_t registerMs = 100;
    uint64_t seed = 1;
    size_t partEntries = 64;
};

// 02:4f:4c:54:00:nn for OLT n.
Mac defaultOltMac(int olt);
// 02:4f:4e:0n:0p:kk for ONU k first placed on PON port p of OLT n.
Mac defaultOnuMac(int olt, int port, int index);

// Small deterministic generator (splitmix64) so runs repeat for a given seed.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next();
    double unit();                            // [0, 1)
    int64_t between(int64_t lo, int64_t hi);  // inclusive
private:
    uint64_t state_;
};

// A reading that wanders slowly around a base value: each read moves it by at most step.
struct Drift {
    int64_t base = 0;
    int64_t span = 0;
    int64_t step = 0;
    int64_t value = 0;
    uint64_t read(Rng& rng);
};

class Olt {
public:
    // Powers the OLT up: it announces itself with OLT Ready at nowMs.
    Olt(const OltConfig& config, int64_t nowMs);

    // Answers one request datagram: the reply, or the parts of a multi-part reply; nothing for
    // a datagram shorter than a header or while the OLT restarts. Unsolicited messages the
    // request causes come out of advance().
    std::vector<Bytes> handle(const uint8_t* p, size_t n, int64_t nowMs);
    // Unsolicited messages due by nowMs (OLT Ready, Link Discovery, alarms), in order.
    std::vector<Bytes> advance(int64_t nowMs);
    // When advance() next has something to send; kNever when nothing is pending.
    int64_t nextDueMs() const;
    // Why the last request was refused (empty after an accepted one); for diagnostics.
    const std::string& lastRefusal() const { return lastRefusal_; }

    // Restart as after Reset OLT: volatile state cleared, ONUs down, OLT Ready after the
    // restart time. factoryDefaults also returns the NVS setting to its power-up value.
    void restart(int64_t nowMs, bool factoryDefaults = false);
    bool restarting(int64_t nowMs) const { return nowMs < restartUntil_; }

    // Control operations. The ones returning Bytes change the state at once and return the
    // unsolicited message to send (the caller decides when).
    Bytes leave(const Mac& onu, uint8_t alarmCode);
    void comeBack(const Mac& onu, int64_t nowMs);
    Bytes move(const Mac& onu, int toPort);
    Bytes discovery(const Mac& onu);
    Bytes alarm(uint8_t entityTag, const Mac& mac, uint16_t port, uint8_t code, uint8_t state, uint8_t count);
    Bytes event(uint16_t id, const Bytes& data);
    Bytes ready();
    void setProductCode(uint16_t code) { productCode_ = code; }
    void setFirmware(uint16_t fw) { firmware_ = fw; }
    void setNvs(bool on) { nvsCurrent_ = nvsNext_ = on; }

    // ONUs whose link is up now, in table order.
    std::vector<Mac> registeredOnus() const;

    int number() const { return config_.number; }
    const Mac& mac() const { return config_.mac; }
    bool enabled() const { return prov_.enabled; }
    bool ctcEnabled() const;
    // "key=value ..." summaries for the control channel.
    std::string statusText() const;
    std::string onusText() const;
    std::string stateText() const;
    const std::vector<Bytes>& portRules(int port) const;

private:
    struct Onu {
        Mac mac{};
        int port = 0;
        int index = 0;            // 64 * first port + k: fixes LLID, RTT and queues for the ONU's life
        bool present = true;      // physically attached (false after "leave")
        bool linkEnabled = true;  // Enable/Disable Link
        bool registered = false;  // link up now: listed as discovered
        bool known = false;       // registered since the last restart: listed as known
        int64_t registerAt = -1;  // pending Link Discovery, -1 when none
        QueueEndpoints queues;
        bool hasLinkSla = false;
        Bytes linkSla;
        bool ethernetUp = false;
        int vlan = -1;  // -1 never set, 0 untagged
        Drift optics[5];
    };
    struct Domain {
        Bytes definition;  // the Set Domain Version 2 payload
        std::vector<uint16_t> paths;
        std::vector<Bytes> rules;  // Set Domain Rules payloads
        Bytes selectors;
    };
    struct Destination {
        Bytes definition;  // the Set Destination payload
        uint16_t domain = 0;
        uint16_t downQueue = 0;
        uint16_t broadcastQueue = 0;
        Bytes learning;  // Set Destination Learning Control bytes after the id, empty when none
        Bytes rules;     // Destination Rules bytes after the id, appended per request
    };
    // Everything a restart forgets.
    struct Provisioning {
        bool enabled = false;
        std::map<uint8_t, Bytes> oamSets;  // type -> 7-byte record
        std::map<uint16_t, Bytes> paths;   // path id -> Set Path payload
        std::map<uint16_t, Domain> domains;
        std::vector<Bytes> rules[kMaxRulePort + 1];
        uint8_t ruleFlags[kMaxRulePort + 1] = {0, 0, 0, 0};
        std::map<uint16_t, Destination> destinations;
        std::map<uint16_t, Bytes> queueSlas;                 // endpoint -> SLA bytes
        std::map<std::pair<uint16_t, int>, Bytes> settings;  // (message ID, port or -1) -> payload
    };
    class Refused;
    class Payload;

    // A family's answer to a request; nothing when the message ID is not one of the family's.
    using Reply = std::optional<std::vector<Bytes>>;
    std::vector<Bytes> dispatch(const Request& r, int64_t nowMs);
    // The request families dispatch() asks in turn (Olt.cpp says which IDs each answers).
    Reply settingRequest(const Request& r, const Payload& pl, int64_t nowMs);
    Reply oltRequest(const Request& r, const Payload& pl, int64_t nowMs);
    Reply linkRequest(const Request& r, const Payload& pl, int64_t nowMs);
    Reply domainRequest(const Request& r, const Payload& pl, int64_t nowMs);
    Reply ruleRequest(const Request& r, const Payload& pl, int64_t nowMs);
    Reply opticsRequest(const Request& r, const Payload& pl, int64_t nowMs);
    // Pieces the families share. The checks throw Refused.
    static std::vector<Bytes> ok(const Request& r, const Bytes& data = {});
    void ourMac(const Payload& pl, size_t off) const;  // the per-port and OAM extension requests name this OLT
    int portTarget(const Payload& pl, size_t off, int maxPort) const;  // tag 5, our MAC, a port up to maxPort
    Onu& onuPort(const Payload& pl);  // the ONU port requests: a link MAC of ours, then the port object
    Domain& domainOf(uint16_t id);
    Destination& destinationOf(uint16_t id);
    std::vector<Bytes> listReply(const Request& r, const std::vector<Bytes>& entries) const;
    Onu& onuFor(const Mac& mac);  // throws Refused for a MAC that is not one of ours
    Onu* findOnu(const Mac& mac);
    Onu& controlOnu(const Mac& mac);        // throws std::invalid_argument for a MAC that is not ours
    Onu& registeredOnuFor(const Mac& mac);  // onuFor, and refused unless the link is up
    void scheduleRegistration(Onu& onu, int64_t atMs);
    void resetProvisioning();
    OltInfo info() const;
    LinkInfo linkInfo(const Onu& onu) const;
    uint16_t nextEventCtag();
    uint16_t pathUsage(uint16_t path) const;

    OltConfig config_;
    Rng rng_;
    uint16_t productCode_ = 0x3723;
    uint16_t firmware_;
    bool nvsCurrent_;
    bool nvsNext_;
    Provisioning prov_;
    std::vector<Onu> onus_;
    Drift oltOptics_[kPonPorts][4];
    int64_t restartUntil_ = 0;
    int64_t readyAt_ = -1;
    std::vector<Bytes> queued_;  // unsolicited messages due now
    uint16_t eventCtag_ = 0;
    std::string lastRefusal_;
};

}  // namespace oltsim
