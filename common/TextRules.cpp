#include "TextRules.h"

namespace TextRules {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

IPv4Form classifyIPv4(const std::string& text) {
    bool leadingZero = false;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return IPv4Form::kNotIPv4;
            ++i;
        }
        const size_t start = i;
        int value = 0;
        // A fourth digit is read only to tell "0004" from "000" and refuse it.
        while (i < text.size() && isDigit(text[i]) && i - start < 4) {
            value = value * 10 + (text[i] - '0');
            ++i;
        }
        const size_t digits = i - start;
        if (digits == 0 || digits > 3 || value > 255) return IPv4Form::kNotIPv4;
        if (digits > 1 && text[start] == '0') leadingZero = true;
    }
    if (i != text.size()) return IPv4Form::kNotIPv4;
    return leadingZero ? IPv4Form::kLeadingZeros : IPv4Form::kPlain;
}

bool isIPv4(const std::string& text) { return classifyIPv4(text) != IPv4Form::kNotIPv4; }

bool isPlainIPv4(const std::string& text) { return classifyIPv4(text) == IPv4Form::kPlain; }

// The kernel itself takes any 1-15 bytes but '/', whitespace, "." and ".."; the names go
// into the daemon's "ip" commands unquoted, so only what the shell cannot misread is
// allowed. ':' stays allowed: it is how alias interfaces are named ("eth0:1"), and the
// settings record has always accepted it, so a stored alias name must keep loading.
bool isInterfaceName(const std::string& text) {
    if (text.empty() || text.size() > 15) return false;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '.' || c == '-' ||
                        c == '_' || c == ':';
        if (!ok) return false;
    }
    return true;
}

bool isMacAddress(const std::string& text) {
    if (text.size() != 17) return false;
    for (size_t i = 0; i < 17; ++i) {
        if (i % 3 == 2 ? text[i] != ':' : !isHexDigit(text[i])) return false;
    }
    return true;
}

bool isVlanId(const std::string& text) {
    const bool negative = !text.empty() && text[0] == '-';
    const size_t start = negative ? 1 : 0;
    const size_t digits = text.size() - start;
    if (digits == 0 || digits > 6) return false;
    long value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (!isDigit(text[i])) return false;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? value == 0 : value <= 4094;
}

NameFault checkName(const std::string& text) {
    if (text.size() > 64) return NameFault::kTooLong;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return NameFault::kControlCharacter;
    return NameFault::kNone;
}

}  // namespace TextRules
