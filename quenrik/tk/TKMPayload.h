#pragma once
// A request payload assembled as hexadecimal text, turned into bytes on demand.
// Owns its text and its built bytes. Not shared between threads. The appenders never throw;
// the checked appenders (addMac, addHexBytes) and buildPayload throw Exception on text that
// is not what the wire needs, so a malformed value never becomes a shifted or short request.

#include <cstdint>
#include <memory>
#include <string>

class TKMPayload {
public:
    TKMPayload();
    virtual ~TKMPayload();
    TKMPayload(const TKMPayload&) = delete;
    TKMPayload& operator=(const TKMPayload&) = delete;

    // Appends the text unchanged: hex digits of constant blocks or of values already
    // formatted as hex. Checked when the payload is built.
    void addHex(const std::string& text);
    // "%02x" of the low byte.
    void addU8Number(uint8_t value);
    // Most significant byte first (network order).
    void addU16Number(uint16_t value);
    void addU32Number(uint32_t value);
    // "01" or "00".
    void addBool(bool value);

    // A MAC address, either "aa:bb:cc:dd:ee:ff" or twelve hex digits, as its 6 bytes.
    // Throws "Invalid MAC address (<text>)".
    void addMac(const std::string& mac);
    // Exactly `bytes` bytes spelt by hex text (a queue endpoint, a rule read back from the
    // OLT). Throws "Invalid hexadecimal value (<text>) for <bytes> bytes" otherwise.
    void addHexBytes(const std::string& text, std::size_t bytes);
    // Any whole number of bytes spelt by hex text, at least one byte.
    // Throws "Invalid hexadecimal value (<text>)".
    void addHexBlock(const std::string& text);

    // Converts the text pair by pair; an odd last digit is dropped. Throws
    // "Invalid hexadecimal text in payload at position <n>" for a character that is not a
    // hex digit and "Payload too long (<n> bytes)" beyond 65529 bytes (what a frame carries).
    void buildPayload();
    const uint8_t* getPayload() const { return payload_.get(); }
    uint16_t getSize() const { return size_; }
    const std::string& toString() const { return text_; }

    // Releases the built bytes; the text stays.
    void clearPayload();
    // Empties the text and releases the bytes.
    void clear();
    // Copy of the text, the size and, when built, the bytes.
    std::unique_ptr<TKMPayload> clone() const;

    // Whether every character of text is a hex digit (and the text is not empty).
    static bool isHexText(const std::string& text);

private:
    std::string text_;
    std::unique_ptr<uint8_t[]> payload_;
    uint16_t size_ = 0;
};
