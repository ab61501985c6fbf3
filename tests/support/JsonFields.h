#pragma once
// Reading single values out of the JSON texts that the daemon answers, for test assertions.
#include <string>

#include "JsonHelper.h"

namespace halvorn_test {

// Value of a key in a flat JSON object text of strings ("" when absent).
inline std::string field(const std::string& json, const std::string& key) {
    const std::string mark = "\"" + key + "\":\"";
    size_t at = json.find(mark);
    if (at == std::string::npos) return "";
    at += mark.size();
    return json.substr(at, json.find('"', at) - at);
}

// The value of key in the element of a JSON array text whose match key has the value;
// "<no row>" when no element matches, "<missing>" when that element lacks the key.
inline std::string field(const std::string& arrayText, const std::string& matchKey, const std::string& match,
                         const std::string& key) {
    JsonPtr array(cJSON_Parse(arrayText.c_str()));
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, array.get()) {
        const char* v = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(row, matchKey.c_str()));
        if (v != nullptr && match == v) {
            const char* out = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(row, key.c_str()));
            return out == nullptr ? "<missing>" : out;
        }
    }
    return "<no row>";
}

}  // namespace halvorn_test
