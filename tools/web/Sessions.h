#pragma once
// Login sessions of the web interface and the brake on password guessing.
// A session is found by its token (64 hex digits from OpenSSL's random generator), carried
// in the HttpOnly session cookie or as a bearer token; it also holds a second random token
// that the pages send in a header with every change (cookie-authenticated requests only),
// so a cross-site form cannot change anything. Sessions end after idleTimeout without a
// request, on logout, or when the oldest must make room (maxSessions).
// Failed logins are counted per client address: from the third one on, that address must
// wait 2, 4, 8 ... seconds (at most maxBlock) before it may try again; a success clears it.
// Time is an argument of every call. Thread-safe (one mutex). randomHex throws
// std::runtime_error when the random generator fails.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class Sessions {
public:
    using Clock = std::chrono::steady_clock;
    struct Session {
        std::string token;  // the session's key
        std::string csrf;   // sent back in X-CSRF-Token by the pages
        std::string user;
        Clock::time_point lastSeen;
    };

    explicit Sessions(std::chrono::seconds idleTimeout, size_t maxSessions = 64,
                      std::chrono::seconds maxBlock = std::chrono::seconds(300));

    Session create(const std::string& user, Clock::time_point now);
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
    // The check and the count in one step: the wait as above, and when it is 0 the attempt is
    // counted as failed at once, until loginSucceeded clears it. Guesses sent in parallel
    // from one address therefore meet the brake as if they had been sent one after another.
    long beginLoginAttempt(const std::string& address, Clock::time_point now);
    void loginSucceeded(const std::string& address);

    // n random bytes from OpenSSL as 2n lower-case hex digits.
    static std::string randomHex(size_t bytes);

private:
    struct Failures {
        int count = 0;
        Clock::time_point last;
    };
    void expireLockHeld(Clock::time_point now);
    void failedLockHeld(const std::string& address, Clock::time_point now);
    long waitLockHeld(const std::string& address, Clock::time_point now) const;

    const std::chrono::seconds idleTimeout_;
    const size_t maxSessions_;
    const std::chrono::seconds maxBlock_;
    std::mutex mutex_;                          // guards the two maps
    std::map<std::string, Session> sessions_;   // by token
    std::map<std::string, Failures> failures_;  // by client address
};
