// API requests through Manager in-process: every error text, the reads, row changes and the
// line-card tasks they imply (and their order), and the pass-through actions. Requests go
// through the same parse/answer steps as on the channel; tasks are recorded, not sent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "APIData.h"
#include "Database.h"
#include "Exception.h"
#include "Helper.h"
#include "Manager.h"
#include "ManagerTestBase.h"
#include "OnuLink.h"
#include "Paths.h"
#include "SystemInfo.h"

namespace {

using halvorn_test::Task;

struct Reply {
    std::string err;
    std::string data;
};

class ManagerApiTest : public halvorn_test::ManagerTestBase {
protected:
    // As the request workers do it: parse the text, handle, answer with the message on failure.
    Reply api(const std::string& action, const std::string& uri, const std::string& data = "") {
        APIData built;
        built.createRequest(action, uri, data);
        APIData request;
        const std::string text = built.getJsonProtocol();
        request.parseRequest(text.c_str(), static_cast<int>(text.size()));
        try {
            manager_->handlerApiRequest(&request);
        } catch (const Exception& e) {
            request.createResponse(e.getMessage(), "");
        }
        APIData response;
        const std::string answer = request.getJsonProtocol();
        response.parseResponse(answer.c_str(), static_cast<int>(answer.size()));
        return {response.getError(), response.getJsonData()};
    }

