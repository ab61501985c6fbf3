#include "Bytes.h"

#include <cstdio>

namespace oltsim {

void putU8(Bytes& out, unsigned v) { out.push_back(static_cast<uint8_t>(v & 0xff)); }

void putU16(Bytes& out, unsigned v) {
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
    out.push_back(static_cast<uint8_t>(v & 0xff));
}

void putU32(Bytes& out, uint32_t v) {
    putU16(out, v >> 16);
    putU16(out, v & 0xffff);
}

void putU64(Bytes& out, uint64_t v) {
    putU32(out, static_cast<uint32_t>(v >> 32));
    putU32(out, static_cast<uint32_t>(v & 0xffffffffu));
}

void putMac(Bytes& out, const Mac& mac) { out.insert(out.end(), mac.begin(), mac.end()); }

void putBytes(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

Mac getMac(const uint8_t* p) {
    Mac m;
    for (size_t i = 0; i < m.size(); ++i) m[i] = p[i];
    return m;
}

std::string toHex(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s.push_back(kDigits[p[i] >> 4]);
        s.push_back(kDigits[p[i] & 0x0f]);
    }
    return s;
}

std::string toHex(const Bytes& b) { return toHex(b.data(), b.size()); }

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool fromHex(const std::string& text, Bytes& out) {
    if (text.size() % 2 != 0) return false;
    Bytes b;
    b.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexValue(text[i]);
        int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        b.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    out.swap(b);
    return true;
}

std::string macText(const Mac& mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

bool parseMac(const std::string& text, Mac& out) {
    if (text.size() != 17) return false;
    Mac m;
    for (size_t i = 0; i < 6; ++i) {
        if (i < 5 && text[3 * i + 2] != ':') return false;
        int hi = hexValue(text[3 * i]);
        int lo = hexValue(text[3 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        m[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    out = m;
    return true;
}

}  // namespace oltsim
