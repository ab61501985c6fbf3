// ponmc-cli: one API request to Halvorn from the command line.
//   ponmc-cli [--snmp] [--timeout SECONDS] get URI
//   ponmc-cli [--snmp] [--timeout SECONDS] set URI JSON
// Prints the response's data on standard output. Exit status: 0 success, 1 the response
// carries an error (printed on standard error), 2 Halvorn not reachable or its answer
// unreadable within the time-out, 64 bad command line (including data that is not JSON).
// --timeout (default 60 s) bounds the whole exchange, the wait for the channel included.
// Paths follow PONMC_ROOT like the daemons'.

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ApiClient.h"
#include "Exception.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: ponmc-cli [--snmp] [--timeout SECONDS] get URI\n"
                 "       ponmc-cli [--snmp] [--timeout SECONDS] set URI JSON\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    bool snmp = false;
    int timeoutSeconds = 60;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strcmp(argv[i], "--snmp") == 0) {
            snmp = true;
        } else if (std::strcmp(argv[i], "--web") == 0) {
            snmp = false;
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            char* end = nullptr;
            long v = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || v < 1 || v > 3600) return usage();
            timeoutSeconds = static_cast<int>(v);
        } else {
            return usage();
        }
    }
    const int left = argc - i;
    if (left < 2) return usage();
    const std::string action = argv[i];
    const std::string uri = argv[i + 1];
    std::string data;
    if (action == "get") {
        if (left != 2) return usage();
    } else if (action == "set") {
        if (left != 3) return usage();
        data = argv[i + 2];
        // Checked here so a typo is told apart from a daemon that cannot be reached.
        cJSON* parsed = cJSON_Parse(data.c_str());
        if (!parsed) {
            std::fprintf(stderr, "Invalid JSON data: %s\n", data.c_str());
            return 64;
        }
        cJSON_Delete(parsed);
    } else {
        return usage();
    }

    try {
        ApiClient client = snmp ? ApiClient::forSnmp() : ApiClient::forWeb();
        client.setResponseTimeoutMs(timeoutSeconds * 1000);
        client.setExchangeTimeoutMs(timeoutSeconds * 1000);
        ApiClient::Response response = client.request(action, uri, data);
        if (!response.err.empty()) {
            std::fprintf(stderr, "%s\n", response.err.c_str());
            return 1;
        }
        if (!response.data.empty()) std::printf("%s\n", response.data.c_str());
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.getMessage().c_str());
        return 2;
    }
}
