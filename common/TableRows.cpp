#include "TableRows.h"

#include <vector>

#include "Helper.h"
#include "JsonHelper.h"

namespace {

// Keys of the OLT table file, in the order the file is written.
const std::string kOltFileKeys[] = {
    "qvCfgOLTSlotIndex",       "qvCfgOLTName",       "qvCfgOLTIpAddress",       "qvCfgOLTPON0VlanId",
    "qvCfgOLTPON0DisUntagged", "qvCfgOLTPON1VlanId", "qvCfgOLTPON1DisUntagged", "qvCfgOLTOnu2Onu",
};
// Keys of the ONU table file, in the order the file is written.
const std::string kOnuFileKeys[] = {
    "qvCfgONUPhysicalID", "qvCfgONUName",  "qvCfgONUVlanId",  "qvCfgONUSlotIndex",
    "qvCfgONUPonIndex",   "qvCfgONUIndex", "qvCfgONUEnabled",
};

template <size_t N>
bool contains(const std::string (&keys)[N], const std::string& key) {
    for (const auto& k : keys)
        if (k == key) return true;
    return false;
}

}  // namespace

// ---- OltTableRow ----

OltTableRow::OltTableRow() {
    for (const char* key :
         {"qvCfgOLTSlotIndex", "qvCfgOLTApp1Version", "qVCfgOLTNvsEnabled", "qvCfgOLTMac", "qvCfgOLTName",
          "qvCfgOLTCtcDisable", "qvCfgOLTMtu", "qvCfgOLTIpAddress", "qvCfgOLTOnu2Onu", "qvCfgOLTPON0VlanId",
          "qvCfgOLTPON0DisUntagged", "qvCfgOLTPON1VlanId", "qvCfgOLTPON1DisUntagged"})
        values_[key] = "";
    initDefaultValues();
}

OltTableRow::~OltTableRow() = default;

void OltTableRow::initDefaultValues() {
    setValue("qvCfgOLTApp1Version", "-", true);
    setValue("qVCfgOLTNvsEnabled", "1", true);
    setValue("qvCfgOLTMac", "-", true);
    setValue("qvCfgOLTCtcDisable", "1", true);
    setValue("qvCfgOLTMtu", "1500", true);
    setValue("qvCfgOLTOnu2Onu", "1", true);
    hasVlanSet_[0].store(false);
    hasVlanSet_[1].store(false);
}

bool OltTableRow::setJsonData(const std::string& text, bool allowId) {
    JsonPtr json(JsonHelper::parseJObject(text));
    return setcJsonData(json.get(), allowId);
}

bool OltTableRow::setcJsonData(cJSON* value, bool allowId) {
    // The flag describes the last update only, so the IP change is acted on once.
    hasUpdateIpAddress_.store(false);
    return setcJsonDataWith(value, allowId, [this](const std::string& key) {
        if (key == "qvCfgOLTIpAddress") hasUpdateIpAddress_.store(true);
        if (checkIfSaveField(key)) hasJsonFileModified_.store(true);
    });
}

std::string OltTableRow::getJsonFile() const { return getJsonData(true, kOltFileKeys, std::size(kOltFileKeys)); }

bool OltTableRow::getHasJsonFileModified() const { return hasJsonFileModified_.load(); }
void OltTableRow::clearHasJsonFileModified() { hasJsonFileModified_.store(false); }
bool OltTableRow::getHasUpdateIpAddress() const { return hasUpdateIpAddress_.load(); }

bool OltTableRow::getHasVlanSet(int port) const { return (port == 0 || port == 1) ? hasVlanSet_[port].load() : false; }

void OltTableRow::setHasVlanSet(int port, bool value) {
    if (port == 0 || port == 1) hasVlanSet_[port].store(value);
}

bool OltTableRow::checkIfSaveField(const std::string& key) { return contains(kOltFileKeys, key); }

// ---- OnuTableRow ----

OnuTableRow::OnuTableRow() {
    for (const char* key : {"qvCfgONUSlotIndex", "qvCfgONUPonIndex", "qvCfgONUIndex", "qvCfgONUPhysicalID",
                            "qvCfgONUName", "qvCfgONULinkStatus", "qvCfgONUReset", "qvCfgONUAlarm",
                            "qvCfgONUGigabitStatus", "qvCfgONUVlanId", "qvCfgONUEnabled"})
        values_[key] = "";
    // Straight into the map: a fresh ONU row is not a change to save.
    values_["qvCfgONUEnabled"] = "1";
}

OnuTableRow::~OnuTableRow() = default;

