#pragma once
// Login sessions of the web interface and the brake on password guessing.
// A session is found by its token (64 hex digits from OpenSSL's random generator), carried
// in the HttpOnly session cookie (a browser's session) or as a bearer token (a script's);
// it also holds a second random token that the pages send in a header with every change
// (cookie-authenticated requests only), so a cross-site form cannot change anything.
// Sessions end after idleTimeout without a request, on logout, after a change of the
// credentials, or to make room among their own kind: browsers' sessions and bearer tokens
// are kept in pools of their own (maxSessions each), so scripts that log in on every run
// never sign an operator out. A client that keeps asking for bearer tokens replaces its own
// oldest one beyond kTokensPerClient.
//
// The brake has three parts, each against one way of guessing:
// - per client address: from the third failure on, that address waits 2, 4, 8 ... seconds
//   (at most maxBlock, a few seconds, so that an operator behind the same address as an
//   attacker gets in again soon after the attack stops); a success clears it;
// - for the account, across all addresses: once failures pile up (kGlobalFailures within a
//   minute) password checks are let through at kChecksPerMinute only, so many addresses
//   guess no faster than one;
// - a device cookie, given to a browser at each successful login: a login that shows a
//   known one meets neither of the two above (other addresses' failures never lock out a
//   browser that has logged in before), only a count of its own failures, and the device is
//   forgotten after kDeviceFailures of them.
// Time is an argument of every call. Thread-safe (one mutex). randomHex throws
// std::runtime_error when the random generator fails.

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class Sessions {
public:
    using Clock = std::chrono::steady_clock;
    enum class Kind { Browser, Bearer };
    struct Session {
        std::string token;  // the session's key
        std::string csrf;   // sent back in X-CSRF-Token by the pages
        std::string user;
        Clock::time_point lastSeen;
        Kind kind = Kind::Browser;
        std::string client;  // the address it was created from
    };

    static constexpr size_t kTokensPerClient = 4;
    static constexpr int kGlobalFailures = 10;
    static constexpr int kChecksPerMinute = 30;
    static constexpr int kDeviceFailures = 10;
    static constexpr size_t kMaxDevices = 256;

    explicit Sessions(std::chrono::seconds idleTimeout, size_t maxSessions = 64,
                      std::chrono::seconds maxBlock = std::chrono::seconds(8));

    // A new session of kind; a bearer token of the same user and client beyond
    // kTokensPerClient replaces the oldest of them.
    Session create(const std::string& user, Clock::time_point now, Kind kind = Kind::Browser,
                   const std::string& client = "");
    // The live session of the token, its idle clock restarted unless the request was one the
    // page sent on its own (a poll: an unattended console must still time out); none when
    // unknown or expired.
    std::optional<Session> touch(const std::string& token, Clock::time_point now, bool operatorRequest = true);
    void remove(const std::string& token);
    // Ends every session but keep (after a change of the credentials).
    void removeAllExcept(const std::string& keep);
    size_t count(Clock::time_point now);

    // Seconds the address must still wait before its next login attempt; 0 when it may.
    long loginWaitSeconds(const std::string& address, Clock::time_point now);
    // The check and the count in one step: the wait (the address's, the account's, or, with
    // a known device cookie, the device's alone), and when it is 0 the attempt is counted as
    // failed at once, until loginSucceeded clears it. Guesses sent in parallel therefore meet
    // the brake as if they had been sent one after another.
    long beginLoginAttempt(const std::string& address, Clock::time_point now, const std::string& device = "");
    void loginSucceeded(const std::string& address, const std::string& device = "");
    // The device cookie to give a browser that has just logged in as user: the one it
    // showed when that is known, else a new one.
    std::string rememberDevice(const std::string& user, const std::string& shown, Clock::time_point now);

    // n random bytes from OpenSSL as 2n lower-case hex digits.
    static std::string randomHex(size_t bytes);

private:
    struct Failures {
        int count = 0;
        Clock::time_point last;
    };
    struct Device {
        std::string user;
        Clock::time_point lastUsed;
        Failures failures;
    };
    void expireLockHeld(Clock::time_point now);
    void evictLockHeld(Kind kind, const std::string& user, const std::string& client);
    void failedLockHeld(const std::string& address, Clock::time_point now);
    long waitLockHeld(const std::string& address, Clock::time_point now) const;
    long backoffSeconds(const Failures& f, Clock::time_point now) const;
    // The account's rate: the seconds until the next check may run; when 0 it is taken.
    long takeGlobalCheckLockHeld(Clock::time_point now);

    const std::chrono::seconds idleTimeout_;
    const size_t maxSessions_;
    const std::chrono::seconds maxBlock_;
    std::mutex mutex_;                              // guards everything below
    std::map<std::string, Session> sessions_;       // by token
    std::map<std::string, Failures> failures_;      // by client address
    std::map<std::string, Device> devices_;         // by device cookie
    std::deque<Clock::time_point> recentFailures_;  // the account's, within the last minute
    double checkAllowance_ = 1;                     // checks that may run now, while braked
    Clock::time_point allowanceAt_{};               // when checkAllowance_ was last topped up
};
