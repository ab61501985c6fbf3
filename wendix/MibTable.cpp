#include "MibTable.h"

#include "JsonHelper.h"

int incr_scaling = 0;

namespace {

int fixedCacheTimeout = 0;  // seconds; 0: none (set before the registrations, one thread)

}  // namespace

int nextCacheTimeout() {
    if (fixedCacheTimeout > 0) return fixedCacheTimeout;
    return 120 + incr_scaling;
}

void setFixedCacheTimeout(int seconds) { fixedCacheTimeout = seconds > 0 ? seconds : 0; }

namespace mibtable_detail {

const char* const kRowIdKey = "wendix:row_id";

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The end of the JSON value that starts at p (strings, nesting and escapes followed); end
// when the text ends first.
const char* valueEnd(const char* p, const char* end) {
    int depth = 0;
    bool inString = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (inString) {
            if (c == '\\') ++p;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0) return p;
            --depth;
        } else if (c == ',' && depth == 0) {
            return p;
        }
    }
    return end;
}

}  // namespace

void fillTable(RwLockTable& table, std::string json, Container* (*make)()) {
    // One element at a time: a parse tree of the whole table (a few MiB for 2048 ONUs) and
    // the rows built from it would otherwise be in memory together.
    const char* p = json.data();
    const char* const end = p + json.size();
    auto skipBlanks = [&] {
        while (p < end && isBlank(*p)) ++p;
    };
    skipBlanks();
    if (p == end || *p != '[') throw Exception("Impossible to parse json", __func__, __LINE__);
    ++p;
    skipBlanks();
    if (p < end && *p == ']') return;
    for (;;) {
        const char* const start = p;
        p = valueEnd(p, end);
        JsonPtr element(cJSON_ParseWithLength(start, static_cast<size_t>(p - start)));
        if (!element || p == end) throw Exception("Impossible to parse json", __func__, __LINE__);
        std::unique_ptr<Container> row(make());
        row->setcJsonData(element.get(), true);
        table.addNew(row.get(), false);
        row.release();
        if (*p == ']') return;
        ++p;  // the comma
        skipBlanks();
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
