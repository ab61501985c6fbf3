// bench_wendix: how fast Wendix walks qvCfgONUTable next to Debian's own snmpd, and how
// much memory it needs. For N = 256, 1024 and 2048 ONU rows (Halvorn loads them from its
// table file), in the same run:
//   - Wendix: snmpwalk and snmpbulkwalk of qvCfgONUTable (6 served columns, 6 N varbinds);
//   - snmpd (started here on a loopback port of its own with its own configuration file,
//     never the system service), with N extra UDP sockets open on 127.0.0.1: its udpTable,
//     served by the table iterator like ours, and its udpEndpointTable, served from a
//     sorted container;
// and prints varbinds per second of wall time and the agent's CPU time per varbind, then
// Wendix's resident memory: after the walks, and again as on a chassis whose N ONUs all report
// their optics (qvOpticModuleOnuTable holds N rows too), walked with the cache expiring before
// every walk, so that the peak covers reloads of both tables. Goals: per varbind at least as
// fast as snmpd's udpTable at every N; resident memory under 16 MiB.
// The iterator table stays behind snmpd's container table: it has no index, so for every
// GETNEXT (and every repetition of a GETBULK) net-snmp visits the rows from the first until
// the one after the asked index, about N/2 rows per varbind, where a container finds it by a
// binary search.
// Binds the system's fixed ports: run it inside scripts/netns-run.sh or on an idle machine.
//   bench_wendix [N...]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "WendixHarness.h"

using namespace wendix_test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSnmpdPort = 16171;

// Where row i of the benchmark's ONU table sits: 128 ONUs per PON port, two ports per slot.
struct OnuPlace {
    int slot, pon, onu;
    std::string mac;
};

OnuPlace placeOf(int i) {
    OnuPlace p{1 + i / 256, (i / 128) % 2, 1 + i % 128, ""};
    char mac[32];
    std::snprintf(mac, sizeof(mac), "00:1a:%02x:%02x:%02x:%02x", p.slot & 0xff, p.pon & 0xff, p.onu >> 8, p.onu & 0xff);
    p.mac = mac;
    return p;
}

std::string onuTableFile(int rows) {
    std::string json = "[";
    for (int i = 0; i < rows; ++i) {
        const OnuPlace p = placeOf(i);
        if (i) json += ",";
        json += std::string("{\"qvCfgONUPhysicalID\":\"") + p.mac + "\",\"qvCfgONUName\":\"customer " +
                std::to_string(i) + "\",\"qvCfgONUVlanId\":\"100\",\"qvCfgONUSlotIndex\":\"" + std::to_string(p.slot) +
                "\",\"qvCfgONUPonIndex\":\"" + std::to_string(p.pon) + "\",\"qvCfgONUIndex\":\"" +
                std::to_string(p.onu) + "\",\"qvCfgONUEnabled\":\"1\"}";
    }
    return json + "]";
}

// utime + stime of a process, in seconds.
double cpuSeconds(pid_t pid) {
    const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long statusKiB(pid_t pid, const char* key) {
    const std::string status = readWholeFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find(key);
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(key));
}

