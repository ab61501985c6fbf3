// Notifications through Manager in-process: ONU discovery and index assignment, the tasks an
// ONU or OLT report implies, alarm trimming, the offline resets, OLT configuration requests
// and notifications that must change nothing. Tasks are recorded, not sent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "APIData.h"
#include "Database.h"
#include "JsonHelper.h"
#include "Manager.h"
#include "ManagerTestBase.h"
#include "TableRows.h"

namespace {

using halvorn_test::Task;

std::string onuReport(const std::string& mac, const std::string& slot, const std::string& pon, bool online = true) {
    return R"({"mac_address":")" + mac + R"(","slot_id":")" + slot + R"(","pon_port":")" + pon +
           R"(","online_status":")" + (online ? "1" : "0") +
           R"(","is_gigabit":"1","alarm_message":"","temperature":"40.1","supply_voltage":"3.3",)"
           R"("tx_bias_current":"12.0","tx_power_input":"-20.5","tx_power_output":"2.1"})";
}

std::string oltReport(const std::string& slot, bool online, bool nvs = false) {
    return R"({"slot_id":")" + slot + R"(","mac_address":"00:0d:b6:00:00:0)" + slot + R"(","app_version":"3.1.2",)" +
           R"("nvs_enabled":")" + (nvs ? "1" : "0") + R"(","online_status":")" + (online ? "1" : "0") +
           R"(","module_olt_table":[{"qvOpticModuleOltTxPower":"3.5","qvOpticModuleOltVcc":"3.30",)"
           R"("qvOpticModuleOltTxBias":"20.0","qvOpticModuleOltTemperature":"45.0"},)"
           R"({"qvOpticModuleOltTxPower":"3.6","qvOpticModuleOltVcc":"3.31","qvOpticModuleOltTxBias":"21.0",)"
           R"("qvOpticModuleOltTemperature":"46.0"}]})";
}

class ManagerNotifyTest : public halvorn_test::ManagerTestBase {
protected:
    // As the receiver does it: the text on the channel, parsed, handed over.
    void notifyRaw(const std::string& text) {
        APIData notification;
        notification.parseRequest(text.c_str(), static_cast<int>(text.size()));
        manager_->handlerNotification(&notification);
    }
    void notify(const std::string& uri, const std::string& data) {
        APIData built;
        built.createRequest("set", uri, data);
        notifyRaw(built.getJsonProtocol());
    }
    std::vector<std::string> uris(const std::vector<Task>& tasks) {
        std::vector<std::string> out;
        for (auto& t : tasks) out.push_back(t.uri);
        return out;
    }
    // The row of the table whose key has the value, as a map of its values.
    std::map<std::string, std::string> rowWhere(const std::string& uri, const std::string& key, const std::string& v) {
        RwLockTable* t = table(uri);
        Database::TableLock lock(t, false);
        for (Container* row : t->getAll()) {
            if (row->getValue(key) != v) continue;
            std::map<std::string, std::string> out;
            JsonPtr json(JsonHelper::parseJObject(row->getJsonData(true, nullptr, 0)));
            const cJSON* member = nullptr;
            cJSON_ArrayForEach(member, json.get()) out[member->string] = cJSON_GetStringValue(member);
            return out;
        }
        return {};
    }
    std::string onuIndex(const std::string& mac) {
        return rowWhere("/onutable", "qvCfgONUPhysicalID", mac)["qvCfgONUIndex"];
    }
    size_t rows(const std::string& uri) {
        RwLockTable* t = table(uri);
        Database::TableLock lock(t, false);
        return t->getAll().size();
    }
    // Every table's full text, to show that a notification changed nothing.
    std::string snapshot() {
        std::string all;
        for (auto& kv : db_->getMapUriTable()) {
            Database::TableLock lock(kv.second, false);
            all += kv.first + kv.second->toJson();
        }
        return all;
    }
};

