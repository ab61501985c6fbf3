#include "MibTable.h"

#include <cstdlib>

#include "JsonHelper.h"

int incr_scaling = 0;

int nextCacheTimeout() {
    if (const char* seam = std::getenv("WENDIX_CACHE_TIMEOUT")) {
        const int seconds = std::atoi(seam);
        if (seconds > 0) return seconds;
    }
    return 120 + incr_scaling;
}

namespace mibtable_detail {

const char* const kRowIdKey = "wendix:row_id";

void fillTable(RwLockTable& table, std::string json, Container* (*make)()) {
    JsonPtr rows(JsonHelper::parseJArray(json));
    std::string().swap(json);
    if (!cJSON_IsArray(rows.get())) throw Exception("Impossible to parse json", __func__, __LINE__);
    while (cJSON* element = rows->child) {
        JsonPtr taken(cJSON_DetachItemViaPointer(rows.get(), element));
        std::unique_ptr<Container> row(make());
        row->setcJsonData(taken.get(), true);
        table.addNew(row.get(), false);
        row.release();
    }
}

std::string changeJson(const std::string& key, const std::string& value) {
    JsonPtr change(JsonHelper::createObject());
    if (!cJSON_AddStringToObject(change.get(), key.c_str(), value.c_str()))
        throw Exception("Impossible to allocate memory", __func__, __LINE__);
    return JsonHelper::toString(change.get(), true);
}

bool fromGetNext(const netsnmp_agent_request_info* reqinfo) {
    if (!reqinfo->asp || !reqinfo->asp->pdu) return false;
    const int command = reqinfo->asp->pdu->command;
    return command == SNMP_MSG_GETNEXT || command == SNMP_MSG_GETBULK;
}

void copyText(TextValue& value, const char* text, size_t length) {
    std::memset(value.text, 0, sizeof(value.text));
    value.len = std::min(length, kMaxText);
    std::memcpy(value.text, text, value.len);
}

}  // namespace mibtable_detail
