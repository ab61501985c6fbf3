#pragma once
// One API request/response exchange with Halvorn on a request channel ("/tmp/web.ipc" or
// "/tmp/snmp.ipc"), for short-lived clients of our own: the command-line tool, tests and
// benchmarks. The server answers one client at a time and a client is known only by its
// port, so two of our clients must never overlap on one channel: every exchange holds an
// exclusive flock on the channel's port file from before the request to after the response.
// An ApiClient is used by one thread at a time; separate objects may run in parallel (the
// lock serialises them, across processes too). The whole of request(), the wait for the
// lock included, ends within the exchange time-out, so a client stuck on a dead daemon
// never holds the lock for long. request() throws Exception when the daemon cannot be
// reached in time or its answer cannot be read; an error inside the response is returned.

#include <string>

class ApiClient {
public:
    // Our own client ports. One fixed port per channel is enough because the port-file lock
    // lets only one of our clients use it at a time. 2021 belongs to the SNMP agent.
    static constexpr int kWebClientPort = 2031;
    static constexpr int kSnmpClientPort = 2022;
    // Every wait inside a transfer (the acknowledgement of a request chunk, the next chunk
    // of the response) ends after this long, within the exchange time-out.
    static constexpr int kTransferTimeoutMs = 5000;

    struct Response {
        std::string err;   // "" on success
        std::string data;  // the response's JSON text ("" when none)
    };

    // portFile is the port file's real path (already resolved under PONMC_ROOT).
    ApiClient(std::string portFile, int ownPort);

    // Port file wait (seconds, at least 1), pings per send and their time-out, and how long
    // to wait for the response once the request is sent. Defaults fail in seconds.
    void setPortFileWaitSeconds(int seconds) { portFileWaitSeconds_ = seconds; }
    void setPingLimits(int attempts, int timeoutMs) {
        pingAttempts_ = attempts;
        pingTimeoutMs_ = timeoutMs;
    }
    void setResponseTimeoutMs(int ms) { responseTimeoutMs_ = ms; }
    // The whole exchange (port file, lock, request, response) ends within this many
    // milliseconds; each phase gets at most what is left of it. 0, the default: the sum of
    // the limits above and two transfer waits.
    void setExchangeTimeoutMs(int ms) { exchangeTimeoutMs_ = ms; }
    int getExchangeTimeoutMs() const;

    // Sends {"action","uri"[,"data"]} and returns the parsed response.
    Response request(const std::string& action, const std::string& uri, const std::string& data);

    // Reads a response text exactly as APIData::parseResponse would (same results, same
    // exceptions), but a successful response whose data is compact, strings only, is taken
    // by position after a syntax check instead of a parse and print of the whole tree:
    // a table of 1024 rows costs about a millisecond instead of fifteen.
    static Response parseResponseText(const std::string& text);
    // The same, taking the text over: the data is cut out of it in place, without a copy.
    static Response parseResponseText(std::string&& text);

    // "/tmp/web.ipc" or "/tmp/snmp.ipc" resolved with Paths::resolve, with the own port.
    static ApiClient forWeb();
    static ApiClient forSnmp();

private:
    std::string portFile_;
    int ownPort_;
    int portFileWaitSeconds_ = 5;
    // Few pings, but each as patient as the system's own: a ping repeated while the
    // server's pong is under way would be taken by the server as the request itself.
    int pingAttempts_ = 2;
    int pingTimeoutMs_ = 5000;
    int responseTimeoutMs_ = 60000;
    int exchangeTimeoutMs_ = 0;
};
