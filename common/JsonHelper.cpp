#include "JsonHelper.h"

#include "Container.h"
#include "Exception.h"

cJSON* JsonHelper::createObject() {
    cJSON* json = cJSON_CreateObject();
    if (json == nullptr) throw Exception("Impossible to allocate memory", __func__, __LINE__);
    return json;
}

cJSON* JsonHelper::createArray() {
    cJSON* json = cJSON_CreateArray();
    if (json == nullptr) throw Exception("Impossible to allocate memory", __func__, __LINE__);
    return json;
}

cJSON* JsonHelper::parseJObject(const std::string& text) {
    // Length-limited so a text is never read past its end, whatever it holds.
    cJSON* json = text.empty() ? nullptr : cJSON_ParseWithLength(text.data(), text.size());
    if (json == nullptr) throw Exception("Impossible to parse json", __func__, __LINE__);
    return json;
}

cJSON* JsonHelper::parseJArray(const std::string& text) {
    cJSON* json = text.empty() ? nullptr : cJSON_ParseWithLength(text.data(), text.size());
    if (json == nullptr) throw Exception("Impossible to parse json", __func__, __LINE__);
    return json;
}

std::string JsonHelper::toString(const cJSON* value, bool unformatted) {
    if (value == nullptr) return "";
    char* printed = unformatted ? cJSON_PrintUnformatted(value) : cJSON_Print(value);
    if (printed == nullptr) throw Exception("Impossible to allocate memory", __func__, __LINE__);
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

std::string JsonHelper::toString(const std::vector<Container*>& list, bool /*unformatted*/) {
    std::string text = "[";
    bool first = true;
    for (const Container* item : list) {
        if (item == nullptr) continue;
        if (!first) text += ",";
        text += item->getJsonData(true, nullptr, 0);
        first = false;
    }
    return text + "]";
}
