#pragma once
// Command line of olt-sim. parseOptions is pure and throws std::invalid_argument with the
// reason for any bad option, including an OLT or card address outside 127.0.0.0/8:
// the simulator never sends to anything but the loopback network.
#include <cstdint>
#include <string>
#include <vector>

#include "Olt.h"

namespace oltsim {

struct Options {
    int olts = 8;
    std::vector<std::string> oltIps;  // filled with the defaults when not given
    uint16_t oltPort = 14113;
    std::string cardIp = "127.0.1.1";
    uint16_t cardPort = 14113;
    int onus = 4;         // ONUs per PON port; with onusMax above it, each port draws its own
    int onusMax = -1;     // count from onus..onusMax (seeded), so ports differ as on a real chassis
    int64_t churnMs = 0;  // mean time between ONU departures, returns and alarms; 0: none
    uint64_t seed = 1;
    std::string control;  // Unix socket path, empty: none
    bool noStdin = false;
    std::string recordFile;
    size_t partEntries = 64;
    bool nvs = false;
    uint16_t firmware = 0x0205;
    int64_t restartMs = 300;
    int64_t registerMs = 100;
    bool verbose = false;
    bool help = false;
};

extern const char* const kUsage;

Options parseOptions(const std::vector<std::string>& args);
// Dotted-quad IPv4 text whose first byte is 127.
bool isLoopbackIPv4(const std::string& text);
std::vector<OltConfig> oltConfigs(const Options& options);

}  // namespace oltsim
