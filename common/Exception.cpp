#include "Exception.h"

Exception::Exception(const std::string& message, const char* origin, int line)
    : text_(std::string(origin != nullptr ? origin : "") + "[" + std::to_string(line) + "]: " + message),
      message_(message) {}

const char* Exception::what() const noexcept { return text_.c_str(); }
