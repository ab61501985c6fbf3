// Pure parts of the system half, tested without the daemon: the restore archive check, the
// uptime parser, the value checks of the settings record and the shell seam.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Helper.h"
#include "SystemInfo.h"
#include "SystemManager.h"
#include "TextRules.h"
#include "cjson/cJSON.h"

namespace {

// One ustar header block with a correct checksum (unless damaged later).
std::string header(const std::string& name, char type, size_t size, const std::string& prefix = "",
                   const char* magic = "ustar") {
    std::string h(512, '\0');
    std::memcpy(&h[0], name.data(), std::min<size_t>(name.size(), 100));
    std::snprintf(&h[100], 8, "%07o", 0644);
    std::snprintf(&h[124], 12, "%011zo", size);
    h[156] = type;
    std::memcpy(&h[257], magic, std::strlen(magic));
    std::memcpy(&h[345], prefix.data(), std::min<size_t>(prefix.size(), 155));
    std::memset(&h[148], ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    std::snprintf(&h[148], 8, "%06o", sum);
    return h;
}

std::string member(const std::string& name, const std::string& content, char type = '0') {
    std::string m = header(name, type, content.size()) + content;
    m.resize((m.size() + 511) / 512 * 512, '\0');
    return m;
}

const std::string kEnd(1024, '\0');
const std::string kDir = header("./", '5', 0);

}  // namespace

TEST(SystemUnits, RestoreArchiveCheck) {
    const std::string good = kDir + member("./onutable.json", "[]") + member("./systeminfo.json", "{}") + kEnd;
    std::string badSum = good;
    badSum[512 + 148] = '7';
    std::string noMagic = kDir + header("./onutable.json", '0', 0, "", "xxxxx") + kEnd;
    struct Case {
        const char* name;
        std::string archive;
        const char* why;  // "" = accepted
    };
    const std::vector<Case> cases = {
        {"own backup", good, ""},
        {"without folder entry", member("./privatestore.json", "{}") + member("./olttable.json", "[]") + kEnd, ""},
        {"empty", "", "the archive is empty"},
        {"odd size", good.substr(0, 700), "not a tar archive (size is not a multiple of 512)"},
        {"bad checksum", badSum, "bad header checksum (member 2)"},
        {"no ustar magic", noMagic, "not a ustar archive (member 2)"},
        {"only the folder", kDir + kEnd, "the archive holds no configuration file"},
        {"foreign file", kDir + member("./etc.sh", "x") + kEnd, "member './etc.sh' is not a configuration file"},
        {"climbs out", member("../onutable.json", "[]") + kEnd,
         "member '../onutable.json' is not a configuration file"},
        {"bare name", member("onutable.json", "[]") + kEnd, "member 'onutable.json' is not a configuration file"},
        {"prefix field", header("onutable.json", '0', 0, "x") + kEnd,
         "member 'x/onutable.json' is not a configuration file"},
        {"symlink", member("./onutable.json", "", '2') + kEnd, "member './onutable.json' is not a regular file"},
        {"hard link", member("./onutable.json", "", '1') + kEnd, "member './onutable.json' is not a regular file"},
        {"pax header", member("./PaxHeaders/x", "30 path=./onutable.json\n", 'x') + kEnd,
         "member './PaxHeaders/x' is not a regular file"},
        {"sub folder", kDir + header("./db/", '5', 0) + kEnd, "member './db/' is a folder"},
        {"data beyond the end", kDir + header("./onutable.json", '0', 4096) + kEnd,
         "truncated archive (member './onutable.json')"},
        {"no end marker", kDir + member("./onutable.json", "[]"), "truncated archive (no end marker)"},
        {"record asking for a reboot", kDir + member("./systeminfo.json", R"({"timezone":"2","reboot":"1"})") + kEnd,
         "member './systeminfo.json' asks for the action 'reboot'"},
        {"record asking for a factory reset", member("./systeminfo.json", R"({"resetFactory":"1"})") + kEnd,
         "member './systeminfo.json' asks for the action 'resetFactory'"},
        {"record with the actions at rest",
         member("./systeminfo.json", R"({"reboot":"0","resetFactory":"0","restoreBackup":"0","backup":"0"})") + kEnd,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SystemManager::checkRestoreArchive(c.archive.data(), c.archive.size()), c.why);
    }
}

TEST(SystemUnits, ParseUptime) {
    const std::pair<const char*, const char*> cases[] = {
        {"10:00:00 up 3 days, 2:01, 1 user", "3 days"},
        {" 12:01:02 up  5:07,  2 users,  load average: 0.1", "5:07"},
        {"up 1 min, x", "1 min"},
        {"no mark, here", ""},
        {"10:00 up 3 days without comma", ""},
        {"a, b up c", ""},
    };
    for (auto& c : cases) EXPECT_EQ(SystemManager::parseUptime(c.first), c.second) << c.first;
}

TEST(SystemUnits, ValueChecks) {
    for (const char* ok : {"0.0.0.0", "255.255.255.255", "192.168.000.1", "1.2.3.4", "099.00.1.249", "250.251.252.253"})
        EXPECT_TRUE(TextRules::isIPv4(ok)) << ok;
    for (const char* bad : {"", "256.1.1.1", "300.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.0004", " 1.2.3.4", "1.2.3.4\n",
                            "a.b.c.d", "1..2.3", "1.2.3.4.", ".1.2.3", "1.2.3.260", "-1.2.3.4", "1.2.3.+4"})
        EXPECT_FALSE(TextRules::isIPv4(bad)) << bad;
    for (const char* ok : {"eth0", "br0.10", "eth0:1", "wlan_x-1", "abcdefghijklmno"})
        EXPECT_TRUE(TextRules::isInterfaceName(ok)) << ok;
    for (const char* bad : {"", "abcdefghijklmnop", "eth0 ", "eth0;reboot", "$(x)", "a/b", "a'b"})
        EXPECT_FALSE(TextRules::isInterfaceName(bad)) << bad;
}

class SystemInfoRecord : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/halvorn-unit-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        std::filesystem::create_directories(root_ + "/mnt");
        ::setenv("PONMC_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("PONMC_ROOT");
        std::filesystem::remove_all(root_);
    }
    std::string root_;
};

