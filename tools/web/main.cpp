// ponmc-web: the card's web interface. Reads the port from Halvorn's "webPort" setting
// (unless --port says otherwise), loads the pages, starts the optical sampler and serves
// until SIGINT or SIGTERM.
#include <malloc.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "HalvornLink.h"
#include "HttpServer.h"
#include "JsonHelper.h"
#include "OpticsHistory.h"
#include "OpticsSampler.h"
#include "Options.h"
#include "Paths.h"
#include "Sessions.h"
#include "StaticFiles.h"
#include "Uris.h"
#include "WebApp.h"
#include "WebJson.h"

namespace {

// The "webPort" setting. At boot the web server may start before Halvorn: it is waited for
// (up to kStartWaitSeconds) rather than the fallback port taken for good. -1 when a stop
// signal arrived meanwhile.
int portFromHalvorn(HalvornLink& link, const sigset_t& stopSignals) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Options::kStartWaitSeconds);
    for (bool said = false;; said = true) {
        try {
            const ApiClient::Response r = link.get(Uris::kSystemInfo);
            JsonPtr info(cJSON_Parse(r.data.c_str()));
            const std::string text = webjson::stringMember(info.get(), "webPort");
            const int port = std::atoi(text.c_str());
            if (r.err.empty() && port > 0 && port < 65536) return port;
            std::printf("ponmc-web: setting webPort \"%s\" is not a port; using %d\n", text.c_str(),
                        Options::kFallbackPort);
            return Options::kFallbackPort;
        } catch (const HalvornLink::Unreachable& e) {
            if (std::chrono::steady_clock::now() >= deadline) {
                std::printf("ponmc-web: Halvorn not reachable (%s); using port %d\n", e.what(), Options::kFallbackPort);
                return Options::kFallbackPort;
            }
            if (!said) std::printf("ponmc-web: waiting for Halvorn to read the webPort setting (%s)\n", e.what());
        }
        // A pause that a stop signal ends.
        const timespec pause{1, 0};
        if (sigtimedwait(&stopSignals, nullptr, &pause) > 0) return -1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Options::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::fputs(Options::usage(), stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "ponmc-web: %s\n%s", options.error.c_str(), Options::usage());
        return 64;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // One heap arena per connection thread would keep each thread's freed table texts;
    // the server's load is a few operators, so two arenas are plenty.
    mallopt(M_ARENA_MAX, 2);

    // Block the stop signals in every thread; the main thread waits for them below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    StaticFiles files;
    try {
        files.load(options.staticDir.empty() ? PONMC_WEB_DEFAULT_STATIC : options.staticDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ponmc-web: %s\n", e.what());
        return 1;
    }

    HalvornLink link(Paths::resolve(Paths::kWebIpc));
    HttpServer::Config http;
    http.address = options.listen;
    http.port = options.port >= 0 ? options.port : portFromHalvorn(link, stopSignals);
    if (http.port < 0) return 0;

    Sessions sessions(std::chrono::minutes(options.idleMinutes));
    OpticsHistory history;
    WebApp::Config appConfig;
    appConfig.uploadLimit = options.uploadLimitKiB * 1024;
    WebApp app(appConfig, link, sessions, history, files);
    HttpServer server(http, app);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "ponmc-web: %s\n", error.c_str());
        return 1;
    }
    OpticsSampler sampler(link, history, options.sampleSeconds);
    sampler.start();
    std::printf("ponmc-web: serving %zu files on http://%s:%d/\n", files.count(), http.address.c_str(), server.port());

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("ponmc-web: stopping (signal %d)\n", signal);
    sampler.stop();
    server.stop();
    return 0;
}
