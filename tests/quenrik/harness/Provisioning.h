#pragma once
// The provisioning sequence of one OLT as it must reach the card, request for request, written
// out by hand from the protocol's message table (not built with the code under test). Each
// entry is the message ID and the payload bytes in hex; the Ctag is checked apart.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Chain.h"

// Payloads are written one protocol field per string literal, as in the message tables:
// the layout is the check's readability, so it is kept as written.
// clang-format off
namespace quenrik_test {

using Expected = std::vector<std::pair<uint16_t, std::string>>;

// EPON MAC of simulated OLT n: 02:4f:4c:54:00:0n.
inline std::string oltMacHex(int olt) {
    char mac[16];
    std::snprintf(mac, sizeof mac, "024f4c5400%02x", olt);
    return mac;
}

// Domain rules of (domain, a, b): 45 bytes.
inline std::string domainRules(const std::string& domain, const std::string& a, const std::string& b) {
    return domain + "0001" + "0000" + "01" + a + "01" + b + "01" + "0a030302" + "0000" + "0904" + "00000000" + "0b04" +
           "00000000" + "01010000" + "0000000000000000" + "0700";
}

inline Expected provisioningSequence(int olt, bool onu2onu) {
    const std::string m = oltMacHex(olt);
    Expected e;
    e.push_back({0x0009, ""});  // Disable OLT
    e.push_back({0x01B4, "08" + m + "010500000db601" + "02050011111101" + "030500aaaaaa00" + "04050000d0cb00"});
    for (const char* port : {"0000", "0001"}) {
        e.push_back({0x019C, m + port + "00000000" + "0000" + "00"});  // DBA aggregate bandwidth
        e.push_back({0x0173, m + port + "00000000" + "0000" + "00"});  // aggregate bandwidth
    }
    for (const char* port : {"0000", "0001"}) e.push_back({0x0189, m + port + "00" + "0000"});
    for (const char* port : {"0000", "0001"}) e.push_back({0x0126, m + port});
    for (const char* port : {"0000", "0001"})
        e.push_back({0x0163, m + port + "00050005000500050005000500050005"});
    e.push_back({0x0001, "011401"});
    e.push_back({0x0050, "00050000" "00" "18" "01" "01" "00" "01"});
    for (const char* port : {"0000", "0001"}) e.push_back({0x0167, m + port + "0000" "1a5e" "0c35" "0000"});
    for (const char* port : {"0000", "0001"}) e.push_back({0x0220, m + port + "0010"});
    // Paths: id, first, 1, 32, second, 1, 32.
    for (const char* path : {"2000" "0001" "00010020" "0002" "00010020", "2002" "0001" "00010020" "0003" "00010020",
                             "2004" "0000" "00010020" "0003" "00010020", "2006" "0000" "00010020" "0002" "00010020",
                             "2008" "0000" "00010020" "0000" "00010020", "200a" "0000" "00010020" "0002" "00010020",
                             "200c" "0001" "00010020" "0001" "00010020", "200e" "0001" "00010020" "0003" "00010020"})
        e.push_back({0x0178, path});
    if (onu2onu) {
        e.push_back({0x0225, "0401" "0000" "101010" "01" "0000" "02" "0002" "0006" "02" "200a" "200e" "00"});
        e.push_back({0x0193, domainRules("0401", "0000", "0000")});
        e.push_back({0x0193, domainRules("0401", "0000", "0001")});
        e.push_back({0x01F2, "0401" "0001" "0000000000000000" "30"});
    }
    e.push_back({0x014F, "1000" "000f4240" "0000"});
    e.push_back({0x0225, "0402" "0000" "101010" "02" "0000" "02" "0002" "0006" "02" "2004" "2006" "0000" "02" "0004"
                         "0008" "02" "2000" "2002"});
    e.push_back({0x0193, domainRules("0402", "0000", "0000")});
    e.push_back({0x0193, domainRules("0402", "0001", "0000")});
    e.push_back({0x0193, domainRules("0402", "0000", "0001")});
    e.push_back({0x0193, domainRules("0402", "0001", "0001")});
    e.push_back({0x0151, "0402" "00000003" "00000003" "00000000" "000f4240" "00002710"
                         "03e8" "0000" "0002" "0258" "0244" "0037" "0002" "0320" "0002" "006e" "000a" "0000" "03e8" "0000"
                         "c0a86502" "fe800000000000000000000000000001"});
    e.push_back({0x015D, "0402" "0006000600" "0606070606" "0606060600"});
    e.push_back({0x0076, ""});  // known links
    e.push_back({0x0044, ""});  // discovered links
    e.push_back({0x0008, ""});  // Enable OLT (no link known yet: nothing cleared before it)
    return e;
}

inline std::string describe(const Expected& e) {
    std::string out;
    for (const auto& [id, payload] : e) {
        char head[8];
        std::snprintf(head, sizeof head, "%04x", id);
        out += std::string(head) + (payload.empty() ? "" : " " + lower(payload)) + "\n";
    }
    return out;
}

inline std::string describe(const std::vector<Request>& record, size_t from, size_t count) {
    std::string out;
    for (size_t i = from; i < record.size() && i < from + count; ++i) out += record[i].text() + "\n";
    return out;
}

// Where the expected sequence starts in the record as one unbroken run with consecutive Ctags,
// from position from on; npos when it does not.
inline size_t findSequence(const std::vector<Request>& record, const Expected& e, size_t from = 0) {
    for (size_t start = from; start + e.size() <= record.size(); ++start) {
        bool match = true;
        for (size_t k = 0; k < e.size() && match; ++k) {
            const Request& r = record[start + k];
            match = r.id == e[k].first && r.payload == lower(e[k].second) &&
                    (k == 0 || r.ctag == static_cast<uint16_t>(record[start + k - 1].ctag + 1));
        }
        if (match) return start;
    }
    return std::string::npos;
}

}  // namespace quenrik_test
// clang-format on
