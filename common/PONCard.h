#pragma once
// One line card's OLT as the PON-card manager knows it: MAC, slot, firmware version,
// status flags and the optical modules of its two PON ports (list "module_olt_table",
// owned). Values live in a Container member; each accessor is one locked access.
// getModuleOltTable throws "PON (<port>) not found", or "Key 'module_olt_table' not found"
// after clear().

#include <string>

#include "Container.h"
#include "TableRows.h"

class PONCard {
public:
    PONCard();
    virtual ~PONCard();
    PONCard(const PONCard&) = delete;
    PONCard& operator=(const PONCard&) = delete;

    void setMacAddress(const std::string& value);
    std::string getMacAddress() const;
    void clearMacAddress();
    std::string getHexMacAddress() const;
    void setSlotId(const std::string& value);
    std::string getSlotId() const;
    void setOnlineStatus(bool value);
    bool getOnlineStatus() const;
    void setStatusReported(bool value);
    bool getStatusReported() const;
    void setAppVersion(const std::string& value);
    std::string getAppVersion() const;
    void setNVSEnabled(bool value);
    bool getNVSEnabled() const;

    // The module record of PON port 0 or 1, owned by this card.
    ModuleOltTableRow* getModuleOltTable(int port);

    // Takes over declared string members and the two module records from a
    // "module_olt_table" array ("id" excluded).
    bool setJsonData(const std::string& text);
    // Compact: all keys ascending, then "module_olt_table".
    std::string getJsonData() const;
    // Deletes the module records and the list key.
    void clear();

private:
    Container data_;
};
