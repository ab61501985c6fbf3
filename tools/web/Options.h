#pragma once
// Command line of ponmc-web. parse() never exits: it returns the options or an error text
// (and help set for --help), so it is testable.

#include <string>
#include <vector>

struct Options {
    std::string listen = "127.0.0.1";
    int port = -1;                 // -1: Halvorn's "webPort" setting, else kFallbackPort; 0: any free port
    std::string staticDir;         // "" : the build's default
    int idleMinutes = 30;          // session idle time-out
    int sampleSeconds = 30;        // optical history period
    size_t uploadLimitKiB = 4096;  // restore archive limit
    bool help = false;
    std::string error;

    // Halvorn's own default of "webPort", used when Halvorn has not answered within
    // kStartWaitSeconds of the start (at boot the web server may start before it).
    static constexpr int kFallbackPort = 80;
    static constexpr int kStartWaitSeconds = 60;
    static Options parse(const std::vector<std::string>& args);
    static const char* usage();
};
