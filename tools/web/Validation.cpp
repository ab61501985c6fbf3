#include "Validation.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>

#include "TextRules.h"
#include "Uris.h"
#include "WebJson.h"

namespace validation {
namespace {

using Check = std::function<std::string(const std::string& key, const std::string& value)>;

bool allDigits(const std::string& t) {
    if (t.empty()) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    return true;
}

bool numberIn(const std::string& t, long lo, long hi) {
    std::string digits = t;
    if (!digits.empty() && digits[0] == '-') digits.erase(0, 1);
    if (!allDigits(digits) || digits.size() > 6) return false;
    const long v = std::stol(t);
    return v >= lo && v <= hi;
}

std::string flag(const std::string& key, const std::string& v) {
    return v == "0" || v == "1" ? "" : "Invalid flag(" + v + ") for '" + key + "': 0 or 1";
}
// The OLT row's ONU-to-ONU switch: the line-card manager turns it on only for "2"; "1" (the
// stored default) and "0" both mean off.
std::string onu2onu(const std::string& key, const std::string& v) {
    return v == "0" || v == "1" || v == "2" ? "" : "Invalid value(" + v + ") for '" + key + "': 2 on, 1 or 0 off";
}
std::string vlan(const std::string& key, const std::string& v) {
    return v.empty() || TextRules::isVlanId(v)
               ? ""
               : "Invalid VLAN(" + v + ") for '" + key + "': 1 to 4094, or 0 or empty for none";
}
std::string hostAddress(const std::string& key, const std::string& v) {
    return TextRules::isIPv4(v) && v != "0.0.0.0" && v != "255.255.255.255"
               ? ""
               : "Invalid IPv4(" + v + ") for '" + key + "'";
}
std::string anyAddress(const std::string& key, const std::string& v) {
    return TextRules::isIPv4(v) ? "" : "Invalid IPv4(" + v + ") for '" + key + "'";
}
// Names shown in tables and sent over SNMP: printable, no control characters, bounded.
std::string name(const std::string& key, const std::string& v) {
    const TextRules::NameFault fault = TextRules::checkName(v);
    if (fault == TextRules::NameFault::kTooLong) return "Name too long for '" + key + "': at most 64 bytes";
    if (fault == TextRules::NameFault::kControlCharacter) return "Invalid character in '" + key + "'";
    return "";
}
// Interface names go into the daemon's shell commands: the daemon's own rule, so what the
// page accepts the daemon stores.
std::string iface(const std::string& key, const std::string& v) {
    return TextRules::isInterfaceName(v) ? "" : "Invalid interface(" + v + ") for '" + key + "'";
}
std::string port(const std::string& key, const std::string& v) {
    return numberIn(v, 1, 65535) && v[0] != '-' ? "" : "Invalid port(" + v + ") for '" + key + "': 1 to 65535";
}
std::string timezone(const std::string& key, const std::string& v) {
    return numberIn(v, -12, 14) ? "" : "Invalid time zone(" + v + ") for '" + key + "': whole hours from -12 to 14";
}

// Applies the checks of the allowed members; anything else is refused by name.
Result checkMembers(const cJSON* change, const std::map<std::string, Check>& allowed, const std::string& what) {
    Result r;
    if (!cJSON_IsObject(change)) {
        r.errors[""] = "The change must be a JSON object";
        return r;
    }
    std::string out = "{";
    std::set<std::string> seen;
    for (const cJSON* m = change->child; m; m = m->next) {
        const std::string key = m->string ? m->string : "";
        auto it = allowed.find(key);
        if (it == allowed.end()) {
            r.errors[key] = "Member '" + key + "' cannot be changed in " + what;
            continue;
        }
        if (!seen.insert(key).second) {
            r.errors[key] = "Member '" + key + "' given twice";
            continue;
        }
        std::string value;
        if (cJSON_IsString(m)) {
            value = m->valuestring;
        } else if (cJSON_IsNumber(m) && std::isfinite(m->valuedouble) && m->valuedouble == std::floor(m->valuedouble) &&
                   std::fabs(m->valuedouble) < 1e9) {
            value = std::to_string(static_cast<long long>(m->valuedouble));
        } else {
            r.errors[key] = "Member '" + key + "' must be a text";
            continue;
        }
        const std::string error = it->second(key, value);
        if (!error.empty()) {
            r.errors[key] = error;
            continue;
        }
        if (out.size() > 1) out += ',';
        out += webjson::quote(key) + ":" + webjson::quote(value);
    }
    r.data = out + "}";
    return r;
}

}  // namespace

std::string Result::joinedErrors() const {
    std::string out;
    for (auto& [key, message] : errors) {
        if (!out.empty()) out += ",";
        out += message;
    }
    return out;
}

Result checkRowChange(const std::string& table, const cJSON* change) {
    static const std::map<std::string, Check> olt = {
        {"qvCfgOLTName", name},           {"qvCfgOLTIpAddress", hostAddress}, {"qvCfgOLTOnu2Onu", onu2onu},
        {"qvCfgOLTPON0VlanId", vlan},     {"qvCfgOLTPON0DisUntagged", flag},  {"qvCfgOLTPON1VlanId", vlan},
        {"qvCfgOLTPON1DisUntagged", flag}};
    static const std::map<std::string, Check> onu = {
        {"qvCfgONUName", name}, {"qvCfgONUVlanId", vlan}, {"qvCfgONUEnabled", flag}};
    if (table == "olttable") return checkMembers(change, olt, "the OLT table");
    if (table == "onutable") return checkMembers(change, onu, "the ONU table");
    Result r;
    r.errors[""] = "Table '" + table + "' cannot be changed";
    return r;
}

Result checkSettingsChange(const cJSON* change) {
    static const std::map<std::string, Check> settings = {
        {"mgntIpAddr", hostAddress}, {"mgntIpMask", anyAddress}, {"mgntIpGateway", hostAddress},
        {"mgntIface", iface},        {"oltIpAddr", hostAddress}, {"oltIpMask", anyAddress},
        {"oltIface", iface},         {"ntpServer", hostAddress}, {"enNtpServer", flag},
        {"enSNMPAgent", flag},       {"timezone", timezone},     {"webPort", port}};
    return checkMembers(change, settings, "the settings (backup, restore, reset and reboot have their own actions)");
}

Result checkActionData(const std::string& action, const cJSON* data) {
    Result r;
    if (!cJSON_IsObject(data)) {
        r.errors[""] = "The action's data must be a JSON object";
        return r;
    }
    const std::string slot = webjson::stringMember(data, "slot_id");
    const cJSON* slotItem = cJSON_GetObjectItemCaseSensitive(data, "slot_id");
    std::string slotText = slot;
    if (cJSON_IsNumber(slotItem)) slotText = std::to_string(slotItem->valueint);
    if (!(allDigits(slotText) && slotText.size() == 1 && slotText[0] >= '1' && slotText[0] <= '8'))
        r.errors["slot_id"] = "Invalid slot(" + slotText + ") for 'slot_id': 1 to 8";
    std::string out = "{\"slot_id\":" + webjson::quote(slotText);
    if (action.rfind(Uris::kSlotOnuPrefix, 0) == 0) {
        const std::string mac = webjson::stringMember(data, "mac_address");
        if (!TextRules::isMacAddress(mac))
            r.errors["mac_address"] = "Invalid MAC address(" + mac + ") for 'mac_address'";
        out += ",\"mac_address\":" + webjson::quote(mac);
    }
    r.data = out + "}";
    return r;
}

Result checkCredentials(const std::string& user, const std::string& password) {
    Result r;
    bool userOk = !user.empty() && user.size() <= 32;
    for (unsigned char c : user) userOk = userOk && c > 0x20 && c < 0x7f;
    if (!userOk) r.errors["user"] = "The user name must be 1 to 32 visible characters without blanks";
    if (password.size() < 8 || password.size() > 128)
        r.errors["password"] = "The password must have 8 to 128 characters";
    return r;
}

}  // namespace validation
