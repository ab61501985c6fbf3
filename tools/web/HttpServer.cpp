#include "HttpServer.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "WebJson.h"

namespace {

// State of one request across libmicrohttpd's calls: headers first, then the body in
// pieces, then the answer.
struct Pending {
    HttpRequest request;
    size_t limit = 0;
    bool tooLarge = false;
    bool large = false;  // a big body or answer went through: trim the heap afterwards
};

constexpr size_t kLargeAnswer = 128 * 1024;

int descriptorOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    return info ? info->connect_fd : -1;
}

int collectHeader(void* cls, MHD_ValueKind kind, const char* key, const char* value) {
    auto* r = static_cast<HttpRequest*>(cls);
    if (!key) return MHD_YES;
    const std::string v = value ? value : "";
    if (kind == MHD_HEADER_KIND) {
        std::string k = key;
        for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        r->headers[k] = v;
    } else if (kind == MHD_COOKIE_KIND) {
        r->cookies[key] = v;
    } else if (kind == MHD_GET_ARGUMENT_KIND) {
        r->query[key] = v;
    }
    return MHD_YES;
}

MHD_Result send(MHD_Connection* connection, const HttpResponse& out) {
    MHD_Response* response =
        MHD_create_response_from_buffer(out.body.size(), const_cast<char*>(out.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    if (out.status != 304 && !out.body.empty())
        MHD_add_response_header(response, "Content-Type", out.contentType.c_str());
    bool cacheSet = false;
    for (auto& [name, value] : out.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
        cacheSet = cacheSet || name == "Cache-Control";
    }
    if (!cacheSet) MHD_add_response_header(response, "Cache-Control", "no-store");
    // Everything the pages load comes from this server; system text is never markup.
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
                            "frame-ancestors 'none'; form-action 'self'");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    const MHD_Result r = MHD_queue_response(connection, static_cast<unsigned>(out.status), response);
    MHD_destroy_response(response);
    return r;
}

MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char* /*version*/, const char* uploadData, size_t* uploadSize, void** state) {
    auto* server = static_cast<HttpServer*>(cls);
    WebApp* app = &server->app();
    auto* pending = static_cast<Pending*>(*state);
    if (!pending) {
        auto p = std::make_unique<Pending>();
        p->request.method = method;
        p->request.path = url;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, reinterpret_cast<MHD_KeyValueIterator>(collectHeader),
                                  &p->request);
        MHD_get_connection_values(connection, MHD_COOKIE_KIND, reinterpret_cast<MHD_KeyValueIterator>(collectHeader),
                                  &p->request);
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND,
                                  reinterpret_cast<MHD_KeyValueIterator>(collectHeader), &p->request);
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        if (info && info->client_addr && info->client_addr->sa_family == AF_INET) {
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text, sizeof(text));
            p->request.client = text;
        }
        p->limit = app->bodyLimitFor(p->request);
        const std::string lengthText = p->request.header("content-length");
        const size_t length = lengthText.empty() ? 0 : std::strtoull(lengthText.c_str(), nullptr, 10);
        const HttpResponse refusal = app->early(p->request, length);
        if (refusal.status != 0) return send(connection, refusal);  // the body, if any, is never read
        server->guard().headersDone(descriptorOf(connection), std::min(length, p->limit),
                                    ConnectionGuard::Clock::now());
        *state = p.release();
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        if (pending->request.body.size() + *uploadSize > pending->limit) {
            pending->tooLarge = true;  // keep reading and dropping, then answer 413
        } else {
            pending->request.body.append(uploadData, *uploadSize);
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    if (pending->tooLarge)
        return send(connection,
                    errorResponse(413, "Request body too large: at most " + std::to_string(pending->limit) + " bytes"));
    server->guard().answering(descriptorOf(connection));
    const HttpResponse answer = app->handle(pending->request);
    // Answers built from whole tables (the table itself, the chassis summary) free their
    // parse trees and texts here.
    pending->large = answer.body.size() > kLargeAnswer || pending->request.body.size() > kLargeAnswer ||
                     pending->request.path == "/api/overview";
    return send(connection, answer);
}

// Percent-decoding of paths and query values, like libmicrohttpd's own except that "%00"
// stays as it is: a decoded zero byte would cut the path short ("/static/app.js%00.png"
// would name app.js), so such a path names nothing and answers 404.
size_t unescape(void*, MHD_Connection*, char* s) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    char* out = s;
    for (const char* in = s; *in;) {
        if (in[0] == '%' && in[1] && in[2] && hex(in[1]) >= 0 && hex(in[2]) >= 0 && (in[1] != '0' || in[2] != '0')) {
            *out++ = static_cast<char>(hex(in[1]) * 16 + hex(in[2]));
            in += 3;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - s);
}

void onCompleted(void* cls, MHD_Connection* connection, void** state, MHD_RequestTerminationCode) {
    static_cast<HttpServer*>(cls)->guard().requestDone(descriptorOf(connection), ConnectionGuard::Clock::now());
    auto* pending = static_cast<Pending*>(*state);
    const bool large = pending && pending->large;
    delete pending;
    *state = nullptr;
    // Each connection thread may leave a table's worth of freed blocks in its heap arena;
    // return them, so resident memory stays near what the server really holds.
    if (large) malloc_trim(0);
}

void onConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    ConnectionGuard& guard = static_cast<HttpServer*>(cls)->guard();
    const int fd = descriptorOf(connection);
    // Called before libmicrohttpd closes the descriptor, so it is never cut once reused.
    if (code == MHD_CONNECTION_NOTIFY_STARTED) guard.opened(fd, ConnectionGuard::Clock::now());
    else guard.closed(fd);
}

// A connection thread only parses and waits for Halvorn: far less than the default stack.
constexpr size_t kThreadStack = 256 * 1024;

}  // namespace

HttpServer::HttpServer(Config config, WebApp& app) : config_(std::move(config)), app_(app), guard_(config_.deadlines) {}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(std::string& error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(config_.port));
    if (inet_pton(AF_INET, config_.address.c_str(), &addr.sin_addr) != 1) {
        error = "invalid listening address " + config_.address;
        return false;
    }
    daemon_ = MHD_start_daemon(
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG, 0, nullptr, nullptr,
        &onRequest, this, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr), MHD_OPTION_CONNECTION_LIMIT,
        config_.connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, config_.perAddressLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, config_.connectionTimeoutSeconds, MHD_OPTION_NOTIFY_COMPLETED, &onCompleted,
        this, MHD_OPTION_NOTIFY_CONNECTION, &onConnection, this, MHD_OPTION_THREAD_STACK_SIZE, kThreadStack,
        MHD_OPTION_UNESCAPE_CALLBACK, &unescape, nullptr, MHD_OPTION_LISTENING_ADDRESS_REUSE, 1U, MHD_OPTION_END);
    if (!daemon_) {
        error =
            "cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " + std::strerror(errno);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : config_.port;
    stopping_ = false;
    watchdog_ = std::thread(&HttpServer::watch, this);
    return true;
}

void HttpServer::watch() {
    std::unique_lock<std::mutex> l(stopMutex_);
    while (!stopSignal_.wait_for(l, std::chrono::milliseconds(500), [this] { return stopping_; }))
        guard_.enforce(ConnectionGuard::Clock::now(), [](int fd) { ::shutdown(fd, SHUT_RDWR); });
}

void HttpServer::stop() {
    if (watchdog_.joinable()) {
        {
            std::lock_guard<std::mutex> l(stopMutex_);
            stopping_ = true;
        }
        stopSignal_.notify_all();
        watchdog_.join();
    }
    if (daemon_) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}
