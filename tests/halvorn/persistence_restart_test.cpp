// What survives the daemon, black-box: rows after a restart, a table file that holds garbage
// (deleted at start), a table that did not change (its file is not touched), and SIGKILL in
// the middle of a stream of changes (the table file is always a complete JSON table).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "JsonHelper.h"
#include "JsonFields.h"
#include "harness/Harness.h"

using namespace halvorn_test;

namespace {

std::string onuReport(const std::string& mac, const std::string& slot, const std::string& pon, bool online = true) {
    return R"({"mac_address":")" + mac + R"(","slot_id":")" + slot + R"(","pon_port":")" + pon +
           R"(","online_status":")" + (online ? "1" : "0") + R"("})";
}

// Rows of a complete table file; -1 when the text is not a JSON array of objects.
int tableRows(const std::string& text) {
    JsonPtr array(cJSON_ParseWithLength(text.data(), text.size()));
    if (!cJSON_IsArray(array.get())) return -1;
    int n = 0;
    const cJSON* row = nullptr;
    cJSON_ArrayForEach(row, array.get()) {
        if (!cJSON_IsObject(row)) return -1;
        ++n;
    }
    return n;
}

TEST(HalvornPersistence, RowsComeBackAfterRestart) {
    Harness h;
    h.notify("/onu/new", onuReport("00:00:00:00:07:01", "7", "1"));
    h.notify("/onu/new", onuReport("00:00:00:00:07:02", "7", "1"));
    ASSERT_TRUE(waitUntil([&] { return tableRows(h.get("/onutable").data) == 2; }, 15s)) << h.log();
    EXPECT_EQ(h.set("/onutable/2", R"({"qvCfgONUName":"shop","qvCfgONUVlanId":"70"})").err, "");
    EXPECT_EQ(h.set("/olttable/4", R"({"qvCfgOLTName":"rack four","qvCfgOLTPON0VlanId":"40"})").err, "");
    ASSERT_TRUE(waitUntil(
        [&] {
            return field(h.readFile("/mnt/db/json/onutable.json"), "qvCfgONUPhysicalID", "00:00:00:00:07:02",
                         "qvCfgONUName") == "shop" &&
                   field(h.readFile("/mnt/db/json/olttable.json"), "qvCfgOLTSlotIndex", "4", "qvCfgOLTName") ==
                       "rack four";
        },
        15s));

    h.restart();
    const std::string onu = h.get("/onutable").data;
    EXPECT_EQ(tableRows(onu), 2);
    EXPECT_EQ(field(onu, "id", "1", "qvCfgONUPhysicalID"), "00:00:00:00:07:01");
    EXPECT_EQ(field(onu, "id", "2", "qvCfgONUName"), "shop");
    EXPECT_EQ(field(onu, "id", "2", "qvCfgONUVlanId"), "70");
    EXPECT_EQ(field(onu, "id", "2", "qvCfgONUIndex"), "2");
    EXPECT_EQ(field(onu, "id", "2", "qvCfgONUSlotIndex"), "7");
    const std::string olt = h.get("/olttable").data;
    EXPECT_EQ(tableRows(olt), 8);
    EXPECT_EQ(field(olt, "id", "4", "qvCfgOLTName"), "rack four");
    EXPECT_EQ(field(olt, "id", "4", "qvCfgOLTPON0VlanId"), "40");
    // The same ONU reported again keeps its row and index.
    h.notify("/onu/new", onuReport("00:00:00:00:07:02", "7", "1"));
    EXPECT_TRUE(waitUntil([&] { return field(h.get("/onutable").data, "id", "2", "qvCfgONULinkStatus") == "1"; }, 15s));
    EXPECT_EQ(tableRows(h.get("/onutable").data), 2);
    EXPECT_EQ(field(h.get("/onutable").data, "id", "2", "qvCfgONUIndex"), "2");
}

TEST(HalvornPersistence, GarbageTableFilesAreDeletedAtStart) {
    Harness::Options o;
    o.prepare = [](Harness& h) {
        h.writeFile("/mnt/db/json/onutable.json", R"([{"qvCfgONUPhysicalID":"00:11)");
        h.writeFile("/mnt/db/json/olttable.json", R"({"qvCfgOLTSlotIndex":"1"})");
    };
    Harness h(o);
    EXPECT_FALSE(h.exists("/mnt/db/json/onutable.json"));
    EXPECT_FALSE(h.exists("/mnt/db/json/olttable.json"));
    EXPECT_EQ(h.get("/onutable").data, "[]");
    // Without its file the OLT table is seeded for the chassis.
    EXPECT_EQ(tableRows(h.get("/olttable").data), 8);
    EXPECT_TRUE(h.logContains("Invalid Json Array format in file " + h.path("/mnt/db/json/olttable.json")));
}

