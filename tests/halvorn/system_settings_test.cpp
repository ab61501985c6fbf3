// The settings record through the running daemon: what the start-up runs, which values a
// change of "/systeminfo" accepts (and the exact error texts), and the files kept in step.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "JsonFields.h"
#include "harness/Harness.h"

using namespace halvorn_test;

namespace {

bool hasCommand(Harness& h, const std::string& line) { return h.countCommand(line) > 0; }

std::string firstIface(Harness& h) { return field(h.get("/network-interfaces").data, "iface0"); }

}  // namespace

TEST(SystemSettings, StartUpRunsTheSettingsAsCommands) {
    struct Case {
        const char* name;
        const char* ipAddress;               // /mnt/.ipAddress
        const char* settings;                // /mnt/db/json/systeminfo.json ("" for none)
        std::vector<std::string> expected;   // in this order, root-relative scripts marked "@"
        std::vector<std::string> forbidden;  // prefixes that must not appear
    };
    const Case cases[] = {
        {"configured",
         "10.1.2.3\n255.255.0.0\n10.1.0.1\neth7\n",
         R"({"oltIpAddr":"192.168.5.1","oltIpMask":"255.255.255.0","oltIface":"eth9","ntpServer":"10.0.0.5","enNtpServer":"1","enSNMPAgent":"1"})",
         {"ip addr add 10.1.2.3/255.255.0.0 dev eth7", "ip link set dev eth7 up",
          "ip route add default via 10.1.0.1 dev eth7", "ip addr add 192.168.5.1/255.255.255.0 dev eth9",
          "ip link set dev eth9 up", "@/mnt/bin/startNtp.sh start 10.0.0.5", "@/mnt/bin/startSnmpWendix.sh"},
         {}},
        {"no gateway, NTP and agent off",
         "10.1.2.3\n255.255.0.0\n\neth7\n",
         R"({"oltIface":"eth9","enNtpServer":"0","enSNMPAgent":"0"})",
         {"ip addr add 10.1.2.3/255.255.0.0 dev eth7", "ip link set dev eth7 up", "@/mnt/bin/startNtp.sh stop"},
         {"ip route", "@/mnt/bin/startSnmpWendix.sh"}},
        {"hostile boot file falls back to the defaults",
         "1.2.3.4;@/sbin/reboot\n255.255.255.0\n10.0.0.1 && @/sbin/reboot\neth0;@/sbin/reboot\n",
         R"({"oltIface":"eth9"})",
         {"ip addr add 192.168.0.88/255.255.255.0 dev "},
         {"@/sbin/reboot", "ip addr add 1.2.3.4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness::Options o;
        std::string ipAddress = c.ipAddress;
        o.prepare = [&](Harness& h) {
            std::string text = ipAddress;
            for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, h.root());
            h.writeFile("/mnt/.ipAddress", text);
            h.writeFile("/mnt/db/json/systeminfo.json", c.settings);
        };
        Harness h(o);
        auto resolve = [&](std::string s) {
            if (!s.empty() && s[0] == '@') s = h.root() + s.substr(1);
            return s;
        };
        const std::string last = resolve(c.expected.back());
        // The scripts run in the background; wait for the last expected one.
        ASSERT_TRUE(waitUntil([&] {
            for (auto& cmd : h.commands())
                if (cmd.rfind(last, 0) == 0) return true;
            return false;
        })) << h.readFile("/commands.log");
        std::vector<std::string> got = h.commands();
        got.erase(std::remove(got.begin(), got.end(), "uptime"), got.end());
        size_t at = 0;
        for (auto& e : c.expected) {
            const std::string want = resolve(e);
            auto it = std::find_if(got.begin() + at, got.end(), [&](auto& g) { return g.rfind(want, 0) == 0; });
            ASSERT_NE(it, got.end()) << "missing or out of order: " << want << "\n" << h.readFile("/commands.log");
            at = static_cast<size_t>(it - got.begin()) + 1;
        }
        for (auto& f : c.forbidden) {
            const std::string bad = resolve(f);
            for (auto& g : got) EXPECT_NE(g.rfind(bad, 0), 0u) << g;
        }
    }
}

TEST(SystemSettings, ChangesAreCheckedWithExactErrors) {
    Harness h;
    const std::string before = h.get("/systeminfo").data;
    struct Case {
        const char* data;
        const char* error;
    };
    const Case rejected[] = {
        {R"({"mgntIpAddr":"10.0.0.256"})", "Invalid IPv4(10.0.0.256) for 'mgntIpAddr'"},
        {R"({"mgntIpAddr":"0.0.0.0"})", "Invalid IPv4(0.0.0.0) for 'mgntIpAddr'"},
        {R"({"mgntIpGateway":"255.255.255.255"})", "Invalid IPv4(255.255.255.255) for 'mgntIpGateway'"},
        {R"({"mgntIpMask":"255.255.255"})", "Invalid IPv4(255.255.255) for 'mgntIpMask'"},
        {R"({"ntpServer":"pool.ntp.org"})", "Invalid IPv4(pool.ntp.org) for 'ntpServer'"},
        {R"({"oltIpAddr":"1.2.3.4; reboot"})", "Invalid IPv4(1.2.3.4; reboot) for 'oltIpAddr'"},
        {"{\"oltIpMask\":\"$(reboot)\"}", "Invalid IPv4($(reboot)) for 'oltIpMask'"},
        {R"({"mgntIface":"eth0 && reboot"})", "Invalid interface(eth0 && reboot) for 'mgntIface'"},
        {R"({"oltIface":""})", "Invalid interface() for 'oltIface'"},
        {R"({"oltIface":"abcdefghijklmnop"})", "Invalid interface(abcdefghijklmnop) for 'oltIface'"},
        {R"({"timezone":"abc"})", "Failed on SystemInfo::setcJsonData: stoi"},
        {R"({"timezone":"2x"})", "Invalid timezone(2x) for 'timezone'"},
        {R"({"timezone":"15"})", "Invalid timezone(15) for 'timezone'"},
        {R"({"mgntIpAddr":"1.2.3","ntpServer":"x"})",
         "Invalid IPv4(1.2.3) for 'mgntIpAddr',Invalid IPv4(x) for 'ntpServer'"},
    };
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(h.set("/systeminfo", c.data).err, c.error);
    }
    // Nothing of the above was stored (the record only differs in its snapshots, if any).
    const std::string after = h.get("/systeminfo").data;
    for (const char* key : {"mgntIpAddr", "mgntIpMask", "mgntIpGateway", "ntpServer", "oltIpAddr", "oltIpMask",
                            "mgntIface", "oltIface", "timezone"})
        EXPECT_EQ(field(after, key), field(before, key)) << key;

    // Members are independent: the good one is stored next to the rejected one.
    EXPECT_EQ(h.set("/systeminfo", R"({"mgntIpAddr":"10.0.0.256","timezone":"2"})").err,
              "Invalid IPv4(10.0.0.256) for 'mgntIpAddr'");
    auto now = h.get("/systeminfo").data;
    EXPECT_EQ(field(now, "timezone"), "2");
    EXPECT_EQ(field(now, "mgntIpAddr"), field(before, "mgntIpAddr"));

    // Accepted: a zero mask, a good interface name, and read-only keys are ignored silently.
    EXPECT_EQ(h.set("/systeminfo", R"({"mgntIpMask":"0.0.0.0","oltIface":"br0.10:1","fwVersion":"9.9","id":"7"})").err,
              "");
    now = h.get("/systeminfo").data;
    EXPECT_EQ(field(now, "mgntIpMask"), "0.0.0.0");
    EXPECT_EQ(field(now, "oltIface"), "br0.10:1");
    EXPECT_EQ(field(now, "fwVersion"), "1.0.7");
    EXPECT_EQ(field(now, "id"), "0");
    EXPECT_EQ(field(now, "product"), "QRx41");
    EXPECT_EQ(field(now, "serialNumber"), "-");
}

