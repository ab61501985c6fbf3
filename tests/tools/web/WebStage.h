#pragma once
// A stage for the web server's tests, browser tests and benchmark: Halvorn in a temporary
// root (the Halvorn harness, with its stand-in task receiver in Quenrik's place), tables
// seeded through Quenrik's notifications (8 online slots with optics, ONUs per PON port,
// alarms), and the real ponmc-web on a free port of 127.0.0.1. Plus a minimal blocking
// HTTP/1.1 client. The harness binds the system's fixed channel ports: users share the
// CTest RESOURCE_LOCK ponmc_fixed_ports. Methods are for one thread unless said otherwise;
// http() is thread-safe. Set-up failures throw std::runtime_error.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <map>
#include <string>

#include "harness/Harness.h"

namespace web_test {

using halvorn_test::Harness;
using halvorn_test::waitUntil;

struct HttpReply {
    int status = 0;                              // 0: no answer
    std::map<std::string, std::string> headers;  // names in lower case; Set-Cookie joined by "\n"
    std::string body;
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

// One request on a fresh connection (Connection: close), read to the end.
inline HttpReply http(int port, const std::string& method, const std::string& path,
                      const std::map<std::string, std::string>& headers = {}, const std::string& body = "",
                      bool sendContentLength = true) {
    HttpReply reply;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return reply;
    timeval tv{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return reply;
    }
    std::string req =
        method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n";
    for (auto& [k, v] : headers) req += k + ": " + v + "\r\n";
    if (sendContentLength && (!body.empty() || method == "POST" || method == "PUT"))
        req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    req += "\r\n" + body;
    for (size_t sent = 0; sent < req.size();) {
        ssize_t n = ::send(fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may refuse before reading the whole body
        sent += static_cast<size_t>(n);
    }
    std::string raw;
    char buf[65536];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof(buf), 0)) > 0;) raw.append(buf, static_cast<size_t>(n));
    ::close(fd);
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.compare(0, 5, "HTTP/") != 0) return reply;
    reply.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
    std::istringstream lines(raw.substr(0, end));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        auto& slot = reply.headers[name];
        slot = slot.empty() ? value : slot + "\n" + value;
    }
    std::string body_ = raw.substr(end + 4);
    if (reply.header("transfer-encoding") == "chunked") {
        std::string plain;
        size_t at = 0;
        while (at < body_.size()) {
            const size_t len = std::strtoul(body_.c_str() + at, nullptr, 16);
            at = body_.find("\r\n", at);
            if (len == 0 || at == std::string::npos) break;
            plain += body_.substr(at + 2, len);
            at += 2 + len + 2;
        }
        body_ = plain;
    }
    reply.body = body_;
    return reply;
}

class WebStage {
public:
    struct Options {
        int onusPerPort = 4;
        int sampleSeconds = 30;
        int extraAlarms = 0;
        bool seed = true;          // needs Halvorn started
        bool startHalvorn = true;  // false: the web server starts before the daemon
        // With startHalvorn false: Halvorn is started this long after the web server (which
        // is then waited for), -1 never.
        int halvornAfterMs = -1;
        bool portFromSetting = false;           // no --port: the server takes Halvorn's "webPort"
        std::function<void(Harness&)> prepare;  // before Halvorn's first start
        std::vector<std::string> webArgs;       // more options for ponmc-web
    };

    WebStage() : WebStage(Options()) {}
    explicit WebStage(const Options& options) : options_(options), harness_(harnessOptions(options)) {
        if (options.seed && options.startHalvorn) seed();
        startWeb();
    }
    ~WebStage() { stopWeb(); }

    Harness& halvorn() { return harness_; }
    int port() const { return port_; }
    pid_t webPid() const { return web_.pid(); }
    std::string webLog() const { return web_.log(); }

    static std::string onuMac(int slot, int pon, int n) {
        char mac[32];
        std::snprintf(mac, sizeof(mac), "02:4f:4e:%02x:%02x:%02x", slot & 0xff, pon & 0xff, n & 0xff);
        return mac;
    }

    void seed() {
        for (int slot = 1; slot <= 8; ++slot) {
            char mac[32];
            std::snprintf(mac, sizeof(mac), "02:4f:4c:54:00:%02x", slot & 0xff);
            harness_.notify("/olt/new/report",
                            std::string("{\"slot_id\":\"") + std::to_string(slot) + "\",\"mac_address\":\"" + mac +
                                "\",\"app_version\":\"0205\",\"nvs_enabled\":\"0\",\"online_status\":\"1\","
                                "\"module_olt_table\":[" +
                                oltModule(slot, 0) + "," + oltModule(slot, 1) + "]}");
        }
        for (int slot = 1; slot <= 8; ++slot)
            for (int pon = 0; pon < 2; ++pon)
                for (int n = 0; n < options_.onusPerPort; ++n) {
                    // One ONU in four is offline, so the counts differ from the totals.
                    const bool online = (n % 4) != 3;
                    harness_.notify("/onu/new", onuReport(slot, pon, n, online));
                }
        std::string alarms = "{\"alarm_list\":[";
        const int count = 6 + options_.extraAlarms;
        for (int i = 0; i < count; ++i) {
            if (i) alarms += ",";
            const int slot = 1 + i % 8;
            char when[32];
            std::snprintf(when, sizeof(when), "07/12/2026 %02d:%02d:00", 10 + i / 60 % 12, i % 60);
            alarms += std::string("{\"label\":\"ONU ") + onuMac(slot, 0, 0) + ": 0\",\"alarm\":\"" +
                      (i % 2 ? "Report Timeout" : "Standard Dying Gasp") + "\",\"state\":\"" + (i % 3 ? "on" : "off") +
                      "\",\"slot_id\":\"" + std::to_string(slot) + "\",\"datetime\":\"" + when + "\"}";
        }
        harness_.notify("/olt/alarm/new", alarms + "]}");
        const size_t onus = 16u * static_cast<size_t>(options_.onusPerPort);
        if (!waitUntil([&] { return countOf(harness_.get("/onutable").data, "qvCfgONUPhysicalID") == onus; },
                       std::chrono::seconds(120)))
            throw std::runtime_error("seeded ONUs did not all appear");
    }

