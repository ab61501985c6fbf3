#include "SystemInfo.h"

#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "Exception.h"
#include "Helper.h"
#include "JsonHelper.h"
#include "Paths.h"
#include "PrintException.h"
#include "SafeFile.h"
#include "ShellRunner.h"
#include "TextRules.h"

const std::string SystemInfo::kFileKeys[12] = {"mgntIpAddr",  "mgntIpMask",  "mgntIpGateway", "mgntIface",
                                               "oltIpAddr",   "oltIpMask",   "oltIface",      "ntpServer",
                                               "enNtpServer", "enSNMPAgent", "timezone",      "webPort"};

namespace {

// Creation order of the keys; the map keeps them sorted, the order only documents intent.
const char* const kAllKeys[] = {
    "fwVersion",     "uptime",   "mgntIpAddr",  "mgntIpMask",  "mgntIpGateway", "mgntIface",    "oltIpAddr",
    "oltIpMask",     "oltIface", "ntpServer",   "enNtpServer", "reboot",        "resetFactory", "dateTime",
    "restoreBackup", "backup",   "enSNMPAgent", "product",     "serialNumber",  "timezone",     "webPort"};

// Lines of the settings files are read up to this length, the rest of a line is dropped.
constexpr size_t kMaxLine = 498;

// Two request threads may change the management address at once; the boot-time files
// must come out whole, from one of them.
std::mutex gNetworkFileMutex;

bool isFileKey(const std::string& key) {
    for (const auto& k : SystemInfo::kFileKeys)
        if (k == key) return true;
    return false;
}

// getline without the line end, cut to kMaxLine; "" once the file has ended.
std::string readLine(std::istream& in) {
    std::string line;
    if (!std::getline(in, line)) return "";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) line.resize(kMaxLine);
    return line;
}

bool fileExists(const std::string& absolutePath) {
    struct stat st;
    return ::stat(Paths::resolve(absolutePath).c_str(), &st) == 0;
}

}  // namespace

SystemInfo::SystemInfo() {
    for (const char* key : kAllKeys) setNewValue(key, "");
    setNewValue("enSNMPAgent", "1");
    setNewValue("enNtpServer", "1");
    setNewValue("ntpServer", kDefaultNtpServer);
    loadMgmtNetwork();
    loadOLTNetwork();
    upgradeSettingsFile();
    loadFirmwareVersion();
    setNewValue("reboot", "0");
    setNewValue("resetFactory", "0");
    setNewValue("restoreBackup", "0");
    setNewValue("backup", "0");
    setNewValue("product", "QRx41");
    setNewValue("serialNumber", "-");
    setNewValue("timezone", "-3");
    setNewValue("webPort", "80");
    GL_TIMEZONE_VALUE.store(-3);
}

void SystemInfo::loadFirmwareVersion() {
    std::string version;
    if (FILE* f = std::fopen(Paths::resolve("/mnt/.fwversion").c_str(), "r")) {
        char buf[101];
        size_t n = std::fread(buf, 1, 100, f);
        std::fclose(f);
        // The file ends with a line end, which is not part of the version.
        if (n > 0) version.assign(buf, n - 1);
    }
    setNewValue("fwVersion", version.empty() ? "-" : version);
}

void SystemInfo::loadMgmtNetwork() {
    struct Line {
        const char* key;
        const char* fallback;
    };
    const Line lines[3] = {
        {"mgntIpAddr", "192.168.0.88"}, {"mgntIpMask", "255.255.255.0"}, {"mgntIpGateway", "192.168.0.1"}};
    std::ifstream in(Paths::resolve("/mnt/.ipAddress"));
    if (!in.is_open()) {
        for (const auto& l : lines) setNewValue(l.key, l.fallback);
        setNewValue("mgntIface", getMgmtIface());
        return;
    }
    // The file is written by this daemon, but a hand-edited or damaged line must not reach
    // the "ip" commands of the start-up: it falls back to the default and says why.
    // An empty line stays empty: it means "not configured" and the start-up skips the
    // commands that would need it (no route without a gateway).
    for (const auto& l : lines) {
        std::string value = readLine(in);
        std::string why = value.empty() ? "" : checkValue(l.key, value);
        if (!why.empty()) {
            std::printf("%s[%d]: Exception: %s in /mnt/.ipAddress, using %s\n", __func__, __LINE__, why.c_str(),
                        l.fallback);
            value = l.fallback;
        }
        setNewValue(l.key, value);
    }
    std::string iface = readLine(in);
    if (!iface.empty() && !checkValue("mgntIface", iface).empty()) {
        std::printf("%s[%d]: Exception: %s in /mnt/.ipAddress\n", __func__, __LINE__,
                    checkValue("mgntIface", iface).c_str());
        iface.clear();
    }
    setNewValue("mgntIface", iface.empty() ? getMgmtIface() : iface);
}

