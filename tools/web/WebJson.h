#pragma once
// Small JSON helpers of the web server: quoting a text as a JSON string (so system text
// never breaks out of its value), a number as a JSON number or null, and reading members
// of a parsed object. Stateless, thread-safe; nothing throws except std::bad_alloc.

#include <cjson/cJSON.h>

#include <string>

namespace webjson {

// "a\"b" -> "\"a\\\"b\"": quotes, backslashes and control characters escaped; "<", ">" and
// "&" too, so the text is also safe inside an HTML page.
std::string quote(const std::string& text);
// {"error":<quoted text>}
std::string errorObject(const std::string& text);
// The member's string value, or fallback when the member is missing or not a string.
std::string stringMember(const cJSON* object, const char* key, const std::string& fallback = "");
// A measured value as JSON: the text's number with up to two decimals, or null for "-",
// "" and anything that is not a finite number.
std::string measurement(const std::string& text);

}  // namespace webjson