TEST_F(ManagerNotifyTest, DiscoveryCreatesBothRows) {
    notify("/onu/new", onuReport("00:00:00:00:03:01", "3", "1"));
    ASSERT_EQ(rows("/onutable"), 1u);
    auto onu = rowWhere("/onutable", "qvCfgONUPhysicalID", "00:00:00:00:03:01");
    EXPECT_EQ(onu["qvCfgONUSlotIndex"], "3");
    EXPECT_EQ(onu["qvCfgONUPonIndex"], "1");
    EXPECT_EQ(onu["qvCfgONUIndex"], "1");
    EXPECT_EQ(onu["qvCfgONULinkStatus"], "1");
    EXPECT_EQ(onu["qvCfgONUGigabitStatus"], "1");
    EXPECT_EQ(onu["qvCfgONUReset"], "0");
    auto module = rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "00:00:00:00:03:01");
    EXPECT_EQ(module["qvOpticModuleOnuSlotIndex"], "3");
    EXPECT_EQ(module["qvOpticModuleOnuPonIndex"], "1");
    EXPECT_EQ(module["qvOpticModuleOnuIndex"], "1");
    EXPECT_EQ(module["qvOpticModuleOnuTxPower"], "2.1");
    EXPECT_EQ(module["qvOpticModuleOnuRxPower"], "-20.5");
    EXPECT_TRUE(table("/onutable")->getHasModified());
    EXPECT_TRUE(table("/onutable")->getHasJsonFileModified());

    // Reported again: the same rows, no new ones.
    notify("/onu/new", onuReport("00:00:00:00:03:01", "3", "1"));
    EXPECT_EQ(rows("/onutable"), 1u);
    EXPECT_EQ(rows("/moduleonutable"), 1u);

    // Going offline: status "2" and no optical values.
    notify("/onu/new", onuReport("00:00:00:00:03:01", "3", "1", false));
    EXPECT_EQ(rowWhere("/onutable", "qvCfgONUPhysicalID", "00:00:00:00:03:01")["qvCfgONULinkStatus"], "2");
    module = rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "00:00:00:00:03:01");
    for (const char* key : {"qvOpticModuleOnuTemperature", "qvOpticModuleOnuVcc", "qvOpticModuleOnuTxBias",
                            "qvOpticModuleOnuTxPower", "qvOpticModuleOnuRxPower"})
        EXPECT_EQ(module[key], "-") << key;
}

TEST_F(ManagerNotifyTest, IndexIsTheFirstFreeOnItsSlotAndPort) {
    for (const char* mac : {"a1", "a2", "a3", "a4"}) notify("/onu/new", onuReport(mac, "3", "1"));
    // Other slots and ports have their own numbering.
    notify("/onu/new", onuReport("b1", "4", "1"));
    notify("/onu/new", onuReport("c1", "3", "2"));
    EXPECT_EQ(onuIndex("b1"), "1");
    EXPECT_EQ(onuIndex("c1"), "1");

    // Indexes 1, 2, 4 in use: the next ONU gets 3, the one after it 5.
    notify("/slot/onu/remove", R"({"slot_id":"3","mac_address":"a3"})");  // not a notification: ignored
    EXPECT_EQ(onuIndex("a3"), "3");
    APIData remove;
    remove.createRequest("set", "/slot/onu/remove", R"({"slot_id":"3","mac_address":"a3"})");
    manager_->removeOnuFromTables(&remove);
    EXPECT_TRUE(rowWhere("/onutable", "qvCfgONUPhysicalID", "a3").empty());
    EXPECT_TRUE(rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "a3").empty());
    notify("/onu/new", onuReport("a5", "3", "1"));
    notify("/onu/new", onuReport("a6", "3", "1"));
    EXPECT_EQ(onuIndex("a5"), "3");
    EXPECT_EQ(onuIndex("a6"), "5");

    // Moving to another port: the smallest free index there; the old one is freed.
    notify("/onu/new", onuReport("a2", "3", "2"));
    EXPECT_EQ(onuIndex("a2"), "2");
    EXPECT_EQ(rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "a2")["qvOpticModuleOnuIndex"], "2");
    EXPECT_EQ(rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "a2")["qvOpticModuleOnuPonIndex"], "2");
    notify("/onu/new", onuReport("a7", "3", "1"));
    EXPECT_EQ(onuIndex("a7"), "2");

    // Not placed yet: the row exists, without slot, port or index, and gets no task.
    takeTasks();
    notify("/onu/new", onuReport("d1", "-", "-"));
    auto d1 = rowWhere("/onutable", "qvCfgONUPhysicalID", "d1");
    ASSERT_FALSE(d1.empty());
    EXPECT_EQ(d1["qvCfgONUSlotIndex"], "-");
    EXPECT_EQ(d1["qvCfgONUIndex"], "");
    EXPECT_TRUE(takeTasks().empty());
    // Placed later: indexed then.
    notify("/onu/new", onuReport("d1", "4", "1"));
    EXPECT_EQ(onuIndex("d1"), "2");
}