void SystemInfo::loadOLTNetwork() {
    setNewValue("oltIpAddr", "192.168.1.100");
    setNewValue("oltIpMask", "255.255.255.0");
    setNewValue("oltIface", getOLTIface());
}

void SystemInfo::upgradeSettingsFile() {
    const std::string path = Paths::resolve("/mnt/.settings");
    std::ifstream in(path);
    if (!in.is_open()) return;
    for (;;) {
        std::string line = readLine(in);
        if (line.empty()) break;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (line.rfind("iface_web=", 0) == 0) {
            std::string why = checkValue("mgntIface", value);
            if (!why.empty()) {
                std::printf("%s[%d]: Exception: %s in /mnt/.settings\n", __func__, __LINE__, why.c_str());
                continue;
            }
            setNewValue("mgntIface", value);
            setNewValue("oltIface", value);
        } else if (line.rfind("olt_source_ip=", 0) == 0) {
            std::string why = checkValue("oltIpAddr", value);
            if (!why.empty()) {
                std::printf("%s[%d]: Exception: %s in /mnt/.settings\n", __func__, __LINE__, why.c_str());
                continue;
            }
            setNewValue("oltIpAddr", value);
            setNewValue("oltIface", values_["mgntIface"]);
        }
    }
    in.close();
    ::unlink(path.c_str());
    try {
        doUpdateMgntNetworkFile();
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    }
    // The migrated values live on only in systeminfo.json, written at the next save.
    fileModified_.store(true);
}

std::string SystemInfo::getValue(const std::string& key) const {
    std::string value;
    readLock();
    auto it = values_.find(key);
    bool found = it != values_.end();
    if (found) value = it->second;
    unlock();
    if (!found) throw Exception("Key '" + key + "' not found", __func__, __LINE__);
    if (key == "dateTime" && !value.empty()) {
        // Stored in UTC without seconds; shown in the configured zone, still without seconds.
        std::string shifted = Helper::addHourToDateTime(value + ":00", GL_TIMEZONE_VALUE.load());
        value = shifted.size() >= 3 ? shifted.substr(0, shifted.size() - 3) : shifted;
    }
    return value;
}

std::string SystemInfo::getJsonData(bool unformatted, const std::string* keys, size_t count) const {
    JsonPtr object(JsonHelper::createObject());
    auto add = [&](const std::string& key, const std::string& value) {
        if (!cJSON_AddStringToObject(object.get(), key.c_str(), value.c_str()))
            throw Exception("Impossible to allocate memory", "getJsonData", __LINE__);
    };
    if (keys) {
        for (size_t i = 0; i < count; ++i) add(keys[i], getValue(keys[i]));
    } else {
        // A copy first: getValue takes the lock again, and a reader must not hold it twice
        // while a writer may be queued behind it.
        std::map<std::string, std::string> copy;
        readLock();
        copy = values_;
        unlock();
        for (const auto& kv : copy) add(kv.first, kv.first == "dateTime" ? getValue(kv.first) : kv.second);
    }
    return JsonHelper::toString(object.get(), unformatted);
}

bool SystemInfo::setJsonData(const std::string& text, bool allowId) {
    std::string error;
    return setJsonData(text, allowId, error);
}