TEST(SystemSettings, AddressChangeRewritesTheBootFilesAndSurvivesARestart) {
    Harness h;
    const std::string iface = firstIface(h);
    const std::string original = h.readFile("/etc/network/interfaces");
    ASSERT_EQ(h.set("/systeminfo", R"({"mgntIpAddr":"10.9.8.7","mgntIpGateway":"10.9.0.1"})").err, "");

    EXPECT_EQ(h.readFile("/mnt/.ipAddress"), "10.9.8.7\n255.255.255.0\n10.9.0.1\n" + iface + "\n");
    EXPECT_EQ(h.readFile("/etc/network/interfaces.bkp"), original);
    EXPECT_EQ(h.readFile("/etc/network/interfaces"),
              "auto lo\niface lo inet loopback\n\nallow-hotplug " + iface + "\niface " + iface +
                  " inet static\n  address 192.168.0.88\n  network 255.255.255.0\n\n");

    // Saved within a cycle, then applied by the next start.
    ASSERT_TRUE(waitUntil(
        [&] { return h.readFile("/mnt/db/json/systeminfo.json").find("10.9.8.7") != std::string::npos; }, 15s));
    h.clearCommands();
    h.restart();
    EXPECT_EQ(field(h.get("/systeminfo").data, "mgntIpAddr"), "10.9.8.7");
    if (!iface.empty()) {
        EXPECT_TRUE(waitUntil([&] { return hasCommand(h, "ip route add default via 10.9.0.1 dev " + iface); }))
            << h.readFile("/commands.log");
        EXPECT_TRUE(hasCommand(h, "ip addr add 10.9.8.7/255.255.255.0 dev " + iface));
    }
}

