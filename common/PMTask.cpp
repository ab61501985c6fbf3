#include "PMTask.h"

#include "Exception.h"

PMTask::PMTask() {
    for (const char* key : {"slot_id", "mac_address", "ip_address", "src_ip_address", "vlan_id", "discard_untagged",
                            "pon_number", "onu2onu"})
        data_.setNewValue(key, "");
}

PMTask::~PMTask() = default;

void PMTask::parseTask(const APIData& request) {
    try {
        const std::string jsonData = request.getJsonData();
        if (jsonData.empty()) throw Exception("Data on task can't be null", __func__, __LINE__);
        task_ = request.getUri();
        data_.setJsonData(jsonData, false);
        jsonProtocol_ = request.getJsonProtocol();
    } catch (const Exception& e) {
        // Re-raised under this operation's name: the receiving loop prints one origin.
        throw Exception(e.getMessage(), "parseTask", __LINE__);
    } catch (...) {
        throw Exception("Unknown exception on parseTask", "parseTask", __LINE__);
    }
}

std::string PMTask::getDataValue(const std::string& key) const { return data_.hasKey(key) ? data_.getValue(key) : ""; }
