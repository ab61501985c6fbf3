// bench_quenrik: the whole chain at full size and with the real periods: the simulator with
// 8 cards x 2 PON ports x 64 ONUs (1024 ONUs), the real Halvorn and the real Quenrik, in a
// temporary root. Prints, in one run:
//   - time from Quenrik's start to all 8 cards provisioned (CTC mode on, enabled);
//   - time from Quenrik's start to all 1024 ONUs online in "get /onutable";
//   - time from an ONU leaving at the simulator (Report Timeout) to its row showing offline
//     in "get /onutable/N", median and maximum of 20;
//   - Quenrik's CPU use while it polls the 8 cards at rest, alone and with its ping
//     children (the shells, ping, grep and wc it starts), in % of one core;
//   - Quenrik's resident memory (VmRSS, and the peak VmHWM).
// Goals: all ONUs online within 60 s of start, departure visible within 5 s, idle CPU under
// 2% of one core, resident memory under 16 MiB. Binds the system's fixed ports and
// 127.0.1.1/127.0.2.x: run it alone (e.g. inside scripts/netns-run.sh).
//   bench_quenrik [idle-seconds]      (default 64: two optics passes of every card)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "harness/Chain.h"

using namespace quenrik_test;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// utime + stime and cutime + cstime of a process, in clock ticks.
struct Cpu {
    long long own = 0;
    long long children = 0;
};

Cpu cpuOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::vector<std::string> f;
    for (std::string w; rest >> w;) f.push_back(w);
    // rest starts at field 3 (state): utime is field 14, stime 15, cutime 16, cstime 17.
    Cpu c;
    c.own = std::stoll(f[11]) + std::stoll(f[12]);
    c.children = std::stoll(f[13]) + std::stoll(f[14]);
    return c;
}

std::string statusField(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
    return "?";
}

size_t onlineRows(const std::string& table) {
    size_t n = 0;
    for (size_t at = 0; (at = table.find("\"qvCfgONULinkStatus\":\"1\"", at)) != std::string::npos; ++at) ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 64;
    constexpr int kCards = 8;
    constexpr size_t kOnus = 8 * 2 * 64;
    ChainOptions o;
    o.olts = kCards;
    o.onus = 64;
    o.scale = 0;  // the real periods
    std::printf("starting the chain: %d cards, %zu ONUs, real periods\n", kCards, kOnus);
    std::fflush(stdout);
    const auto start = Clock::now();  // Quenrik starts last, within milliseconds of this
    Chain chain(o);
    Simulator& sim = chain.sim();

    double provisioned = -1;
    double online = -1;
    const auto deadline = start + std::chrono::seconds(180);
    while (Clock::now() < deadline && online < 0) {
        if (provisioned < 0) {
            bool all = true;
            for (int olt = 1; olt <= kCards && all; ++olt)
                all = sim.status(olt, "ctc") == "1" && sim.status(olt, "enabled") == "1";
            if (all) provisioned = seconds(Clock::now() - start);
        }
        if (onlineRows(chain.get("/onutable")) >= kOnus) online = seconds(Clock::now() - start);
        std::this_thread::sleep_for(100ms);
    }
    std::printf("all %d cards provisioned after   %8.2f s\n", kCards, provisioned);
    std::printf("all %zu ONUs online in the API after %6.2f s   (goal: within 60 s)\n", kOnus, online);
    if (online < 0) {
        std::printf("the chain did not come up; Quenrik's output:\n%s\n", chain.quenrik().log().c_str());
        return 1;
    }

    // Departures: 20 ONUs spread over the cards, each leaving once and coming back.
    std::vector<double> departures;
    for (int i = 0; i < 20; ++i) {
        const int olt = 1 + i % kCards;
        char mac[24];
        std::snprintf(mac, sizeof mac, "02:4f:4e:%02x:%02x:%02x", olt, i % 2, 10 + i);
        const std::string id = chain.onuRowId(mac);
        if (id.empty()) continue;
        const std::string row = "/onutable/" + id;
        const auto left = Clock::now();
        sim.ok(std::string("leave ") + std::to_string(olt) + " " + mac);
        const bool seen = waitUntil([&] { return field(chain.get(row), "qvCfgONULinkStatus") == "2"; }, 30s, 10ms);
        if (seen) departures.push_back(seconds(Clock::now() - left));
        sim.ok(std::string("return ") + std::to_string(olt) + " " + mac);
        waitUntil([&] { return field(chain.get(row), "qvCfgONULinkStatus") == "1"; }, 30s, 50ms);
    }
    std::sort(departures.begin(), departures.end());
    if (!departures.empty())
        std::printf("departure to row offline: median %.3f s, max %.3f s over %zu   (goal: within 5 s)\n",
                    departures[departures.size() / 2], departures.back(), departures.size());

    // At rest: every card provisioned, every ONU online, nothing happening but the polling.
    std::this_thread::sleep_for(5s);
    const pid_t pid = chain.quenrik().pid();
    const long ticks = ::sysconf(_SC_CLK_TCK);
    const Cpu before = cpuOf(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Cpu after = cpuOf(pid);
    const double wall = seconds(Clock::now() - t0);
    const double own = 100.0 * static_cast<double>(after.own - before.own) / static_cast<double>(ticks) / wall;
    const double children =
        100.0 * static_cast<double>(after.children - before.children) / static_cast<double>(ticks) / wall;
    std::printf(
        "CPU at rest over %.0f s: %.2f %% of one core alone, %.2f %% with its ping children   (goal: under 2 %%)\n",
        wall, own, own + children);
    std::printf("resident memory: VmRSS%s, peak VmHWM%s   (goal: under 16 MiB)\n", statusField(pid, "VmRSS").c_str(),
                statusField(pid, "VmHWM").c_str());
    const size_t failures = chain.quenrik().logCount("\n");
    std::printf("lines Quenrik printed in the whole run: %zu\n", failures);
    return 0;
}
