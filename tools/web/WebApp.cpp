#include "WebApp.h"

#include <openssl/crypto.h>

#include <regex>

#include "Helper.h"
#include "JsonHelper.h"
#include "Validation.h"
#include "WebJson.h"

namespace {

// The single-page console's own paths: each answers the same page, which draws the view.
bool isPagePath(const std::string& path) {
    static const std::regex pages("^/(|olts|olts/[1-8]|onus|onus/[0-9]{1,20}|alarms|system)$");
    return std::regex_match(path, pages);
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string sessionCookie(const std::string& token) {
    return std::string(WebApp::kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace

HttpResponse jsonResponse(int status, std::string body) {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

HttpResponse errorResponse(int status, const std::string& message) {
    return jsonResponse(status, webjson::errorObject(message));
}

HttpResponse unreachableResponse(const HalvornLink::Unreachable& e) {
    return jsonResponse(503, "{\"error\":" + webjson::quote(std::string("The card's database is unreachable: ") + e.what()) +
                                 ",\"unreachable\":true}");
}

WebApp::WebApp(Config config, HalvornLink& link, Sessions& sessions, OpticsHistory& history, const StaticFiles& files)
    : config_(config), link_(link), sessions_(sessions), history_(history), files_(files) {}

WebApp::Auth WebApp::authenticate(const HttpRequest& request) {
    Auth auth;
    const std::string authorization = request.header("authorization");
    std::string token;
    if (startsWith(authorization, "Bearer ")) {
        token = authorization.substr(7);
    } else {
        auto it = request.cookies.find(kCookie);
        if (it != request.cookies.end()) {
            token = it->second;
            auth.viaCookie = true;
        }
    }
    // The pages mark the reads they repeat on a timer: those keep nobody signed in.
    const bool operatorRequest = request.header("x-background") != "1";
    auto session = sessions_.touch(token, Sessions::Clock::now(), operatorRequest);
    if (session) {
        auth.ok = true;
        auth.session = *session;
    }
    return auth;
}

// A request that a browser sent on behalf of another site: its Origin is not this server,
// or the browser says so. Scripts send neither header and pass.
bool WebApp::crossSite(const HttpRequest& request) const {
    const std::string site = request.header("sec-fetch-site");
    if (!site.empty() && site != "same-origin" && site != "none") return true;
    const std::string origin = request.header("origin");
    if (origin.empty()) return false;
    return origin != "http://" + request.header("host") && origin != "https://" + request.header("host");
}

size_t WebApp::bodyLimitFor(const HttpRequest& request) const {
    if (request.method == "GET" || request.method == "HEAD") return 0;
    if (request.path == "/api/restore") return config_.uploadLimit;
    return config_.bodyLimit;
}

HttpResponse WebApp::early(const HttpRequest& request, size_t contentLength) {
    HttpResponse none;
    none.status = 0;
    if (!startsWith(request.path, "/api/")) {
        if (request.method != "GET" && request.method != "HEAD") return errorResponse(405, "Method not allowed");
        return none;
    }
    const bool open = request.path == "/api/login" || request.path == "/api/token";
    if (!open && !authenticate(request).ok) return errorResponse(401, "Log in first");
    if (contentLength > bodyLimitFor(request) && request.method != "GET")
        return errorResponse(413, "Request body too large: at most " + std::to_string(bodyLimitFor(request)) + " bytes");
    return none;
}

HttpResponse WebApp::handle(const HttpRequest& request) {
    try {
        if (startsWith(request.path, "/api/")) return api(request);
        if (request.method != "GET" && request.method != "HEAD") return errorResponse(405, "Method not allowed");
        if (startsWith(request.path, "/static/")) return staticFile(request, request.path.substr(8));
        return page(request);
    } catch (const HalvornLink::Unreachable& e) {
        return unreachableResponse(e);
    } catch (const std::exception& e) {
        std::printf("%s[%d]: Exception: %s\n", __func__, __LINE__, e.what());
        return errorResponse(500, "Internal error");
    }
}

HttpResponse WebApp::staticFile(const HttpRequest& request, const std::string& relative) const {
    const StaticFiles::File* f = files_.find(relative);
    if (!f) return errorResponse(404, "Not found");
    HttpResponse r;
    r.contentType = f->contentType;
    r.headers.emplace_back("ETag", f->etag);
    r.headers.emplace_back("Cache-Control", "no-cache");
    if (request.header("if-none-match") == f->etag) {
        r.status = 304;
        return r;
    }
    r.body = f->body;
    return r;
}

HttpResponse WebApp::page(const HttpRequest& request) {
    const bool loginPage = request.path == "/login";
    if (!loginPage && !isPagePath(request.path)) return errorResponse(404, "Not found");
    const bool signedIn = authenticate(request).ok;
    HttpResponse r;
    if (loginPage && signedIn) {
        r.status = 302;
        r.headers.emplace_back("Location", "/");
        return r;
    }
    if (!loginPage && !signedIn) {
        r.status = 302;
        // Only our own page paths go into next (checked above), so the redirect cannot leave the site.
        r.headers.emplace_back("Location", request.path == "/" ? "/login" : "/login?next=" + request.path);
        return r;
    }
    const StaticFiles::File* f = files_.find(loginPage ? "login.html" : "index.html");
    if (!f) return errorResponse(404, "Not found");
    r.contentType = f->contentType;
    r.body = f->body;
    return r;
}

HttpResponse WebApp::api(const HttpRequest& request) {
    const std::string route = request.path.substr(4);  // "/overview", "/onutable/3" ...
    if (route == "/login" || route == "/token") {
        if (request.method != "POST") return errorResponse(405, "Method not allowed");
        if (crossSite(request)) return errorResponse(403, "Cross-site request refused");
        return login(request, route == "/token");
    }
    const Auth auth = authenticate(request);
    if (!auth.ok) return errorResponse(401, "Log in first");
    if (request.method != "GET" && request.method != "HEAD") {
        // A browser attaches the cookie by itself; only our pages know the session's CSRF token.
        if (crossSite(request)) return errorResponse(403, "Cross-site request refused");
        if (auth.viaCookie) {
            const std::string sent = request.header("x-csrf-token");
            if (sent.size() != auth.session.csrf.size() ||
                CRYPTO_memcmp(sent.data(), auth.session.csrf.data(), sent.size()) != 0)
                return errorResponse(403, "Missing or wrong X-CSRF-Token: reload the page");
        }
    }
    if (route == "/session") {
        return jsonResponse(200, "{\"user\":" + webjson::quote(auth.session.user) + ",\"csrf\":" +
                                     webjson::quote(auth.viaCookie ? auth.session.csrf : "") + "}");
    }
    if (route == "/logout") {
        if (request.method != "POST") return errorResponse(405, "Method not allowed");
        sessions_.remove(auth.session.token);
        HttpResponse r = jsonResponse(200, "{}");
        r.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
        return r;
    }
    if (route == "/credentials") {
        if (request.method != "POST") return errorResponse(405, "Method not allowed");
        return credentials(request, auth);
    }
    if (route == "/overview") return request.method == "GET" ? overview() : errorResponse(405, "Method not allowed");
    if (startsWith(route, "/slot/")) return action(request, route);
    if (startsWith(route, "/history/"))
        return request.method == "GET" ? history(route) : errorResponse(405, "Method not allowed");
    if (route == "/systeminfo" || route == "/network-interfaces") return settings(request);
    if (route == "/backup") return request.method == "GET" ? backup() : errorResponse(405, "Method not allowed");
    if (route == "/restore") return request.method == "POST" ? restore(request) : errorResponse(405, "Method not allowed");
    if (route == "/factory-reset" || route == "/reboot") {
        if (request.method != "POST") return errorResponse(405, "Method not allowed");
        return route == "/reboot" ? systemFlag("reboot", "The card is rebooting")
                                  : systemFlag("resetFactory", "The card resets to factory settings and reboots");
    }
    return tables(request, route);
}

// The stored credentials, read afresh for every check; the hash stays in this process.
std::string WebApp::storedPasswordHash(std::string& user) {
    const ApiClient::Response r = link_.get("/privatestore");
    if (!r.err.empty()) throw std::runtime_error("credentials not readable: " + r.err);
    JsonPtr store(cJSON_Parse(r.data.c_str()));
    user = webjson::stringMember(store.get(), "wAdmUser");
    return webjson::stringMember(store.get(), "wAdmPass");
}

HttpResponse WebApp::login(const HttpRequest& request, bool forScripts) {
    JsonPtr body(cJSON_Parse(request.body.c_str()));
    if (!cJSON_IsObject(body.get())) return errorResponse(400, "Send {\"user\":...,\"password\":...}");
    const auto now = Sessions::Clock::now();
    // A browser that logged in before shows its device cookie: other addresses' failures
    // do not brake it (scripts carry none).
    auto shown = request.cookies.find(kDeviceCookie);
    const std::string device = forScripts || shown == request.cookies.end() ? "" : shown->second;
    // Counted as a failure from here until the password is found right.
    const long wait = sessions_.beginLoginAttempt(request.client, now, device);
    if (wait > 0) {
        HttpResponse r = errorResponse(429, "Too many failed logins: try again in " + std::to_string(wait) + " s");
        r.headers.emplace_back("Retry-After", std::to_string(wait));
        return r;
    }
    const std::string user = webjson::stringMember(body.get(), "user");
    const std::string password = webjson::stringMember(body.get(), "password");
    std::string storedUser;
    const std::string stored = storedPasswordHash(storedUser);
    const std::string typed = Helper::getPasswordHash(password);
    const bool ok = !storedUser.empty() && user == storedUser && typed.size() == stored.size() &&
                    CRYPTO_memcmp(typed.data(), stored.data(), typed.size()) == 0;
    if (!ok) return errorResponse(401, "Wrong user name or password");
    sessions_.loginSucceeded(request.client, device);
    if (forScripts) {
        const Sessions::Session s = sessions_.create(user, now, Sessions::Kind::Bearer, request.client);
        return jsonResponse(200, "{\"token\":" + webjson::quote(s.token) + "}");
    }
    // A browser that logs in again replaces its own session rather than adding one.
    auto previous = request.cookies.find(kCookie);
    if (previous != request.cookies.end()) sessions_.remove(previous->second);
    const Sessions::Session s = sessions_.create(user, now, Sessions::Kind::Browser, request.client);
    HttpResponse r = jsonResponse(200, "{\"user\":" + webjson::quote(user) + ",\"csrf\":" + webjson::quote(s.csrf) + "}");
    r.headers.emplace_back("Set-Cookie", sessionCookie(s.token));
    r.headers.emplace_back("Set-Cookie", std::string(kDeviceCookie) + "=" + sessions_.rememberDevice(user, device, now) +
                                             "; Path=/api/login; Max-Age=31536000; HttpOnly; SameSite=Strict");
    return r;
}

HttpResponse WebApp::credentials(const HttpRequest& request, const Auth& auth) {
    JsonPtr body(cJSON_Parse(request.body.c_str()));
    if (!cJSON_IsObject(body.get()))
        return errorResponse(400, "Send {\"currentPassword\":...,\"user\":...,\"password\":...}");
    const auto now = Sessions::Clock::now();
    // Counts as a failed login until the current password is found right: a stolen session
    // must not become a password oracle.
    const long wait = sessions_.beginLoginAttempt(request.client, now);
    if (wait > 0) return errorResponse(429, "Too many failed attempts: try again in " + std::to_string(wait) + " s");
    std::string storedUser;
    const std::string stored = storedPasswordHash(storedUser);
    const std::string typed = Helper::getPasswordHash(webjson::stringMember(body.get(), "currentPassword"));
    if (typed.size() != stored.size() || CRYPTO_memcmp(typed.data(), stored.data(), typed.size()) != 0) {
        return jsonResponse(403, "{\"error\":\"The current password is wrong\",\"fields\":{\"currentPassword\":"
                                 "\"The current password is wrong\"}}");
    }
    sessions_.loginSucceeded(request.client);
    const std::string user = webjson::stringMember(body.get(), "user");
    const std::string password = webjson::stringMember(body.get(), "password");
    const validation::Result check = validation::checkCredentials(user, password);
    if (!check.errors.empty()) {
        std::string fields;
        for (auto& [key, message] : check.errors)
            fields += (fields.empty() ? "" : ",") + webjson::quote(key) + ":" + webjson::quote(message);
        return jsonResponse(422, "{\"error\":" + webjson::quote(check.joinedErrors()) + ",\"fields\":{" + fields + "}}");
    }
    const ApiClient::Response r = link_.set("/privatestore", "{\"wAdmUser\":" + webjson::quote(user) +
                                                                 ",\"wAdmPass\":" +
                                                                 webjson::quote(Helper::getPasswordHash(password)) + "}");
    if (!r.err.empty()) return errorResponse(502, r.err);
    // Everybody else signed in with the old credentials is signed out.
    sessions_.removeAllExcept(auth.session.token);
    return jsonResponse(200, "{\"user\":" + webjson::quote(user) + "}");
}

HttpResponse WebApp::fromHalvorn(const ApiClient::Response& r, int okStatus) {
    if (r.err.empty()) return jsonResponse(okStatus, r.data.empty() ? "{}" : r.data);
    const std::string& e = r.err;
    if (startsWith(e, "id(") || startsWith(e, "Invalid ID object") || startsWith(e, "Object name"))
        return errorResponse(404, e);
    if (e == "Impossible to send this task") return errorResponse(503, e);
    // Settings errors name their member: "Invalid IPv4(x) for 'key'", joined by ",".
    static const std::regex member("for '([A-Za-z0-9_]+)'");
    std::string fields;
    size_t start = 0;
    while (start < e.size()) {
        size_t next = e.find(",Invalid ", start + 1);
        const std::string one = e.substr(start, next == std::string::npos ? std::string::npos : next - start);
        std::smatch m;
        if (std::regex_search(one, m, member))
            fields += (fields.empty() ? "" : ",") + webjson::quote(m[1].str()) + ":" + webjson::quote(one);
        if (next == std::string::npos) break;
        start = next + 1;
    }
    if (!fields.empty()) return jsonResponse(422, "{\"error\":" + webjson::quote(e) + ",\"fields\":{" + fields + "}}");
    return errorResponse(400, e);
}
