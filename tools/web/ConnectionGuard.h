#pragma once
// Deadlines for the requests of the web server's connections, so that clients that send a
// request a byte at a time cannot hold every connection of the server: the headers of a
// request must all arrive within `headers` of the connection's opening or of the end of its
// previous request (an idle kept-alive connection counts as one waiting for headers), and a
// body at `minBodyBytesPerSecond` after a grace of `bodyGrace`. While the server itself works
// on an answer there is no deadline. A connection past its deadline is cut (the caller's
// function, shutdown(2) in the server: the connection's own thread then sees the end and
// closes it). Connections are known by their descriptor, unique while they are open.
// Time is an argument of every call. Thread-safe (one mutex; cut runs under it, so a
// descriptor is never cut after closed() has returned for it).

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>

class ConnectionGuard {
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        std::chrono::seconds headers{10};
        std::chrono::seconds bodyGrace{10};
        size_t minBodyBytesPerSecond = 8192;
    };

    explicit ConnectionGuard(Limits limits) : limits_(limits) {}

    void opened(int fd, Clock::time_point now);
    void headersDone(int fd, size_t contentLength, Clock::time_point now);
    void answering(int fd);
    void requestDone(int fd, Clock::time_point now);
    void closed(int fd);

    // Cuts every connection past its deadline (once each); returns how many were cut.
    size_t enforce(Clock::time_point now, const std::function<void(int)>& cut);
    size_t size();

private:
    struct Entry {
        bool timed = true;  // false while the server answers
        bool cut = false;
        Clock::time_point deadline;
    };
    const Limits limits_;
    std::mutex mutex_;              // guards entries_
    std::map<int, Entry> entries_;  // by descriptor
};
