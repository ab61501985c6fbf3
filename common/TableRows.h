#pragma once
// The six row classes of the state tables. Each is a Container that declares its keys
// (value "" first, then its defaults) and nothing else but a few change flags.
// Rows are owned by their RwLockTable once added; the flags are atomics because the
// request threads set them and the database worker reads and clears them.
// Throw only what Container throws.

#include <atomic>
#include <string>

#include "Container.h"

// One OLT (the OLT chip of one slot's line card). Eight keys are saved in the table file;
// changing one of them through setcJsonData sets file-modified, and changing the IP
// address sets update-IP-address until the next setcJsonData call.
class OltTableRow : public Container {
public:
    OltTableRow();
    ~OltTableRow() override;

    // Applies the defaults through setValue (so a new row is modified) and clears both
    // VLAN-set flags.
    void initDefaultValues();

    bool setJsonData(const std::string& text, bool allowId) override;
    bool setcJsonData(cJSON* value, bool allowId) override;
    // The eight saved keys in file order, compact, without "id".
    std::string getJsonFile() const override;
    bool getHasJsonFileModified() const override;
    void clearHasJsonFileModified() override;

    bool getHasUpdateIpAddress() const;
    // Per PON port (0 or 1): the VLAN setting has been handed on to the PON-card manager.
    // Any other port reads false and is ignored on set.
    bool getHasVlanSet(int port) const;
    void setHasVlanSet(int port, bool value);

    // Whether the key is one of the eight saved in the table file.
    static bool checkIfSaveField(const std::string& key);

private:
    std::atomic<bool> hasUpdateIpAddress_{false};
    std::atomic<bool> hasJsonFileModified_{false};
    std::atomic<bool> hasVlanSet_[2] = {{false}, {false}};
};

// One ONU. Seven keys are saved in the table file; changing one through setcJsonData sets
// file-modified.
class OnuTableRow : public Container {
public:
    OnuTableRow();
    ~OnuTableRow() override;

    bool setJsonData(const std::string& text, bool allowId) override;
    bool setcJsonData(cJSON* value, bool allowId) override;
    // The seven saved keys in file order, compact, without "id".
    std::string getJsonFile() const override;
    bool getHasJsonFileModified() const override;
    void clearHasJsonFileModified() override;

    // Sets file-modified when the key is one of the seven saved keys.
    void checkDataFieldModified(const std::string& key);

    bool getHasVlanSet() const;
    void setHasVlanSet(bool value);
    // qvCfgONUEnabled == "1".
    bool getIsTrafficEnabled() const;

private:
    std::atomic<bool> hasJsonFileModified_{false};
    std::atomic<bool> hasVlanSet_{false};
};

// One chassis slot: status "1" online / "2" offline, card type, serial number, action column.
class SlotTableRow : public Container {
public:
    SlotTableRow();
    ~SlotTableRow() override;
    void initDefaultValues();
};

// The optical module of one OLT PON port; "-" = not measured yet.
class ModuleOltTableRow : public Container {
public:
    ModuleOltTableRow();
    ~ModuleOltTableRow() override;
    void initDefaultValues();
};

// The optical module of one ONU; all keys start "".
class ModuleOnuTableRow : public Container {
public:
    ModuleOnuTableRow();
    ~ModuleOnuTableRow() override;
};

// One alarm event of an OLT. "datetime" is stored in UTC and shown shifted by the
// configured time-zone offset (GL_TIMEZONE_VALUE) wherever it is read.
class OltAlarmTableRow : public Container {
public:
    OltAlarmTableRow();
    ~OltAlarmTableRow() override;

    // As Container::getValue; "datetime" comes back shifted by GL_TIMEZONE_VALUE hours.
    std::string getValue(const std::string& key) const override;
    // As Container::getJsonData, but every value goes through getValue (shifted datetime).
    std::string getJsonData(bool unformatted, const std::string* keys, size_t count) const override;
};