    // An ONU row as discovery leaves it: slot 3, port 1, index 1, enabled.
    uint64_t addOnu(const std::string& mac, const std::string& slot) {
        OnuLink link(mac);
        link.setSlotId(slot);
        link.setPonPort("1");
        link.setOnlineStatus(true);
        const uint64_t id = db_->insertOnuTable(&link);
        db_->insertModuleOnuTable(&link, "1");
        return id;
    }
};

TEST_F(ManagerApiTest, ErrorTexts) {
    addOnu("00:11:22:33:44:55", "3");
    struct Case {
        const char* action;
        const char* uri;
        const char* data;
        const char* err;
    };
    const Case cases[] = {
        {"SET", "/onutable/1", "{}", "Invalid API request: SET"},
        {"delete", "/onutable", "", "Invalid API request: delete"},
        {"get", "/slot/reset", "", "Object name '/slot/reset' not found"},
        {"get", "/nosuch", "", "Object name '/nosuch' not found"},
        {"get", "/onutable/5", "", "id(5) not found on table /onutable"},
        // Too long for a row id: not read as a wrapped or clamped number.
        {"get", "/onutable/99999999999999999999999", "", "Object name '/onutable/99999999999999999999999' not found"},
        {"get", "/onutable/-1", "", "Object name '/onutable/-1' not found"},
        {"set", "/onutable", "{}", "Invalid ID object '0'"},
        {"set", "/onutable/0", "{}", "Invalid ID object '0'"},
        {"set", "/slottable/99", R"({"qvSlotSet":"1"})", "Invalid ID object '99'"},
        {"set", "/nosuch", "{}", "Object name '/nosuch' not found"},
        {"set", "/systeminfo", R"({"mgntIpAddr":"10.0.0.256"})", "Invalid IPv4(10.0.0.256) for 'mgntIpAddr'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.action) + " " + c.uri);
        const Reply r = api(c.action, c.uri, c.data);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.data, "");
    }
    EXPECT_TRUE(takeTasks().empty());
    // The failed requests changed nothing and the next one is served normally.
    EXPECT_EQ(api("get", "/onutable/1").err, "");
}

TEST_F(ManagerApiTest, Reads) {
    EXPECT_EQ(api("get", "/onutable").data, "[]");
    const Reply slot = api("get", "/slottable/3");
    EXPECT_EQ(slot.err, "");
    EXPECT_EQ(
        slot.data,
        R"({"id":"3","qvSlotCardSN":"-","qvSlotCardType":"11","qvSlotIndex":"3","qvSlotSet":"0","qvSlotStatus":"2"})");
    // Id 0 is the whole table, from the ready text.
    EXPECT_EQ(api("get", "/slottable/0").data, api("get", "/slottable").data);
    EXPECT_NE(api("get", "/slottable").data.find(R"("qvSlotIndex":"8")"), std::string::npos);
    EXPECT_NE(api("get", "/systeminfo").data.find(R"("webPort":"80")"), std::string::npos);
    const Reply store = api("get", "/privatestore");
    EXPECT_NE(store.data.find(R"("wAdmUser":"mzpw")"), std::string::npos);

    // A row added by discovery (which only marks the ready text stale) shows in the very
    // next read, without waiting for the database cycle.
    addOnu("00:11:22:33:44:55", "3");
    EXPECT_NE(api("get", "/onutable").data.find("00:11:22:33:44:55"), std::string::npos);
    EXPECT_NE(api("get", "/onutable/1").data.find("00:11:22:33:44:55"), std::string::npos);
    EXPECT_FALSE(table("/onutable")->getHasModified());
    EXPECT_EQ(api("get", "/onutable").data, table("/onutable")->toJson());
}

// A time-zone change while the database worker rebuilds the alarm text: the rebuild has
// printed the old zone and clears the stale flag when it ends. The change must mark the text
// stale after that, or the alarm times keep the old zone.
TEST_F(ManagerApiTest, TimeZoneChangeDuringAnAlarmRebuildReachesTheAlarmTimes) {
    APIData alarms;
    alarms.createRequest(
        "set", "/olt/alarm/new",
        R"({"alarm_list":[{"label":"PON: 0","alarm":"x","state":"raised","slot_id":"1","datetime":"01/01/2026 10:00:00"}]})");
    manager_->handlerNotification(&alarms);
    ASSERT_EQ(api("set", "/systeminfo", R"({"timezone":"0"})").err, "");
    ASSERT_NE(api("get", "/oltalarmtable").data.find("01/01/2026 10:00:00"), std::string::npos);

    RwLockTable* table = this->table("/oltalarmtable");
    table->writeLock();  // the worker's rebuild begins: it prints the old zone...
    table->buildCachedJson();
    std::thread change([&] { EXPECT_EQ(api("set", "/systeminfo", R"({"timezone":"2"})").err, ""); });
    while (GL_TIMEZONE_VALUE.load() != 2) std::this_thread::yield();
    // ...and, done printing, clears the flag (a change that set it meanwhile is lost).
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!table->getHasModified() && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    table->setHasModified(false);
    table->unlock();
    change.join();
    EXPECT_NE(api("get", "/oltalarmtable").data.find("01/01/2026 12:00:00"), std::string::npos)
        << api("get", "/oltalarmtable").data;
}

TEST_F(ManagerApiTest, OnuChangeQueuesItsTask) {
    const uint64_t id = addOnu("00:11:22:33:44:55", "3");
    const std::string uri = "/onutable/" + std::to_string(id);
    RwLockTable* onu = db_->getMapUriTable().at("/onutable");
    onu->setHasJsonFileModified(false);

    EXPECT_EQ(api("set", uri, R"({"qvCfgONUEnabled":"0"})").err, "");
    EXPECT_EQ(
        takeTasks(),
        (std::vector<Task>{{"/slot/onu/disable", R"({"id":"0","mac_address":"00:11:22:33:44:55","slot_id":"3"})"}}));
    EXPECT_EQ(value("/onutable", id, "qvCfgONUEnabled"), "0");
    EXPECT_TRUE(onu->getHasJsonFileModified());
    // Answered only once the whole-table read shows it, without waiting for a database cycle.
    EXPECT_NE(api("get", "/onutable").data.find(R"("qvCfgONUEnabled":"0")"), std::string::npos);
    // The same value again changes nothing and sends nothing.
    EXPECT_EQ(api("set", uri, R"({"qvCfgONUEnabled":"0"})").err, "");
    EXPECT_TRUE(takeTasks().empty());
    // Anything but "1" disables; "1" enables.
    EXPECT_EQ(api("set", uri, R"({"qvCfgONUEnabled":"1"})").err, "");
    EXPECT_EQ(
        takeTasks(),
        (std::vector<Task>{{"/slot/onu/enable", R"({"id":"0","mac_address":"00:11:22:33:44:55","slot_id":"3"})"}}));

    // Non-string values, unknown keys and the id are not taken: success, nothing changes.
    for (const char* data : {R"({"qvCfgONUEnabled":0})", R"({"qvCfgONUEnabled":null})", R"({"bogus":"1"})",
                             R"({"id":"77"})", "[]", R"({"qvCfgONUEnabled":{"x":"0"}})"}) {
        SCOPED_TRACE(data);
        EXPECT_EQ(api("set", uri, data).err, "");
        EXPECT_EQ(value("/onutable", id, "qvCfgONUEnabled"), "1");
        EXPECT_EQ(value("/onutable", id, "id"), std::to_string(id));
    }
    EXPECT_TRUE(takeTasks().empty());

    // A VLAN change reaches the card and marks the VLAN as handed on.
    EXPECT_EQ(api("set", uri, R"({"qvCfgONUVlanId":"300","qvCfgONUName":"flat 3"})").err, "");
    EXPECT_EQ(takeTasks(),
              (std::vector<Task>{{"/slot/onu/set/vlanid",
                                  R"({"id":"0","mac_address":"00:11:22:33:44:55","slot_id":"3","vlan_id":"300"})"}}));
    {
        Database::TableLock lock(onu, false);
        EXPECT_TRUE(static_cast<OnuTableRow*>(onu->getFromId(id))->getHasVlanSet());
    }

    // The change is in the file after the next save.
    db_->save();
    const std::string file = Helper::getAllContentFile(Database::getFilePath("/onutable"));
    EXPECT_NE(file.find(R"("qvCfgONUName":"flat 3","qvCfgONUVlanId":"300")"), std::string::npos) << file;
}

TEST_F(ManagerApiTest, OnuVlanWithoutSlotQueuesNothing) {
    const uint64_t id = addOnu("00:11:22:33:44:66", "");
    EXPECT_EQ(api("set", "/onutable/" + std::to_string(id), R"({"qvCfgONUVlanId":"12"})").err, "");
    EXPECT_EQ(value("/onutable", id, "qvCfgONUVlanId"), "12");
    EXPECT_TRUE(takeTasks().empty());
}

TEST_F(ManagerApiTest, OltChangeQueuesConfigBeforeVlan) {
    EXPECT_EQ(api("set", "/olttable/2", R"({"qvCfgOLTPON1VlanId":"200"})").err, "");
    takeTasks();
    // Only the discard flag of port 1 changes: one task carrying port 1's current VLAN.
    EXPECT_EQ(api("set", "/olttable/2", R"({"qvCfgOLTPON1DisUntagged":"1"})").err, "");
    EXPECT_EQ(
        takeTasks(),
        (std::vector<Task>{
            {"/olt/vlan", R"({"discard_untagged":"1","id":"0","pon_number":"1","slot_id":"2","vlan_id":"200"})"}}));

    EXPECT_EQ(api("set", "/olttable/2", R"({"qvCfgOLTPON0VlanId":"100","qvCfgOLTIpAddress":"10.1.1.2"})").err, "");
    EXPECT_EQ(takeTasks(),
              (std::vector<Task>{
                  {"/olt/config", R"({"id":"0","ip_address":"10.1.1.2","slot_id":"2"})"},
                  {"/olt/vlan", R"({"discard_untagged":"","id":"0","pon_number":"0","slot_id":"2","vlan_id":"100"})"},
              }));
    // A key that is not part of the card configuration: no task.
    EXPECT_EQ(api("set", "/olttable/2", R"({"qvCfgOLTName":"rack"})").err, "");
    EXPECT_TRUE(takeTasks().empty());
    EXPECT_TRUE(db_->getMapUriTable().at("/olttable")->getHasJsonFileModified());
    // Other tables change without tasks.
    EXPECT_EQ(api("set", "/slottable/4", R"({"qvSlotSet":"1"})").err, "");
    EXPECT_EQ(value("/slottable", 4, "qvSlotSet"), "1");
    EXPECT_TRUE(takeTasks().empty());
}

TEST_F(ManagerApiTest, ActionsPassThrough) {
    EXPECT_EQ(api("set", "/slot/reset", R"({"slot_id":"2"})").err, "");
    EXPECT_EQ(takeTasks(), (std::vector<Task>{{"/slot/reset", R"({"slot_id":"2"})"}}));

    // Removing an ONU nobody knows is still passed on.
    EXPECT_EQ(api("set", "/slot/onu/remove", R"({"slot_id":"3","mac_address":"aa:aa:aa:aa:aa:aa"})").err, "");
    EXPECT_EQ(takeTasks().size(), 1u);

    const uint64_t keep = addOnu("00:11:22:33:44:01", "3");
    const uint64_t gone = addOnu("00:11:22:33:44:02", "3");
    EXPECT_EQ(api("set", "/slot/onu/remove", R"({"slot_id":"3","mac_address":"00:11:22:33:44:02"})").err, "");
    EXPECT_EQ(takeTasks(),
              (std::vector<Task>{{"/slot/onu/remove", R"({"slot_id":"3","mac_address":"00:11:22:33:44:02"})"}}));
    EXPECT_EQ(value("/onutable", gone, "qvCfgONUPhysicalID"), "<none>");
    EXPECT_EQ(value("/onutable", keep, "qvCfgONUPhysicalID"), "00:11:22:33:44:01");
    EXPECT_EQ(value("/moduleonutable", 2, "qvOpticModuleOnuPhysicalID"), "<none>");
    EXPECT_EQ(value("/moduleonutable", 1, "qvOpticModuleOnuPhysicalID"), "00:11:22:33:44:01");
    EXPECT_EQ(api("get", "/onutable").data.find("00:11:22:33:44:02"), std::string::npos);
    EXPECT_EQ(api("get", "/moduleonutable").data.find("00:11:22:33:44:02"), std::string::npos);
    // A remove without a MAC address must not delete the rows whose MAC is empty.
    addOnu("", "3");
    EXPECT_EQ(api("set", "/slot/onu/remove", R"({"slot_id":"3"})").err, "");
    EXPECT_EQ(value("/onutable", 3, "qvCfgONUPhysicalID"), "");

    sinkAccepts_ = false;
    EXPECT_EQ(api("set", "/slot/enable", R"({"slot_id":"1"})").err, "Impossible to send this task");
}

TEST_F(ManagerApiTest, SettingsChanges) {
    RwLockTable* alarms = db_->getMapUriTable().at("/oltalarmtable");
    alarms->setHasModified(false);
    // A refused member does not stop the others: the time zone is stored and, as alarm times
    // are shown in it, the alarm text is rebuilt.
    EXPECT_EQ(api("set", "/systeminfo", R"({"mgntIpAddr":"0.0.0.0","timezone":"2"})").err,
              "Invalid IPv4(0.0.0.0) for 'mgntIpAddr'");
    EXPECT_EQ(db_->getObjectFromUri("/systeminfo")->getValue("timezone"), "2");
    EXPECT_EQ(db_->getObjectFromUri("/systeminfo")->getValue("mgntIpAddr"), "192.168.0.88");
    EXPECT_TRUE(alarms->getHasModified());
    // Read-only keys are ignored without an error.
    EXPECT_EQ(api("set", "/systeminfo", R"({"fwVersion":"9"})").err, "");
    EXPECT_EQ(api("set", "/privatestore", R"({"wAdmUser":"admin"})").err, "");
    EXPECT_NE(api("get", "/privatestore").data.find(R"("wAdmUser":"admin")"), std::string::npos);
    EXPECT_TRUE(takeTasks().empty());
}

// The settings record of the test below: the next time the record is asked whether its file
// changed (which the request does between applying a change and answering it), a change from
// the other channel lands first.
class InterleavedInfo : public SystemInfo {
public:
    bool getHasJsonFileModified() const override {
        if (!otherChannelChange.empty()) {
            const std::string change = std::exchange(otherChannelChange, "");
            const_cast<InterleavedInfo*>(this)->SystemInfo::setJsonData(change, false);
        }
        return SystemInfo::getHasJsonFileModified();
    }
    mutable std::string otherChannelChange;
};

TEST_F(ManagerApiTest, RefusedSettingsChangeIsAnsweredWithItsOwnError) {
    auto* info = new InterleavedInfo();
    Container*& slot = db_->getMapUriObject()["/systeminfo"];
    delete slot;
    slot = info;
    info->otherChannelChange = R"({"webPort":"8080"})";
    EXPECT_EQ(api("set", "/systeminfo", R"({"mgntIpAddr":"10.0.0.256"})").err,
              "Invalid IPv4(10.0.0.256) for 'mgntIpAddr'");
    EXPECT_EQ(info->getValue("webPort"), "8080");  // the other change did land in between
    info->otherChannelChange = R"({"ntpServer":"x"})";
    EXPECT_EQ(api("set", "/systeminfo", R"({"webPort":"81"})").err, "");
}

}  // namespace
