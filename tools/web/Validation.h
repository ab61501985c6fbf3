#pragma once
// Checks of what an operator or a script may change through the web server, before the
// change goes to Halvorn. Halvorn stores row values as given and builds tasks and shell
// commands from some of them, so the web side accepts only the editable members, each in
// its form: a row change names members the table lets an operator edit, a settings change
// only settings, and every value must be well formed. Numbers are accepted for numeric
// members and passed on as decimal text (Halvorn takes only texts).
// Errors are per member, in Halvorn's own style ("Invalid IPv4(x) for 'key'"), so the pages
// show every message next to its field whichever side found it. Pure functions.

#include <cjson/cJSON.h>

#include <map>
#include <string>

namespace validation {

struct Result {
    std::string data;                           // the change as a compact JSON object of texts
    std::map<std::string, std::string> errors;  // member -> message; empty when accepted
    std::string joinedErrors() const;           // the messages joined by ","
};

// A change of "/olttable/<id>" or "/onutable/<id>"; table is "olttable" or "onutable".
Result checkRowChange(const std::string& table, const cJSON* change);
// A change of "/systeminfo" through the settings page (the four action flags are refused:
// they have their own routes).
Result checkSettingsChange(const cJSON* change);
// The data of an action ("/slot/reset", "/slot/onu/remove" ...): "slot_id" 1..8, and
// "mac_address" for the ONU actions.
Result checkActionData(const std::string& action, const cJSON* data);
// New administrator credentials: user name and password.
Result checkCredentials(const std::string& user, const std::string& password);

}  // namespace validation
