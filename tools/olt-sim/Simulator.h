#pragma once
// The set of simulated OLTs behind one program: routes the card's datagrams to them,
// applies the faults asked for on the control channel (silence, dropped and lost requests,
// late replies, messages held for the next exchange), keeps the record of received
// datagrams, and runs the line-based control commands. Pure: no sockets; time comes in
// as milliseconds of a monotonic clock, outgoing datagrams are taken with takeDue().
// Not thread-safe: one loop thread owns it. Never throws from receive/command/takeDue.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Olt.h"

namespace oltsim {

class Simulator {
public:
    struct Outgoing {
        int olt = 0;  // index of the sending OLT, 0-based
        Bytes bytes;
    };
    static constexpr size_t kRecordLimit = 65536;

    // ips[i] names OLT i in status lines; configs[i] builds it. seed drives the loss draws.
    Simulator(const std::vector<OltConfig>& configs, const std::vector<std::string>& ips, uint64_t seed, int64_t nowMs);

    size_t size() const { return olts_.size(); }
    Olt& olt(size_t index) { return *olts_[index].olt; }

    // A datagram from the card reached OLT index olt.
    void receive(size_t olt, const uint8_t* p, size_t n, int64_t nowMs);
    // Runs one control command line; returns the one reply line ("ok ..." / "error ..."), no newline.
    std::string command(const std::string& line, int64_t nowMs);
    // Datagrams to send now, in order.
    std::vector<Outgoing> takeDue(int64_t nowMs);
    // When takeDue() next has something; kNever when nothing is pending.
    int64_t nextDueMs() const;
    bool quitRequested() const { return quit_; }

    // Life for a sandbox: about every meanMs (0 = never) one event on a random OLT that is
    // enabled and answering: an online ONU leaves (Report Timeout or Dying Gasp) and returns
    // 10 to 60 s later, or an online ONU raises an alarm that is cleared 20 to 90 s later.
    // Draws come from seed, so a run repeats for the same seed and the same requests.
    void setChurn(int64_t meanMs, uint64_t seed, int64_t nowMs);

    // Called with every received datagram (for the record file).
    void setRecordSink(std::function<void(size_t olt, const Bytes&)> sink) { recordSink_ = std::move(sink); }
    // Called with diagnostic lines when set (the --verbose output).
    void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

private:
    struct Slot {
        std::unique_ptr<Olt> olt;
        std::string ip;
        bool silent = false;
        uint64_t dropNext = 0;
        int64_t delayMs = 0;
        int64_t delayCount = -1;  // replies still to delay; -1: every reply
        double loss = 0.0;
        std::map<uint16_t, uint64_t> refuse;  // message ID -> requests still to refuse
        uint64_t requests = 0;
        std::deque<Bytes> record;
        std::vector<Bytes> atNextExchange;
    };

    struct ChurnEvent {
        int64_t atMs;
        size_t olt;
        Mac onu;
        uint8_t alarmCode;  // 0: the ONU returns; else the alarm to clear
    };
    void churn(int64_t nowMs);
    void churnOnce(int64_t nowMs);

    void enqueue(size_t olt, Bytes bytes, int64_t dueMs);
    void send(size_t olt, Bytes bytes, bool atNext, int64_t nowMs);
    void log(const std::string& line) const;
    std::string statusLine(size_t olt) const;

    std::vector<Slot> olts_;
    Rng lossRng_;
    // Outgoing datagrams by due time, then by order of queueing.
    std::multimap<std::pair<int64_t, uint64_t>, Outgoing> outbox_;
    uint64_t outboxSeq_ = 0;
    bool quit_ = false;
    int64_t churnMeanMs_ = 0;
    int64_t nextChurnMs_ = kNever;
    Rng churnRng_{0};
    std::vector<ChurnEvent> churnPending_;  // returns and alarm clears still to come
    std::function<void(size_t, const Bytes&)> recordSink_;
    std::function<void(const std::string&)> log_;
};

}  // namespace oltsim
