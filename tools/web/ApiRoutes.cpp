// The table, action, overview and history routes of WebApp.
#include <algorithm>
#include <cctype>
#include <map>

#include "JsonHelper.h"
#include "Uris.h"
#include "Validation.h"
#include "WebApp.h"
#include "WebJson.h"

namespace {

JsonPtr parseOrThrow(const ApiClient::Response& r, const char* what) {
    if (!r.err.empty()) throw std::runtime_error(std::string(what) + ": " + r.err);
    return JsonPtr(cJSON_Parse(r.data.c_str()));
}

std::string member(const cJSON* row, const char* key) { return webjson::stringMember(row, key); }

}  // namespace

// A table or one row of it (id empty: the whole table).
HttpResponse WebApp::readTable(const std::string& table, const std::string& id) {
    if (!id.empty()) return fromHalvorn(link_.get("/" + table + "/" + id));
    return fromHalvorn(*cachedGet("/" + table));
}

ReadCache::Answer WebApp::cachedGet(const std::string& uri) {
    return cache_.get(uri, [&] { return link_.get(uri); });
}

ApiClient::Response WebApp::setInHalvorn(const std::string& uri, const std::string& data) {
    ApiClient::Response r = link_.set(uri, data);
    cache_.invalidate();  // whatever the answer: the change may have been made
    return r;
}

HttpResponse WebApp::changeRow(const HttpRequest& request, const std::string& table, const std::string& id) {
    if (id.empty() || id == "0") return errorResponse(404, "Name the row: PUT /api/" + table + "/<id>");
    JsonPtr change(cJSON_Parse(request.body.c_str()));
    if (!change) return errorResponse(400, "The body must be a JSON object");
    const validation::Result check = validation::checkRowChange(table, change.get());
    if (!check.errors.empty()) return fieldErrorsResponse(check);
    // Halvorn answers "Invalid ID object" only for ids it lacks; a row must exist first.
    const ApiClient::Response r = setInHalvorn("/" + table + "/" + id, check.data);
    if (!r.err.empty()) return fromHalvorn(r);
    return fromHalvorn(link_.get("/" + table + "/" + id));
}

HttpResponse WebApp::action(const HttpRequest& request, const std::string& route) {
    JsonPtr data(cJSON_Parse(request.body.c_str()));
    const validation::Result check = validation::checkActionData(route, data.get());
    if (!check.errors.empty()) return errorResponse(422, check.joinedErrors());
    const ApiClient::Response r = setInHalvorn(route, check.data);
    return fromHalvorn(r, 202);
}

HttpResponse WebApp::history(const std::string& route) const {
    std::vector<std::string> m;
    std::string key;
    if (matchShape("/history/olt/{slot}/{pon}", route, m)) {
        key = "olt:" + m[0] + "/" + m[1];
    } else if (matchShape("/history/onu/{mac}", route, m)) {
        std::string mac = m[0];
        std::transform(mac.begin(), mac.end(), mac.begin(), [](unsigned char c) { return std::tolower(c); });
        key = "onu:" + mac;
    } else {
        return errorResponse(404, "Not found");
    }
    std::string json = history_.toJson(key);
    // Not sampled yet (new ONU, or the server just started): an empty series, not an error.
    if (json.empty()) json = "{\"t\":[],\"txPower\":[],\"rxPower\":[],\"voltage\":[],\"bias\":[],\"temperature\":[]}";
    return jsonResponse(200, std::move(json));
}

// One answer for the chassis page: slots with their OLT, ports with ONU counts and optics,
// the newest alarms and the card's identity. Built here so a phone fetches a few kilobytes
// instead of every table.
HttpResponse WebApp::overview() {
    // Built once for every request within the cache's age (each page polls it).
    ReadCache::Answer built = cache_.get("overview", [this] {
        ApiClient::Response r;
        r.data = overviewText();
        return r;
    });
    return jsonResponse(200, built->data);
}