// Debian's snmpd on a port of its own, read-only community public, no other configuration.
class Snmpd {
public:
    explicit Snmpd(const std::string& root) : root_(root) {
        writeWholeFile(root_ + "/snmpd/snmpd.conf", "rocommunity public 127.0.0.1\ndontLogTCPWrappersConnects yes\n");
        std::filesystem::create_directories(root_ + "/snmpd/persist");
        const std::string conf = root_ + "/snmpd/snmpd.conf", log = root_ + "/snmpd/snmpd.log";
        std::vector<std::string> args = {"snmpd", "-f", "-C", "-c", conf,
                                         "-Lf",   log,  "-m", "",   "udp:127.0.0.1:" + std::to_string(kSnmpdPort)};
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        env.push_back("SNMP_PERSISTENT_DIR=" + root_ + "/snmpd/persist");
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int rc = ::posix_spawnp(&pid_, "snmpd", &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start snmpd (Debian package snmpd)");
    }
    ~Snmpd() {
        ::kill(pid_, SIGTERM);
        int status;
        ::waitpid(pid_, &status, 0);
    }
    pid_t pid() const { return pid_; }

private:
    std::string root_;
    pid_t pid_ = -1;
};

struct Figures {
    size_t varbinds = 0;
    double seconds = 0;
    double cpu = 0;
};

// Walks oid until at least minSeconds of wall time have passed (CPU time is counted in
// clock ticks), and sums what the walks took.
Figures measureWalk(const Agent& tools, const std::string& tool, int port, pid_t agent, const std::string& oid,
                    double minSeconds) {
    Figures f;
    const double cpu0 = cpuSeconds(agent);
    const auto t0 = Clock::now();
    do {
        ToolResult r = tools.tool(tool, "public", {oid}, port, 30, 0);
        if (r.status != 0) throw std::runtime_error(tool + " " + oid + " failed: " + r.err);
        f.varbinds += parseVarbinds(r.out).size();
        f.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    } while (f.seconds < minSeconds);
    f.cpu = cpuSeconds(agent) - cpu0;
    return f;
}

// The machine is shared: the three walks take turns, kRounds times, and each figure is the
// median of its rounds.
constexpr int kRounds = 5;

Figures median(std::vector<Figures> rounds) {
    auto middle = [&](auto key) {
        std::sort(rounds.begin(), rounds.end(), [&](const Figures& a, const Figures& b) { return key(a) < key(b); });
        return rounds[rounds.size() / 2];
    };
    const Figures byRate = middle([](const Figures& f) { return f.varbinds / f.seconds; });
    const Figures byCpu = middle([](const Figures& f) { return f.cpu / static_cast<double>(f.varbinds); });
    // One figure that carries the median rate and the median CPU per varbind.
    Figures out;
    out.varbinds = byRate.varbinds;
    out.seconds = byRate.seconds;
    out.cpu = byCpu.cpu / static_cast<double>(byCpu.varbinds) * static_cast<double>(out.varbinds);
    return out;
}

void print(int n, const char* agent, const char* table, const char* tool, const Figures& f) {
    std::printf("%5d  %-7s %-18s %-13s %8zu vb  %7.2f s  %9.0f vb/s  %7.1f us CPU/vb\n", n, agent, table, tool,
                f.varbinds, f.seconds, f.varbinds / f.seconds, 1e6 * f.cpu / static_cast<double>(f.varbinds));
}

// The "/onu/new" notification of row i of onuTableFile, with its optics.
std::string onuReport(int i) {
    const OnuPlace place = placeOf(i);
    char text[512];
    std::snprintf(text, sizeof(text),
                  "{\"slot_id\":\"%d\",\"pon_port\":\"%d\",\"mac_address\":\"%s\","
                  "\"online_status\":\"1\",\"is_gigabit\":\"1\",\"alarm_message\":\"\",\"temperature\":\"%.2f\","
                  "\"supply_voltage\":\"3.30\",\"tx_bias_current\":\"%.2f\",\"tx_power_input\":\"%.2f\","
                  "\"tx_power_output\":\"%.2f\"}",
                  place.slot, place.pon, place.mac.c_str(), 40.0 + i % 10, 11.0 + i % 5, -18.0 - (i % 7) * 0.5,
                  2.0 + (i % 3) * 0.1);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {256, 1024, 2048};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    }
    std::printf("Medians of %d rounds; varbinds and wall time of the median round.\n", kRounds);
    std::printf("    N  agent   table              tool          varbinds      wall  varbinds/s   agent CPU\n");
    for (int n : sizes) {
        Harness::Options options;
        options.prepare = [n](Harness& h) { h.writeFile("/mnt/db/json/onutable.json", onuTableFile(n)); };
        Harness h(options);
        if (!waitUntil([&] { return h.get("/onutable").data.size() > static_cast<size_t>(n) * 100; }, 30s)) {
            std::fprintf(stderr, "Halvorn did not load %d rows\n", n);
            return 1;
        }
        Agent wendix(h.root());
        wendix.start();
        Snmpd snmpd(h.root());

        // N sockets more in snmpd's UDP tables.
        std::vector<int> sockets;
        for (int i = 0; i < n; ++i) {
            int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
                std::fprintf(stderr, "cannot open UDP socket %d\n", i);
                return 1;
            }
            sockets.push_back(fd);
        }
        if (!waitUntil([&] { return wendix.answers(kSnmpdPort); }, 30s)) {
            std::fprintf(stderr, "snmpd does not answer on port %d\n", kSnmpdPort);
            return 1;
        }

