#include "APIData.h"

#include <cstring>

#include "Exception.h"
#include "JsonHelper.h"

namespace {

void addString(cJSON* object, const char* key, const std::string& value) {
    if (cJSON_AddStringToObject(object, key, value.c_str()) == nullptr)
        throw Exception("Impossible to allocate memory", "addString", __LINE__);
}

// The text as far as the caller said it reaches: never past length, never past a zero byte.
std::string boundedText(const char* text, int length) {
    if (text == nullptr || length <= 0) return "";
    return std::string(text, strnlen(text, static_cast<size_t>(length)));
}

// Hands the item to the object; on failure the item is still freed by its handle.
void addItem(cJSON* object, const char* key, JsonPtr item) {
    if (!cJSON_AddItemToObject(object, key, item.get()))
        throw Exception("Impossible to allocate memory", "addItem", __LINE__);
    item.release();
}

cJSON* parseBounded(const char* text, int length) {
    if (text == nullptr || length <= 0) return nullptr;
    return cJSON_ParseWithLength(text, static_cast<size_t>(length));
}

}  // namespace

APIData::APIData() = default;
APIData::~APIData() = default;

void APIData::createRequest(const std::string& action, const std::string& uri, const std::string& jsonData) {
    clearAll();
    JsonPtr root(JsonHelper::createObject());
    addString(root.get(), "action", action);
    addString(root.get(), "uri", uri);
    if (!jsonData.empty()) addItem(root.get(), "data", JsonPtr(JsonHelper::parseJObject(jsonData)));
    jsonProtocol_ = JsonHelper::toString(root.get(), true);
    action_ = action;
    uri_ = uri;
    jsonData_ = jsonData;
}

void APIData::parseRequest(const char* text, int length) {
    clearAll();
    JsonPtr root(parseBounded(text, length));
    if (!root) throw Exception("JSON not parsed: " + boundedText(text, length), __func__, __LINE__);
    action_ = getStringValue(root.get(), "action");
    uri_ = getStringValue(root.get(), "uri");
    // Only a change carries a payload; "get" requests may hold stray data that nobody reads.
    if (action_ == "set") jsonData_ = JsonHelper::toString(getObjectValue(root.get(), "data"), true);
    // Copied into the storage the envelope already has (a server reuses one envelope for
    // every request and its response, which may be a whole table).
    const std::string printed = JsonHelper::toString(root.get(), true);
    jsonProtocol_.assign(printed.data(), printed.size());
}

void APIData::createResponse(const std::string& error, const std::string& jsonData) {
    clearAll();
    JsonPtr root(JsonHelper::createObject());
    if (error.empty() && !jsonData.empty()) addItem(root.get(), "data", JsonPtr(JsonHelper::parseJObject(jsonData)));
    addString(root.get(), "err", error);
    jsonProtocol_ = JsonHelper::toString(root.get(), true);
    jsonData_ = jsonData;
}

void APIData::createResponseCompact(const std::string& compactJson) {
    clearAll();
    jsonProtocol_.reserve(compactJson.size() + 20);
    if (compactJson.empty()) {
        jsonProtocol_ += '{';
    } else {
        jsonProtocol_ += "{\"data\":";
        jsonProtocol_ += compactJson;
        jsonProtocol_ += ',';
    }
    jsonProtocol_ += "\"err\":\"\"}";
    jsonData_.assign(compactJson);
}

void APIData::parseResponse(const char* text, int length) {
    clearAll();
    JsonPtr root(parseBounded(text, length));
    if (!root) throw Exception("JSON not parsed: " + boundedText(text, length), __func__, __LINE__);
    error_ = getStringValue(root.get(), "err");
    jsonData_ = JsonHelper::toString(cJSON_GetObjectItemCaseSensitive(root.get(), "data"), true);
    jsonProtocol_ = JsonHelper::toString(root.get(), true);
}

void APIData::clearAll() {
    action_.clear();
    uri_.clear();
    jsonData_.clear();
    jsonProtocol_.clear();
    error_.clear();
}

APIData* APIData::clone() const { return new APIData(*this); }

std::string APIData::dump() const {
    return "action: " + action_ + "\n" + "uri: " + uri_ + "\n" + "jsonData: " + jsonData_ + "\n" +
           "jsonProtocol: " + jsonProtocol_ + "\n" + "err: " + error_ + "\n" + "-----------------\n";
}

std::string APIData::getStringValue(const cJSON* object, const std::string& key) {
    const cJSON* item = cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, key.c_str()) : nullptr;
    if (!cJSON_IsString(item) || item->valuestring == nullptr)
        throw Exception("Key '" + key + "' not found", __func__, __LINE__);
    return item->valuestring;
}

cJSON* APIData::getObjectValue(const cJSON* object, const std::string& key) {
    cJSON* item = cJSON_IsObject(object) ? cJSON_GetObjectItemCaseSensitive(object, key.c_str()) : nullptr;
    if (item == nullptr) throw Exception("Key '" + key + "' not found", __func__, __LINE__);
    return item;
}
