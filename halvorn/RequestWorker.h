#pragma once
// The body shared by the two API request servers (SNMP and web): one thread that owns one
// Ostrel server endpoint and one reused envelope, and answers every request it receives
// whole with exactly one response, one request at a time. A channel that cannot be set
// up ends the process with a failure status. Not copyable; one thread per instance.

#include <string>
#include <thread>

#include "ipc/Ostrel"

class RequestWorker {
public:
    // Limits of the ping phase of a response (see threadWorker).
    static constexpr int kReplyPingAttempts = 3;
    static constexpr int kReplyPingTimeoutMs = Ostrel::kDefaultPingTimeoutMs;

    RequestWorker(int ownPort, const char* portFile);
    virtual ~RequestWorker() = default;
    RequestWorker(const RequestWorker&) = delete;
    RequestWorker& operator=(const RequestWorker&) = delete;

    void startWorker();
    void waitWorkerFinish();
    void threadWorker();

private:
    const int ownPort_;
    const std::string portFile_;
    std::thread thread_;
};
