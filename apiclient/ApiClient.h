#pragma once
// One API request/response exchange with Halvorn on a request channel ("/tmp/web.ipc" or
// "/tmp/snmp.ipc"), for every client of our own: the command-line tool, the web server, the
// SNMP agent, tests and benchmarks. What differs between them (limits, error texts, how long
// a silent daemon is held unreachable) is an Options value. The server answers one client at
// a time and a client is known only by its port, so two of our clients must never overlap
// on one channel: every exchange holds an exclusive flock on the channel's port file from
// before the request to after the response.
// An ApiClient is used by one thread at a time; separate objects may run in parallel (the
// lock serialises them, across processes too). With an exchange time-out the whole of
// request(), the wait for the lock included, ends within it, so a client stuck on a dead
// daemon never holds the lock for long. request() throws Exception when the daemon cannot be
// reached in time or its answer cannot be read; an error inside the response is returned.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>

class ApiClient {
public:
    // Our own client ports. One fixed port per channel is enough because the port-file lock
    // lets only one of our clients use it at a time. 2021 belongs to the SNMP agent.
    static constexpr int kWebClientPort = 2031;
    static constexpr int kSnmpClientPort = 2022;
    // Every wait inside a transfer (the acknowledgement of a request chunk, the next chunk
    // of the response) ends after this long by default, within the exchange time-out.
    static constexpr int kTransferTimeoutMs = 5000;
    // Options::exchangeTimeoutMs for an exchange bounded only by its phases' own limits.
    static constexpr int kNoExchangeTimeout = -1;

    // The failure texts, each a template: "{file}" stands for the port file, "{ms}" for the
    // time-out that ran out in milliseconds (the exchange's, or the lock wait's when that
    // ended first), "{why}" for the channel's own error message.
    struct Texts {
        std::string noPortFile = "Halvorn not reachable: no port file {file}";
        // The port file is there but cannot be opened.
        std::string portFileUnreadable = "Halvorn not reachable: no port file {file}";
        std::string channelBusy = "Halvorn not reachable: channel busy for {ms} ms (lock on {file})";
        // The endpoint could not be made or connected.
        std::string notConnected = "Halvorn not reachable: {why}";
        // The request was not taken (no pong, no acknowledgement).
        std::string notSent = "Halvorn not reachable: {why}";
        // No first datagram of the reply within the response time-out.
        std::string noResponse = "No response from Halvorn on {file}";
        std::string notReceived = "Response not received: {why}";
        // A request refused at once while the daemon is held unreachable.
        std::string heldUnreachable = "Halvorn did not answer on {file}";
    };

    // What differs between our clients. The defaults fail in seconds.
    struct Options {
        // How long a missing port file is waited for (tried every 100 ms); 0: tried once.
        int portFileWaitMs = 5000;
        // Pings per send and their time-out. Few pings, but each as patient as the system's
        // own: a ping repeated while the server's pong is under way would be taken by the
        // server as the request itself.
        int pingAttempts = 2;
        int pingTimeoutMs = 5000;
        int transferTimeoutMs = kTransferTimeoutMs;
        // How long the first datagram of the reply is waited for once the request is sent.
        int responseTimeoutMs = 60000;
        // How long another client's exchange is waited for (0: until the exchange time-out),
        // with pauses between tries that start at lockPauseMs and double up to lockPauseMaxMs.
        int lockWaitMs = 0;
        int lockPauseMs = 1;
        int lockPauseMaxMs = 20;
        // The whole exchange (port file, lock, request, response) ends within this many
        // milliseconds; each phase gets at most what is left of it. 0: the sum of the limits
        // above (lock wait aside) and two transfer waits. kNoExchangeTimeout: none.
        int exchangeTimeoutMs = 0;
        // After a daemon took no request or gave no reply, requests fail at once (with
        // Texts::heldUnreachable) for this long while the port file stays the same file with
        // the same time stamp: a restarted daemon rewrites it and is tried at once. 0: never.
        int unreachableHoldMs = 0;
        // Where the size of the largest reply so far is kept, so a big table is received
        // into a text reserved that large instead of growing (and copying) chunk by chunk.
        // nullptr: one count for the whole process.
        std::atomic<size_t>* largestReply = nullptr;
        Texts texts;
    };

    struct Response {
        std::string err;   // "" on success
        std::string data;  // the response's JSON text ("" when none)
    };

    // portFile is the port file's real path (already resolved under PONMC_ROOT).
    ApiClient(std::string portFile, int ownPort);
    ApiClient(std::string portFile, int ownPort, Options options);

    const Options& options() const { return options_; }
    // Setters of single limits, for callers that change one or two of the defaults.
    // Port file wait in seconds (at least 1).
    void setPortFileWaitSeconds(int seconds);
    void setPingLimits(int attempts, int timeoutMs) {
        options_.pingAttempts = attempts;
        options_.pingTimeoutMs = timeoutMs;
    }
    void setResponseTimeoutMs(int ms) { options_.responseTimeoutMs = ms; }
    void setExchangeTimeoutMs(int ms) { options_.exchangeTimeoutMs = ms; }
    // The exchange time-out in effect (see Options::exchangeTimeoutMs); -1 when none.
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
    // The port file as it was when the daemon last failed to answer.
    struct PortFileStamp {
        bool valid = false;
        ino_t inode = 0;
        timespec mtime{};
        std::chrono::steady_clock::time_point at;
    };
    bool stampOf(PortFileStamp& stamp) const;
    void rememberUnreachable();
    // The template with its fields filled in.
    std::string text(const std::string& form, const std::string& why = "", int ms = 0) const;

    std::string portFile_;
    int ownPort_;
    Options options_;
    PortFileStamp unreachable_;
};
