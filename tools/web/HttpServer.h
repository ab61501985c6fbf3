#pragma once
// HTTP around WebApp, on libmicrohttpd: one thread per connection (the handlers block on
// Halvorn for a few seconds at most), a bounded number of connections, few per address,
// and a deadline for each request to arrive (ConnectionGuard, enforced by a watchdog
// thread), so that clients sending a byte now and then cannot keep the operator out. Reads each request whole (within
// WebApp's limit for the route, else 413 at once), asks WebApp for the answer and adds the headers every answer carries
// (content security policy, no sniffing, no framing, no caching of data). start() and stop() from one thread.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "ConnectionGuard.h"
#include "WebApp.h"

struct MHD_Daemon;

class HttpServer {
public:
    struct Config {
        std::string address = "127.0.0.1";
        int port = 0;  // 0: any free port (tests)
        // Enough connections that a handful of addresses cannot take them all (a browser
        // opens up to six to one server); each thread's stack is small and mostly untouched.
        unsigned connectionLimit = 256;
        unsigned perAddressLimit = 8;
        unsigned connectionTimeoutSeconds = 60;  // no byte at all for this long: closed
        ConnectionGuard::Limits deadlines;
    };

    HttpServer(Config config, WebApp& app);
    ~HttpServer();
    // Binds and starts serving; false with the reason in error.
    bool start(std::string& error);
    void stop();
    // The port actually bound (after start).
    int port() const { return port_; }

    // libmicrohttpd's callbacks reach these two through their context.
    WebApp& app() { return app_; }
    ConnectionGuard& guard() { return guard_; }

private:
    void watch();

    Config config_;
    WebApp& app_;
    ConnectionGuard guard_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    std::thread watchdog_;
    std::mutex stopMutex_;  // guards stopping_
    std::condition_variable stopSignal_;
    bool stopping_ = false;
};
