#include "HalvornLink.h"

#include <algorithm>

#include "Exception.h"

HalvornLink::HalvornLink(std::string portFile) : HalvornLink(std::move(portFile), Limits()) {}

namespace {

ApiClient::Options clientOptions(const HalvornLink::Limits& limits) {
    ApiClient::Options o;
    o.portFileWaitMs = std::max(limits.portFileWaitSeconds, 1) * 1000;
    o.pingAttempts = 1;
    o.pingTimeoutMs = limits.pingTimeoutMs;
    o.responseTimeoutMs = limits.responseTimeoutMs;
    return o;
}

}  // namespace

HalvornLink::HalvornLink(std::string portFile, Limits limits)
    : portFile_(std::move(portFile)), limits_(limits), options_(clientOptions(limits)) {}

bool HalvornLink::reachable() const {
    std::lock_guard<std::mutex> l(stateMutex_);
    return reachable_;
}

long HalvornLink::lastExchangeMs() const {
    std::lock_guard<std::mutex> l(stateMutex_);
    return lastExchangeMs_;
}

ApiClient::Response HalvornLink::exchange(const std::string& action, const std::string& uri, const std::string& data) {
    {
        std::unique_lock<std::mutex> l(stateMutex_);
        if (!turnFree_.wait_for(l, std::chrono::milliseconds(limits_.queueWaitMs), [this] { return !busy_; }))
            throw Unreachable("Halvorn is busy or not answering: no turn on the web channel");
        busy_ = true;
    }
    struct Release {
        HalvornLink& link;
        ~Release() {
            {
                std::lock_guard<std::mutex> l(link.stateMutex_);
                link.busy_ = false;
            }
            link.turnFree_.notify_one();
        }
    } release{*this};
    ApiClient client(portFile_, ApiClient::kWebClientPort, options_);
    const auto start = std::chrono::steady_clock::now();
    try {
        ApiClient::Response r = client.request(action, uri, data);
        const long ms = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        std::lock_guard<std::mutex> l(stateMutex_);
        reachable_ = true;
        lastExchangeMs_ = ms;
        return r;
    } catch (const Exception& e) {
        {
            std::lock_guard<std::mutex> l(stateMutex_);
            reachable_ = false;
        }
        throw Unreachable(e.getMessage());
    }
}
