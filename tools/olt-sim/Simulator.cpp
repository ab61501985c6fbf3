#include "Simulator.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace oltsim {

namespace {

class UsageError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Whole-string unsigned decimal within [lo, hi].
uint64_t number(const std::string& text, uint64_t lo, uint64_t hi, const char* what) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19)
        throw UsageError(std::string(what) + " must be a number");
    uint64_t v = std::strtoull(text.c_str(), nullptr, 10);
    if (v < lo || v > hi)
        throw UsageError(std::string(what) + " must be " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

Mac macArg(const std::string& text) {
    Mac m;
    if (!parseMac(text, m)) throw UsageError("bad MAC address '" + text + "'");
    return m;
}

Bytes hexArg(const std::string& text, const char* what) {
    Bytes b;
    if (!fromHex(text, b)) throw UsageError(std::string(what) + " must be an even number of hex digits");
    return b;
}

uint16_t hex16Arg(const std::string& text, const char* what) {
    Bytes b = hexArg(text, what);
    if (b.size() != 2) throw UsageError(std::string(what) + " must be 4 hex digits");
    return getU16(b.data());
}

const char* kHelp =
    "ok help status onus drop delay loss silent product firmware nvs restart ready leave return move discover "
    "alarm event raw requests record rules state ping refuse quit";

}  // namespace

Simulator::Simulator(const std::vector<OltConfig>& configs, const std::vector<std::string>& ips, uint64_t seed,
                     int64_t nowMs)
    : lossRng_(seed ^ 0x6c6f7373ull) {
    for (size_t i = 0; i < configs.size(); ++i) {
        Slot s;
        s.olt = std::make_unique<Olt>(configs[i], nowMs);
        s.ip = i < ips.size() ? ips[i] : "";
        olts_.push_back(std::move(s));
    }
}

void Simulator::log(const std::string& line) const {
    if (log_) log_(line);
}

void Simulator::enqueue(size_t olt, Bytes bytes, int64_t dueMs) {
    outbox_.emplace(std::make_pair(dueMs, outboxSeq_++), Outgoing{static_cast<int>(olt), std::move(bytes)});
}

void Simulator::send(size_t olt, Bytes bytes, bool atNext, int64_t nowMs) {
    if (atNext) olts_[olt].atNextExchange.push_back(std::move(bytes));
    else enqueue(olt, std::move(bytes), nowMs);
}

void Simulator::receive(size_t index, const uint8_t* p, size_t n, int64_t nowMs) {
    if (index >= olts_.size()) return;
    Slot& s = olts_[index];
    Bytes datagram(p, p + n);
    ++s.requests;
    s.record.push_back(datagram);
    if (s.record.size() > kRecordLimit) s.record.pop_front();
    if (recordSink_) recordSink_(index, datagram);
    std::string prefix = log_ ? "olt " + std::to_string(index + 1) + ": " : "";
    if (log_) log(prefix + "request " + toHex(datagram));
    // A silent OLT keeps its held messages for the first exchange after it speaks again.
    if (s.silent) return;
    for (auto& held : s.atNextExchange) enqueue(index, std::move(held), nowMs);
    s.atNextExchange.clear();
    if (s.dropNext > 0) {
        --s.dropNext;
        log(prefix + "dropped on command");
        return;
    }
    if (s.loss > 0.0 && lossRng_.unit() < s.loss) {
        log(prefix + "lost");
        return;
    }
    std::vector<Bytes> replies;
    auto refused = n >= 6 ? s.refuse.find(getU16(p)) : s.refuse.end();
    if (refused != s.refuse.end() && refused->second > 0 && !s.olt->restarting(nowMs)) {
        // Refused on command: a reply with result 3 (parameter out of range) and no change.
        --refused->second;
        log(prefix + "refused on command");
        replies.push_back(encodeReply(getU16(p), getU16(p + 2), 3));
    } else {
        replies = s.olt->handle(p, n, nowMs);
    }
    if (!s.olt->lastRefusal().empty()) log(prefix + "refused: " + s.olt->lastRefusal());
    if (replies.empty()) return;
    int64_t delay = 0;
    if (s.delayMs > 0 && s.delayCount != 0) {
        delay = s.delayMs;
        if (s.delayCount > 0) --s.delayCount;
    }
    for (auto& reply : replies) enqueue(index, std::move(reply), nowMs + delay);
}

void Simulator::setChurn(int64_t meanMs, uint64_t seed, int64_t nowMs) {
    churnMeanMs_ = std::max<int64_t>(meanMs, 0);
    churnRng_ = Rng(seed ^ 0x636875726eull);
    churnPending_.clear();
    nextChurnMs_ = churnMeanMs_ > 0 ? nowMs + churnRng_.between(churnMeanMs_ / 2, churnMeanMs_ * 3 / 2) : kNever;
}

