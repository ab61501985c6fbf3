// The real daemon, black-box: an operator's change on its way to the line card and the disk,
// ONU discovery, alarm trimming, the offline resets and the OLT VLAN tasks as the PON-card
// manager would see them, and malformed requests that must be answered and survived.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JsonHelper.h"
#include "JsonFields.h"
#include "harness/Harness.h"

using namespace halvorn_test;

namespace {

std::string onuReport(const std::string& mac, const std::string& slot, const std::string& pon, bool online = true) {
    return R"({"mac_address":")" + mac + R"(","slot_id":")" + slot + R"(","pon_port":")" + pon +
           R"(","online_status":")" + (online ? "1" : "0") +
           R"(","is_gigabit":"0","temperature":"40.0","tx_power_output":"2.0"})";
}

size_t arraySize(const std::string& text) {
    JsonPtr array(cJSON_Parse(text.c_str()));
    return cJSON_IsArray(array.get()) ? static_cast<size_t>(cJSON_GetArraySize(array.get())) : 0;
}

std::string onuField(Harness& h, const std::string& mac, const std::string& key) {
    return field(h.get("/onutable").data, "qvCfgONUPhysicalID", mac, key);
}

TEST(HalvornRoad, DisablingAnOnuReachesTheCardAndTheDisk) {
    Harness h;
    for (const char* mac : {"00:00:00:00:00:01", "00:00:00:00:00:02", "00:00:00:00:00:03"})
        h.notify("/onu/new", onuReport(mac, "3", "1"));
    ASSERT_TRUE(waitUntil([&] { return arraySize(h.get("/onutable").data) == 3; }, 15s)) << h.log();
    ASSERT_EQ(field(h.get("/onutable").data, "id", "3", "qvCfgONUPhysicalID"), "00:00:00:00:00:03");
    ASSERT_TRUE(waitUntil(
        [&] { return h.readFile("/mnt/db/json/onutable.json").find("00:00:00:00:00:03") != std::string::npos; }, 15s));
    h.tasks().clear();

    const auto reply = h.set("/onutable/3", R"({"qvCfgONUEnabled":"0"})");
    EXPECT_EQ(reply.err, "");
    // The reply came after the rebuild: a read right after it shows the change.
    EXPECT_EQ(field(h.get("/onutable").data, "id", "3", "qvCfgONUEnabled"), "0");
    ASSERT_TRUE(waitUntil([&] { return !h.tasks().tasksFor("/slot/onu/disable").empty(); }));
    const auto tasks = h.tasks().tasksFor("/slot/onu/disable");
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].action, "set");
    EXPECT_EQ(tasks[0].data, R"({"id":"0","mac_address":"00:00:00:00:00:03","slot_id":"3"})");
    EXPECT_TRUE(waitUntil(
        [&] {
            return field(h.readFile("/mnt/db/json/onutable.json"), "qvCfgONUPhysicalID", "00:00:00:00:00:03",
                         "qvCfgONUEnabled") == "0";
        },
        10s))
        << h.readFile("/mnt/db/json/onutable.json");
    // The SNMP channel sees the same table.
    EXPECT_EQ(field(h.get("/onutable", true).data, "id", "3", "qvCfgONUEnabled"), "0");
}