TEST_F(SystemInfoRecord, DateTimeIsShownInTheConfiguredZoneAndFileFlagFollowsSavedKeys) {
    SystemInfo info;
    EXPECT_EQ(info.getValue("fwVersion"), "-");
    EXPECT_EQ(info.getValue("ntpServer"), SystemInfo::kDefaultNtpServer);
    EXPECT_EQ(info.getValue("mgntIpAddr"), "192.168.0.88");
    EXPECT_FALSE(info.getHasJsonFileModified());

    info.setDateTime("01/01/2024 13:30");
    EXPECT_EQ(info.getValue("dateTime"), "01/01/2024 10:30");
    EXPECT_TRUE(info.setJsonData(R"({"timezone":"2"})", false));
    EXPECT_EQ(GL_TIMEZONE_VALUE.load(), 2);
    EXPECT_EQ(info.getValue("dateTime"), "01/01/2024 15:30");

    // Naming a saved key marks the file even when the value does not change or is refused.
    info.clearHasJsonFileModified();
    EXPECT_TRUE(info.setJsonData(R"({"timezone":"2"})", false));
    EXPECT_TRUE(info.getHasJsonFileModified());
    info.clearHasJsonFileModified();
    EXPECT_TRUE(info.setJsonData(R"({"reboot":"0","uptime":"x"})", false));
    EXPECT_FALSE(info.getHasJsonFileModified());
    EXPECT_FALSE(info.setJsonData(R"({"ntpServer":"x"})", false));
    EXPECT_TRUE(info.getHasJsonFileModified());
    EXPECT_EQ(info.getSetError(), "Invalid IPv4(x) for 'ntpServer'");

    // The file holds the twelve saved keys in their fixed order.
    const std::string file = info.getJsonFile();
    const char* order[] = {"mgntIpAddr", "mgntIpMask", "mgntIpGateway", "mgntIface",   "oltIpAddr", "oltIpMask",
                           "oltIface",   "ntpServer",  "enNtpServer",   "enSNMPAgent", "timezone",  "webPort"};
    size_t at = 0;
    for (const char* k : order) {
        size_t next = file.find(std::string("\"") + k + "\"");
        ASSERT_NE(next, std::string::npos) << k;
        EXPECT_GT(next, at) << k;
        at = next;
    }
    EXPECT_EQ(file.find("reboot"), std::string::npos);
}