void Simulator::churn(int64_t nowMs) {
    // What an earlier event promised: ONUs coming back, alarms clearing. An operator may have
    // changed the ONU meanwhile (returned it by hand, the OLT restarted): then nothing is due.
    for (size_t k = 0; k < churnPending_.size();) {
        const ChurnEvent e = churnPending_[k];
        if (e.atMs > nowMs) {
            ++k;
            continue;
        }
        churnPending_.erase(churnPending_.begin() + static_cast<std::ptrdiff_t>(k));
        try {
            Olt& olt = *olts_[e.olt].olt;
            if (e.alarmCode == 0) {
                olt.comeBack(e.onu, nowMs);
                log("olt " + std::to_string(e.olt + 1) + ": churn: " + macText(e.onu) + " returns");
            } else if (!olts_[e.olt].silent) {
                enqueue(e.olt, olt.alarm(tag::OnuLink, e.onu, 0, e.alarmCode, 0, 1), nowMs);
            }
        } catch (const std::invalid_argument&) {}
    }
    if (nowMs < nextChurnMs_) return;
    churnOnce(nowMs);
    nextChurnMs_ = nowMs + churnRng_.between(churnMeanMs_ / 2, churnMeanMs_ * 3 / 2);
}

void Simulator::churnOnce(int64_t nowMs) {
    std::vector<size_t> candidates;
    for (size_t i = 0; i < olts_.size(); ++i) {
        const Slot& s = olts_[i];
        if (!s.silent && s.olt->enabled() && !s.olt->restarting(nowMs) && !s.olt->registeredOnus().empty())
            candidates.push_back(i);
    }
    if (candidates.empty()) return;
    const size_t i = candidates[static_cast<size_t>(churnRng_.between(0, static_cast<int64_t>(candidates.size()) - 1))];
    Olt& olt = *olts_[i].olt;
    const std::vector<Mac> online = olt.registeredOnus();
    const Mac onu = online[static_cast<size_t>(churnRng_.between(0, static_cast<int64_t>(online.size()) - 1))];
    const std::string who = "olt " + std::to_string(i + 1) + ": churn: " + macText(onu);
    if (churnRng_.unit() < 0.6) {
        // Report Timeout most of the time, now and then a Dying Gasp (power cut at the customer).
        const uint8_t code = churnRng_.unit() < 0.75 ? 23 : 64;
        enqueue(i, olt.leave(onu, code), nowMs);
        churnPending_.push_back({nowMs + churnRng_.between(10000, 60000), i, onu, 0});
        log(who + " leaves");
    } else {
        // Alarms that do not take the link down: temperature, optical power low, loop detected,
        // MAC learning overflow.
        static const uint8_t kCodes[] = {129, 165, 164, 21};
        const uint8_t code = kCodes[churnRng_.between(0, 3)];
        enqueue(i, olt.alarm(tag::OnuLink, onu, 0, code, 1, 1), nowMs);
        churnPending_.push_back({nowMs + churnRng_.between(20000, 90000), i, onu, code});
        log(who + " alarm " + std::to_string(code));
    }
}

std::vector<Simulator::Outgoing> Simulator::takeDue(int64_t nowMs) {
    if (churnMeanMs_ > 0) churn(nowMs);
    for (size_t i = 0; i < olts_.size(); ++i)
        for (auto& event : olts_[i].olt->advance(nowMs))
            if (!olts_[i].silent) enqueue(i, std::move(event), nowMs);
    std::vector<Outgoing> out;
    while (!outbox_.empty() && outbox_.begin()->first.first <= nowMs) {
        Outgoing o = std::move(outbox_.begin()->second);
        outbox_.erase(outbox_.begin());
        // Silence also swallows replies that were still waiting for their delay.
        if (olts_[o.olt].silent) continue;
        if (log_) log("olt " + std::to_string(o.olt + 1) + ": send " + toHex(o.bytes));
        out.push_back(std::move(o));
    }
    return out;
}

int64_t Simulator::nextDueMs() const {
    int64_t due = outbox_.empty() ? kNever : outbox_.begin()->first.first;
    for (const auto& s : olts_) due = std::min(due, s.olt->nextDueMs());
    due = std::min(due, nextChurnMs_);
    for (const auto& e : churnPending_) due = std::min(due, e.atMs);
    return due;
}

std::string Simulator::statusLine(size_t i) const {
    const Slot& s = olts_[i];
    std::ostringstream out;
    out << "olt=" << i + 1 << " ip=" << s.ip << ' ' << s.olt->statusText() << " requests=" << s.requests
        << " silent=" << s.silent << " drop=" << s.dropNext << " delay=" << s.delayMs << " loss=" << s.loss;
    return out.str();
}

