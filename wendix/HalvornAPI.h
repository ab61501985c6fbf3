#pragma once
// The agent's client of Halvorn: one API request/response exchange on "/tmp/snmp.ipc" per
// call, each on a fresh Ostrel endpoint with own port 2021 (created, connected, closed).
//
// The agent has one thread, and every exchange runs inside its SNMP loop, so every wait is
// bounded: the port file is tested once, the request gets one ping of kPingTimeoutMs, the
// reply kReplyTimeoutMs for its first datagram (Halvorn answers a change only after its
// tables are rebuilt, about 3 s at most) and kTransferTimeoutMs for each chunk or
// acknowledgement. A stopped Halvorn thus costs about a second, never a hang. After such a
// failure the port file is remembered: while it stays the same file with the same time
// stamp, requests fail at once for kUnreachableHoldMs instead of paying the second again
// (a restarted Halvorn rewrites its port file and is tried at once).
//
// Our clients of one channel never interleave their exchanges: each exchange holds an
// exclusive flock on the port file, waited for at most kLockWaitMs (the command-line
// client holds the same lock).
//
// Each exchange is one ApiClient request with these limits and the agent's own error texts
// (those the channel gives for the same failures).
//
// Not thread-safe (the agent's one thread uses it). doRequestApiData never throws.

#include <atomic>
#include <cstddef>
#include <string>

#include "APIData.h"
#include "ApiClient.h"

class HalvornAPI {
public:
    static constexpr int kOwnPort = 2021;
    static constexpr int kPingTimeoutMs = 1000;
    static constexpr int kTransferTimeoutMs = 1000;
    static constexpr int kReplyTimeoutMs = 5000;
    static constexpr int kLockWaitMs = 1000;
    static constexpr int kUnreachableHoldMs = 5000;

    // Created on first use, never destroyed.
    static HalvornAPI* getInstance();

    // Halvorn's response, or a response whose error text says why there is none (and whose
    // data is empty). Prints "doRequestApiData[<line>]: Exception: <what>" on a failure.
    APIData doRequestApiData(const std::string& action, const std::string& uri, const std::string& data);
    // True when the response's error text is empty; otherwise prints
    // "doRequest[<line>]: Error: <error>" and returns false.
    bool doRequest(const std::string& action, const std::string& uri, const std::string& data);

    // The resolved port file and the limits, so a test can shorten them.
    void setPortFileForTest(const std::string& path);
    void setLimitsForTest(int pingTimeoutMs, int replyTimeoutMs, int unreachableHoldMs);

    HalvornAPI();

private:
    // The client with the port file and limits of the moment. A new client forgets the port
    // file that last failed to answer, so only the test setters make one.
    ApiClient makeClient();

    std::string portFile_;
    int pingTimeoutMs_ = kPingTimeoutMs;
    int replyTimeoutMs_ = kReplyTimeoutMs;
    int unreachableHoldMs_ = kUnreachableHoldMs;
    std::atomic<size_t> largestReply_{0};  // bytes of the largest reply received so far
    ApiClient client_;
};
