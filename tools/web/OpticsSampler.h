#pragma once
// The thread that feeds OpticsHistory: every period it reads the module OLT and module
// ONU tables from Halvorn and adds one sample (OLT ports keyed "olt:<slot>/<pon>" with the
// PON port 0 or 1, ONUs "onu:<mac>" in lower case). A pass that finds Halvorn unreachable
// adds nothing and the charts show the gap. start()/stop() from one thread; stop() returns
// at once even in the middle of a period.

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "HalvornLink.h"
#include "OpticsHistory.h"

class OpticsSampler {
public:
    OpticsSampler(HalvornLink& link, OpticsHistory& history, int periodSeconds);
    ~OpticsSampler();
    void start();
    void stop();
    // One pass now (the thread's body; also used by tests). False when Halvorn did not answer.
    bool sampleOnce(time_t now);
    // The sample of the two tables' texts (pure; tested on its own).
    static std::map<std::string, OpticsHistory::Values> parse(const std::string& oltModules,
                                                              const std::string& onuModules);

private:
    void run();

    HalvornLink& link_;
    OpticsHistory& history_;
    const int periodSeconds_;
    std::thread thread_;
    std::mutex mutex_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
};
