#include "TKMPayload.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "Exception.h"
#include "TKMessage.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string hexByte(uint8_t value) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", value);
    return digits;
}

}  // namespace

TKMPayload::TKMPayload() = default;
TKMPayload::~TKMPayload() = default;

bool TKMPayload::isHexText(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (hexValue(c) < 0) return false;
    }
    return true;
}

void TKMPayload::addHex(const std::string& text) { text_ += text; }
void TKMPayload::addU8Number(uint8_t value) { text_ += hexByte(value); }

void TKMPayload::addU16Number(uint16_t value) {
    addU8Number(static_cast<uint8_t>(value >> 8));
    addU8Number(static_cast<uint8_t>(value));
}

void TKMPayload::addU32Number(uint32_t value) {
    addU16Number(static_cast<uint16_t>(value >> 16));
    addU16Number(static_cast<uint16_t>(value));
}

void TKMPayload::addBool(bool value) { text_ += value ? "01" : "00"; }

void TKMPayload::addMac(const std::string& mac) {
    std::string digits;
    if (mac.size() == 17) {
        // Six pairs separated by colons: the form the reply decoders and the tasks use.
        for (std::size_t i = 0; i < mac.size(); ++i) {
            if (i % 3 == 2) {
                if (mac[i] != ':') throw Exception("Invalid MAC address (" + mac + ")", __func__, __LINE__);
            } else {
                digits += mac[i];
            }
        }
    } else {
        digits = mac;
    }
    if (digits.size() != 12 || !isHexText(digits)) {
        throw Exception("Invalid MAC address (" + mac + ")", __func__, __LINE__);
    }
    text_ += digits;
}

void TKMPayload::addHexBytes(const std::string& text, std::size_t bytes) {
    if (text.size() != bytes * 2 || !isHexText(text)) {
        throw Exception("Invalid hexadecimal value (" + text + ") for " + std::to_string(bytes) + " bytes", __func__,
                        __LINE__);
    }
    text_ += text;
}

void TKMPayload::addHexBlock(const std::string& text) {
    if (text.size() % 2 != 0 || !isHexText(text)) {
        throw Exception("Invalid hexadecimal value (" + text + ")", __func__, __LINE__);
    }
    text_ += text;
}

void TKMPayload::buildPayload() {
    clearPayload();
    const std::size_t bytes = text_.size() / 2;
    if (bytes > UINT16_MAX - TKMessage::kRequestHeaderLength) {
        throw Exception("Payload too long (" + std::to_string(bytes) + " bytes)", __func__, __LINE__);
    }
    std::unique_ptr<uint8_t[]> built(new uint8_t[bytes == 0 ? 1 : bytes]);
    for (std::size_t i = 0; i < bytes; ++i) {
        const int high = hexValue(text_[2 * i]);
        const int low = hexValue(text_[2 * i + 1]);
        if (high < 0 || low < 0) {
            // Base-16 parsing of a non-digit would quietly yield 0 or a half byte and send the
            // OLT a different request from the one meant.
            throw Exception(
                "Invalid hexadecimal text in payload at position " + std::to_string(high < 0 ? 2 * i : 2 * i + 1),
                __func__, __LINE__);
        }
        built[i] = static_cast<uint8_t>((high << 4) | low);
    }
    payload_ = std::move(built);
    size_ = static_cast<uint16_t>(bytes);
}

void TKMPayload::clearPayload() {
    payload_.reset();
    size_ = 0;
}

void TKMPayload::clear() {
    text_.clear();
    clearPayload();
}

std::unique_ptr<TKMPayload> TKMPayload::clone() const {
    auto copy = std::make_unique<TKMPayload>();
    copy->text_ = text_;
    copy->size_ = size_;
    if (payload_) {
        copy->payload_.reset(new uint8_t[size_ == 0 ? 1 : size_]);
        std::memcpy(copy->payload_.get(), payload_.get(), size_);
    }
    return copy;
}
