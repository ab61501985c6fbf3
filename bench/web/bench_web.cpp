// bench_web: ponmc-web in front of a real Halvorn holding 1024 ONUs (8 slots x 2 PON ports
// x 64, reported as Quenrik would). Prints the median and p99 time of GET /api/onutable
// through the web server (HTTP, session check, one exchange with Halvorn, the table's
// text) next to the same read straight from Halvorn's channel, the chassis summary, and
// the server's resident memory with five open sessions, before and after a full optics
// history. Goals: GET /api/onutable under 20 ms median; RSS under 16 MiB.
// Binds the system's fixed ports: do not run next to a live daemon or the tests.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "WebStage.h"

using namespace web_test;
using Clock = std::chrono::steady_clock;

namespace {

struct Stats {
    double median, p99;
};

template <typename F>
Stats measure(int count, F&& once) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        once();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

long vmRssKiB(pid_t pid) {
    const std::string status = halvorn_test::readWholeFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

}  // namespace

int main() {
    WebStage::Options options;
    options.onusPerPort = 64;
    options.sampleSeconds = 1;  // fills the history fast for the memory figure
    const auto seedStart = Clock::now();
    WebStage stage(options);
    std::printf("stage: 1024 ONUs seeded and ponmc-web up in %.1f s (pid %d, port %d)\n",
                std::chrono::duration<double>(Clock::now() - seedStart).count(), static_cast<int>(stage.webPid()),
                stage.port());
    std::printf("RSS of ponmc-web at start: %ld KiB\n", vmRssKiB(stage.webPid()));

    std::vector<std::pair<std::string, std::string>> sessions;
    for (int i = 0; i < 5; ++i) sessions.push_back(stage.login());
    const std::map<std::string, std::string> headers = {{"Cookie", sessions[0].first}};

    size_t bytes = 0;
    const Stats web = measure(300, [&] {
        HttpReply r = http(stage.port(), "GET", "/api/onutable", headers);
        bytes = r.body.size();
        if (r.status != 200) std::printf("unexpected status %d\n", r.status);
    });
    std::printf(
        "GET /api/onutable (1024 rows, %zu bytes) through ponmc-web: median %.2f ms, p99 %.2f ms [goal median < 20 "
        "ms]\n",
        bytes, web.median, web.p99);
    const Stats direct = measure(300, [&] { stage.halvorn().get("/onutable"); });
    std::printf("the same read straight from Halvorn's channel: median %.2f ms, p99 %.2f ms\n", direct.median,
                direct.p99);
    const Stats overview = measure(100, [&] { http(stage.port(), "GET", "/api/overview", headers); });
    std::printf("GET /api/overview (6 tables read, counted per port): median %.2f ms, p99 %.2f ms\n", overview.median,
                overview.p99);
    const Stats statics = measure(300, [&] { http(stage.port(), "GET", "/static/lib/uPlot.iife.min.js", headers); });
    std::printf("GET of a static file (51 KB): median %.2f ms, p99 %.2f ms\n", statics.median, statics.p99);

    // Every session polls as a page would, then the memory figure.
    for (auto& s : sessions) http(stage.port(), "GET", "/api/overview", {{"Cookie", s.first}});
    std::printf("RSS of ponmc-web with 5 sessions after the reads: %ld KiB [goal < 16384 KiB]\n",
                vmRssKiB(stage.webPid()));

    // Scripts' bearer tokens are a pool of their own: 64 of them beside the five sessions.
    for (int i = 0; i < 64; ++i)
        http(stage.port(), "POST", "/api/token", {}, "{\"user\":\"mzpw\",\"password\":\"mzpw\"}");
    std::printf("RSS of ponmc-web with 5 sessions and 64 bearer tokens: %ld KiB [goal < 16384 KiB]\n",
                vmRssKiB(stage.webPid()));

    // The history's rings are allocated whole when an entity is first seen, so the figures
    // above already hold the history at its full size; more samples add nothing.
    const long before = vmRssKiB(stage.webPid());
    std::this_thread::sleep_for(std::chrono::seconds(12));
    const long after = vmRssKiB(stage.webPid());
    std::printf("RSS after 12 more optics samples of 1040 entities: %ld KiB (%+ld KiB)\n", after, after - before);
    std::printf("of which the optics history: 1040 entities x 5 values x (240 + 144) x 2 bytes = %.1f MiB\n",
                1040.0 * 5 * (240 + 144) * 2 / (1024 * 1024));
    const std::string status = halvorn_test::readWholeFile("/proc/" + std::to_string(stage.webPid()) + "/status");
    for (const char* key : {"RssAnon:", "RssFile:"}) {
        const size_t at = status.find(key);
        if (at != std::string::npos)
            std::printf("%s %ld KiB%s\n", key, std::atol(status.c_str() + at + std::strlen(key)),
                        key[3] == 'F' ? " (pages of shared libraries: libcrypto, gnutls, libstdc++, libc)"
                                      : " (the server's own memory)");
    }
    return 0;
}
