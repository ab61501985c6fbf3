// The ping loop of a slot: is the OLT still there?
#include <cstdio>
#include <string>

#include "Exception.h"
#include "PONCardTask.h"
#include "ShellRunner.h"
#include "SocketHelper.h"

void PONCardTask::pingLoop() {
    // Staggered by slot number, so the eight slots do not ping at the same moment.
    std::this_thread::sleep_for(periods_.pingStagger * std::stoi(slot_));
    bool downHandled = false;
    for (;;) {
        bool online = checkPONCardOnline();
        // A single lost ping is not an outage: the status changes only once the retries, made
        // straight after one another, have failed too.
        if (!online && !downHandled) online = checkPONCardOnline() || checkPONCardOnline();
        helper_.setOLTOnlineStatus(online);
        if (online) {
            downHandled = false;
        } else if (!downHandled) {
            // Three failures in a row: forget the OLT's identity and provisioning, once per
            // outage. The pass under way may hold the slot lock through many unanswered
            // requests; they are abandoned so that it ends after the one in flight.
            helper_.abandonExchanges();
            std::lock_guard<std::mutex> lock(slotMutex_);
            try {
                helper_.setInitialState();
                downHandled = true;
            } catch (const Exception& e) {
                std::printf("%s\n", e.getMessage().c_str());
            } catch (...) {
                std::printf("Unknown Error at %s\n", "pingLoop");
            }
        }
        std::this_thread::sleep_for(periods_.pingCycle);
    }
}

bool PONCardTask::checkPONCardOnline() {
    std::string source;
    std::string olt;
    {
        std::lock_guard<std::mutex> lock(addressMutex_);
        source = sourceIpAddress_;
        olt = oltIpAddress_;
    }
    if (source.empty() || olt.empty()) return false;
    // Both addresses were checked to be IPv4 before they were stored.
    const std::string through = interface_ == SocketHelper::kAnyInterface ? source : interface_;
    const std::string command = "ping -w 1 -I " + through + " " + olt + " | grep ' 100% packet loss' | wc -l";
    std::string output;
    // A ping that cannot be run never takes an OLT down.
    // The first two bytes are all the answer needs ("0\n" or "1\n").
    ShellRunner::run(command, &output, 2);
    if (output.empty()) return true;
    return output[0] == '0';
}
