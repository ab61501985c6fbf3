#include "TKMessage.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "Exception.h"

TKMessage::TKMessage(uint16_t id, uint16_t ctag, const uint8_t* payload, uint16_t length) {
    // The size field is 16 bits wide: a payload that does not leave room for the header
    // would silently produce a truncated datagram.
    if (length > UINT16_MAX - kRequestHeaderLength) {
        throw Exception("Impossible to create TKMessage with payload length " + std::to_string(length), __func__,
                        __LINE__);
    }
    headerLength_ = kRequestHeaderLength;
    newData(static_cast<uint16_t>(kRequestHeaderLength + length));
    setId(id);
    setCtag(ctag);
    setLength(length);
    if (payload != nullptr && length != 0) {
        setData(payload, length);
    }
}

TKMessage::TKMessage(const uint8_t* datagram, std::size_t length) {
    if (datagram == nullptr || length <= 7) {
        throw Exception("Impossible to create TKMessage with small size", "TKMessage", __LINE__);
    }
    // A UDP payload can never exceed this; refusing it keeps the size field honest.
    if (length > UINT16_MAX) {
        throw Exception("Impossible to create TKMessage with size " + std::to_string(length), "TKMessage", __LINE__);
    }
    isLastMessage_ = true;
    headerLength_ = 0;
    newData(static_cast<uint16_t>(length));
    std::memcpy(buffer_.get(), datagram, length);
    decideHeaderLength();
}

TKMessage::~TKMessage() = default;
// A moved-from message is left empty (size 0), so its accessors read zeros instead of
// following a released buffer.
TKMessage::TKMessage(TKMessage&& other) noexcept
    : buffer_(std::move(other.buffer_)),
      size_(std::exchange(other.size_, 0)),
      headerLength_(std::exchange(other.headerLength_, 0)),
      isLastMessage_(std::exchange(other.isLastMessage_, true)) {}

TKMessage& TKMessage::operator=(TKMessage&& other) noexcept {
    if (this != &other) {
        buffer_ = std::move(other.buffer_);
        size_ = std::exchange(other.size_, 0);
        headerLength_ = std::exchange(other.headerLength_, 0);
        isLastMessage_ = std::exchange(other.isLastMessage_, true);
    }
    return *this;
}

void TKMessage::decideHeaderLength() {
    const uint16_t id = getId();
    if (id == kUnsolicitedId) {
        headerLength_ = 6;
        return;
    }
    if (id > kUnsolicitedId) {
        headerLength_ = 10;
        return;
    }
    headerLength_ = 8;
    const uint16_t result = getResult();
    if (result == kResultMoreParts || result == kResultLastPart) {
        headerLength_ = 10;
    }
    isLastMessage_ = result != kResultMoreParts;
}

void TKMessage::newData(uint16_t size) {
    uint8_t* bytes = new (std::nothrow) uint8_t[size == 0 ? 1 : size]();
    if (bytes == nullptr) {
        throw Exception("Not enough memory to allocate a new TKMessage with size " + std::to_string(size), __func__,
                        __LINE__);
    }
    buffer_.reset(bytes);
    size_ = size;
}

void TKMessage::setData(const uint8_t* bytes, uint16_t n) {
    const std::size_t room = size_ > headerLength_ ? size_ - headerLength_ : 0;
    if (n > room) {
        throw Exception("Impossible to set data greater than size created", __func__, __LINE__);
    }
    if (n != 0 && bytes != nullptr) {
        std::memcpy(buffer_.get() + headerLength_, bytes, n);
    }
}

uint16_t TKMessage::readU16(std::size_t offset) const {
    if (offset + 2 > size_) {
        return 0;
    }
    return static_cast<uint16_t>((buffer_[offset] << 8) | buffer_[offset + 1]);
}

void TKMessage::writeU16(std::size_t offset, uint16_t value) {
    if (offset + 2 > size_) {
        return;
    }
    buffer_[offset] = static_cast<uint8_t>(value >> 8);
    buffer_[offset + 1] = static_cast<uint8_t>(value & 0xFF);
}

void TKMessage::setId(uint16_t id) { writeU16(0, id); }
uint16_t TKMessage::getId() const { return readU16(0); }
void TKMessage::setCtag(uint16_t ctag) { writeU16(2, ctag); }
uint16_t TKMessage::getCtag() const { return readU16(2); }
void TKMessage::setLength(uint16_t length) { writeU16(4, length); }
uint16_t TKMessage::getLength() const { return readU16(4); }

void TKMessage::setResult(uint16_t result) { writeU16(6, result); }

uint16_t TKMessage::getResult() const {
    // Before the header length is known (while a received frame is being sorted) the
    // result is read whenever the bytes are there.
    if (headerLength_ != 0 && headerLength_ < 7) {
        return 0;
    }
    return readU16(6);
}

uint16_t TKMessage::getSequence() const {
    if (headerLength_ < 9) {
        return 0;
    }
    return readU16(8);
}

uint8_t* TKMessage::getData() const { return buffer_.get() + (headerLength_ < size_ ? headerLength_ : size_); }

uint16_t TKMessage::getDataLength() const {
    return size_ > headerLength_ ? static_cast<uint16_t>(size_ - headerLength_) : 0;
}