TEST(HalvornPersistence, UnchangedTableIsNotRewritten) {
    const std::string oltFile =
        R"([{"qvCfgOLTSlotIndex":"1","qvCfgOLTName":"only","qvCfgOLTIpAddress":"","qvCfgOLTPON0VlanId":"",)"
        R"("qvCfgOLTPON0DisUntagged":"","qvCfgOLTPON1VlanId":"","qvCfgOLTPON1DisUntagged":"","qvCfgOLTOnu2Onu":"1"}])";
    Harness::Options o;
    o.prepare = [&](Harness& h) { h.writeFile("/mnt/db/json/olttable.json", oltFile); };
    Harness h(o);
    struct stat oltBefore;
    ASSERT_EQ(stat(h.path("/mnt/db/json/olttable.json").c_str(), &oltBefore), 0);

    const std::string mac = "00:00:00:00:05:01";
    h.notify("/onu/new", onuReport(mac, "5", "1"));
    ASSERT_TRUE(
        waitUntil([&] { return h.readFile("/mnt/db/json/onutable.json").find(mac) != std::string::npos; }, 15s));
    struct stat onuBefore;
    ASSERT_EQ(stat(h.path("/mnt/db/json/onutable.json").c_str(), &onuBefore), 0);

    // Going offline changes the row but no saved key. The ready text is rebuilt in the cycle
    // right after that cycle's save, so once the read shows it the save has had its chance.
    h.notify("/onu/new", onuReport(mac, "5", "1", false));
    ASSERT_TRUE(waitUntil(
        [&] { return field(h.get("/onutable").data, "qvCfgONUPhysicalID", mac, "qvCfgONULinkStatus") == "2"; }, 15s));
    struct stat onuAfter, oltAfter;
    ASSERT_EQ(stat(h.path("/mnt/db/json/onutable.json").c_str(), &onuAfter), 0);
    ASSERT_EQ(stat(h.path("/mnt/db/json/olttable.json").c_str(), &oltAfter), 0);
    EXPECT_EQ(onuBefore.st_ino, onuAfter.st_ino);
    EXPECT_EQ(onuBefore.st_mtim.tv_nsec, onuAfter.st_mtim.tv_nsec);
    EXPECT_EQ(oltBefore.st_ino, oltAfter.st_ino);
    EXPECT_EQ(oltBefore.st_mtim.tv_sec, oltAfter.st_mtim.tv_sec);
    EXPECT_EQ(oltBefore.st_mtim.tv_nsec, oltAfter.st_mtim.tv_nsec);
    EXPECT_EQ(h.readFile("/mnt/db/json/olttable.json"), oltFile);
    EXPECT_FALSE(h.exists("/mnt/db/json/onutable.json~"));
}

TEST(HalvornPersistence, KilledWhileSavingLeavesACompleteTable) {
    Harness h;
    int next = 0;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        int lastSeen = 0;
        // Keep the table changing for a few cycles, checking every file that appears, then
        // kill at a different point of the cycle each round.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(7000 + 1100 * round);
        while (std::chrono::steady_clock::now() < until) {
            for (int i = 0; i < 10; ++i, ++next) {
                char mac[32];
                snprintf(mac, sizeof mac, "02:00:00:00:%02x:%02x", next / 256, next % 256);
                h.notify("/onu/new", onuReport(mac, std::to_string(1 + next % 8), std::to_string(next / 8 % 2)));
            }
            if (h.exists("/mnt/db/json/onutable.json")) {
                const int rows = tableRows(h.readFile("/mnt/db/json/onutable.json"));
                ASSERT_GE(rows, lastSeen) << "torn or shrunk table file";
                lastSeen = rows;
            }
        }
        h.kill();
        const int rows = tableRows(h.readFile("/mnt/db/json/onutable.json"));
        ASSERT_GT(rows, 0) << "no complete table after SIGKILL";
        h.start();
        EXPECT_FALSE(h.logContains("Invalid Json Array")) << h.log();
        EXPECT_EQ(tableRows(h.get("/onutable").data), rows);
    }
}

}  // namespace