// The boot files are replaced as a whole: a reader never finds one empty or cut short
// (as a power cut or a full disk would leave it), and a file that cannot be written is
// reported to the requester and keeps its old text.
TEST(SystemSettings, BootFilesAreReplacedWholeAndWriteFailuresAreReported) {
    Harness h;
    const std::string iface = firstIface(h);
    ASSERT_EQ(h.set("/systeminfo", R"({"mgntIpAddr":"10.0.0.3"})").err, "");  // both files exist from here on
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::vector<std::string> torn;
    std::thread reader([&] {
        while (!done.load()) {
            for (const char* file : {"/mnt/.ipAddress", "/etc/network/interfaces"}) {
                const std::string text = h.readFile(file);
                const bool whole = std::count(text.begin(), text.end(), '\n') == (file[1] == 'm' ? 4 : 8);
                if (!whole && torn.size() < 5) torn.push_back(std::string(file) + ": '" + text + "'");
            }
            reads.fetch_add(1);
        }
    });
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(h.set("/systeminfo", "{\"mgntIpAddr\":\"10.0.0." + std::to_string(1 + i % 2) + "\"}").err, "");
    done.store(true);
    reader.join();
    EXPECT_GT(reads.load(), 200);
    EXPECT_TRUE(torn.empty()) << torn.front();
    EXPECT_EQ(h.readFile("/mnt/.ipAddress"), "10.0.0.2\n255.255.255.0\n192.168.0.1\n" + iface + "\n");

    // The interfaces file cannot be written (its temporary name is taken by a folder): the
    // change is stored and the address file written, the failure is answered, and the
    // interfaces file keeps its old text.
    const std::string interfaces = h.readFile("/etc/network/interfaces");
    std::filesystem::create_directories(h.path("/etc/network/interfaces~"));
    const std::string temporary = h.path("/etc/network/interfaces~");
    EXPECT_EQ(h.set("/systeminfo", R"({"mgntIpAddr":"10.0.0.7"})").err,
              "Impossible to write " + temporary + ": " + std::strerror(EISDIR));
    EXPECT_EQ(field(h.get("/systeminfo").data, "mgntIpAddr"), "10.0.0.7");
    EXPECT_EQ(h.readFile("/mnt/.ipAddress").substr(0, 9), "10.0.0.7\n");
    EXPECT_EQ(h.readFile("/etc/network/interfaces"), interfaces);
    EXPECT_TRUE(h.logContains("Impossible to write " + temporary)) << h.log();

    // Nor at the next start, when saved settings that differ from the boot files (as a
    // restored archive leaves them) are loaded and the boot files written again: the
    // settings file is kept, not deleted as if its values were bad.
    ASSERT_TRUE(waitUntil(
        [&] { return h.readFile("/mnt/db/json/systeminfo.json").find("10.0.0.7") != std::string::npos; }, 15s));
    h.stop();
    std::string saved = h.readFile("/mnt/db/json/systeminfo.json");
    saved.replace(saved.find("10.0.0.7"), 8, "10.0.0.9");
    h.writeFile("/mnt/db/json/systeminfo.json", saved);
    h.start();
    EXPECT_NE(h.readFile("/mnt/db/json/systeminfo.json").find("10.0.0.9"), std::string::npos);
    EXPECT_EQ(field(h.get("/systeminfo").data, "mgntIpAddr"), "10.0.0.9");
    EXPECT_EQ(h.readFile("/mnt/.ipAddress").substr(0, 9), "10.0.0.9\n");
    EXPECT_FALSE(h.logContains("Invalid object type")) << h.log();
    h.remove("/etc/network/interfaces~");
    EXPECT_EQ(h.set("/systeminfo", R"({"mgntIpAddr":"10.0.0.8"})").err, "");
}

