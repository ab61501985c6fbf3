#pragma once
// What the web server answers, apart from HTTP itself (HttpServer): the pages, the session
// routes, and the JSON API under /api/ that mirrors Halvorn's API for the pages and for
// scripts. handle() maps one complete request to one response; it blocks while it talks
// to Halvorn (a few seconds at most, see HalvornLink). Every route but the login page, the
// login itself and the static files needs a session (cookie or bearer token); changes made
// with the session cookie must carry the session's X-CSRF-Token header and must not come
// from another site. Thread-safe: the shared parts guard themselves.
//
// The API's routes are the one table in WebApp::routes() (method, shape, answer). All answer
// JSON: errors are {"error":text}, settings errors add {"fields":{key:text}}.

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "HalvornLink.h"
#include "OpticsHistory.h"
#include "ReadCache.h"
#include "Sessions.h"
#include "StaticFiles.h"

namespace validation {
struct Result;
}

struct HttpRequest {
    std::string method;
    std::string path;  // decoded, without the query
    std::string body;
    std::string client;                          // the peer's address
    std::map<std::string, std::string> headers;  // names in lower case
    std::map<std::string, std::string> cookies;
    std::map<std::string, std::string> query;
    std::string header(const std::string& lowerName) const {
        auto it = headers.find(lowerName);
        return it == headers.end() ? "" : it->second;
    }
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

class WebApp {
public:
    struct Config {
        size_t bodyLimit = 64 * 1024;          // JSON bodies
        size_t uploadLimit = 4 * 1024 * 1024;  // restore archives
        std::chrono::milliseconds backupWait{20000};
        std::chrono::milliseconds backupPoll{250};
        // How old a whole table (or the chassis summary) served to a request may be.
        std::chrono::milliseconds readMaxAge{1000};
    };

    WebApp(Config config, HalvornLink& link, Sessions& sessions, OpticsHistory& history, const StaticFiles& files);

    HttpResponse handle(const HttpRequest& request);

    // Decided before the body is read: the largest body the route takes (0 when it takes
    // none), and whether the request may go on at all (an early 401/404/405/413 otherwise).
    size_t bodyLimitFor(const HttpRequest& request) const;
    // An answer that needs no body (refusals); status 0 when the request should be read whole.
    HttpResponse early(const HttpRequest& request, size_t contentLength);

    static constexpr const char* kCookie = "ponmc_session";
    // Given at each browser login and shown only to the login (its path), for the brake.
    static constexpr const char* kDeviceCookie = "ponmc_device";

private:
    struct Auth {
        bool ok = false;
        bool viaCookie = false;
        Sessions::Session session;
    };
    // What a route's answer gets: the request, its session (empty for the open routes),
    // the path below /api/ and the texts of the shape's placeholders, in order.
    struct Call {
        const HttpRequest& request;
        const Auth& auth;
        const std::string& route;
        std::vector<std::string> args;
    };
    // One API route: its method ("" for any), the shape of its path below /api/ and its
    // answer. A path that has a route's shape but not its method answers 405, a path of no
    // shape 404. Shapes are literal segments and placeholders: {table} a table the API
    // mirrors, {id} 1 to 19 digits, {slot} 1-8, {pon} 0 or 1, {mac} 17 hex digits and
    // colons, and a last * for the rest of the path (maybe empty).
    struct Route {
        const char* method;
        const char* shape;
        bool open;  // answered without a session: the logins
        HttpResponse (*answer)(WebApp& app, const Call& call);
    };
    static const std::vector<Route>& routes();
    // Whether path has shape; the placeholders' texts are appended to args. Linear in the
    // path's length: request paths are the client's to choose.
    static bool matchShape(const char* shape, const std::string& path, std::vector<std::string>& args);
    // The route for a method and a path below /api/: the first of that shape and method,
    // else (allowed false) the first of that shape, else none.
    struct Found {
        const Route* route = nullptr;
        bool allowed = false;
        std::vector<std::string> args;
    };
    static Found findRoute(const std::string& method, const std::string& route);

    Auth authenticate(const HttpRequest& request);
    bool crossSite(const HttpRequest& request) const;
    HttpResponse page(const HttpRequest& request);
    HttpResponse staticFile(const HttpRequest& request, const std::string& relative) const;
    HttpResponse api(const HttpRequest& request);
    HttpResponse login(const HttpRequest& request, bool forScripts);
    HttpResponse logout(const Auth& auth);
    HttpResponse credentials(const HttpRequest& request, const Auth& auth);
    // ApiRoutes.cpp
    HttpResponse overview();
    std::string overviewText();
    // A whole-table read through the cache; a change through Halvorn that empties it.
    ReadCache::Answer cachedGet(const std::string& uri);
    ApiClient::Response setInHalvorn(const std::string& uri, const std::string& data);
    HttpResponse readTable(const std::string& table, const std::string& id);
    HttpResponse changeRow(const HttpRequest& request, const std::string& table, const std::string& id);
    HttpResponse action(const HttpRequest& request, const std::string& route);
    HttpResponse history(const std::string& route) const;
    // SystemRoutes.cpp
    HttpResponse settings(const HttpRequest& request);
    HttpResponse backup();
    HttpResponse restore(const HttpRequest& request);
    HttpResponse systemFlag(const std::string& flag, const std::string& message);
    // Halvorn's answer to a request as an HTTP response: its data, or its error mapped.
    static HttpResponse fromHalvorn(const ApiClient::Response& r, int okStatus = 200);
    std::string storedPasswordHash(std::string& user);

    const Config config_;
    HalvornLink& link_;
    ReadCache cache_;
    Sessions& sessions_;
    OpticsHistory& history_;
    const StaticFiles& files_;
    std::mutex backupMutex_;  // one backup or restore at a time
};

// Small builders shared by the route files.
HttpResponse jsonResponse(int status, std::string body);
HttpResponse errorResponse(int status, const std::string& message);
// 422 with every refused member: {"error":"<all>","fields":{"<member>":"<why>"...}}.
HttpResponse fieldErrorsResponse(const validation::Result& check);
HttpResponse unreachableResponse(const HalvornLink::Unreachable& e);
