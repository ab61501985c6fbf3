#include "RMParser.h"

#include <cstdio>

#include "Exception.h"
#include "TKMessage.h"

namespace {

// Reads n bytes big-endian; the caller has checked the bounds.
uint64_t readBigEndian(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Checks, then returns the first byte and moves the position past the n bytes.
const uint8_t* take(uint16_t& position, const TKMessage& message, size_t n) {
    RMParser::checkValidOffset(position, message, n);
    const uint8_t* p = message.getData() + position;
    position = static_cast<uint16_t>(position + n);
    return p;
}

}  // namespace

uint16_t RMParser::checkValidOffset(const uint16_t& position, const TKMessage& message, size_t n) {
    // Sums in size_t: a position near 65535 plus a rule's length must not wrap into range.
    if (static_cast<size_t>(position) + n > static_cast<size_t>(message.getDataLength())) {
        throw Exception("Impossible to parse offset=" + std::to_string(position) + ", length=" + std::to_string(n),
                        "checkValidOffset", __LINE__);
    }
    return position;
}

std::string RMParser::parseU8Number(uint16_t& position, const TKMessage& message) {
    return std::to_string(readBigEndian(take(position, message, 1), 1));
}

std::string RMParser::parseU16Number(uint16_t& position, const TKMessage& message) {
    return std::to_string(readBigEndian(take(position, message, 2), 2));
}

std::string RMParser::parseU64Number(uint16_t& position, const TKMessage& message) {
    return std::to_string(readBigEndian(take(position, message, 8), 8));
}

std::string RMParser::parseMacAddr(uint16_t& position, const TKMessage& message) {
    const uint8_t* p = take(position, message, 6);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", p[0], p[1], p[2], p[3], p[4], p[5]);
    return text;
}

std::string RMParser::parseHex(uint16_t& position, const TKMessage& message, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    const uint8_t* p = take(position, message, n);
    std::string text;
    text.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        text += kDigits[p[i] >> 4];
        text += kDigits[p[i] & 0x0f];
    }
    return text;
}
