// web-stage: the web server on a stage of its own, for the browser tests and for trying
// the pages by hand: Halvorn in a temporary root with seeded tables, a stand-in task
// receiver in Quenrik's place, and ponmc-web on a free port. Prints
//   READY <url> <root>
// and then answers one line per command on standard input:
//   tasks                  the tasks received so far, one JSON object per line, then "END"
//   snmp <uri>             Halvorn's answer on the SNMP channel (what the agent would serve)
//   halvorn-stop | halvorn-start   stop or start the database daemon
//   quit                   (or end of input) stop everything
// Binds the system's fixed ports: run it inside scripts/netns-run.sh next to other tests.
//   web-stage [--onus-per-port N] [--sample-seconds N] [--alarms N]
#include <signal.h>

#include <iostream>

#include "WebStage.h"

// SIGTERM and SIGINT end the command loop like "quit", so the daemons are stopped too:
// the interrupted read fails and the stage's destructor runs.
void onStop(int) {}

int main(int argc, char** argv) {
    struct sigaction stop {};
    stop.sa_handler = onStop;  // no SA_RESTART: the blocked read returns
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    web_test::WebStage::Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (a == "--onus-per-port") options.onusPerPort = v;
        else if (a == "--sample-seconds") options.sampleSeconds = v;
        else if (a == "--alarms") options.extraAlarms = v;
        else {
            std::cerr << "usage: web-stage [--onus-per-port N] [--sample-seconds N] [--alarms N]\n";
            return 64;
        }
    }
    try {
        web_test::WebStage stage(options);
        std::cout << "READY http://127.0.0.1:" << stage.port() << "/ " << stage.halvorn().root() << std::endl;
        for (std::string line; std::getline(std::cin, line);) {
            if (line == "quit") break;
            if (line == "tasks") {
                for (auto& t : stage.halvorn().tasks().tasks())
                    std::cout << "{\"uri\":\"" << t.uri << "\",\"data\":" << (t.data.empty() ? "{}" : t.data) << "}\n";
                std::cout << "END" << std::endl;
            } else if (line.rfind("snmp ", 0) == 0) {
                try {
                    auto r = stage.halvorn().get(line.substr(5), true);
                    std::cout << (r.err.empty() ? r.data : "error " + r.err) << std::endl;
                } catch (const std::exception& e) {
                    std::cout << "error " << e.what() << std::endl;
                }
            } else if (line == "halvorn-stop") {
                stage.halvorn().kill();
                std::cout << "ok" << std::endl;
            } else if (line == "halvorn-start") {
                stage.halvorn().start();
                std::cout << "ok" << std::endl;
            } else {
                std::cout << "error unknown command" << std::endl;
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "web-stage: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