TEST(SystemSettings, OldSettingsFileIsMigratedOnce) {
    Harness::Options o;
    o.prepare = [](Harness& h) {
        h.writeFile("/mnt/.settings", "iface_web=eth1\nolt_source_ip=10.1.1.1\nother=1\n");
        h.writeFile("/mnt/.ipAddress", "10.2.2.2\n255.255.255.0\n10.2.2.1\neth5\n");
    };
    Harness h(o);
    auto info = h.get("/systeminfo").data;
    EXPECT_EQ(field(info, "mgntIface"), "eth1");
    EXPECT_EQ(field(info, "oltIface"), "eth1");
    EXPECT_EQ(field(info, "oltIpAddr"), "10.1.1.1");
    EXPECT_FALSE(h.exists("/mnt/.settings"));
    EXPECT_EQ(h.readFile("/mnt/.ipAddress"), "10.2.2.2\n255.255.255.0\n10.2.2.1\neth1\n");
    EXPECT_TRUE(waitUntil(
        [&] { return h.readFile("/mnt/db/json/systeminfo.json").find("10.1.1.1") != std::string::npos; }, 15s));
}

TEST(SystemSettings, NtpClientFollowsEveryAcceptedChange) {
    Harness h;
    const std::string script = h.root() + "/mnt/bin/startNtp.sh";
    ASSERT_EQ(h.set("/systeminfo", R"({"enNtpServer":"0"})").err, "");
    EXPECT_TRUE(waitUntil([&] { return hasCommand(h, script + " stop"); })) << h.readFile("/commands.log");
    ASSERT_EQ(h.set("/systeminfo", R"({"enNtpServer":"1","ntpServer":"10.20.30.40"})").err, "");
    EXPECT_TRUE(waitUntil([&] { return hasCommand(h, script + " start 10.20.30.40"); })) << h.readFile("/commands.log");
    // A rejected change restarts nothing.
    h.clearCommands();
    ASSERT_NE(h.set("/systeminfo", R"({"ntpServer":"1.2.3.999"})").err, "");
    ASSERT_EQ(h.set("/systeminfo", R"({"webPort":"8080"})").err, "");
    EXPECT_TRUE(waitUntil([&] { return hasCommand(h, script + " start 10.20.30.40"); }));
    EXPECT_EQ(h.countCommand(script + " start 1.2.3.999"), 0u);
}

TEST(SystemSettings, SnapshotsOfUptimeAndClockAppearOnTheFirstCycle) {
    Harness::Options o;
    o.prepare = [](Harness& h) { h.writeFile("/uptime.txt", "10:00:00 up 3 days, 2:01, 1 user\n"); };
    Harness h(o);
    ASSERT_TRUE(waitUntil([&] { return field(h.get("/systeminfo").data, "uptime") == "3 days"; }, 15s)) << h.log();
    const std::string dateTime = field(h.get("/systeminfo").data, "dateTime");
    // dd/mm/YYYY HH:MM
    ASSERT_EQ(dateTime.size(), 16u) << dateTime;
    EXPECT_EQ(dateTime[2], '/');
    EXPECT_EQ(dateTime[5], '/');
    EXPECT_EQ(dateTime[13], ':');
    EXPECT_EQ(h.countCommand("uptime"), 1u);
}
