#pragma once
// Thin layer over cJSON: every allocation, parse or print failure becomes an Exception
// whose origin is the operation's name. Stateless and thread-safe. Every cJSON* returned
// belongs to the caller (free it with cJSON_Delete, or hold it in a JsonPtr).

#include <cjson/cJSON.h>

#include <memory>
#include <string>
#include <vector>

class Container;

struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
// Owning handle of a cJSON tree, so a throw between create and delete leaks nothing.
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

class JsonHelper {
public:
    // New empty object / array; throws "Impossible to allocate memory".
    static cJSON* createObject();
    static cJSON* createArray();

    // Parses the first JSON value of the text (leading blanks skipped, trailing text ignored);
    // the value may be of any kind. Throws "Impossible to parse json".
    static cJSON* parseJObject(const std::string& text);
    // Same as parseJObject; the kind of value is not checked.
    static cJSON* parseJArray(const std::string& text);

    // "" for a null value; compact print when unformatted, else cJSON's tab-indented print.
    // Throws "Impossible to allocate memory" when printing fails.
    static std::string toString(const cJSON* value, bool unformatted);
    // "[" + each element's compact getJsonData joined by "," + "]"; "[]" when empty.
    // Elements are always printed compactly; the flag exists for symmetry with the above.
    static std::string toString(const std::vector<Container*>& list, bool unformatted);
};