bool SystemInfo::setJsonData(const std::string& text, bool allowId, std::string& error) {
    JsonPtr json(JsonHelper::parseJObject(text));
    return setcJsonData(json.get(), allowId, error);
}

bool SystemInfo::setcJsonData(cJSON* value, bool allowId) {
    std::string error;
    return setcJsonData(value, allowId, error);
}

std::string SystemInfo::checkValue(const std::string& key, const std::string& value) {
    const std::string invalidIp = "Invalid IPv4(" + value + ") for '" + key + "'";
    if (key == "mgntIpAddr" || key == "mgntIpGateway" || key == "ntpServer") {
        if (value == "0.0.0.0" || value == "255.255.255.255" || !TextRules::isIPv4(value)) return invalidIp;
    } else if (key == "mgntIpMask" || key == "oltIpAddr" || key == "oltIpMask") {
        // The chassis address and mask end up in "ip addr add" like the management ones.
        if (!TextRules::isIPv4(value)) return invalidIp;
    } else if (key == "mgntIface" || key == "oltIface") {
        // Interface names go into "ip" commands unquoted: only what a kernel name can hold.
        if (!TextRules::isInterfaceName(value)) return "Invalid interface(" + value + ") for '" + key + "'";
    }
    return "";
}

bool SystemInfo::setcJsonData(cJSON* value, bool allowId, std::string& error) {
    bool valueRejected = false;
    return setcJsonData(value, allowId, error, valueRejected);
}

bool SystemInfo::loadcJsonData(cJSON* value) {
    std::string error;
    bool valueRejected = false;
    setcJsonData(value, false, error, valueRejected);
    return !valueRejected;
}

bool SystemInfo::setcJsonData(cJSON* value, bool allowId, std::string& error, bool& valueRejected) {
    bool mgmtChanged = false;
    error.clear();
    valueRejected = false;
    auto addText = [&error](const std::string& text) {
        if (!error.empty()) error += ",";
        error += text;
    };
    auto addError = [&](const std::string& text) {
        addText(text);
        valueRejected = true;
    };
    writeLock();
    // Any request that names a persisted key rewrites the file (and, through the caller,
    // rebuilds the alarm table's shifted times), accepted or not.
    if (cJSON_IsObject(value)) {
        for (cJSON* m = value->child; m; m = m->next)
            if (cJSON_IsString(m) && m->string && isFileKey(m->string)) fileModified_.store(true);
    }
    if (cJSON_IsObject(value)) {
        try {
            for (cJSON* m = value->child; m; m = m->next) {
                if (!cJSON_IsString(m) || !m->string) continue;
                const std::string key = m->string;
                auto it = values_.find(key);
                if (it == values_.end() || (key == "id" && !allowId) || !isSetcJsonData(key)) continue;
                const std::string v = m->valuestring;
                // What the record already holds is not checked again: an empty gateway or
                // interface (none configured) is saved in the settings file, and refusing it
                // when the file is loaded back would delete every other saved setting.
                if (v == it->second) continue;
                std::string why = checkValue(key, v);
                if (!why.empty()) {
                    addError(why);
                    continue;
                }
                if (key == "timezone") {
                    // Convert before storing: a zone that is not a whole number of hours would
                    // otherwise be saved and make the whole settings file unloadable.
                    size_t used = 0;
                    int hours = std::stoi(v, &used);
                    if (used != v.size() || hours < -12 || hours > 14) {
                        addError("Invalid timezone(" + v + ") for '" + key + "'");
                        continue;
                    }
                    it->second = v;
                    GL_TIMEZONE_VALUE.store(hours);
                } else {
                    it->second = v;
                }
                noteChange();
                modified_.store(true);
                if (key == "mgntIpAddr" || key == "mgntIpGateway" || key == "mgntIpMask" || key == "mgntIface")
                    mgmtChanged = true;
            }
        } catch (const Exception& e) {
            std::printf("Exception: %s\n", e.what());
            addError(e.what());
        } catch (const std::exception& e) {
            addError(std::string("Failed on SystemInfo::setcJsonData: ") + e.what());
        } catch (...) {
            std::printf("Unknown exception on SystemInfo::setcJsonData\n");
            addError("Failed set system object");
        }
    }
    setError_ = error;
    unlock();
    if (mgmtChanged) {
        // The values are stored either way; a boot file that could not be written is said.
        try {
            doUpdateMgntNetworkFile();
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
            addText(e.getMessage());
            writeLock();
            setError_ = error;
            unlock();
        }
    }
    return error.empty();
}

