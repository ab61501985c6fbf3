// The database worker's action flags seen from outside: backup, restore (including the
// archives it must refuse before anything is deleted), factory reset and reboot.

#include <gtest/gtest.h>

#include <cstdlib>

#include "JsonFields.h"
#include "harness/Harness.h"

using namespace halvorn_test;

namespace {

void run(const std::string& cmd) { ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd; }

// Changes that make the cycle write both a table file and the settings file.
void makeConfiguration(Harness& h, const std::string& timezone) {
    ASSERT_EQ(h.set("/systeminfo", "{\"timezone\":\"" + timezone + "\"}").err, "");
    ASSERT_EQ(h.set("/olttable/2", "{\"qvCfgOLTIpAddress\":\"10.0." + timezone + ".2\"}").err, "");
    ASSERT_TRUE(waitUntil(
        [&] {
            return h.readFile("/mnt/db/json/systeminfo.json").find("\"timezone\":\"" + timezone + "\"") !=
                       std::string::npos &&
                   h.readFile("/mnt/db/json/olttable.json").find("10.0." + timezone + ".2") != std::string::npos;
        },
        15s))
        << h.log();
}

}  // namespace

TEST(SystemActions, OwnBackupRestoresAfterLaterChanges) {
    Harness h;
    makeConfiguration(h, "2");
    ASSERT_EQ(h.set("/systeminfo", R"({"backup":"1"})").err, "");
    ASSERT_TRUE(waitUntil([&] { return field(h.get("/systeminfo").data, "backup") == "0"; }, 15s)) << h.log();
    ASSERT_TRUE(h.exists("/tmp/backupConfig.bin"));

    makeConfiguration(h, "5");
    run("cp " + h.path("/tmp/backupConfig.bin") + " " + h.path("/tmp/restoreConfig.bin"));
    ASSERT_EQ(h.set("/systeminfo", R"({"restoreBackup":"1"})").err, "");
    const std::string reboot = h.root() + "/sbin/reboot";
    ASSERT_TRUE(waitUntil([&] { return h.countCommand(reboot) == 1; }, 15s)) << h.log();

    // The stand-in reboot leaves the process up: start it again as the card would.
    h.restart();
    EXPECT_EQ(field(h.get("/systeminfo").data, "timezone"), "2");
    EXPECT_EQ(field(h.get("/olttable/2").data, "qvCfgOLTIpAddress"), "10.0.2.2");
}

TEST(SystemActions, BadRestoreArchivesAreRefusedAndConfigurationKept) {
    Harness h;
    makeConfiguration(h, "4");
    const std::string work = h.path("/work");
    run("mkdir -p " + work + "/foreign " + work + "/link " + work + "/plain");
    run("echo x > " + work + "/foreign/evil.sh && cp " + h.path("/mnt/db/json/olttable.json") + " " + work +
        "/foreign/");
    run("ln -s /etc/passwd " + work + "/link/onutable.json");
    run("cp " + h.path("/mnt/db/json/olttable.json") + " " + work + "/plain/");

    struct Case {
        const char* name;
        std::string make;  // shell command producing /tmp/restoreConfig.bin ("" = no archive)
        const char* why;   // part of the printed reason
    };
    const std::string out = h.path("/tmp/restoreConfig.bin");
    const Case cases[] = {
        {"missing", "", "/tmp/restoreConfig.bin not found"},
        {"not an archive", "head -c 2048 /dev/zero | tr '\\0' 'x' > " + out, "not a tar archive"},
        {"foreign member", "tar -cf " + out + " -C " + work + "/foreign .",
         "member './evil.sh' is not a configuration file"},
        {"symbolic link", "tar -cf " + out + " -C " + work + "/link .",
         "member './onutable.json' is not a regular file"},
        {"names without ./", "tar -cf " + out + " -C " + work + "/plain olttable.json",
         "member 'olttable.json' is not a configuration file"},
        {"truncated", "tar -cf " + out + " -C " + h.path("/mnt/db/json") + " . && truncate -s 1024 " + out,
         "truncated archive"},
    };
    const std::string reboot = h.root() + "/sbin/reboot";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h.remove("/tmp/restoreConfig.bin");
        if (!c.make.empty()) run(c.make);
        ASSERT_EQ(h.set("/systeminfo", R"({"restoreBackup":"1"})").err, "");
        ASSERT_TRUE(waitUntil([&] { return field(h.get("/systeminfo").data, "restoreBackup") == "0"; }, 15s))
            << h.log();
        EXPECT_TRUE(h.logContains(std::string("Restore refused, configuration kept: ") + c.why)) << h.log();
        EXPECT_EQ(h.countCommand(reboot), 0u);
        EXPECT_NE(h.readFile("/mnt/db/json/olttable.json").find("10.0.4.2"), std::string::npos);
    }
    // The cycle goes on: a later change still reaches the disk.
    makeConfiguration(h, "6");
}

TEST(SystemActions, FactoryResetDeletesTablesAndReboots) {
    Harness h;
    makeConfiguration(h, "3");
    ASSERT_EQ(h.set("/systeminfo", R"({"resetFactory":"1"})").err, "");
    const std::string reboot = h.root() + "/sbin/reboot";
    ASSERT_TRUE(waitUntil([&] { return h.countCommand(reboot) == 1; }, 15s)) << h.log();
    EXPECT_FALSE(h.exists("/mnt/db/json"));

    h.restart();
    auto info = h.get("/systeminfo").data;
    EXPECT_EQ(field(info, "timezone"), "-3");
    EXPECT_EQ(field(info, "resetFactory"), "0");
    EXPECT_EQ(field(h.get("/olttable/2").data, "qvCfgOLTIpAddress"),
              field(h.get("/olttable/3").data, "qvCfgOLTIpAddress"));
}

TEST(SystemActions, RebootStopsTheCycle) {
    Harness h;
    ASSERT_EQ(h.set("/systeminfo", R"({"reboot":"1"})").err, "");
    const std::string reboot = h.root() + "/sbin/reboot";
    ASSERT_TRUE(waitUntil([&] { return h.countCommand(reboot) == 1; }, 15s)) << h.log();

    // Requests are still served, but nothing is saved any more and reboot is not repeated.
    ASSERT_EQ(h.set("/systeminfo", R"({"timezone":"7"})").err, "");
    EXPECT_FALSE(waitUntil(
        [&] { return h.readFile("/mnt/db/json/systeminfo.json").find("\"timezone\":\"7\"") != std::string::npos; },
        8s));
    EXPECT_EQ(h.countCommand(reboot), 1u);
    EXPECT_TRUE(h.running());
}
