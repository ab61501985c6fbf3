#pragma once
// Unsolicited TK messages written out byte by byte, as an OLT sends them, for unit tests that
// feed a slot's event queue without a card: the 10-byte header (ID, Ctag, length, 4 bytes
// not interpreted) and the data; OLT Ready has the 6-byte header.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TKMessage.h"

namespace quenrik_test {

using Bytes = std::vector<uint8_t>;

inline void putU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

inline void putMac(Bytes& b, const std::string& mac) {
    for (size_t i = 0; i < mac.size(); i += 3)
        b.push_back(static_cast<uint8_t>(std::stoul(mac.substr(i, 2), nullptr, 16)));
}

inline std::unique_ptr<TKMessage> event(uint16_t id, const Bytes& data, uint16_t ctag = 1) {
    Bytes b;
    putU16(b, id);
    putU16(b, ctag);
    putU16(b, static_cast<uint16_t>(data.size() + 4));
    b.insert(b.end(), 4, 0);
    b.insert(b.end(), data.begin(), data.end());
    return std::make_unique<TKMessage>(b.data(), b.size());
}

inline std::unique_ptr<TKMessage> linkDiscovery(const std::string& mac, uint8_t port) {
    Bytes d;
    putMac(d, mac);
    putU16(d, 18);                                      // info length
    d.insert(d.end(), {0x4f, 0x4e, 0x55});              // OUI
    d.insert(d.end(), {0x00, 0x01, 0x01, 0x00});        // product, version
    d.insert(d.end(), {0x00, 0x01, 0x00, 0x10});        // LLID, RTT
    d.push_back(port);                                  // downstream EPON port
    d.insert(d.end(), {0x00, 0x00, 0x01, 0x04, 0x01});  // vendor type, formats, grants, speeds
    d.push_back(port);                                  // upstream EPON port
    return event(0x8019, d);
}

// Entity tag 5 (an OLT port) carries the port number after the MAC.
inline std::unique_ptr<TKMessage> reportAlarm(uint8_t tag, const std::string& mac, uint8_t code, uint8_t state,
                                              uint16_t port = 0) {
    Bytes d;
    d.push_back(tag);
    putMac(d, mac);
    if (tag == 5) putU16(d, port);
    d.insert(d.end(), {code, state, 1, 0});  // code, state, count, info length
    return event(0x801A, d);
}

inline std::unique_ptr<TKMessage> linkMoved(const std::string& mac, uint8_t from, uint8_t to) {
    Bytes d;
    putMac(d, mac);
    d.push_back(from);
    d.push_back(to);
    return event(0x802B, d);
}

inline std::unique_ptr<TKMessage> oltReady(const std::string& mac) {
    Bytes b;
    putU16(b, 0x8000);
    putU16(b, 1);
    putU16(b, 91);
    putMac(b, mac);
    b.insert(b.end(), {0, 0, 0x4f, 0x4c, 0x54, 0x37, 0x23, 0x01, 0x00, 0x02, 0x05});
    b.insert(b.end(), 64, 0);                                 // vendor text
    b.insert(b.end(), {0, 0, 0x37, 0x23, 0, 0, 0, 1, 2, 2});  // JEDEC, chip, version, ports
    return std::make_unique<TKMessage>(b.data(), b.size());
}

}  // namespace quenrik_test