TEST_F(ManagerNotifyTest, OnuReportTasks) {
    const std::string mac = "00:00:00:00:03:01";
    const Task vlan{"/slot/onu/set/vlanid",
                    R"({"id":"0","mac_address":"00:00:00:00:03:01","slot_id":"3","vlan_id":""})"};
    const Task enable{"/slot/onu/enable", R"({"id":"0","mac_address":"00:00:00:00:03:01","slot_id":"3"})"};
    notify("/onu/new", onuReport(mac, "3", "1"));
    EXPECT_EQ(takeTasks(), (std::vector<Task>{vlan, enable}));
    // The VLAN goes once; the traffic state on every report.
    notify("/onu/new", onuReport(mac, "3", "1"));
    EXPECT_EQ(takeTasks(), (std::vector<Task>{enable}));
    notify("/onu/new", onuReport(mac, "3", "1", false));
    EXPECT_TRUE(takeTasks().empty());
    notify("/onu/new", onuReport(mac, "3", "1"));
    EXPECT_EQ(takeTasks(), (std::vector<Task>{vlan, enable}));

    // A disabled ONU is told so; the all-offline reset makes the VLAN go again.
    {
        RwLockTable* t = table("/onutable");
        Database::TableLock lock(t, true);
        t->getFromId(1)->setValue("qvCfgONUEnabled", "0", true);
    }
    notify("/onu/set/all/offline", "{}");
    notify("/onu/new", onuReport(mac, "3", "1"));
    EXPECT_EQ(uris(takeTasks()), (std::vector<std::string>{"/slot/onu/set/vlanid", "/slot/onu/disable"}));
}

TEST_F(ManagerNotifyTest, AlarmTableKeepsTheNewestFifty) {
    auto alarms = [](int from, int count) {
        std::string list;
        for (int i = from; i < from + count; ++i) {
            if (!list.empty()) list += ",";
            list += R"({"label":"PON: )" + std::to_string(i) +
                    R"(","alarm":"Link fault","state":"raised","slot_id":"2","datetime":"07/12/2026 10:00:00"})";
        }
        return R"({"alarm_list":[)" + list + "]}";
    };
    auto labels = [this] {
        std::vector<std::string> out;
        RwLockTable* t = table("/oltalarmtable");
        Database::TableLock lock(t, false);
        for (Container* row : t->getAll()) out.push_back(row->getValue("label"));
        return out;
    };
    notify("/olt/alarm/new", alarms(0, 60));
    auto kept = labels();
    ASSERT_EQ(kept.size(), 50u);
    EXPECT_EQ(kept.front(), "PON: 10");
    EXPECT_EQ(kept.back(), "PON: 59");
    notify("/olt/alarm/new", alarms(60, 1));
    kept = labels();
    ASSERT_EQ(kept.size(), 50u);
    EXPECT_EQ(kept.front(), "PON: 11");
    EXPECT_EQ(kept.back(), "PON: 60");

    // Nothing usable: nothing changes.
    table("/oltalarmtable")->setHasModified(false);
    for (const char* data : {"{}", R"({"alarm_list":5})", R"({"alarm_list":[1,"x"]})", "[1]"}) {
        SCOPED_TRACE(data);
        notify("/olt/alarm/new", data);
        EXPECT_EQ(labels(), kept);
    }
    EXPECT_FALSE(table("/oltalarmtable")->getHasModified());
}

