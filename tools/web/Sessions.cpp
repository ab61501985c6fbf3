#include "Sessions.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {
// Failure records are forgotten after this long without a new failure, and their number is
// bounded so that a flood of addresses cannot grow the map without end.
constexpr auto kFailureMemory = std::chrono::minutes(15);
constexpr size_t kMaxFailureRecords = 4096;
constexpr int kFreeFailures = 2;
// How far back failures count towards the account's brake.
constexpr auto kGlobalWindow = std::chrono::minutes(1);
// While braked, at most one check waits its turn in advance: a burst after a pause gets
// one check, not a minute's worth.
constexpr double kMaxAllowance = 1;
}  // namespace

Sessions::Sessions(std::chrono::seconds idleTimeout, size_t maxSessions, std::chrono::seconds maxBlock)
    : idleTimeout_(idleTimeout), maxSessions_(std::max<size_t>(maxSessions, 1)), maxBlock_(maxBlock) {}

std::string Sessions::randomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) throw std::runtime_error("random generator failed");
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

Sessions::Session Sessions::create(const std::string& user, Clock::time_point now, Kind kind,
                                   const std::string& client) {
    Session s{randomHex(32), randomHex(16), user, now, kind, client};
    std::lock_guard<std::mutex> l(mutex_);
    expireLockHeld(now);
    evictLockHeld(kind, user, client);
    sessions_[s.token] = s;
    return s;
}

// Makes room for one more session of kind, taking only sessions of that kind: first the
// oldest bearer token of the same script (user and client) beyond its share, then the least
// recently seen of the kind's pool.
void Sessions::evictLockHeld(Kind kind, const std::string& user, const std::string& client) {
    auto byLastSeen = [](auto& a, auto& b) { return a->second.lastSeen < b->second.lastSeen; };
    std::vector<std::map<std::string, Session>::iterator> pool, own;
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (it->second.kind != kind) continue;
        pool.push_back(it);
        if (kind == Kind::Bearer && it->second.user == user && it->second.client == client) own.push_back(it);
    }
    if (own.size() >= kTokensPerClient) {
        auto oldest = *std::min_element(own.begin(), own.end(), byLastSeen);
        pool.erase(std::find(pool.begin(), pool.end(), oldest));
        sessions_.erase(oldest);
    }
    std::sort(pool.begin(), pool.end(), byLastSeen);
    for (size_t i = 0; pool.size() - i >= maxSessions_; ++i) sessions_.erase(pool[i]);
}

std::optional<Sessions::Session> Sessions::touch(const std::string& token, Clock::time_point now,
                                                 bool operatorRequest) {
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
    return it == failures_.end() ? 0 : backoffSeconds(it->second, now);
}

long Sessions::backoffSeconds(const Failures& f, Clock::time_point now) const {
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

long Sessions::beginLoginAttempt(const std::string& address, Clock::time_point now, const std::string& device) {
    std::lock_guard<std::mutex> l(mutex_);
    auto known = device.empty() ? devices_.end() : devices_.find(device);
    if (known != devices_.end()) {
        Failures& f = known->second.failures;
        const long wait = backoffSeconds(f, now);
        if (wait > 0) return wait;
        if (++f.count >= kDeviceFailures) devices_.erase(known);  // no longer a trusted browser
        else f.last = now;
        return 0;
    }
    long wait = waitLockHeld(address, now);
    if (wait == 0) wait = takeGlobalCheckLockHeld(now);
    if (wait == 0) {
        failedLockHeld(address, now);
        recentFailures_.push_back(now);
    }
    return wait;
}

long Sessions::takeGlobalCheckLockHeld(Clock::time_point now) {
    while (!recentFailures_.empty() && now - recentFailures_.front() > kGlobalWindow) recentFailures_.pop_front();
    const double perSecond = kChecksPerMinute / 60.0;
    if (static_cast<int>(recentFailures_.size()) < kGlobalFailures) {
        checkAllowance_ = kMaxAllowance;
        allowanceAt_ = now;
        return 0;
    }
    const double elapsed = std::chrono::duration<double>(now - allowanceAt_).count();
    checkAllowance_ = std::min(kMaxAllowance, checkAllowance_ + std::max(0.0, elapsed) * perSecond);
    allowanceAt_ = now;
    if (checkAllowance_ >= 1) {
        checkAllowance_ -= 1;
        return 0;
    }
    return static_cast<long>(std::ceil((1 - checkAllowance_) / perSecond));
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

void Sessions::loginSucceeded(const std::string& address, const std::string& device) {
    std::lock_guard<std::mutex> l(mutex_);
    auto known = device.empty() ? devices_.end() : devices_.find(device);
    if (known != devices_.end()) {
        known->second.failures = Failures{};
        return;
    }
    failures_.erase(address);
    // The attempt was counted as a failure of the account when it began.
    if (!recentFailures_.empty()) recentFailures_.pop_back();
}

std::string Sessions::rememberDevice(const std::string& user, const std::string& shown, Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    auto known = shown.empty() ? devices_.end() : devices_.find(shown);
    if (known != devices_.end() && known->second.user == user) {
        known->second.lastUsed = now;
        return shown;
    }
    if (devices_.size() >= kMaxDevices) {
        auto oldest = std::min_element(devices_.begin(), devices_.end(),
                                       [](auto& a, auto& b) { return a.second.lastUsed < b.second.lastUsed; });
        devices_.erase(oldest);
    }
    std::string token = randomHex(32);
    devices_[token] = Device{user, now, Failures{}};
    return token;
}