TEST(HalvornRoad, DiscoveryAlarmsResetsAndVlanTasks) {
    Harness h;
    // Discovery: first free index per slot and port.
    for (const char* mac : {"a1", "a2", "a3", "a4"}) h.notify("/onu/new", onuReport(mac, "3", "1"));
    h.notify("/onu/new", onuReport("b1", "3", "2"));
    ASSERT_TRUE(waitUntil([&] { return arraySize(h.get("/onutable").data) == 5; }, 15s)) << h.log();
    EXPECT_EQ(h.set("/slot/onu/remove", R"({"slot_id":"3","mac_address":"a3"})").err, "");
    EXPECT_EQ(onuField(h, "a3", "qvCfgONUIndex"), "<no row>");
    EXPECT_EQ(field(h.get("/moduleonutable").data, "qvOpticModuleOnuPhysicalID", "a3", "qvOpticModuleOnuIndex"),
              "<no row>");
    ASSERT_TRUE(waitUntil([&] { return !h.tasks().tasksFor("/slot/onu/remove").empty(); }));
    h.notify("/onu/new", onuReport("a5", "3", "1"));
    h.notify("/onu/new", onuReport("a6", "3", "1"));
    ASSERT_TRUE(waitUntil([&] { return onuField(h, "a6", "qvCfgONUIndex") != "<no row>"; }, 15s));
    EXPECT_EQ(onuField(h, "a5", "qvCfgONUIndex"), "3");
    EXPECT_EQ(onuField(h, "a6", "qvCfgONUIndex"), "5");
    EXPECT_EQ(onuField(h, "b1", "qvCfgONUIndex"), "1");
    EXPECT_EQ(field(h.get("/moduleonutable").data, "qvOpticModuleOnuPhysicalID", "a5", "qvOpticModuleOnuIndex"), "3");

    // Alarms: 60 in one report, the 50 newest stay.
    std::string list;
    for (int i = 0; i < 60; ++i) {
        if (i) list += ",";
        list += R"({"label":"PON: )" + std::to_string(i) +
                R"(","alarm":"LOS","state":"raised","slot_id":"3","datetime":"07/12/2026 10:00:00"})";
    }
    h.notify("/olt/alarm/new", R"({"alarm_list":[)" + list + "]}");
    ASSERT_TRUE(waitUntil([&] { return arraySize(h.get("/oltalarmtable").data) == 50; }, 15s));
    const std::string alarms = h.get("/oltalarmtable").data;
    EXPECT_EQ(field(alarms, "label", "PON: 9", "label"), "<no row>");
    EXPECT_EQ(field(alarms, "label", "PON: 10", "alarm"), "LOS");
    EXPECT_EQ(field(alarms, "label", "PON: 59", "alarm"), "LOS");

    // OLT VLANs: the address before the VLAN; a returning card gets its VLAN again. The ONU
    // tasks of the reports above may still be on their way: only the OLT's tasks are counted.
    auto oltTasks = [&] {
        std::vector<halvorn_test::Task> out;
        for (const auto& t : h.tasks().tasks())
            if (t.uri.rfind("/olt/", 0) == 0) out.push_back(t);
        return out;
    };
    h.tasks().clear();
    EXPECT_EQ(h.set("/olttable/3", R"({"qvCfgOLTIpAddress":"192.168.1.3","qvCfgOLTPON1VlanId":"30"})").err, "");
    ASSERT_TRUE(waitUntil([&] { return oltTasks().size() >= 2; }, 10s));
    auto tasks = oltTasks();
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].uri, "/olt/config");
    EXPECT_EQ(tasks[0].data, R"({"id":"0","ip_address":"192.168.1.3","slot_id":"3"})");
    EXPECT_EQ(tasks[1].uri, "/olt/vlan");
    EXPECT_EQ(tasks[1].data, R"({"discard_untagged":"","id":"0","pon_number":"1","slot_id":"3","vlan_id":"30"})");
    h.tasks().clear();
    const std::string card =
        R"({"slot_id":"3","mac_address":"00:0d:00:00:00:03","app_version":"2.0","nvs_enabled":"0","online_status":")";
    h.notify("/olt/new/report", card + R"(0"})");
    h.notify("/olt/new/report", card + R"(1"})");
    ASSERT_TRUE(waitUntil([&] { return oltTasks().size() >= 1; }, 10s));
    EXPECT_TRUE(waitUntil([&] { return field(h.get("/slottable").data, "id", "3", "qvSlotStatus") == "1"; }, 15s));
    tasks = oltTasks();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].uri, "/olt/vlan");
    EXPECT_EQ(tasks[0].data, R"({"discard_untagged":"","id":"0","pon_number":"1","slot_id":"3","vlan_id":"30"})");

    // All offline: every ONU and slot down, optics unknown.
    h.notify("/onu/set/all/offline", "{}");
    h.notify("/olt/set/all/offline", "{}");
    EXPECT_TRUE(waitUntil(
        [&] {
            return onuField(h, "a1", "qvCfgONULinkStatus") == "2" && onuField(h, "b1", "qvCfgONULinkStatus") == "2" &&
                   field(h.get("/slottable").data, "id", "3", "qvSlotStatus") == "2" &&
                   field(h.get("/moduleonutable").data, "qvOpticModuleOnuPhysicalID", "a1",
                         "qvOpticModuleOnuTxPower") == "-";
        },
        15s));
}

