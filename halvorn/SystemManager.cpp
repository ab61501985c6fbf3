#include "SystemManager.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "Database.h"
#include "Exception.h"
#include "Helper.h"
#include "JsonHelper.h"
#include "Paths.h"
#include "PrintException.h"
#include "ShellRunner.h"
#include "SystemInfo.h"
#include "Uris.h"

SystemManager* SystemManager::getInstance() {
    // Never destroyed: the daemon has no orderly shutdown and threads use it until the end.
    static SystemManager* instance = new SystemManager();
    return instance;
}

std::string SystemManager::shellPath(const std::string& absolutePath) { return ShellRunner::shellPath(absolutePath); }

int SystemManager::execCommand(const std::string& cmd, std::string* output) { return ShellRunner::run(cmd, output); }

void SystemManager::init() {
    try {
        auto* info = dynamic_cast<SystemInfo*>(Database::getInstance()->getObjectFromUri(Uris::kSystemInfo));
        if (!info) return;
        info_.store(info);
        initMgntNetwork(info);
        initOltNetwork(info);
        initNTPClient(info);
        initSNMPAgent(info);
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    } catch (...) {
        printUnexpectedException(__func__, __LINE__);
    }
}

void SystemManager::initMgntNetwork(SystemInfo* info) {
    const std::string addr = info->getValue("mgntIpAddr");
    const std::string mask = info->getValue("mgntIpMask");
    const std::string iface = info->getValue("mgntIface");
    if (!addr.empty() && !mask.empty() && !iface.empty()) {
        execCommand("ip addr add " + addr + "/" + mask + " dev " + iface);
        execCommand("ip link set dev " + iface + " up");
    }
    const std::string gateway = info->getValue("mgntIpGateway");
    if (!gateway.empty() && !iface.empty()) execCommand("ip route add default via " + gateway + " dev " + iface);
}

void SystemManager::initOltNetwork(SystemInfo* info) {
    const std::string addr = info->getValue("oltIpAddr");
    const std::string mask = info->getValue("oltIpMask");
    const std::string iface = info->getValue("oltIface");
    if (!addr.empty() && !mask.empty() && !iface.empty()) {
        execCommand("ip addr add " + addr + "/" + mask + " dev " + iface);
        execCommand("ip link set dev " + iface + " up");
    }
}

void SystemManager::initNTPClient(SystemInfo* info) {
    const std::string server = info->getValue("ntpServer");
    if (info->getValue("enNtpServer") == "1" && !server.empty())
        execCommand(shellPath("/mnt/bin/startNtp.sh") + " start " + server + " &");
    else execCommand(shellPath("/mnt/bin/startNtp.sh") + " stop &");
}

void SystemManager::initSNMPAgent(SystemInfo* info) {
    if (info->getValue("enSNMPAgent") == "1") execCommand(shellPath("/mnt/bin/startSnmpWendix.sh") + " &");
}

void SystemManager::doResetFactory() { execCommand("rm -r " + shellPath(Uris::kDbFolder)); }