std::string WebApp::overviewText() {
    JsonPtr info = parseOrThrow(*cachedGet(Uris::kSystemInfo), "systeminfo");
    JsonPtr slots = parseOrThrow(*cachedGet(Uris::kSlotTable), "slottable");
    JsonPtr olts = parseOrThrow(*cachedGet(Uris::kOltTable), "olttable");
    JsonPtr modules = parseOrThrow(*cachedGet(Uris::kModuleOltTable), "moduleolttable");
    JsonPtr onus = parseOrThrow(*cachedGet(Uris::kOnuTable), "onutable");
    JsonPtr alarms = parseOrThrow(*cachedGet(Uris::kOltAlarmTable), "oltalarmtable");

    struct Count {
        int online = 0, total = 0;
    };
    std::map<std::pair<std::string, std::string>, Count> perPort;  // (slot, pon) as the ONU table numbers them
    int online = 0, total = 0;
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, onus.get()) {
        Count& c = perPort[{member(row, "qvCfgONUSlotIndex"), member(row, "qvCfgONUPonIndex")}];
        const bool up = member(row, "qvCfgONULinkStatus") == "1";
        c.total++;
        total++;
        if (up) {
            c.online++;
            online++;
        }
    }
    std::map<std::string, const cJSON*> oltBySlot;
    cJSON_ArrayForEach(row, olts.get()) oltBySlot[member(row, "qvCfgOLTSlotIndex")] = row;
    std::map<std::pair<std::string, std::string>, const cJSON*> moduleByPort;
    cJSON_ArrayForEach(row, modules.get())
        moduleByPort[{member(row, "qvOpticModuleOltSlotIndex"), member(row, "qvOpticModuleOltPonIndex")}] = row;

    std::string out = "{\"system\":{";
    bool first = true;
    for (const char* key : {"product", "fwVersion", "uptime", "dateTime", "timezone", "mgntIpAddr", "serialNumber"}) {
        out += (first ? "" : ",") + webjson::quote(key) + ":" + webjson::quote(member(info.get(), key));
        first = false;
    }
    out += "},\"onus\":{\"online\":" + std::to_string(online) + ",\"total\":" + std::to_string(total) + "},\"slots\":[";
    first = true;
    cJSON_ArrayForEach(row, slots.get()) {
        const std::string slot = member(row, "qvSlotIndex");
        const cJSON* olt = oltBySlot.count(slot) ? oltBySlot[slot] : nullptr;
        out += first ? "{" : ",{";
        first = false;
        out += "\"slot\":" + webjson::quote(slot) + ",\"status\":" + webjson::quote(member(row, "qvSlotStatus")) +
               ",\"serial\":" + webjson::quote(member(row, "qvSlotCardSN"));
        out += ",\"oltId\":" + webjson::quote(olt ? member(olt, "id") : "") +
               ",\"name\":" + webjson::quote(olt ? member(olt, "qvCfgOLTName") : "") +
               ",\"mac\":" + webjson::quote(olt ? member(olt, "qvCfgOLTMac") : "") +
               ",\"version\":" + webjson::quote(olt ? member(olt, "qvCfgOLTApp1Version") : "") +
               ",\"ip\":" + webjson::quote(olt ? member(olt, "qvCfgOLTIpAddress") : "") + ",\"pons\":[";
        for (int pon = 0; pon < 2; ++pon) {
            // ONU rows carry the PON port as the OLT reports it (0, 1); module rows count 1, 2.
            const Count c = perPort[{slot, std::to_string(pon)}];
            auto mod = moduleByPort.find({slot, std::to_string(pon + 1)});
            const cJSON* mrow = mod == moduleByPort.end() ? nullptr : mod->second;
            out += (pon ? ",{" : "{");
            out += "\"pon\":" + std::to_string(pon) + ",\"online\":" + std::to_string(c.online) +
                   ",\"total\":" + std::to_string(c.total) +
                   ",\"txPower\":" + webjson::measurement(mrow ? member(mrow, "qvOpticModuleOltTxPower") : "") +
                   ",\"temperature\":" + webjson::measurement(mrow ? member(mrow, "qvOpticModuleOltTemperature") : "") +
                   "}";
        }
        out += "]}";
    }
    out += "],\"alarms\":[";
    // The alarm table keeps the newest events at the highest ids: newest first, eight of them.
    std::vector<const cJSON*> rows;
    cJSON_ArrayForEach(row, alarms.get()) rows.push_back(row);
    first = true;
    for (size_t i = 0; i < rows.size() && i < 8; ++i) {
        const cJSON* a = rows[rows.size() - 1 - i];
        out += first ? "{" : ",{";
        first = false;
        out += "\"id\":" + webjson::quote(member(a, "id")) + ",\"slot\":" + webjson::quote(member(a, "slot_id")) +
               ",\"label\":" + webjson::quote(member(a, "label")) + ",\"alarm\":" + webjson::quote(member(a, "alarm")) +
               ",\"state\":" + webjson::quote(member(a, "state")) +
               ",\"datetime\":" + webjson::quote(member(a, "datetime")) + "}";
    }
    out += "]}";
    return out;
}