std::string SystemInfo::getJsonFile() const { return getJsonData(true, kFileKeys, 12); }

bool SystemInfo::getHasJsonFileModified() const { return fileModified_.load(); }

void SystemInfo::clearHasJsonFileModified() { fileModified_.store(false); }

std::string SystemInfo::getSetError() const {
    readLock();
    std::string copy = setError_;
    unlock();
    return copy;
}

void SystemInfo::setUptime(const std::string& text) { setValue("uptime", text, true); }

void SystemInfo::setDateTime(const std::string& text) { setValue("dateTime", text, true); }

bool SystemInfo::isSetcJsonData(const std::string& key) {
    return key != "fwVersion" && key != "uptime" && key != "dateTime" && key != "product" && key != "serialNumber";
}

bool SystemInfo::isActionKey(const std::string& key) {
    return key == "reboot" || key == "resetFactory" || key == "restoreBackup" || key == "backup";
}

std::vector<std::string> SystemInfo::dropActionKeys(cJSON* object) {
    std::vector<std::string> set;
    if (!cJSON_IsObject(object)) return set;
    for (cJSON* m = object->child; m != nullptr;) {
        cJSON* next = m->next;
        if (m->string != nullptr && isActionKey(m->string)) {
            if (cJSON_IsString(m) && m->valuestring != nullptr && std::string(m->valuestring) == "1")
                set.push_back(m->string);
            cJSON_Delete(cJSON_DetachItemViaPointer(object, m));
        }
        m = next;
    }
    return set;
}

Container* SystemInfo::getAllIface() {
    auto record = std::make_unique<Container>();
    struct if_nameindex* list = ::if_nameindex();
    if (list) {
        int n = 0;
        for (struct if_nameindex* i = list; i->if_index != 0 && i->if_name; ++i) {
            std::string name = i->if_name;
            if (name.rfind("lo", 0) == 0) continue;
            record->setNewValue("iface" + std::to_string(n++), name);
        }
        ::if_freenameindex(list);
    }
    return record.release();
}

std::string SystemInfo::getMgmtIface() {
    std::unique_ptr<Container> all(getAllIface());
    return all->hasKey("iface0") ? all->getValue("iface0") : "";
}

std::string SystemInfo::getOLTIface() { return getMgmtIface(); }

void SystemInfo::doUpdateMgntNetworkFile() {
    // The values are read under the files' own lock: of two changes that race, the one
    // that writes last also reads last, so the files never end up with the older values.
    std::lock_guard<std::mutex> guard(gNetworkFileMutex);
    const std::string addr = getValue("mgntIpAddr");
    const std::string mask = getValue("mgntIpMask");
    const std::string gateway = getValue("mgntIpGateway");
    const std::string iface = getValue("mgntIface");

    SafeFile::replace(Paths::resolve("/mnt/.ipAddress"), addr + "\n" + mask + "\n" + gateway + "\n" + iface + "\n");
    if (!fileExists("/etc/network/interfaces.bkp")) {
        ShellRunner::run("cp " + ShellRunner::shellPath("/etc/network/interfaces") + " " +
                         ShellRunner::shellPath("/etc/network/interfaces.bkp"));
    }
    // The boot-time file always carries the factory address: the configured one is applied
    // by the daemon itself at start-up, so a bad setting cannot lock the card out at boot.
    SafeFile::replace(Paths::resolve("/etc/network/interfaces"),
                      "auto lo\n"
                      "iface lo inet loopback\n"
                      "\n"
                      "allow-hotplug " +
                          iface +
                          "\n"
                          "iface " +
                          iface +
                          " inet static\n"
                          "  address 192.168.0.88\n"
                          "  network 255.255.255.0\n"
                          "\n");
}