    void startWeb() {
        std::vector<std::string> args = {PONMC_WEB_BINARY, "--static", PONMC_WEB_STATIC, "--sample-seconds",
                                         std::to_string(options_.sampleSeconds)};
        if (!options_.portFromSetting) args.insert(args.end(), {"--port", "0"});
        for (auto& a : options_.webArgs) args.push_back(a);
        std::vector<std::string> env = testkit::inheritedEnvironment({"PONMC_ROOT="});
        env.push_back("PONMC_ROOT=" + harness_.root());
        web_.start(args, env);
        if (!options_.startHalvorn && options_.halvornAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.halvornAfterMs));
            harness_.start();
        }
        const std::string mark = "on http://127.0.0.1:";
        if (!waitUntil([&] { return webLog().find(mark) != std::string::npos; }, std::chrono::seconds(20)))
            throw std::runtime_error("ponmc-web did not start; log:\n" + webLog());
        const std::string l = webLog();
        port_ = std::atoi(l.c_str() + l.find(mark) + mark.size());
    }

    // SIGTERM (SIGKILL after 10 s); a sanitizer report in its output fails the test.
    void stopWeb() {
        if (web_.pid() <= 0) return;
        web_.stop(SIGTERM, std::chrono::seconds(10));
        web_.scanLog();
    }

    // Logs in through the API; returns the session cookie header value ("ponmc_session=...")
    // and the CSRF token.
    std::pair<std::string, std::string> login(const std::string& user = "mzpw", const std::string& password = "mzpw") {
        HttpReply r = http(port_, "POST", "/api/login", {{"Content-Type", "application/json"}},
                           "{\"user\":\"" + user + "\",\"password\":\"" + password + "\"}");
        if (r.status != 200) return {"", ""};
        std::string cookie = r.header("set-cookie");
        cookie = cookie.substr(0, cookie.find(';'));
        const std::string mark = "\"csrf\":\"";
        const size_t at = r.body.find(mark);
        return {cookie, r.body.substr(at + mark.size(), 32)};
    }

    static size_t countOf(const std::string& text, const std::string& what) { return testkit::countOf(text, what); }

private:
    static Harness::Options harnessOptions(const Options& options) {
        Harness::Options h;
        h.startDaemon = options.startHalvorn;
        h.prepare = options.prepare;
        return h;
    }
    static std::string oltModule(int slot, int pon) {
        char buf[256];
        std::snprintf(buf, sizeof(buf),
                      "{\"qvOpticModuleOltTxPower\":\"%.2f\",\"qvOpticModuleOltVcc\":\"3.30\","
                      "\"qvOpticModuleOltTxBias\":\"%.2f\",\"qvOpticModuleOltTemperature\":\"%.2f\"}",
                      3.0 + slot * 0.1 + pon * 0.05, 20.0 + slot, 38.0 + slot * 0.5);
        return buf;
    }
    std::string onuReport(int slot, int pon, int n, bool online) const {
        char buf[512];
        std::snprintf(
            buf, sizeof(buf),
            "{\"slot_id\":\"%d\",\"pon_port\":\"%d\",\"mac_address\":\"%s\",\"online_status\":\"%s\","
            "\"is_gigabit\":\"1\",\"alarm_message\":\"%s\",\"temperature\":\"%.2f\",\"supply_voltage\":\"3.30\","
            "\"tx_bias_current\":\"%.2f\",\"tx_power_input\":\"%.2f\",\"tx_power_output\":\"%.2f\"}",
            slot, pon, onuMac(slot, pon, n).c_str(), online ? "1" : "0", online ? "" : "Report Timeout", 40.0 + n % 10,
            11.0 + n % 5, -18.0 - (n % 7) * 0.5, 2.0 + (n % 3) * 0.1);
        return buf;
    }

    Options options_;
    Harness harness_;
    // Declared after the Halvorn harness: stopped, and its log scanned, before the root goes.
    testkit::DaemonProcess web_{"ponmc-web", harness_.path("/web.log")};
    int port_ = 0;
};

}  // namespace web_test
