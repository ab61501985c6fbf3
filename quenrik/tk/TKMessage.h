#pragma once
// One TK datagram, request or reply, with its header decoded.
// Owns its buffer (exactly getSize() bytes, header included); move-only. Not shared between
// threads. Throws Exception: a received datagram of 7 bytes or less, a request that does not
// fit the 16-bit size, a failed allocation (newData), a setData longer than the space behind
// the header.
//
// Frame, every field big-endian:
//   offset 0  u16  message ID          all frames
//   offset 2  u16  Ctag                chosen by the requester, echoed in the reply
//   offset 4  u16  length              payload bytes after the 6-byte base header (requests)
//   offset 6  u16  result code         replies with an ID below 0x8000 (8-byte header)
//   offset 8  u16  sequence number     replies whose result is 14 or 15 (10-byte header)
//   offset 6  4 bytes, not interpreted unsolicited messages with an ID above 0x8000 (10 bytes)
// A request always has the 6-byte header. A received frame's header length comes from the ID
// and the result alone, never from the length field, which the OLT does not fill reliably.

#include <cstddef>
#include <cstdint>
#include <memory>

class TKMessage {
public:
    // ID 0x8000 (OLT ready) has the bare 6-byte header; IDs above it are unsolicited reports.
    static constexpr uint16_t kUnsolicitedId = 0x8000;
    // A reply part with this result code says more parts follow under the same ID and Ctag.
    static constexpr uint16_t kResultMoreParts = 14;
    static constexpr uint16_t kResultLastPart = 15;
    static constexpr uint8_t kRequestHeaderLength = 6;

    // A request: 6 + length bytes, ID, Ctag and length written, payload copied when given
    // and length is not 0. Last message true.
    TKMessage(uint16_t id, uint16_t ctag, const uint8_t* payload, uint16_t length);
    // A received datagram, copied whole. Throws "Impossible to create TKMessage with small
    // size" for 7 bytes or less (the smallest meaningful reply is the 8-byte header).
    TKMessage(const uint8_t* datagram, std::size_t length);
    virtual ~TKMessage();

    TKMessage(const TKMessage&) = delete;
    TKMessage& operator=(const TKMessage&) = delete;
    TKMessage(TKMessage&&) noexcept;
    TKMessage& operator=(TKMessage&&) noexcept;

    // Replaces the buffer with size zeroed bytes; the header length is kept.
    void newData(uint16_t size);
    // Copies n bytes behind the header; throws when they do not fit.
    void setData(const uint8_t* bytes, uint16_t n);

    // Header fields in host order. A field that lies beyond the buffer reads as 0 and its
    // setter does nothing, so a short buffer is never overrun.
    void setId(uint16_t id);
    uint16_t getId() const;
    void setCtag(uint16_t ctag);
    uint16_t getCtag() const;
    void setLength(uint16_t length);
    uint16_t getLength() const;
    // 0 for a 6-byte header (requests, OLT ready).
    void setResult(uint16_t result);
    uint16_t getResult() const;
    // 0 unless the header is 10 bytes long.
    uint16_t getSequence() const;

    // First byte after the header. A received 8 or 9-byte datagram whose header is decided to
    // be 10 bytes long has no data: getDataLength() is 0, never a wrapped-around size.
    uint8_t* getData() const;
    uint16_t getDataLength() const;
    uint8_t* getMessage() const { return buffer_.get(); }
    uint16_t getSize() const { return size_; }
    uint8_t getHeaderLength() const { return headerLength_; }
    // False only for a reply part with result 14.
    bool getIsLastMessage() const { return isLastMessage_; }

private:
    uint16_t readU16(std::size_t offset) const;
    void writeU16(std::size_t offset, uint16_t value);
    void decideHeaderLength();

    std::unique_ptr<uint8_t[]> buffer_;
    uint16_t size_ = 0;
    uint8_t headerLength_ = 0;
    bool isLastMessage_ = true;
};
