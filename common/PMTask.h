#pragma once
// A task received by the PON-card manager: its name (the request's uri), the request text
// and eight text parameters (slot_id, mac_address, ip_address, src_ip_address, vlan_id,
// discard_untagged, pon_number, onu2onu). Used by one thread. parseTask throws Exception
// with origin parseTask.

#include <string>

#include "APIData.h"
#include "Container.h"

class PMTask {
public:
    PMTask();
    virtual ~PMTask();

    // Takes name, parameters (string members of declared keys only) and text from a parsed
    // request. Throws "Data on task can't be null", "Impossible to parse json", a parameter
    // update error, or "Unknown exception on parseTask".
    void parseTask(const APIData& request);

    std::string getTask() const { return task_; }
    std::string getJsonProtocol() const { return jsonProtocol_; }
    // "" for a key that is not a declared parameter.
    std::string getDataValue(const std::string& key) const;

private:
    std::string task_;
    std::string jsonProtocol_;
    Container data_;
};
