#pragma once
// The card's own settings record ("/systeminfo"): network addresses of the management and
// chassis interfaces, NTP, SNMP agent, time zone, web port, identity and the four action
// flags (reboot, resetFactory, restoreBackup, backup) that the database worker acts on.
// Keeps "/mnt/.ipAddress" and "/etc/network/interfaces" in step with the management
// address, each replaced as a whole (SafeFile). Thread-safe: every value access takes the
// record's own rwlock; the network files are rewritten after it is released, under a lock of
// their own that also covers reading the values, so the last writer writes the newest ones.
// Every value that can reach a shell command is checked, whether it comes from a request or
// from a file. The four action flags are never taken from a file (see dropActionKeys).

#include <atomic>
#include <string>
#include <vector>

#include "Container.h"

class SystemInfo : public Container {
public:
    // A public server's IPv4 address, used until the operator configures one.
    static constexpr const char* kDefaultNtpServer = "162.159.200.1";

    // Creates the 21 keys with their defaults, reads "/mnt/.fwversion", "/mnt/.ipAddress"
    // and migrates "/mnt/.settings" (deleted afterwards). Sets GL_TIMEZONE_VALUE to -3.
    SystemInfo();
    ~SystemInfo() override = default;

    // As Container::getValue; "dateTime" comes back shifted to local time (dd/mm/YYYY HH:MM).
    std::string getValue(const std::string& key) const override;
    // Every key (ascending) or the listed keys, each value as getValue gives it.
    std::string getJsonData(bool unformatted, const std::string* keys, size_t count) const override;
    // Parses the text (throws "Impossible to parse json") and applies setcJsonData.
    bool setJsonData(const std::string& text, bool allowId) override;
    // Applies the string members of writable keys, checking each; a rejected value is not
    // stored and its text joins the set-error text. True when nothing was rejected.
    bool setcJsonData(cJSON* value, bool allowId) override;
    // The same, with the errors of this very change (joined by ",", "" when none) in error:
    // unlike getSetError, which another thread's change may have replaced meanwhile. A
    // network file that cannot be written is one of them (the values stay stored).
    bool setJsonData(const std::string& text, bool allowId, std::string& error);
    bool setcJsonData(cJSON* value, bool allowId, std::string& error);
    // The settings file at start: applied as setcJsonData applies it, but a network file that
    // cannot be written does not make the file's values rejected (the loader would delete the
    // settings file for it, and a power cut before the next save would lose every setting).
    // True when no value was rejected.
    bool loadcJsonData(cJSON* value);
    // The twelve persisted keys, compact, in their fixed order.
    std::string getJsonFile() const override;
    bool getHasJsonFileModified() const override;
    void clearHasJsonFileModified() override;

    // The errors of the last change, joined by ",".
    std::string getSetError() const;
    // Snapshots stored by the system manager, bypassing the checks.
    void setUptime(const std::string& text);
    void setDateTime(const std::string& text);

    // False for the read-only keys fwVersion, uptime, dateTime, product, serialNumber.
    static bool isSetcJsonData(const std::string& key);
    // The four action flags: reboot, resetFactory, restoreBackup, backup. Requests set them;
    // they are never stored settings.
    static bool isActionKey(const std::string& key);
    // Removes the action flags from a record loaded from a file (a hand-made or foreign
    // archive, or an older card that saved the whole record), so that a stored "1" never
    // reboots or wipes the card at start. Returns the keys that were set to "1".
    static std::vector<std::string> dropActionKeys(cJSON* object);
    // New record (caller owns it): "iface0", "iface1", ... = interface names not starting
    // with "lo", in the system's order.
    static Container* getAllIface();
    static std::string getMgmtIface();
    static std::string getOLTIface();
    static bool changeOltNetwork() { return true; }

    // Rewrites "/mnt/.ipAddress" and "/etc/network/interfaces" (first rewrite keeps a copy
    // in interfaces.bkp), each as a whole. Throws Exception "Impossible to write ..." /
    // "Impossible to rename ..." when one cannot be written; that file keeps its old text.
    // Call without the record's lock held.
    void doUpdateMgntNetworkFile();

    std::string getFirmwareVersion() const { return getValue("fwVersion"); }
    std::string getSerialNumber() const { return getValue("serialNumber"); }

    // The twelve persisted keys, in file order.
    static const std::string kFileKeys[12];

private:
    // The body of the public setcJsonData and loadcJsonData; valueRejected tells a refused
    // value from a boot file that could not be written.
    bool setcJsonData(cJSON* value, bool allowId, std::string& error, bool& valueRejected);
    void loadMgmtNetwork();
    void loadOLTNetwork();
    void upgradeSettingsFile();
    void loadFirmwareVersion();

    // Why a value for key is refused ("" when it is acceptable); the same rules for
    // requests and for values read from the settings files.
    static std::string checkValue(const std::string& key, const std::string& value);

    // Set whenever a change names a persisted key; read by the database worker's save.
    std::atomic<bool> fileModified_{false};
    // Guarded by the record's rwlock: the errors of the last change, whichever thread made it.
    std::string setError_;
};
