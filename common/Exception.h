#pragma once
// The one exception type of the system.
// Holds the message and the full text "<origin>[<line>]: <message>". Worker loops print
// what(); clients get getMessage() back as a response's error text. Immutable after
// construction, so it may be copied across threads freely. Raise sites pass their own
// function name and line: throw Exception("...", __func__, __LINE__).

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    Exception(const std::string& message, const char* origin, int line);
    ~Exception() override = default;

    // origin + "[" + line + "]: " + message
    const char* what() const noexcept override;
    // The message alone, without origin and line.
    const std::string& getMessage() const noexcept { return message_; }

private:
    std::string text_;
    std::string message_;
};