TEST(HalvornRoad, MalformedRequestsAreAnsweredAndSurvived) {
    Harness h;
    struct Case {
        const char* name;
        const char* text;
        const char* err;  // exact, or a prefix when it ends with '*'
    };
    const Case raw[] = {
        {"not json", "not json", "JSON not parsed: *"},
        {"no uri", R"({"action":"get"})", "Key 'uri' not found"},
        {"numeric action", R"({"action":1,"uri":"/slottable"})", "Key 'action' not found"},
        {"set without data", R"({"action":"set","uri":"/slottable/1"})", "Key 'data' not found"},
        {"upper-case action", R"({"action":"SET","uri":"/slottable/1","data":{}})", "Invalid API request: SET"},
        {"unknown uri", R"({"action":"get","uri":"/nothing"})", "Object name '/nothing' not found"},
        {"action uri read", R"({"action":"get","uri":"/slot/reset"})", "Object name '/slot/reset' not found"},
        {"id out of range", R"({"action":"get","uri":"/slottable/9"})", "id(9) not found on table /slottable"},
        {"id that overflows", R"({"action":"get","uri":"/slottable/184467440737095516160"})",
         "Object name '/slottable/184467440737095516160' not found"},
        {"set of id 0", R"({"action":"set","uri":"/slottable","data":{"qvSlotSet":"1"}})", "Invalid ID object '0'"},
        {"set of a missing row", R"({"action":"set","uri":"/onutable/4","data":{}})", "Invalid ID object '4'"},
        {"non-string value", R"({"action":"set","uri":"/slottable/1","data":{"qvSlotSet":1}})", ""},
        {"data not an object", R"({"action":"set","uri":"/slottable/1","data":"x"})", ""},
        {"bad address", R"({"action":"set","uri":"/systeminfo","data":{"ntpServer":"1.2.3"}})",
         "Invalid IPv4(1.2.3) for 'ntpServer'"},
    };
    for (const auto& c : raw) {
        SCOPED_TRACE(c.name);
        const auto reply = h.raw(c.text);
        const std::string expected = c.err;
        if (!expected.empty() && expected.back() == '*')
            EXPECT_EQ(reply.err.rfind(expected.substr(0, expected.size() - 1), 0), 0u) << reply.err;
        else EXPECT_EQ(reply.err, expected);
        // The worker serves the next request normally.
        EXPECT_EQ(h.get("/slottable/1").err, "");
    }
    EXPECT_EQ(field(h.get("/slottable").data, "id", "1", "qvSlotSet"), "0");
    EXPECT_EQ(h.get("/slot/reset", true).err, "Object name '/slot/reset' not found");
    // Garbage on the notification channel is dropped; the daemon stays up.
    h.notify("/onu/new", "[1]");
    h.notify("/olt/new/report", R"({"slot_id":"abc","online_status":"1"})");
    EXPECT_EQ(h.get("/onutable").data, "[]");
    EXPECT_TRUE(h.running());
    EXPECT_TRUE(h.tasks().tasks().empty());
}

}  // namespace
