#pragma once
// Black-box harness for Quenrik: the real daemon as a process in a temporary PONMC_ROOT, the
// line-card simulator as a process answering on 127.0.2.n, and on the other side either the
// real Halvorn (Chain, through tests/halvorn/harness/Harness.h) or a stand-in for it
// (FakeHalvorn: a notification receiver that records, a task sender). The stand-in for ping
// in <root>/bin asks the simulator through <root>/olt-sim.ctl, so a simulated card that is
// absent, restarting or silent loses its pings.
//
// Quenrik runs with QUENRIK_TIME_SCALE (0.1 unless a test says otherwise; 0 runs the real
// periods): a polling pass of 100 ms, a configuration wait of 500 ms, a ping cycle of 1 s,
// 500 ms per request try.
// Every process binds the system's fixed ports: tests using this share the CTest
// RESOURCE_LOCK ponmc_fixed_ports. Waits poll with a deadline, never a fixed sleep.
// Set-up failures throw std::runtime_error; a sanitizer report in Quenrik's output fails the
// test. Methods are for the test's main thread unless said otherwise.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>

#include "JsonFields.h"
#include "harness/Harness.h"

namespace quenrik_test {

using halvorn_test::field;
using halvorn_test::readWholeFile;
using halvorn_test::waitUntil;
using namespace std::chrono_literals;

using testkit::bindLoopbackUdp;

// The environment of a daemon in root: ours without Quenrik's seams, with PONMC_ROOT and the
// stand-ins first in PATH.
inline std::vector<std::string> daemonEnvironment(const std::string& root, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> env = testkit::inheritedEnvironment({"PONMC_ROOT=", "PATH=", "QUENRIK_"});
    for (auto& v : testkit::rootEnvironment(root)) env.push_back(v);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// One request as the simulator recorded it.
struct Request {
    uint16_t id = 0;
    uint16_t ctag = 0;
    std::string payload;  // lower-case hex
    std::string text() const {
        char head[16];
        std::snprintf(head, sizeof head, "%04x", id);
        return std::string(head) + (payload.empty() ? "" : " " + payload);
    }
};

inline std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The simulator as a child process, driven through its control socket <root>/olt-sim.ctl
// (the same socket the ping stand-in asks).
class Simulator {
public:
    Simulator(const std::string& root, const std::vector<std::string>& options) : root_(root) {
        std::vector<std::string> args = {OLT_SIM_BINARY, "--no-stdin", "--control", root + "/olt-sim.ctl"};
        args.insert(args.end(), options.begin(), options.end());
        process_.start(args, daemonEnvironment(root));
        const bool ready = waitUntil([&] { return process_.logContains("ok ready"); }, 10s, 10ms);
        if (!ready) throw std::runtime_error("olt-sim did not get ready: " + process_.log());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (root + "/olt-sim.ctl").c_str());
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot reach the olt-sim control socket");
    }
    ~Simulator() {
        if (fd_ >= 0) ::close(fd_);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // One command, its one reply line (without the newline). Thread-safe.
    std::string cmd(const std::string& line) {
        std::lock_guard<std::mutex> l(mutex_);
        const std::string out = line + "\n";
        if (::send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
            throw std::runtime_error("olt-sim control write failed");
        std::string reply;
        for (;;) {
            const size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                reply = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return reply;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) throw std::runtime_error("olt-sim does not answer '" + line + "'");
            char chunk[65536];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0) throw std::runtime_error("olt-sim control socket closed");
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // A command that must succeed.
    void ok(const std::string& line) {
        const std::string reply = cmd(line);
        if (reply.rfind("ok", 0) != 0) throw std::runtime_error("olt-sim refused '" + line + "': " + reply);
    }

    // The value of key=value in a status or state reply of one OLT ("" when absent).
    std::string value(const std::string& command, const std::string& key) {
        const std::string reply = " " + cmd(command) + " ";
        const std::string mark = " " + key + "=";
        const size_t at = reply.find(mark);
        if (at == std::string::npos) return "";
        const size_t from = at + mark.size();
        return reply.substr(from, reply.find(' ', from) - from);
    }
    std::string status(int olt, const std::string& key) { return value("status " + std::to_string(olt), key); }
    std::string state(int olt, const std::string& key) { return value("state " + std::to_string(olt), key); }

    // Every request the OLT received, oldest first. With collapseRetries, a request sent again
    // with the same ID and Ctag (a retry) counts once.
    std::vector<Request> record(int olt, bool collapseRetries = true) {
        std::istringstream in(cmd("record " + std::to_string(olt)));
        std::string word;
        in >> word >> word;  // "ok", count
        std::vector<Request> out;
        while (in >> word) {
            if (word.size() < 12) continue;
            Request r;
            r.id = static_cast<uint16_t>(std::stoul(word.substr(0, 4), nullptr, 16));
            r.ctag = static_cast<uint16_t>(std::stoul(word.substr(4, 4), nullptr, 16));
            r.payload = lower(word.substr(12));
            if (collapseRetries && !out.empty() && out.back().id == r.id && out.back().ctag == r.ctag) continue;
            out.push_back(r);
        }
        return out;
    }
    size_t countRequests(int olt, uint16_t id) {
        size_t n = 0;
        for (const auto& r : record(olt)) n += r.id == id;
        return n;
    }
    // "ok mac/port/state ..." of one OLT as a map MAC -> "port/state".
    std::map<std::string, std::string> onus(int olt) {
        std::istringstream in(cmd("onus " + std::to_string(olt)));
        std::string word;
        in >> word;
        std::map<std::string, std::string> out;
        while (in >> word) {
            const size_t slash = word.find('/');
            if (slash != std::string::npos) out[word.substr(0, slash)] = word.substr(slash + 1);
        }
        return out;
    }

    void kill() { process_.kill(); }

private:
    std::string root_;
    // The simulator stands in for the cards; its own output is not checked for sanitizer reports.
    testkit::DaemonProcess process_{"olt-sim", root_ + "/olt-sim.log", false};
    int fd_ = -1;
    std::mutex mutex_;
    std::string buffer_;
};

// The Quenrik program as a child process in root; its output goes to <root>/quenrik.log.
class QuenrikProcess {
public:
    QuenrikProcess(std::string root, double scale) : root_(std::move(root)), scale_(scale) {}
    QuenrikProcess(const QuenrikProcess&) = delete;
    QuenrikProcess& operator=(const QuenrikProcess&) = delete;

    void start() {
        std::vector<std::string> extra;
        if (scale_ > 0) extra.push_back("QUENRIK_TIME_SCALE=" + std::to_string(scale_));
        process_.start({QUENRIK_BINARY}, daemonEnvironment(root_, extra));
        if (!process_.waitReady([&] { return ::access((root_ + "/tmp/halquen.ipc").c_str(), F_OK) == 0; }, 20s))
            throw std::runtime_error("Quenrik did not start; log:\n" + log());
    }
    void kill() { process_.kill(); }
    bool running() { return process_.running(); }
    pid_t pid() const { return process_.pid(); }
    int exitStatus() const { return process_.waitStatus(); }
    std::string log() const { return process_.log(); }
    bool logContains(const std::string& text) const { return process_.logContains(text); }
    size_t logCount(const std::string& text) const { return process_.logCount(text); }

private:
    std::string root_;
    double scale_;
    testkit::DaemonProcess process_{"Quenrik", root_ + "/quenrik.log"};
};

// Files that make Halvorn hand Quenrik loopback addresses: the card's own address 127.0.1.1
// and, for each configured slot s, an OLT row with 127.0.2.s. A slot without a row gets no
// "/olt/config" at all. onu2onu holds the slots whose ONU-to-ONU switch is on ("2").
inline void seedHalvornFiles(halvorn_test::Harness& h, const std::vector<int>& slots, const std::set<int>& onu2onu) {
    h.writeFile("/mnt/db/json/systeminfo.json", R"({"oltIpAddr":"127.0.1.1"})");
    std::string rows;
    for (int s : slots) {
        const std::string n = std::to_string(s);
        rows += (rows.empty() ? "" : ",") + std::string(R"({"qvCfgOLTSlotIndex":")") + n +
                R"(","qvCfgOLTIpAddress":"127.0.2.)" + n + R"(","qvCfgOLTOnu2Onu":")" + (onu2onu.count(s) ? "2" : "1") +
                "\"}";
    }
    h.writeFile("/mnt/db/json/olttable.json", "[" + rows + "]");
}

// The whole chain: real Halvorn, the simulator and real Quenrik, in that start order.
struct ChainOptions {
    int olts = 4;  // simulated cards on 127.0.2.1..olts
    int onus = 2;  // ONUs per PON port
    std::vector<std::string> simOptions;
    std::vector<int> slots;  // slots with an OLT row; empty: 1..olts
    std::set<int> onu2onu;   // slots with ONU-to-ONU on
    double scale = 0.1;
    std::function<void(class Chain&)> beforeQuenrik;  // e.g. change a card before it is seen
};

class Chain {
public:
    explicit Chain(ChainOptions o) : options_(std::move(o)), halvorn_(harnessOptions()) {
        std::vector<std::string> simArgs = {"--olts", std::to_string(options_.olts), "--onus",
                                            std::to_string(options_.onus)};
        simArgs.insert(simArgs.end(), options_.simOptions.begin(), options_.simOptions.end());
        sim_ = std::make_unique<Simulator>(halvorn_.root(), simArgs);
        if (options_.beforeQuenrik) options_.beforeQuenrik(*this);
        halvorn_.start();
        quenrik_ = std::make_unique<QuenrikProcess>(halvorn_.root(), options_.scale);
        quenrik_->start();
    }
    ~Chain() {
        quenrik_.reset();
        sim_.reset();
    }

    halvorn_test::Harness& halvorn() { return halvorn_; }
    Simulator& sim() { return *sim_; }
    QuenrikProcess& quenrik() { return *quenrik_; }

    // The data of an API read; "" when the read fails.
    std::string get(const std::string& uri) {
        try {
            auto r = halvorn_.get(uri);
            return r.err.empty() ? r.data : "";
        } catch (const std::exception&) {
            return "";
        }
    }
    // A change through the API as an operator makes it; the error text ("" on success).
    std::string set(const std::string& uri, const std::string& data) { return halvorn_.set(uri, data).err; }

    // A table as an array of its rows read one by one: current at once, where the table's own
    // ready text is rebuilt by Halvorn's database cycle (first after 5 s, then every 3 s).
    // Row ids are read upwards until two in a row are missing.
    std::string tableNow(const std::string& uri) {
        std::string out;
        for (int id = 1, missing = 0; missing < 2; ++id) {
            const std::string row = get(uri + "/" + std::to_string(id));
            if (row.empty()) {
                ++missing;
                continue;
            }
            missing = 0;
            out += (out.empty() ? "" : ",") + row;
        }
        return "[" + out + "]";
    }
    // One value of the ONU row with that MAC ("<no row>" when there is none).
    std::string onu(const std::string& mac, const std::string& key) {
        return field(tableNow("/onutable"), "qvCfgONUPhysicalID", mac, key);
    }
    std::string moduleOnu(const std::string& mac, const std::string& key) {
        return field(tableNow("/moduleonutable"), "qvOpticModuleOnuPhysicalID", mac, key);
    }
    // The id of the ONU row with that MAC, "" when none.
    std::string onuRowId(const std::string& mac) {
        const std::string id = onu(mac, "id");
        return id == "<no row>" ? "" : id;
    }
    // How many pings of that address the stand-in has answered so far (one line each in
    // <root>/commands.log).
    size_t pings(const std::string& address) {
        size_t n = 0;
        for (const auto& line : halvorn_.commands())
            n += line.rfind("ping ", 0) == 0 && line.size() >= address.size() &&
                 line.compare(line.size() - address.size(), address.size(), address) == 0;
        return n;
    }
    // Whether every ONU the simulator has on the given cards is online in the ONU table.
    bool allOnusOnline(const std::vector<int>& olts) {
        const std::string table = tableNow("/onutable");
        for (int olt : olts)
            for (const auto& [mac, where] : sim_->onus(olt))
                if (field(table, "qvCfgONUPhysicalID", mac, "qvCfgONULinkStatus") != "1") return false;
        return true;
    }

private:
    halvorn_test::Harness::Options harnessOptions() {
        halvorn_test::Harness::Options h;
        h.startTaskPeer = false;  // Quenrik itself serves the task channel
        h.startDaemon = false;    // started once the simulator is up
        std::vector<int> slots = options_.slots;
        if (slots.empty())
            for (int s = 1; s <= options_.olts; ++s) slots.push_back(s);
        const std::set<int> onu2onu = options_.onu2onu;
        h.prepare = [slots, onu2onu](halvorn_test::Harness& harness) { seedHalvornFiles(harness, slots, onu2onu); };
        return h;
    }

    ChainOptions options_;
    halvorn_test::Harness halvorn_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<QuenrikProcess> quenrik_;
};

// Halvorn's side of the two channels, played by the test: a receiver that records every
// notification (port 2000 on /tmp/quenhal.ipc) and a sender of tasks (port 2011 to
// /tmp/halquen.ipc). With answerConfig, every "/olt/get/config" of a slot listed there is
// answered with an "/olt/config" task as Halvorn would (src 127.0.1.1, ip 127.0.2.s).
class FakeHalvorn {
public:
    explicit FakeHalvorn(std::string root) : root_(std::move(root)) {}
    ~FakeHalvorn() { stop(); }

    // Starts (again) the notification receiver and the config answering.
    void start() {
        receiver_ = std::make_unique<halvorn_test::TaskPeer>(root_ + "/tmp/quenhal.ipc", 2000);
        receiver_->start();
        stopAnswering_.store(false);
        answering_ = std::thread([this] { answerLoop(); });
    }
    // Ends the receiver: the port file stays, as after a crash.
    void stop() {
        stopAnswering_.store(true);
        if (answering_.joinable()) answering_.join();
        if (receiver_) {
            std::lock_guard<std::mutex> l(mutex_);
            for (auto& t : receiver_->tasks()) earlier_.push_back(t);
            receiver_.reset();
        }
    }
    // Slots whose configuration requests are answered; onu2onu "2" or "1". Thread-safe.
    void answerConfig(int slot, const std::string& onu2onu = "1") {
        std::lock_guard<std::mutex> l(mutex_);
        config_[slot] = onu2onu;
    }
    void stopAnsweringConfig(int slot) {
        std::lock_guard<std::mutex> l(mutex_);
        config_.erase(slot);
    }

    // Every notification received so far (across restarts of the receiver), in order.
    std::vector<halvorn_test::Task> notifications() {
        std::lock_guard<std::mutex> l(mutex_);
        std::vector<halvorn_test::Task> all = earlier_;
        if (receiver_)
            for (auto& t : receiver_->tasks()) all.push_back(t);
        return all;
    }
    // Notifications with that uri (and, when slot is given, that "slot_id"), in order.
    std::vector<halvorn_test::Task> notifications(const std::string& uri, const std::string& slot = "") {
        std::vector<halvorn_test::Task> out;
        for (auto& t : notifications())
            if (t.uri == uri && (slot.empty() || field(t.data, "slot_id") == slot)) out.push_back(t);
        return out;
    }

    // Sends one task as Halvorn's task sender does. Thread-safe.
    void sendTask(const std::string& uri, const std::string& data) {
        APIData envelope;
        envelope.createRequest("set", uri, data);
        sendRaw(envelope.getJsonProtocol());
    }
    // Sends any text on the task channel. Thread-safe.
    void sendRaw(const std::string& text) {
        std::lock_guard<std::mutex> l(sendMutex_);
        if (!sender_) {
            sender_ = std::make_unique<Ostrel>(2011);
            sender_->setPortFileWaitLimit(10);
            sender_->setPingLimits(3, 5000);
            if (!sender_->createSocket() || !sender_->connect((root_ + "/tmp/halquen.ipc").c_str())) {
                const std::string why = sender_->getErrorMessage();
                sender_.reset();
                throw std::runtime_error("task sender: " + why);
            }
        }
        if (sender_->send(text) < 0) {
            const std::string why = sender_->getErrorMessage();
            sender_.reset();
            throw std::runtime_error("task send failed: " + why);
        }
    }
    void sendConfig(int slot, const std::string& ip, const std::string& onu2onu = "1",
                    const std::string& source = "127.0.1.1") {
        sendTask("/olt/config", R"({"src_ip_address":")" + source + R"(","slot_id":")" + std::to_string(slot) +
                                    R"(","ip_address":")" + ip + R"(","onu2onu":")" + onu2onu + "\"}");
    }

private:
    void answerLoop() {
        size_t seen = 0;
        while (!stopAnswering_.load()) {
            std::vector<halvorn_test::Task> all = receiver_->tasks();
            for (; seen < all.size(); ++seen) {
                if (all[seen].uri != "/olt/get/config") continue;
                const std::string slotText = field(all[seen].data, "slot_id");
                int slot = 0;
                try {
                    slot = std::stoi(slotText);
                } catch (...) {
                    continue;
                }
                std::string onu2onu;
                {
                    std::lock_guard<std::mutex> l(mutex_);
                    auto it = config_.find(slot);
                    if (it == config_.end()) continue;
                    onu2onu = it->second;
                }
                try {
                    sendConfig(slot, "127.0.2." + slotText, onu2onu);
                } catch (const std::exception&) {}
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    std::string root_;
    std::unique_ptr<halvorn_test::TaskPeer> receiver_;
    std::thread answering_;
    std::atomic<bool> stopAnswering_{false};
    std::mutex mutex_;
    std::map<int, std::string> config_;        // guarded by mutex_
    std::vector<halvorn_test::Task> earlier_;  // guarded by mutex_
    std::mutex sendMutex_;
    std::unique_ptr<Ostrel> sender_;  // guarded by sendMutex_
};

// A temporary PONMC_ROOT with the stand-ins, for tests that run without the real Halvorn.
class TempRoot {
public:
    TempRoot() {
        if (!halvorn_test::waitForFixedPortsFree()) throw std::runtime_error("the fixed channel ports stay in use");
    }
    const std::string& path() const { return root_.path(); }

private:
    testkit::TempRoot root_{"quenrik-test-"};
};

}  // namespace quenrik_test
