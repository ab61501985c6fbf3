#pragma once
// Bounds-checked readers over the data of a received TKMessage (the bytes after its header).
// Stateless: every reader takes the read position by reference, checks position + width
// against the data length first, advances the position by what it read and returns text.
// Thread-safe (no state). Throws Exception "Impossible to parse offset=<p>, length=<n>"
// (origin checkValidOffset) without reading anything when the bytes are not all there.

#include <cstddef>
#include <cstdint>
#include <string>

class TKMessage;

class RMParser {
public:
    virtual ~RMParser() = default;

    // Returns the position unchanged once position + n fits in the data.
    static uint16_t checkValidOffset(const uint16_t& position, const TKMessage& message, size_t n);

    // Decimal text of an unsigned big-endian value of 1, 2 or 8 bytes.
    static std::string parseU8Number(uint16_t& position, const TKMessage& message);
    static std::string parseU16Number(uint16_t& position, const TKMessage& message);
    static std::string parseU64Number(uint16_t& position, const TKMessage& message);
    // "xx:xx:xx:xx:xx:xx", lower case.
    static std::string parseMacAddr(uint16_t& position, const TKMessage& message);
    // 2n lower-case hex digits, no separators.
    static std::string parseHex(uint16_t& position, const TKMessage& message, size_t n);
};
