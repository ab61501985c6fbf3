#pragma once
// HTTP around WebApp, on libmicrohttpd: one thread per connection (the handlers block on
// Halvorn for a few seconds at most), a bounded number of connections, idle connections
// closed. Reads each request whole (within WebApp's limit for the route, else 413 at
// once), asks WebApp for the answer and adds the headers every answer carries (content
// security policy, no sniffing, no framing, no caching of data). start() and stop() from
// one thread.

#include <string>

#include "WebApp.h"

struct MHD_Daemon;

class HttpServer {
public:
    struct Config {
        std::string address = "127.0.0.1";
        int port = 0;  // 0: any free port (tests)
        unsigned connectionLimit = 64;
        unsigned perAddressLimit = 24;  // one client cannot take every connection thread
        unsigned connectionTimeoutSeconds = 60;
    };

    HttpServer(Config config, WebApp& app);
    ~HttpServer();
    // Binds and starts serving; false with the reason in error.
    bool start(std::string& error);
    void stop();
    // The port actually bound (after start).
    int port() const { return port_; }

private:
    Config config_;
    WebApp& app_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
};