bool OnuTableRow::setJsonData(const std::string& text, bool allowId) {
    JsonPtr json(JsonHelper::parseJObject(text));
    return setcJsonData(json.get(), allowId);
}

bool OnuTableRow::setcJsonData(cJSON* value, bool allowId) {
    return setcJsonDataWith(value, allowId, [this](const std::string& key) { checkDataFieldModified(key); });
}

std::string OnuTableRow::getJsonFile() const { return getJsonData(true, kOnuFileKeys, std::size(kOnuFileKeys)); }

bool OnuTableRow::getHasJsonFileModified() const { return hasJsonFileModified_.load(); }
void OnuTableRow::clearHasJsonFileModified() { hasJsonFileModified_.store(false); }

void OnuTableRow::checkDataFieldModified(const std::string& key) {
    if (contains(kOnuFileKeys, key)) hasJsonFileModified_.store(true);
}

bool OnuTableRow::getHasVlanSet() const { return hasVlanSet_.load(); }
void OnuTableRow::setHasVlanSet(bool value) { hasVlanSet_.store(value); }

bool OnuTableRow::getIsTrafficEnabled() const {
    // Read-locked although callers hold the table lock: it costs nothing and keeps a caller
    // that forgot the table lock from reading a value while a JSON update rewrites it.
    readLock();
    auto it = values_.find("qvCfgONUEnabled");
    const bool enabled = it != values_.end() && it->second == "1";
    unlock();
    return enabled;
}

// ---- SlotTableRow ----

SlotTableRow::SlotTableRow() {
    for (const char* key : {"qvSlotIndex", "qvSlotStatus", "qvSlotCardType", "qvSlotCardSN", "qvSlotSet"})
        values_[key] = "";
    initDefaultValues();
}

SlotTableRow::~SlotTableRow() = default;

void SlotTableRow::initDefaultValues() {
    setValue("qvSlotStatus", "2", true);
    setValue("qvSlotCardType", "11", true);
    setValue("qvSlotCardSN", "-", true);
    setValue("qvSlotSet", "0", true);
}

// ---- ModuleOltTableRow ----

ModuleOltTableRow::ModuleOltTableRow() {
    for (const char* key : {"qvOpticModuleOltSlotIndex", "qvOpticModuleOltPonIndex", "qvOpticModuleOltTxPower",
                            "qvOpticModuleOltVcc", "qvOpticModuleOltTxBias", "qvOpticModuleOltTemperature"})
        values_[key] = "";
    initDefaultValues();
}

ModuleOltTableRow::~ModuleOltTableRow() = default;

void ModuleOltTableRow::initDefaultValues() {
    for (const char* key :
         {"qvOpticModuleOltTxPower", "qvOpticModuleOltVcc", "qvOpticModuleOltTxBias", "qvOpticModuleOltTemperature"})
        setValue(key, "-", true);
}

// ---- ModuleOnuTableRow ----

ModuleOnuTableRow::ModuleOnuTableRow() {
    for (const char* key : {"qvOpticModuleOnuSlotIndex", "qvOpticModuleOnuPonIndex", "qvOpticModuleOnuIndex",
                            "qvOpticModuleOnuTxPower", "qvOpticModuleOnuRxPower", "qvOpticModuleOnuVcc",
                            "qvOpticModuleOnuTxBias", "qvOpticModuleOnuTemperature", "qvOpticModuleOnuPhysicalID"})
        values_[key] = "";
}

ModuleOnuTableRow::~ModuleOnuTableRow() = default;

// ---- OltAlarmTableRow ----

OltAlarmTableRow::OltAlarmTableRow() {
    for (const char* key : {"label", "alarm", "state", "slot_id", "datetime"}) values_[key] = "";
}

OltAlarmTableRow::~OltAlarmTableRow() = default;

std::string OltAlarmTableRow::getValue(const std::string& key) const {
    std::string value = Container::getValue(key);
    // Stored in UTC; shown in the operator's configured zone.
    if (key == "datetime") return Helper::addHourToDateTime(value, GL_TIMEZONE_VALUE.load());
    return value;
}

std::string OltAlarmTableRow::getJsonData(bool unformatted, const std::string* keys, size_t count) const {
    if (keys != nullptr) return Container::getJsonData(unformatted, keys, count);
    // Name every key so the base prints each one through getValue; the read lock is held
    // around both steps so the key set cannot change in between (read locks nest).
    readLock();
    try {
        std::vector<std::string> all;
        all.reserve(values_.size());
        for (const auto& kv : values_) all.push_back(kv.first);
        std::string text = Container::getJsonData(unformatted, all.data(), all.size());
        unlock();
        return text;
    } catch (...) {
        unlock();
        throw;
    }
}
