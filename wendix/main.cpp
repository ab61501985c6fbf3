// Wendix: the SNMP agent. A net-snmp master agent that serves the five MIB tables, whose
// rows it fetches from Halvorn over "/tmp/snmp.ipc", on the listening addresses given on the
// command line (or net-snmp's configuration). One thread; SIGTERM or SIGINT ends it.
//   Wendix [-D<tokens>] [-f] [-L] [-H] [-C SECONDS] [LISTENING ADDRESSES]
// -C SECONDS (1 to 86400) gives every table a cache time-out of that many seconds instead of
// 120 s and more, so a change made elsewhere shows through the agent within seconds (the
// sandbox and the tests use it; the card's start script does not). The usage text below
// leaves it out: it is the agent's text as its users know it.

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "HalvornAPI.h"
#include "MibCode.h"
#include "MibTable.h"

// 1 while the agent loop runs; stop_server clears it.
volatile sig_atomic_t keep_running = 0;

// Communities and access views of the configuration file ("rocommunity", "rwcommunity",
// "com2sec", "view", ...): the agent library leaves them to its embedder.
extern "C" void init_vacm_conf(void);

namespace {

const char* const kApp = "Wendix";

void stop_server(int) { keep_running = 0; }

void usage() {
    std::puts(
        "usage: Wendix[-D<tokens>] [-f] [-L] [-H] [LISTENING ADDRESSES]\n"
        "\t-f      Do not fork() from the calling shell.\n"
        "\t-DTOKEN[,TOKEN,...]\n"
        "\t\tTurn on debugging output for the given TOKEN(s).\n"
        "\t\tWithout any tokens specified, it defaults to printing\n"
        "\t\tall the tokens (which is equivalent to the keyword 'ALL').\n"
        "\t\tYou might want to try ALL for extremely verbose output.\n"
        "\t\tNote: You can't put a space between the -D and the TOKENs.\n"
        "\t-H\tDisplay a list of configuration file directives\n"
        "\t\tunderstood by the agent and then exit.\n"
        "\t-L\tDo not open a log file; print all messages to stderr.");
}

void initAgentLibrary() {
    init_agent(kApp);
    init_vacm_conf();
    init_snmp(kApp);
}

}  // namespace

int main(int argc, char** argv) {
    // Lines on standard output (failures) reach a redirected log at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // A whole table's text (hundreds of KiB) is mapped on its own and handed back when freed:
    // glibc would otherwise raise this threshold after the first such free and keep the next
    // ones on the heap, where only a trim returns them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    int dontFork = 0;
    int useCallLog = 0;
    opterr = 0;
    int ch;
    while ((ch = getopt(argc, argv, "C:D:fHL")) != -1) {
        switch (ch) {
            case 'C': {
                char* end = nullptr;
                const long seconds = std::strtol(optarg, &end, 10);
                if (end == optarg || *end != '\0' || seconds < 1 || seconds > 86400) {
                    std::fprintf(stderr, "invalid cache time-out %s\n", optarg);
                    usage();
                    std::exit(0);
                }
                setFixedCacheTimeout(static_cast<int>(seconds));
                break;
            }
            case 'D':
                debug_register_tokens(optarg);
                snmp_set_do_debugging(1);
                break;
            case 'f': dontFork = 1; break;
            case 'H':
                netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_ROOT_ACCESS, 1);
                initAgentLibrary();
                std::fprintf(stderr, "Configuration directives understood:\n");
                read_config_print_usage("  ");
                std::exit(0);
            case 'L': useCallLog = 0; break;
            default:
                std::fprintf(stderr, "unknown option %c\n", optopt);
                usage();
                std::exit(0);
        }
    }
    for (int i = optind; i < argc; ++i) {
        const char* ports = netsnmp_ds_get_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS);
        if (!ports) {
            netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS, argv[i]);
            continue;
        }
        const size_t size = std::strlen(ports) + std::strlen(argv[i]) + 2;
        char* joined = static_cast<char*>(std::malloc(size));
        if (!joined) {
            std::fprintf(stderr, "malloc failure processing argv[%d]\n", i);
            std::exit(1);
        }
        std::snprintf(joined, size, "%s,%s", ports, argv[i]);
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS, joined);
        std::free(joined);
    }

    snmp_disable_log();
    if (useCallLog) snmp_enable_calllog();
    else snmp_enable_stderrlog();

    if (!dontFork && netsnmp_daemonize(1, 1) != 0) std::exit(-1);

    initAgentLibrary();
    // The client of Halvorn first, then the five tables, in their order, each taking its
    // pointer to the client at its registration.
    HalvornAPI::getInstance();
    initMibCode();
    // An agent that cannot listen serves nobody: end with a failure status so whoever
    // started it sees that, instead of running deaf.
    if (init_master_agent() != 0) {
        std::printf("Fatal Error - %s[%d]: %s\n", __func__, __LINE__, "cannot open the listening addresses");
        snmp_shutdown(kApp);
        return 1;
    }

    keep_running = 1;
    // Without SA_RESTART, so that the loop's wait returns at once with EINTR.
    struct sigaction action {};
    action.sa_handler = stop_server;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A signal that lands between the loop's test and its wait (or, under ThreadSanitizer,
    // any signal: it is handled only when the wait returns) would otherwise be seen only at
    // the next packet: the wait returns at least once a second.
    snmp_alarm_register(
        1, SA_REPEAT, [](unsigned int, void*) {}, nullptr);
    while (keep_running) agent_check_and_process(1);

    snmp_shutdown(kApp);
    return 0;
}