TEST_F(ManagerNotifyTest, OnuOfflineResetsBySlot) {
    notify("/onu/new", onuReport("s2a", "2", "1"));
    notify("/onu/new", onuReport("s2b", "2", "2"));
    notify("/onu/new", onuReport("s5a", "5", "1"));
    notify("/onu/set/all/offline", R"({"slot_id":"2"})");
    EXPECT_EQ(rowWhere("/onutable", "qvCfgONUPhysicalID", "s2a")["qvCfgONULinkStatus"], "2");
    EXPECT_EQ(rowWhere("/onutable", "qvCfgONUPhysicalID", "s2b")["qvCfgONULinkStatus"], "2");
    EXPECT_EQ(rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "s2b")["qvOpticModuleOnuTxPower"], "-");
    EXPECT_EQ(rowWhere("/onutable", "qvCfgONUPhysicalID", "s5a")["qvCfgONULinkStatus"], "1");
    EXPECT_EQ(rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "s5a")["qvOpticModuleOnuTxPower"], "2.1");
    notify("/onu/set/all/offline", "{}");
    EXPECT_EQ(rowWhere("/onutable", "qvCfgONUPhysicalID", "s5a")["qvCfgONULinkStatus"], "2");
    EXPECT_EQ(rowWhere("/moduleonutable", "qvOpticModuleOnuPhysicalID", "s5a")["qvOpticModuleOnuTxPower"], "-");
}

TEST_F(ManagerNotifyTest, OltReportsAndTheirVlanTasks) {
    {
        RwLockTable* t = table("/olttable");
        Database::TableLock lock(t, true);
        t->getFromId(2)->setValue("qvCfgOLTPON0VlanId", "100", true);
        t->getFromId(2)->setValue("qvCfgOLTPON0DisUntagged", "1", true);
    }
    const Task vlan0{"/olt/vlan",
                     R"({"discard_untagged":"1","id":"0","pon_number":"0","slot_id":"2","vlan_id":"100"})"};

    notify("/olt/new/report", oltReport("2", true, true));
    EXPECT_EQ(value("/olttable", 2, "qvCfgOLTApp1Version"), "3.1.2");
    EXPECT_EQ(value("/olttable", 2, "qvCfgOLTMac"), "00:0d:b6:00:00:02");
    EXPECT_EQ(value("/olttable", 2, "qVCfgOLTNvsEnabled"), "2");
    EXPECT_EQ(value("/slottable", 2, "qvSlotStatus"), "1");
    EXPECT_EQ(value("/moduleolttable", 3, "qvOpticModuleOltTxPower"), "3.5");
    EXPECT_EQ(value("/moduleolttable", 4, "qvOpticModuleOltTemperature"), "46.0");
    EXPECT_EQ(value("/moduleolttable", 5, "qvOpticModuleOltTxPower"), "-");  // slot 3 untouched
    // Port 1 has no VLAN: nothing to send for it, and it is not asked again.
    EXPECT_EQ(takeTasks(), (std::vector<Task>{vlan0}));
    notify("/olt/new/report", oltReport("2", true, false));
    EXPECT_EQ(value("/olttable", 2, "qVCfgOLTNvsEnabled"), "1");
    EXPECT_TRUE(takeTasks().empty());

    // Offline: slot down, optics unknown, VLANs go again when it returns.
    notify("/olt/new/report", oltReport("2", false));
    EXPECT_EQ(value("/slottable", 2, "qvSlotStatus"), "2");
    for (uint64_t id : {3, 4})
        for (const char* key : {"qvOpticModuleOltTxPower", "qvOpticModuleOltVcc", "qvOpticModuleOltTxBias",
                                "qvOpticModuleOltTemperature"})
            EXPECT_EQ(value("/moduleolttable", id, key), "-") << id << key;
    EXPECT_TRUE(takeTasks().empty());
    notify("/olt/new/report", oltReport("2", true));
    EXPECT_EQ(takeTasks(), (std::vector<Task>{vlan0}));
    // The ONU reset of the slot also clears the OLT's VLAN flags.
    notify("/onu/set/all/offline", R"({"slot_id":"2"})");
    notify("/olt/new/report", oltReport("2", true));
    EXPECT_EQ(takeTasks(), (std::vector<Task>{vlan0}));

    // All OLTs offline: every slot down and every optical value unknown; the OLT rows stay.
    notify("/olt/set/all/offline", "{}");
    EXPECT_EQ(value("/slottable", 2, "qvSlotStatus"), "2");
    EXPECT_EQ(value("/moduleolttable", 3, "qvOpticModuleOltTxPower"), "-");
    EXPECT_EQ(value("/olttable", 2, "qvCfgOLTApp1Version"), "3.1.2");
}