        const std::string onuTable = enterprise() + ".3.2.6.3.2";
        const std::string udpTable = ".1.3.6.1.2.1.7.5", udpEndpointTable = ".1.3.6.1.2.1.7.7";
        for (const char* tool : {"snmpbulkwalk", "snmpwalk"}) {
            std::vector<Figures> ourRounds, iterRounds, contRounds;
            for (int round = 0; round < kRounds; ++round) {
                ourRounds.push_back(measureWalk(wendix, tool, kAgentPort, wendix.pid(), onuTable, 0.3));
                iterRounds.push_back(measureWalk(wendix, tool, kSnmpdPort, snmpd.pid(), udpTable, 0.3));
                contRounds.push_back(measureWalk(wendix, tool, kSnmpdPort, snmpd.pid(), udpEndpointTable, 0.3));
            }
            const Figures ours = median(ourRounds), iter = median(iterRounds), cont = median(contRounds);
            print(n, "Wendix", "qvCfgONUTable", tool, ours);
            print(n, "snmpd", "udpTable", tool, iter);
            print(n, "snmpd", "udpEndpointTable", tool, cont);
            const double oursVb = ours.cpu / ours.varbinds, iterVb = iter.cpu / iter.varbinds,
                         contVb = cont.cpu / cont.varbinds;
            std::printf("       CPU per varbind: Wendix / udpTable %.2f, Wendix / udpEndpointTable %.2f\n",
                        oursVb / iterVb, oursVb / contVb);
        }
        std::printf("%5d  Wendix resident memory: %ld KiB now, %ld KiB peak (goal: under 16384 KiB)\n", n,
                    statusKiB(wendix.pid(), "VmRSS:"), statusKiB(wendix.pid(), "VmHWM:"));
        std::fflush(stdout);

        // Every ONU reports its optics: N rows in the module ONU table as well. An agent whose
        // cache expires after a second walks both tables, a reload before each walk.
        wendix.stop();
        for (int i = 0; i < n; ++i) h.notify("/onu/new", onuReport(i));
        if (!waitUntil([&] { return h.get("/moduleonutable").data.size() > static_cast<size_t>(n) * 100; }, 60s)) {
            std::fprintf(stderr, "Halvorn did not report %d module rows\n", n);
            return 1;
        }
        Agent reloading(h.root());
        reloading.start({"-f", "-C", "1", "udp:127.0.0.1:" + std::to_string(kAgentPort)});
        const std::string moduleTable = enterprise() + ".3.2.6.14.2";
        size_t moduleVarbinds = 0;
        for (int round = 0; round < 3; ++round) {
            std::this_thread::sleep_for(1200ms);
            measureWalk(reloading, "snmpbulkwalk", kAgentPort, reloading.pid(), onuTable, 0);
            std::this_thread::sleep_for(1200ms);
            moduleVarbinds =
                measureWalk(reloading, "snmpbulkwalk", kAgentPort, reloading.pid(), moduleTable, 0).varbinds;
        }
        std::printf("%5d  with %zu module ONU varbinds, reloads before every walk: %ld KiB now, %ld KiB peak\n\n", n,
                    moduleVarbinds, statusKiB(reloading.pid(), "VmRSS:"), statusKiB(reloading.pid(), "VmHWM:"));
        std::fflush(stdout);
        for (int fd : sockets) ::close(fd);
    }
    return 0;
}
