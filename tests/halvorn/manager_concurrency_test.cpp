// The daemon's sharing pattern in one process: two request threads, the notification thread
// and the database cycle working on the same tables at once. Under ThreadSanitizer this shows
// any access outside the table and record locks; without it, that the result is consistent
// (every ONU once, indexes unique per port, the saved file a complete table).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "APIData.h"
#include "Database.h"
#include "Exception.h"
#include "Helper.h"
#include "JsonHelper.h"
#include "Manager.h"

namespace {

std::string mac(int i) {
    char text[18];
    snprintf(text, sizeof text, "00:00:00:00:%02x:%02x", i / 256, i % 256);
    return text;
}

std::string onuReport(int i, bool online) {
    return R"({"mac_address":")" + mac(i) + R"(","slot_id":")" + std::to_string(1 + i % 8) + R"(","pon_port":")" +
           std::to_string(i / 8 % 2) + R"(","online_status":")" + (online ? "1" : "0") + R"("})";
}

TEST(ManagerConcurrency, RequestsNotificationsAndCycleShareTheTables) {
    char pattern[] = "/tmp/halcon.XXXXXX";
    const std::string root = mkdtemp(pattern);
    setenv("PONMC_ROOT", root.c_str(), 1);
    auto db = std::make_unique<Database>();
    db->init();
    for (auto& kv : db->getMapUriTable()) kv.second->setCachedJsonWaitForTest(std::chrono::milliseconds(1), 2);
    Manager manager(db.get(), nullptr);
    std::atomic<int> tasks{0};
    manager.setTaskSinkForTest([&](APIData*) {
        tasks.fetch_add(1);
        return true;
    });

    const int kOnus = 64;
    std::atomic<bool> notifierDone{false};
    std::atomic<int> requestFailures{0};

    auto request = [&](const std::string& action, const std::string& uri, const std::string& data) {
        APIData envelope;
        envelope.createRequest(action, uri, data);
        try {
            manager.handlerApiRequest(&envelope);
        } catch (const Exception& e) {
            // Rows may not exist yet while the notifier creates them.
            if (e.getMessage().rfind("Invalid ID object", 0) != 0 && e.getMessage().rfind("id(", 0) != 0)
                requestFailures.fetch_add(1);
        }
    };

    std::thread notifier([&] {
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < kOnus; ++i) {
                APIData n;
                n.createRequest("set", "/onu/new", onuReport(i, round != 1));
                manager.handlerNotification(&n);
            }
            APIData alarm;
            alarm.createRequest(
                "set", "/olt/alarm/new",
                R"({"alarm_list":[{"label":"PON: 0","alarm":"x","state":"raised","slot_id":"1","datetime":"01/01/2026 00:00:00"}]})");
            manager.handlerNotification(&alarm);
            APIData olt;
            olt.createRequest("set", "/olt/new/report", R"({"slot_id":"2","online_status":"1","mac_address":"m"})");
            manager.handlerNotification(&olt);
            APIData offline;
            offline.createRequest("set", "/onu/set/all/offline", R"({"slot_id":"3"})");
            manager.handlerNotification(&offline);
        }
        notifierDone.store(true);
    });
    std::thread web([&] {
        for (int i = 0; !notifierDone.load() || i < 50; ++i) {
            request(
                "set", "/onutable/" + std::to_string(1 + i % kOnus),
                R"({"qvCfgONUName":"n)" + std::to_string(i) + R"(","qvCfgONUEnabled":")" + (i % 2 ? "1" : "0") + "\"}");
            request("get", "/onutable", "");
            request("set", "/systeminfo", R"({"timezone":")" + std::to_string(i % 3) + "\"}");
        }
    });
    std::thread snmp([&] {
        for (int i = 0; !notifierDone.load() || i < 50; ++i) {
            request("get", "/onutable/" + std::to_string(1 + i % kOnus), "");
            request("set", "/olttable/" + std::to_string(1 + i % 8),
                    R"({"qvCfgOLTPON0VlanId":")" + std::to_string(i) + "\"}");
            request("get", "/oltalarmtable", "");
            request("get", "/systeminfo", "");
        }
    });
    std::thread cycle([&] {
        while (!notifierDone.load()) {
            db->save();
            db->buildAllTableCachedJson(false);
        }
    });
    notifier.join();
    web.join();
    snmp.join();
    cycle.join();
    db->save();
    db->buildAllTableCachedJson(false);

    EXPECT_EQ(requestFailures.load(), 0);
    EXPECT_GT(tasks.load(), 0);
    RwLockTable* onu = db->getMapUriTable().at("/onutable");
    Database::TableLock lock(onu, false);
    std::set<std::string> macs;
    std::set<std::string> places;
    for (Container* row : onu->getAll()) {
        EXPECT_TRUE(macs.insert(row->getValue("qvCfgONUPhysicalID")).second);
        EXPECT_TRUE(places
                        .insert(row->getValue("qvCfgONUSlotIndex") + "/" + row->getValue("qvCfgONUPonIndex") + "/" +
                                row->getValue("qvCfgONUIndex"))
                        .second);
    }
    EXPECT_EQ(macs.size(), static_cast<size_t>(kOnus));
    // The file is the whole table as it stands.
    EXPECT_EQ(Helper::getAllContentFile(Database::getFilePath("/onutable")), onu->toJsonFile());

    std::system(("rm -rf '" + root + "'").c_str());
    unsetenv("PONMC_ROOT");
}

}  // namespace