std::string Simulator::command(const std::string& line, int64_t nowMs) {
    std::vector<std::string> w = words(line);
    try {
        if (w.empty()) throw UsageError("empty command");
        const std::string& cmd = w[0];
        // Trailing "next": hold the message back for the OLT's next exchange.
        bool atNext = w.size() > 1 && w.back() == "next";
        if (atNext) w.pop_back();
        auto args = [&](size_t lo, size_t hi) {
            if (w.size() - 1 < lo || w.size() - 1 > hi) throw UsageError("wrong number of arguments for " + cmd);
        };
        auto oltArg = [&](const std::string& text) -> size_t {
            return static_cast<size_t>(number(text, 1, olts_.size(), "OLT")) - 1;
        };
        // Indexes named by an "OLT|all" argument.
        auto oltsArg = [&](const std::string& text) {
            std::vector<size_t> out;
            if (text == "all") {
                for (size_t i = 0; i < olts_.size(); ++i) out.push_back(i);
            } else {
                out.push_back(oltArg(text));
            }
            return out;
        };
        bool sendsMessage = cmd == "ready" || cmd == "leave" || cmd == "move" || cmd == "discover" || cmd == "alarm" ||
                            cmd == "event" || cmd == "raw";
        if (atNext && !sendsMessage) throw UsageError("'next' only applies to commands that send a message");

        if (cmd == "help") {
            args(0, 0);
            return kHelp;
        }
        if (cmd == "quit") {
            args(0, 0);
            quit_ = true;
            return "ok";
        }
        if (cmd == "ping") {
            // Whether a ping to IP would be answered: only by a simulated OLT that is there, not
            // restarting and not silent. Every loopback address answers a real ping, so the
            // stand-in for ping asks here instead.
            args(1, 1);
            for (const Slot& s : olts_)
                if (s.ip == w[1]) return std::string("ok ") + (s.silent || s.olt->restarting(nowMs) ? "0" : "1");
            return "ok 0";
        }
        if (cmd == "status") {
            args(0, 1);
            if (w.size() == 2) return "ok " + statusLine(oltArg(w[1]));
            std::string out = "ok";
            for (size_t i = 0; i < olts_.size(); ++i) out += (i ? " ; " : " ") + statusLine(i);
            return out;
        }
        if (cmd == "onus") {
            args(1, 1);
            std::string text = olts_[oltArg(w[1])].olt->onusText();
            return text.empty() ? "ok" : "ok " + text;
        }
        if (cmd == "refuse") {
            args(3, 3);
            uint16_t id = hex16Arg(w[2], "message ID");
            uint64_t n = number(w[3], 0, 1000000, "count");
            for (size_t i : oltsArg(w[1])) olts_[i].refuse[id] = n;
            return "ok";
        }
        if (cmd == "drop") {
            args(2, 2);
            uint64_t n = number(w[2], 0, 1000000, "count");
            for (size_t i : oltsArg(w[1])) olts_[i].dropNext = n;
            return "ok";
        }
        if (cmd == "delay") {
            args(2, 3);
            int64_t ms = static_cast<int64_t>(number(w[2], 0, 3600000, "delay"));
            int64_t count = w.size() == 4 ? static_cast<int64_t>(number(w[3], 1, 1000000, "count")) : -1;
            for (size_t i : oltsArg(w[1])) {
                olts_[i].delayMs = ms;
                olts_[i].delayCount = count;
            }
            return "ok";
        }
        if (cmd == "loss") {
            args(2, 2);
            char* end = nullptr;
            errno = 0;
            double ratio = std::strtod(w[2].c_str(), &end);
            if (errno != 0 || end == w[2].c_str() || *end != '\0' || !(ratio >= 0.0 && ratio <= 1.0))
                throw UsageError("ratio must be a number from 0 to 1");
            for (size_t i : oltsArg(w[1])) olts_[i].loss = ratio;
            return "ok";
        }
        if (cmd == "silent") {
            args(2, 2);
            if (w[2] != "on" && w[2] != "off") throw UsageError("silent takes on or off");
            for (size_t i : oltsArg(w[1])) olts_[i].silent = w[2] == "on";
            return "ok";
        }
        if (cmd == "product" || cmd == "firmware") {
            args(2, 2);
            uint16_t v = hex16Arg(w[2], cmd.c_str());
            Olt& o = *olts_[oltArg(w[1])].olt;
            if (cmd == "product") o.setProductCode(v);
            else o.setFirmware(v);
            return "ok";
        }
        if (cmd == "nvs") {
            args(2, 2);
            olts_[oltArg(w[1])].olt->setNvs(number(w[2], 0, 1, "NVS setting") == 1);
            return "ok";
        }
        if (cmd == "restart") {
            args(1, 1);
            for (size_t i : oltsArg(w[1])) olts_[i].olt->restart(nowMs);
            return "ok";
        }
        if (cmd == "ready") {
            args(1, 1);
            size_t i = oltArg(w[1]);
            send(i, olts_[i].olt->ready(), atNext, nowMs);
            return "ok";
        }
        if (cmd == "leave") {
            args(2, 3);
            uint8_t code = 23;  // Report Timeout
            if (w.size() == 4) {
                if (w[3] == "gasp") code = 64;  // Standard Dying Gasp
                else if (w[3] != "timeout") throw UsageError("leave takes timeout or gasp");
            }
            size_t i = oltArg(w[1]);
            send(i, olts_[i].olt->leave(macArg(w[2]), code), atNext, nowMs);
            return "ok";
        }
        if (cmd == "return") {
            args(2, 2);
            olts_[oltArg(w[1])].olt->comeBack(macArg(w[2]), nowMs);
            return "ok";
        }
        if (cmd == "move") {
            args(3, 3);
            size_t i = oltArg(w[1]);
            int port = static_cast<int>(number(w[3], 0, kPonPorts - 1, "PON port"));
            send(i, olts_[i].olt->move(macArg(w[2]), port), atNext, nowMs);
            return "ok";
        }
        if (cmd == "discover") {
            args(2, 2);
            size_t i = oltArg(w[1]);
            send(i, olts_[i].olt->discovery(macArg(w[2])), atNext, nowMs);
            return "ok";
        }
        if (cmd == "alarm") {
            args(4, 6);
            size_t i = oltArg(w[1]);
            uint8_t tagValue = static_cast<uint8_t>(number(w[2], 0, 255, "entity tag"));
            Mac mac = olts_[i].olt->mac();
            uint16_t port = 0;
            if (tagValue == tag::OltPort) port = static_cast<uint16_t>(number(w[3], 0, 65535, "port"));
            else mac = macArg(w[3]);
            uint8_t code = static_cast<uint8_t>(number(w[4], 0, 255, "alarm code"));
            uint8_t state = w.size() > 5 ? static_cast<uint8_t>(number(w[5], 0, 255, "state")) : 1;
            uint8_t count = w.size() > 6 ? static_cast<uint8_t>(number(w[6], 0, 255, "count")) : 1;
            send(i, olts_[i].olt->alarm(tagValue, mac, port, code, state, count), atNext, nowMs);
            return "ok";
        }
        if (cmd == "event") {
            args(2, 3);
            size_t i = oltArg(w[1]);
            uint16_t id = hex16Arg(w[2], "message ID");
            // The 10-byte event header belongs to IDs above 0x8000 only: the card reads a reply
            // header (result code) for lower IDs and a bare 6-byte one for OLT Ready, so any other
            // ID would reach it with its data shifted.
            if (id <= msg::OltReady) throw UsageError("event message ID must be above 8000 (ready or raw for others)");
            Bytes data = w.size() == 4 ? hexArg(w[3], "data") : Bytes{};
            send(i, olts_[i].olt->event(id, data), atNext, nowMs);
            return "ok";
        }
        if (cmd == "raw") {
            args(2, 2);
            Bytes b = hexArg(w[2], "datagram");
            if (b.empty() || b.size() > 65507) throw UsageError("datagram must be 1..65507 bytes");
            send(oltArg(w[1]), std::move(b), atNext, nowMs);
            return "ok";
        }
        if (cmd == "requests") {
            args(1, 1);
            return "ok " + std::to_string(olts_[oltArg(w[1])].requests);
        }
        if (cmd == "record") {
            args(1, 2);
            Slot& s = olts_[oltArg(w[1])];
            if (w.size() == 3) {
                if (w[2] != "clear") throw UsageError("record takes only 'clear'");
                s.record.clear();
                return "ok";
            }
            std::string out = "ok " + std::to_string(s.record.size());
            for (const auto& d : s.record) out += " " + toHex(d);
            return out;
        }
        if (cmd == "rules") {
            args(2, 2);
            const auto& rules =
                olts_[oltArg(w[1])].olt->portRules(static_cast<int>(number(w[2], 0, kMaxRulePort, "port")));
            std::string out = "ok " + std::to_string(rules.size());
            for (const auto& r : rules) out += " " + toHex(r);
            return out;
        }
        if (cmd == "state") {
            args(1, 1);
            return "ok " + olts_[oltArg(w[1])].olt->stateText();
        }
        throw UsageError("unknown command '" + cmd + "' (try help)");
    } catch (const std::invalid_argument& e) {
        return std::string("error ") + e.what();
    }
}

}  // namespace oltsim
