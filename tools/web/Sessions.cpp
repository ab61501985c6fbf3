#include "Sessions.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace {
// Failure records are forgotten after this long without a new failure, and their number is
// bounded so that a flood of addresses cannot grow the map without end.
constexpr auto kFailureMemory = std::chrono::minutes(15);
constexpr size_t kMaxFailureRecords = 4096;
constexpr int kFreeFailures = 2;
}  // namespace

Sessions::Sessions(std::chrono::seconds idleTimeout, size_t maxSessions, std::chrono::seconds maxBlock)
    : idleTimeout_(idleTimeout), maxSessions_(std::max<size_t>(maxSessions, 1)), maxBlock_(maxBlock) {}

std::string Sessions::randomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1)
        throw std::runtime_error("random generator failed");
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes * 2);
    for (unsigned char b : raw) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    OPENSSL_cleanse(raw.data(), raw.size());
    return out;
}

Sessions::Session Sessions::create(const std::string& user, Clock::time_point now) {
    Session s{randomHex(32), randomHex(16), user, now};
    std::lock_guard<std::mutex> l(mutex_);
    expireLockHeld(now);
    while (sessions_.size() >= maxSessions_) {
        auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](auto& a, auto& b) {
            return a.second.lastSeen < b.second.lastSeen;
        });
        sessions_.erase(oldest);
    }
    sessions_[s.token] = s;
    return s;
}

std::optional<Sessions::Session> Sessions::touch(const std::string& token, Clock::time_point now, bool operatorRequest) {
    if (token.empty()) return std::nullopt;
    std::lock_guard<std::mutex> l(mutex_);
    auto it = sessions_.find(token);
    if (it == sessions_.end()) return std::nullopt;
    if (now - it->second.lastSeen > idleTimeout_) {
        sessions_.erase(it);
        return std::nullopt;
    }
    if (operatorRequest) it->second.lastSeen = now;
    return it->second;
}

void Sessions::remove(const std::string& token) {
    std::lock_guard<std::mutex> l(mutex_);
    sessions_.erase(token);
}

void Sessions::removeAllExcept(const std::string& keep) {
    std::lock_guard<std::mutex> l(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = it->first == keep ? std::next(it) : sessions_.erase(it);
}

size_t Sessions::count(Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    expireLockHeld(now);
    return sessions_.size();
}

void Sessions::expireLockHeld(Clock::time_point now) {
    for (auto it = sessions_.begin(); it != sessions_.end();)
        it = now - it->second.lastSeen > idleTimeout_ ? sessions_.erase(it) : std::next(it);
}

long Sessions::waitLockHeld(const std::string& address, Clock::time_point now) const {
    auto it = failures_.find(address);
    if (it == failures_.end()) return 0;
    const Failures& f = it->second;
    if (f.count <= kFreeFailures) return 0;
    const int doublings = std::min(f.count - kFreeFailures, 20);
    const auto block = std::min<std::chrono::seconds>(std::chrono::seconds(1L << doublings), maxBlock_);
    const auto left = f.last + block - now;
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<long>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

long Sessions::loginWaitSeconds(const std::string& address, Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    return waitLockHeld(address, now);
}

long Sessions::beginLoginAttempt(const std::string& address, Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    const long wait = waitLockHeld(address, now);
    if (wait == 0) failedLockHeld(address, now);
    return wait;
}

void Sessions::failedLockHeld(const std::string& address, Clock::time_point now) {
    for (auto it = failures_.begin(); it != failures_.end();)
        it = now - it->second.last > kFailureMemory ? failures_.erase(it) : std::next(it);
    if (failures_.size() >= kMaxFailureRecords && !failures_.count(address)) {
        auto oldest = std::min_element(failures_.begin(), failures_.end(),
                                       [](auto& a, auto& b) { return a.second.last < b.second.last; });
        failures_.erase(oldest);
    }
    Failures& f = failures_[address];
    f.count++;
    f.last = now;
}

void Sessions::loginSucceeded(const std::string& address) {
    std::lock_guard<std::mutex> l(mutex_);
    failures_.erase(address);
}