TEST_F(ManagerNotifyTest, OltConfigRequest) {
    {
        RwLockTable* t = table("/olttable");
        Database::TableLock lock(t, true);
        t->getFromId(2)->setValue("qvCfgOLTIpAddress", "192.168.1.2", true);
    }
    notify("/olt/get/config", R"({"slot_id":"2"})");
    EXPECT_EQ(
        takeTasks(),
        (std::vector<Task>{
            {"/olt/config",
             R"({"id":"0","ip_address":"192.168.1.2","onu2onu":"1","slot_id":"2","src_ip_address":"192.168.1.100"})"}}));
    for (const char* slot : {"9", "0", "x", ""}) {
        SCOPED_TRACE(slot);
        notify("/olt/get/config", std::string(R"({"slot_id":")") + slot + "\"}");
        EXPECT_TRUE(takeTasks().empty());
    }
}

TEST_F(ManagerNotifyTest, OnuThatCannotBeAddedIsSkipped) {
    // A row under the largest id leaves no id for a new one.
    {
        RwLockTable* t = table("/onutable");
        Database::TableLock lock(t, true);
        auto* last = new OnuTableRow();
        last->setId(UINT64_MAX);
        last->setValue("qvCfgONUPhysicalID", "ff:ff:ff:ff:ff:ff", true);
        t->addNew(last, false);
    }
    notify("/onu/new", onuReport("00:00:00:00:03:01", "3", "1"));
    EXPECT_EQ(rows("/onutable"), 1u);
    EXPECT_EQ(rows("/moduleonutable"), 0u);
    EXPECT_TRUE(takeTasks().empty());
    // The ONU that is there is still served.
    notify("/onu/new", onuReport("ff:ff:ff:ff:ff:ff", "3", "1"));
    EXPECT_EQ(rowWhere("/onutable", "qvCfgONUPhysicalID", "ff:ff:ff:ff:ff:ff")["qvCfgONUIndex"], "1");
    EXPECT_EQ(rows("/moduleonutable"), 1u);
}

TEST_F(ManagerNotifyTest, BadNotificationsChangeNothing) {
    notify("/onu/new", onuReport("00:00:00:00:03:01", "3", "1"));
    db_->buildAllTableCachedJson(true);
    takeTasks();
    const std::string before = snapshot();
    const char* texts[] = {
        R"({"action":"set","uri":"/onu/new","data":"not an object"})",
        R"({"action":"set","uri":"/onu/new","data":[1,2]})",
        R"({"action":"set","uri":"/onu/new","data":{}})",
        R"({"action":"set","uri":"/onu/new","data":{"slot_id":"3","pon_port":"1","online_status":"1"}})",
        R"({"action":"set","uri":"/onu/new","data":{"mac_address":7}})",
        R"({"action":"set","uri":"/olt/new/report","data":{"slot_id":"abc","online_status":"1"}})",
        R"({"action":"set","uri":"/olt/new/report","data":{"slot_id":"99999999999999999999999","online_status":"1"}})",
        R"({"action":"set","uri":"/olt/new/report","data":{"slot_id":"9","online_status":"1"}})",
        R"({"action":"set","uri":"/olt/alarm/new","data":"x"})",
        R"({"action":"set","uri":"/no/such/notification","data":{"slot_id":"2"}})",
        R"({"action":"get","uri":"/onu/new"})",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        notifyRaw(text);
        EXPECT_EQ(snapshot(), before);
    }
    EXPECT_TRUE(takeTasks().empty());
}

}  // namespace
