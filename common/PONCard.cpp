#include "PONCard.h"

#include "Exception.h"
#include "Helper.h"

namespace {
const char* flag(bool value) { return value ? "1" : "0"; }
const char* const kModules = "module_olt_table";
}  // namespace

PONCard::PONCard() {
    data_.setNewValue("mac_address", "");
    data_.setNewValue("slot_id", "");
    data_.setNewValue("online_status", "0");
    data_.setNewValue("status_reported", "0");
    data_.setNewValue("app_version", "");
    data_.setNewValue("nvs_enabled", "0");
    // PON port 0 first, then port 1: getModuleOltTable indexes by position.
    data_.addItemToList(kModules, new ModuleOltTableRow());
    data_.addItemToList(kModules, new ModuleOltTableRow());
}

PONCard::~PONCard() = default;

void PONCard::setMacAddress(const std::string& value) { data_.setValue("mac_address", value, false); }
std::string PONCard::getMacAddress() const { return data_.getValue("mac_address"); }
void PONCard::clearMacAddress() { data_.setValue("mac_address", "", false); }
std::string PONCard::getHexMacAddress() const { return Helper::replaceAll(getMacAddress(), ":", ""); }
void PONCard::setSlotId(const std::string& value) { data_.setValue("slot_id", value, false); }
std::string PONCard::getSlotId() const { return data_.getValue("slot_id"); }
void PONCard::setOnlineStatus(bool value) { data_.setValue("online_status", flag(value), false); }
bool PONCard::getOnlineStatus() const { return data_.getValue("online_status") == "1"; }
void PONCard::setStatusReported(bool value) { data_.setValue("status_reported", flag(value), false); }
bool PONCard::getStatusReported() const { return data_.getValue("status_reported") == "1"; }
void PONCard::setAppVersion(const std::string& value) { data_.setValue("app_version", value, false); }
std::string PONCard::getAppVersion() const { return data_.getValue("app_version"); }
void PONCard::setNVSEnabled(bool value) { data_.setValue("nvs_enabled", flag(value), false); }
bool PONCard::getNVSEnabled() const { return data_.getValue("nvs_enabled") == "1"; }

ModuleOltTableRow* PONCard::getModuleOltTable(int port) {
    if (port != 0 && port != 1) throw Exception("PON (" + std::to_string(port) + ") not found", __func__, __LINE__);
    Container::List& modules = data_.getList(kModules);
    if (static_cast<size_t>(port) >= modules.size())
        throw Exception("PON (" + std::to_string(port) + ") not found", __func__, __LINE__);
    // Only ModuleOltTableRow records are ever put into this list.
    return static_cast<ModuleOltTableRow*>(modules[static_cast<size_t>(port)]);
}

bool PONCard::setJsonData(const std::string& text) { return data_.setJsonData(text, false); }
std::string PONCard::getJsonData() const { return data_.getJsonData(true, nullptr, 0); }
void PONCard::clear() { data_.clear(); }