TEST_F(SystemInfoRecord, ItsOwnSettingsFileLoadsBackWithAnEmptyGateway) {
    // A management file without a gateway line: no default route is configured.
    {
        std::FILE* f = std::fopen((root_ + "/mnt/.ipAddress").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("10.0.0.5\n255.0.0.0\n\neth0\n", f);
        std::fclose(f);
    }
    std::string file;
    {
        SystemInfo before;
        ASSERT_EQ(before.getValue("mgntIpGateway"), "");
        ASSERT_TRUE(before.setJsonData(R"({"timezone":"5","webPort":"8080"})", false));
        file = before.getJsonFile();
    }
    SystemInfo after;
    EXPECT_TRUE(after.setJsonData(file, false)) << after.getSetError();
    EXPECT_EQ(after.getValue("timezone"), "5");
    EXPECT_EQ(after.getValue("webPort"), "8080");
    // A new value is still checked.
    EXPECT_FALSE(after.setJsonData(R"({"mgntIpGateway":"10.0.0.300"})", false));
    EXPECT_EQ(after.getSetError(), "Invalid IPv4(10.0.0.300) for 'mgntIpGateway'");
}

// The settings record of the test below: the first read of "mgntIpAddr" after arming waits
// (at most a second) until the test lets it go, so a second change can run meanwhile.
class PausingInfo : public SystemInfo {
public:
    std::string getValue(const std::string& key) const override {
        std::string value = SystemInfo::getValue(key);
        if (key == "mgntIpAddr" && armed.exchange(false)) {
            paused.store(true);
            std::unique_lock<std::mutex> lock(mutex);
            cond.wait_for(lock, std::chrono::seconds(1), [this] { return released; });
        }
        return value;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        cond.notify_all();
    }
    mutable std::atomic<bool> armed{false};
    mutable std::atomic<bool> paused{false};
    mutable std::mutex mutex;
    mutable std::condition_variable cond;
    bool released = false;
};

// Two changes of the management address race: the first has read its values for the boot
// file and is held up before writing; the second is stored meanwhile. The file must end with
// the values the record ends with.
TEST_F(SystemInfoRecord, RacingAddressChangesLeaveTheNewestValuesInTheBootFile) {
    std::filesystem::create_directories(root_ + "/etc/network");
    PausingInfo info;
    info.armed.store(true);
    std::thread first([&] { EXPECT_TRUE(info.setJsonData(R"({"mgntIpAddr":"10.0.0.1"})", false)); });
    while (!info.paused.load()) std::this_thread::yield();
    std::thread second([&] {
        EXPECT_TRUE(info.setJsonData(R"({"mgntIpAddr":"10.0.0.2"})", false));
        info.release();
    });
    first.join();
    second.join();
    ASSERT_EQ(info.getValue("mgntIpAddr"), "10.0.0.2");
    std::string file = Helper::getAllContentFile(root_ + "/mnt/.ipAddress");
    EXPECT_EQ(file.substr(0, file.find('\n')), "10.0.0.2") << file;
}

TEST(SystemUnits, ShellSeam) {
    SystemManager sm;
    std::string out;
    sm.execCommand("printf 'a%.0s' $(seq 1 1200); echo; echo second", &out);
    EXPECT_EQ(out, std::string(1200, 'a') + "\nsecond\n");
    int status = sm.execCommand("exit 3");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);

    ::setenv("PONMC_ROOT", "/tmp/a b", 1);
    EXPECT_EQ(SystemManager::shellPath("/sbin/reboot"), "'/tmp/a b/sbin/reboot'");
    ::setenv("PONMC_ROOT", "/tmp/ab", 1);
    EXPECT_EQ(SystemManager::shellPath("/sbin/reboot"), "/tmp/ab/sbin/reboot");
    ::unsetenv("PONMC_ROOT");
    EXPECT_EQ(SystemManager::shellPath("/sbin/reboot"), "/sbin/reboot");
}
