#pragma once
// Byte-string helpers shared by the simulator's codecs: big-endian writers and readers,
// hexadecimal text and MAC address text. Pure functions, thread-safe, never throw
// (parsers report bad text through their bool result).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oltsim {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;

// Every multi-byte number on the wire is big-endian.
void putU8(Bytes& out, unsigned v);
void putU16(Bytes& out, unsigned v);
void putU32(Bytes& out, uint32_t v);
void putU64(Bytes& out, uint64_t v);
void putMac(Bytes& out, const Mac& mac);
void putBytes(Bytes& out, const Bytes& more);
uint16_t getU16(const uint8_t* p);
Mac getMac(const uint8_t* p);

// Lower-case hex, two digits per byte, no separators.
std::string toHex(const uint8_t* p, size_t n);
std::string toHex(const Bytes& b);
// Accepts upper and lower case; false on an odd digit count or a non-hex character.
bool fromHex(const std::string& text, Bytes& out);

// "aa:bb:cc:dd:ee:ff", lower case.
std::string macText(const Mac& mac);
// Accepts exactly six colon-separated pairs of hex digits (either case).
bool parseMac(const std::string& text, Mac& out);

}  // namespace oltsim