void SystemManager::doReboot() {
    execCommand(shellPath("/sbin/reboot"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
}

std::string SystemManager::getJsonAllNetworkInterfaces() {
    std::unique_ptr<Container> all(SystemInfo::getAllIface());
    if (!all) throw Exception("Impossible to get all interface container", __func__, __LINE__);
    all->setNewValue("change-olt-network", std::to_string(SystemInfo::changeOltNetwork() ? 1 : 0));
    return all->getJsonData(true, nullptr, 0);
}

std::string SystemManager::parseUptime(const std::string& text) {
    size_t up = text.find("up ");
    size_t comma = text.find(',');
    if (up == std::string::npos || comma == std::string::npos || comma < up + 3) return "";
    std::string value = text.substr(up + 3, comma - up - 3);
    Helper::trim(value);
    return value;
}

void SystemManager::saveUptime() {
    try {
        std::string output;
        execCommand("uptime", &output);
        SystemInfo* info = info_.load();
        if (!output.empty() && info) info->setUptime(parseUptime(output));
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    } catch (...) {
        printUnexpectedException(__func__, __LINE__);
    }
}

void SystemManager::saveDateTime() {
    try {
        SystemInfo* info = info_.load();
        if (!info) return;
        std::string now = Helper::getCurrentDateTime(false);
        if (now.size() > 3) info->setDateTime(now.substr(0, now.size() - 3));
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    } catch (...) {
        printUnexpectedException(__func__, __LINE__);
    }
}

void SystemManager::initLedWorkingStatus() {
    if (ledThread_.joinable()) return;
    ledThread_ = std::thread([this] { threadLedWorker(); });
}

void SystemManager::threadLedWorker() {
    const std::string value = shellPath("/sys/class/gpio/gpio18/value");
    for (;;) {
        execCommand("echo 1 > " + value);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        execCommand("echo 0 > " + value);
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
}

// Tar layout (POSIX ustar, as GNU tar writes it): 512-byte blocks. A member is one header
// block followed by its data rounded up to whole blocks; the archive ends with zero blocks.
// Header fields used here (offset, width): name (0, 100), size (124, 12, octal text),
// chksum (148, 8, octal text: the byte sum of the header with this field read as spaces),
// typeflag (156, 1: '0' or NUL regular file, '5' folder, anything else refused),
// magic (257, 6: "ustar"), prefix (345, 155: ustar's leading path part).
std::string SystemManager::checkRestoreArchive(const char* data, size_t length) {
    static const std::set<std::string> kAllowed = {Uris::kOnuTableMember, Uris::kOltTableMember,
                                                   Uris::kSystemInfoMember, Uris::kPrivateStoreMember};
    constexpr size_t kBlock = 512;
    if (length == 0) return "the archive is empty";
    if (length % kBlock != 0) return "not a tar archive (size is not a multiple of 512)";

    auto octal = [](const unsigned char* field, size_t width, uint64_t& out) {
        size_t i = 0;
        while (i < width && field[i] == ' ') ++i;
        size_t digits = 0;
        uint64_t value = 0;
        for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) {
            if (value > (UINT64_MAX >> 3)) return false;
            value = (value << 3) | static_cast<uint64_t>(field[i] - '0');
        }
        for (; i < width; ++i)
            if (field[i] != ' ' && field[i] != '\0') return false;
        out = value;
        return digits > 0;
    };
    auto text = [](const unsigned char* field, size_t width) {
        return std::string(reinterpret_cast<const char*>(field),
                           ::strnlen(reinterpret_cast<const char*>(field), width));
    };

    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t offset = 0;
    int files = 0;
    for (int member = 1;; ++member) {
        if (offset + kBlock > length) return "truncated archive (no end marker)";
        const unsigned char* h = bytes + offset;
        bool zero = true;
        for (size_t i = 0; i < kBlock && zero; ++i) zero = h[i] == 0;
        if (zero) break;

        uint64_t stored = 0;
        if (!octal(h + 148, 8, stored)) return "not a tar archive (member " + std::to_string(member) + ")";
        uint64_t sum = 0;
        for (size_t i = 0; i < kBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : h[i];
        if (sum != stored) return "bad header checksum (member " + std::to_string(member) + ")";
        if (std::memcmp(h + 257, "ustar", 5) != 0) return "not a ustar archive (member " + std::to_string(member) + ")";

        std::string name = text(h, 100);
        std::string prefix = text(h + 345, 155);
        if (!prefix.empty()) name = prefix + "/" + name;
        uint64_t size = 0;
        if (!octal(h + 124, 12, size)) return "bad size of member '" + name + "'";
        const char type = static_cast<char>(h[156]);

        if (type == '5') {
            if (name != "./" && name != ".") return "member '" + name + "' is a folder";
        } else if (type == '0' || type == '\0') {
            if (!kAllowed.count(name)) return "member '" + name + "' is not a configuration file";
            ++files;
        } else {
            return "member '" + name + "' is not a regular file";
        }
        uint64_t blocks = (size + kBlock - 1) / kBlock;
        if (blocks > (length - offset - kBlock) / kBlock) return "truncated archive (member '" + name + "')";
        if (name == Uris::kSystemInfoMember) {
            // A record that asks for an action is not a backup of ours (a hand-made or foreign
            // archive, or one of a card that saved the whole record).
            JsonPtr record(cJSON_ParseWithLength(reinterpret_cast<const char*>(h + kBlock), static_cast<size_t>(size)));
            const cJSON* object = cJSON_IsObject(record.get()) ? record.get() : nullptr;
            const cJSON* member = nullptr;
            cJSON_ArrayForEach(member, object) {
                if (member->string != nullptr && SystemInfo::isActionKey(member->string) && cJSON_IsString(member) &&
                    std::string(member->valuestring) == "1")
                    return "member '" + name + "' asks for the action '" + member->string + "'";
            }
        }
        offset += kBlock + blocks * kBlock;
    }
    if (files == 0) return "the archive holds no configuration file";
    return "";
}
