#include "WebApp.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "Helper.h"
#include "JsonHelper.h"
#include "PrintException.h"
#include "Uris.h"
#include "Validation.h"
#include "WebJson.h"

namespace {

// The single-page console's paths: "/" or segments of lower-case letters and digits. Each
// answers the same page, whose router draws the view (or says there is none), so a new view
// is an entry in the pages' route list alone. No such path can leave the site when it goes
// into the login's next ("//host" cannot be formed).
bool isPagePath(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    if (path.size() == 1) return true;
    for (size_t i = 1; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/') {
            if (path[i - 1] == '/' || i + 1 == path.size()) return false;
        } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexOrColon(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':'; }

// Whether one path segment fits one placeholder of a route's shape.
bool fitsPlaceholder(const std::string& name, const std::string& segment) {
    // A table's route segment is its URI without the leading '/'.
    static const std::set<std::string> tables = {Uris::kOnuTable + 1,       Uris::kOltTable + 1,
                                                 Uris::kSlotTable + 1,      Uris::kModuleOltTable + 1,
                                                 Uris::kModuleOnuTable + 1, Uris::kOltAlarmTable + 1};
    if (name == "table") return tables.count(segment) > 0;
    if (name == "id") {
        if (segment.empty() || segment.size() > 19) return false;
        for (char c : segment)
            if (!isDigit(c)) return false;
        return true;
    }
    if (name == "slot") return segment.size() == 1 && segment[0] >= '1' && segment[0] <= '8';
    if (name == "pon") return segment == "0" || segment == "1";
    if (name == "mac") {
        if (segment.size() != 17) return false;
        for (char c : segment)
            if (!isHexOrColon(c)) return false;
        return true;
    }
    return false;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The first "for '<key>'" of a Halvorn error, key made of letters, digits and '_'; "" when
// there is none. The error may repeat what the request sent, so this is a plain scan.
std::string memberNamed(const std::string& error) {
    const std::string mark = "for '";
    for (size_t at = error.find(mark); at != std::string::npos; at = error.find(mark, at + 1)) {
        size_t end = at + mark.size();
        while (end < error.size() && (std::isalnum(static_cast<unsigned char>(error[end])) || error[end] == '_')) ++end;
        if (end > at + mark.size() && end < error.size() && error[end] == '\'')
            return error.substr(at + mark.size(), end - at - mark.size());
    }
    return "";
}

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

HttpResponse fieldErrorsResponse(const validation::Result& check) {
    std::string fields;
    for (auto& [key, message] : check.errors)
        fields += (fields.empty() ? "" : ",") + webjson::quote(key) + ":" + webjson::quote(message);
    return jsonResponse(422, "{\"error\":" + webjson::quote(check.joinedErrors()) + ",\"fields\":{" + fields + "}}");
}

HttpResponse errorResponse(int status, const std::string& message) {
    return jsonResponse(status, webjson::errorObject(message));
}

HttpResponse unreachableResponse(const HalvornLink::Unreachable& e) {
    return jsonResponse(503,
                        "{\"error\":" + webjson::quote(std::string("The card's database is unreachable: ") + e.what()) +
                            ",\"unreachable\":true}");
}

WebApp::WebApp(Config config, HalvornLink& link, Sessions& sessions, OpticsHistory& history, const StaticFiles& files)
    : config_(config), link_(link), cache_(config.readMaxAge), sessions_(sessions), history_(history), files_(files) {}

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
    const Found found = findRoute(request.method, request.path.substr(4));
    const bool open = found.route && found.route->open;
    if (!open && !authenticate(request).ok) return errorResponse(401, "Log in first");
    if (contentLength > bodyLimitFor(request) && request.method != "GET")
        return errorResponse(413,
                             "Request body too large: at most " + std::to_string(bodyLimitFor(request)) + " bytes");
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
        printException(__func__, __LINE__, e);
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

const std::vector<WebApp::Route>& WebApp::routes() {
    const auto action = [](WebApp& app, const Call& c) { return app.action(c.request, c.route); };
    const auto settings = [](WebApp& app, const Call& c) { return app.settings(c.request); };
    const auto table = [](WebApp& app, const Call& c) {
        return app.readTable(c.args[0], c.args.size() > 1 ? c.args[1] : "");
    };
    const auto row = [](WebApp& app, const Call& c) {
        return app.changeRow(c.request, c.args[0], c.args.size() > 1 ? c.args[1] : "");
    };
    static const std::vector<Route> all = {
        {"POST", "/login", true, [](WebApp& app, const Call& c) { return app.login(c.request, false); }},
        {"POST", "/token", true, [](WebApp& app, const Call& c) { return app.login(c.request, true); }},
        {"", "/session", false,
         [](WebApp&, const Call& c) {
             return jsonResponse(200, "{\"user\":" + webjson::quote(c.auth.session.user) + ",\"csrf\":" +
                                          webjson::quote(c.auth.viaCookie ? c.auth.session.csrf : "") + "}");
         }},
        {"POST", "/logout", false, [](WebApp& app, const Call& c) { return app.logout(c.auth); }},
        {"POST", "/credentials", false, [](WebApp& app, const Call& c) { return app.credentials(c.request, c.auth); }},
        {"GET", "/overview", false, [](WebApp& app, const Call&) { return app.overview(); }},
        {"POST", Uris::kSlotEnable, false, action},
        {"POST", Uris::kSlotDisable, false, action},
        {"POST", Uris::kSlotReset, false, action},
        {"POST", Uris::kSlotRestoreDefault, false, action},
        {"POST", Uris::kSlotOnuReset, false, action},
        {"POST", Uris::kSlotOnuRemove, false, action},
        // The shape is history's to check: any other method is refused before it is looked at.
        {"GET", "/history/*", false, [](WebApp& app, const Call& c) { return app.history(c.route); }},
        {"GET", Uris::kSystemInfo, false, settings},
        {"PUT", Uris::kSystemInfo, false, settings},
        {"GET", Uris::kNetworkInterfaces, false, settings},
        {"GET", "/backup", false, [](WebApp& app, const Call&) { return app.backup(); }},
        {"POST", "/restore", false, [](WebApp& app, const Call& c) { return app.restore(c.request); }},
        {"POST", "/factory-reset", false,
         [](WebApp& app, const Call&) {
             return app.systemFlag("resetFactory", "The card resets to factory settings and reboots");
         }},
        {"POST", "/reboot", false,
         [](WebApp& app, const Call&) { return app.systemFlag("reboot", "The card is rebooting"); }},
        {"GET", "/{table}", false, table},
        {"GET", "/{table}/{id}", false, table},
        {"PUT", "/{table}", false, row},
        {"PUT", "/{table}/{id}", false, row},
    };
    return all;
}

bool WebApp::matchShape(const char* shape, const std::string& path, std::vector<std::string>& args) {
    // Segment by segment: each character of the path is looked at once per shape.
    const std::string s = shape;
    size_t at = 0, on = 0;  // in the shape, in the path
    while (at < s.size()) {
        if (s[at] != '/' || on >= path.size() || path[on] != '/') return false;
        ++at;
        ++on;
        const size_t shapeEnd = std::min(s.find('/', at), s.size());
        const std::string part = s.substr(at, shapeEnd - at);
        if (part == "*") {
            args.push_back(path.substr(on));
            return true;
        }
        const size_t pathEnd = std::min(path.find('/', on), path.size());
        const std::string segment = path.substr(on, pathEnd - on);
        if (part.size() > 2 && part.front() == '{' && part.back() == '}') {
            if (!fitsPlaceholder(part.substr(1, part.size() - 2), segment)) return false;
            args.push_back(segment);
        } else if (part != segment) {
            return false;
        }
        at = shapeEnd;
        on = pathEnd;
    }
    return on == path.size();
}

WebApp::Found WebApp::findRoute(const std::string& method, const std::string& route) {
    Found found;
    for (const Route& r : routes()) {
        std::vector<std::string> args;
        if (!matchShape(r.shape, route, args)) continue;
        if (r.method[0] == '\0' || method == r.method) return Found{&r, true, std::move(args)};
        if (!found.route) found.route = &r;
    }
    return found;
}

HttpResponse WebApp::api(const HttpRequest& request) {
    const std::string route = request.path.substr(4);  // "/overview", "/onutable/3" ...
    const Found found = findRoute(request.method, route);
    if (found.route && found.route->open) {
        if (!found.allowed) return errorResponse(405, "Method not allowed");
        if (crossSite(request)) return errorResponse(403, "Cross-site request refused");
        const Auth none;
        return found.route->answer(*this, Call{request, none, route, found.args});
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
    if (!found.route) return errorResponse(404, "Not found");
    if (!found.allowed) return errorResponse(405, "Method not allowed");
    return found.route->answer(*this, Call{request, auth, route, found.args});
}

HttpResponse WebApp::logout(const Auth& auth) {
    sessions_.remove(auth.session.token);
    HttpResponse r = jsonResponse(200, "{}");
    r.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
    return r;
}

// The stored credentials, read afresh for every check; the hash stays in this process.
std::string WebApp::storedPasswordHash(std::string& user) {
    const ApiClient::Response r = link_.get(Uris::kPrivateStore);
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
    HttpResponse r =
        jsonResponse(200, "{\"user\":" + webjson::quote(user) + ",\"csrf\":" + webjson::quote(s.csrf) + "}");
    r.headers.emplace_back("Set-Cookie", sessionCookie(s.token));
    r.headers.emplace_back("Set-Cookie", std::string(kDeviceCookie) + "=" +
                                             sessions_.rememberDevice(user, device, now) +
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
        return jsonResponse(403,
                            "{\"error\":\"The current password is wrong\",\"fields\":{\"currentPassword\":"
                            "\"The current password is wrong\"}}");
    }
    sessions_.loginSucceeded(request.client);
    const std::string user = webjson::stringMember(body.get(), "user");
    const std::string password = webjson::stringMember(body.get(), "password");
    const validation::Result check = validation::checkCredentials(user, password);
    if (!check.errors.empty()) return fieldErrorsResponse(check);
    const ApiClient::Response r = setInHalvorn(
        Uris::kPrivateStore, "{\"wAdmUser\":" + webjson::quote(user) +
                                 ",\"wAdmPass\":" + webjson::quote(Helper::getPasswordHash(password)) + "}");
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
    std::string fields;
    size_t start = 0;
    while (start < e.size()) {
        size_t next = e.find(",Invalid ", start + 1);
        const std::string one = e.substr(start, next == std::string::npos ? std::string::npos : next - start);
        const std::string key = memberNamed(one);
        if (!key.empty()) fields += (fields.empty() ? "" : ",") + webjson::quote(key) + ":" + webjson::quote(one);
        if (next == std::string::npos) break;
        start = next + 1;
    }
    if (!fields.empty()) return jsonResponse(422, "{\"error\":" + webjson::quote(e) + ",\"fields\":{" + fields + "}}");
    return errorResponse(400, e);
}
