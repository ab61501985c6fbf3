#include "Options.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace oltsim {

const char* const kUsage =
    "usage: olt-sim [options]\n"
    "  --olts N             number of simulated OLTs, 1..8 (default 8)\n"
    "  --olt-ip IP[,IP...]  addresses of OLT 1..N (default 127.0.2.1 .. 127.0.2.N)\n"
    "  --olt-port PORT      UDP port of every OLT (default 14113)\n"
    "  --card IP[:PORT]     the management card (default 127.0.1.1:14113)\n"
    "  --onus N|MIN-MAX     ONUs per PON port, 0..64 (default 4); MIN-MAX: each port draws\n"
    "                       its own count in that range from the seed\n"
    "  --churn SECONDS      about every SECONDS an ONU leaves (and returns 10 to 60 s later)\n"
    "                       or raises an alarm (cleared later); 0: none (default)\n"
    "  --seed N             seed of the optical drift and of the packet loss (default 1)\n"
    "  --control PATH       also take control commands on a Unix stream socket at PATH\n"
    "  --no-stdin           do not read commands from standard input\n"
    "  --record FILE        append every datagram received from the card to FILE\n"
    "  --part-entries N     entries per part of a multi-part list reply, 1..200 (default 64)\n"
    "  --nvs 0|1            NVS setting at power-up (default 0)\n"
    "  --firmware HHHH      firmware version (default 0205)\n"
    "  --restart-ms MS      restart time before OLT Ready (default 300)\n"
    "  --register-ms MS     time from enable / ONU return to Link Discovery (default 100)\n"
    "  --verbose            print requests and sent messages on standard error\n"
    "  --help\n";

namespace {

uint64_t numberArg(const std::string& opt, const std::string& text, uint64_t lo, uint64_t hi) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument(opt + " needs a number, got '" + text + "'");
    uint64_t v = std::stoull(text);
    if (v < lo || v > hi)
        throw std::invalid_argument(opt + " must be " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

std::string loopbackArg(const std::string& opt, const std::string& text) {
    if (!isLoopbackIPv4(text))
        throw std::invalid_argument(opt + ": '" + text + "' is not a loopback IPv4 address (127.0.0.0/8)");
    return text;
}

}  // namespace

bool isLoopbackIPv4(const std::string& text) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    bool ipsGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string opt = args[i];
        std::string value;
        bool hasValue = false;
        size_t eq = opt.find('=');
        if (opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt = opt.substr(0, eq);
            hasValue = true;
        }
        auto take = [&]() -> std::string {
            if (hasValue) return value;
            if (i + 1 >= args.size()) throw std::invalid_argument(opt + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (hasValue) throw std::invalid_argument(opt + " takes no value");
        };
        if (opt == "--help" || opt == "-h") {
            flag();
            o.help = true;
        } else if (opt == "--olts") {
            o.olts = static_cast<int>(numberArg(opt, take(), 1, 8));
        } else if (opt == "--olt-ip") {
            std::string list = take();
            o.oltIps.clear();
            size_t start = 0;
            while (true) {
                size_t comma = list.find(',', start);
                o.oltIps.push_back(loopbackArg(opt, list.substr(start, comma - start)));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            ipsGiven = true;
        } else if (opt == "--olt-port") {
            o.oltPort = static_cast<uint16_t>(numberArg(opt, take(), 1, 65535));
        } else if (opt == "--card") {
            std::string v = take();
            size_t colon = v.find(':');
            o.cardIp = loopbackArg(opt, v.substr(0, colon));
            if (colon != std::string::npos)
                o.cardPort = static_cast<uint16_t>(numberArg(opt, v.substr(colon + 1), 1, 65535));
        } else if (opt == "--onus") {
            std::string v = take();
            size_t dash = v.find('-');
            o.onus = static_cast<int>(numberArg(opt, v.substr(0, dash), 0, kMaxOnusPerPort));
            o.onusMax = -1;
            if (dash != std::string::npos) {
                o.onusMax = static_cast<int>(numberArg(opt, v.substr(dash + 1), 0, kMaxOnusPerPort));
                if (o.onusMax < o.onus) throw std::invalid_argument("--onus MIN-MAX needs MIN <= MAX");
            }
        } else if (opt == "--churn") {
            o.churnMs = static_cast<int64_t>(numberArg(opt, take(), 0, 86400)) * 1000;
        } else if (opt == "--seed") {
            o.seed = numberArg(opt, take(), 0, UINT64_MAX);
        } else if (opt == "--control") {
            o.control = take();
            if (o.control.empty()) throw std::invalid_argument("--control needs a path");
        } else if (opt == "--no-stdin") {
            flag();
            o.noStdin = true;
        } else if (opt == "--record") {
            o.recordFile = take();
            if (o.recordFile.empty()) throw std::invalid_argument("--record needs a path");
        } else if (opt == "--part-entries") {
            o.partEntries = numberArg(opt, take(), 1, 200);
        } else if (opt == "--nvs") {
            o.nvs = numberArg(opt, take(), 0, 1) == 1;
        } else if (opt == "--firmware") {
            std::string v = take();
            if (v.size() != 4 || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                throw std::invalid_argument("--firmware needs 4 hex digits");
            o.firmware = static_cast<uint16_t>(std::stoul(v, nullptr, 16));
        } else if (opt == "--restart-ms") {
            o.restartMs = static_cast<int64_t>(numberArg(opt, take(), 0, 600000));
        } else if (opt == "--register-ms") {
            o.registerMs = static_cast<int64_t>(numberArg(opt, take(), 0, 600000));
        } else if (opt == "--verbose") {
            flag();
            o.verbose = true;
        } else {
            throw std::invalid_argument("unknown option '" + args[i] + "'");
        }
    }
    if (ipsGiven) {
        if (o.oltIps.size() != static_cast<size_t>(o.olts))
            throw std::invalid_argument("--olt-ip gives " + std::to_string(o.oltIps.size()) + " addresses for " +
                                        std::to_string(o.olts) + " OLTs");
    } else {
        for (int n = 1; n <= o.olts; ++n) o.oltIps.push_back("127.0.2." + std::to_string(n));
    }
    return o;
}

std::vector<OltConfig> oltConfigs(const Options& o) {
    std::vector<OltConfig> out;
    // Counts per port drawn from the seed, so a sandbox looks the same at every start.
    Rng counts(o.seed ^ 0x6f6e7573ull);
    for (int n = 1; n <= o.olts; ++n) {
        OltConfig c;
        c.number = n;
        c.mac = defaultOltMac(n);
        c.onusPerPort = o.onus;
        if (o.onusMax > o.onus)
            for (int& count : c.onusOnPort) count = static_cast<int>(counts.between(o.onus, o.onusMax));
        c.nvsAtPowerUp = o.nvs;
        c.firmware = o.firmware;
        c.restartMs = o.restartMs;
        c.registerMs = o.registerMs;
        c.seed = o.seed;
        c.partEntries = o.partEntries;
        out.push_back(c);
    }
    return out;
}

}  // namespace oltsim
