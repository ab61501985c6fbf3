#pragma once
// The web server's one door to Halvorn's web channel ("/tmp/web.ipc"), shared by every
// HTTP thread and the optics sampler. Each exchange is one ApiClient request (which holds
// the port-file lock, so the command-line client never interleaves with us) with short
// limits: a stopped daemon costs a request a few seconds, never a hang. Exchanges of this
// process take turns, waited for on a condition variable; a request that cannot even start
// within the queue limit gives up as unreachable too. Thread-safe. get()/set() throw
// Unreachable when Halvorn does not answer; an error inside the answer is returned in
// Response::err.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>

#include "ApiClient.h"

class HalvornLink {
public:
    struct Unreachable : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    struct Limits {
        int portFileWaitSeconds = 1;
        // One ping only: Halvorn's worker answers a ping at once when it is alive, and a
        // second ping while its pong is under way would be taken for the request.
        int pingTimeoutMs = 2000;
        // A change waits up to about 3 s in Halvorn for its table's ready text.
        int responseTimeoutMs = 8000;
        // How long a request may wait behind the other exchanges of this process.
        int queueWaitMs = 6000;
    };

    explicit HalvornLink(std::string portFile);
    HalvornLink(std::string portFile, Limits limits);

    ApiClient::Response get(const std::string& uri) { return exchange("get", uri, ""); }
    ApiClient::Response set(const std::string& uri, const std::string& data) { return exchange("set", uri, data); }

    // What the last exchange found: true when Halvorn answered.
    bool reachable() const;
    // Milliseconds of the last successful exchange (for the status line), 0 before any.
    long lastExchangeMs() const;

private:
    ApiClient::Response exchange(const std::string& action, const std::string& uri, const std::string& data);

    const std::string portFile_;
    const Limits limits_;
    const ApiClient::Options options_;  // the client's limits, made from limits_
    // One exchange of this process at a time: busy_ is the turn, waited for with a limit.
    // (A condition variable rather than std::timed_mutex, whose timed lock ThreadSanitizer
    // does not see.)
    mutable std::mutex stateMutex_;  // guards the three fields below
    std::condition_variable turnFree_;
    bool busy_ = false;
    bool reachable_ = true;
    long lastExchangeMs_ = 0;
};
