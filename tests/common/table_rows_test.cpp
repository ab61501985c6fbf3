#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Exception.h"
#include "Helper.h"
#include "RwLockTable.h"
#include "TableRows.h"

namespace {

std::string compact(const Container& c) { return c.getJsonData(true, nullptr, 0); }

TEST(TableRows, FreshRowsPrintTheirKeysAndDefaults) {
    struct Case {
        const char* name;
        std::function<Container*()> make;
        bool modified;  // defaults applied through setValue
        const char* printed;
    };
    const Case cases[] = {
        {"olt", [] { return new OltTableRow(); }, true,
         R"({"id":"0","qVCfgOLTNvsEnabled":"1","qvCfgOLTApp1Version":"-","qvCfgOLTCtcDisable":"1",)"
         R"("qvCfgOLTIpAddress":"","qvCfgOLTMac":"-","qvCfgOLTMtu":"1500","qvCfgOLTName":"","qvCfgOLTOnu2Onu":"1",)"
         R"("qvCfgOLTPON0DisUntagged":"","qvCfgOLTPON0VlanId":"","qvCfgOLTPON1DisUntagged":"",)"
         R"("qvCfgOLTPON1VlanId":"","qvCfgOLTSlotIndex":""})"},
        {"onu", [] { return new OnuTableRow(); }, false,
         R"({"id":"0","qvCfgONUAlarm":"","qvCfgONUEnabled":"1","qvCfgONUGigabitStatus":"","qvCfgONUIndex":"",)"
         R"("qvCfgONULinkStatus":"","qvCfgONUName":"","qvCfgONUPhysicalID":"","qvCfgONUPonIndex":"",)"
         R"("qvCfgONUReset":"","qvCfgONUSlotIndex":"","qvCfgONUVlanId":""})"},
        {"slot", [] { return new SlotTableRow(); }, true,
         R"({"id":"0","qvSlotCardSN":"-","qvSlotCardType":"11","qvSlotIndex":"","qvSlotSet":"0","qvSlotStatus":"2"})"},
        {"olt module", [] { return new ModuleOltTableRow(); }, true,
         R"({"id":"0","qvOpticModuleOltPonIndex":"","qvOpticModuleOltSlotIndex":"","qvOpticModuleOltTemperature":"-",)"
         R"("qvOpticModuleOltTxBias":"-","qvOpticModuleOltTxPower":"-","qvOpticModuleOltVcc":"-"})"},
        {"onu module", [] { return new ModuleOnuTableRow(); }, false,
         R"({"id":"0","qvOpticModuleOnuIndex":"","qvOpticModuleOnuPhysicalID":"","qvOpticModuleOnuPonIndex":"",)"
         R"("qvOpticModuleOnuRxPower":"","qvOpticModuleOnuSlotIndex":"","qvOpticModuleOnuTemperature":"",)"
         R"("qvOpticModuleOnuTxBias":"","qvOpticModuleOnuTxPower":"","qvOpticModuleOnuVcc":""})"},
        {"alarm", [] { return new OltAlarmTableRow(); }, false,
         R"({"alarm":"","datetime":"","id":"0","label":"","slot_id":"","state":""})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Container> row(c.make());
        EXPECT_EQ(compact(*row), c.printed);
        EXPECT_EQ(row->getHasModified(), c.modified);
    }
}

TEST(OltTableRow, FileHoldsTheEightSavedKeysInOrder) {
    OltTableRow row;
    EXPECT_FALSE(row.getHasJsonFileModified());  // defaults are no change to the file
    row.setId(4);
    EXPECT_EQ(row.getJsonFile(),
              R"({"qvCfgOLTSlotIndex":"","qvCfgOLTName":"","qvCfgOLTIpAddress":"","qvCfgOLTPON0VlanId":"",)"
              R"("qvCfgOLTPON0DisUntagged":"","qvCfgOLTPON1VlanId":"","qvCfgOLTPON1DisUntagged":"",)"
              R"("qvCfgOLTOnu2Onu":"1"})");
}

TEST(OltTableRow, UpdateFlags) {
    struct Case {
        const char* name;
        const char* json;
        bool result;
        bool modified;
        bool fileModified;
        bool updateIp;
    };
    const Case cases[] = {
        {"unsaved key", R"({"qvCfgOLTMtu":"9000"})", true, true, false, false},
        {"saved key", R"({"qvCfgOLTName":"olt-3"})", true, true, true, false},
        {"ip address", R"({"qvCfgOLTIpAddress":"127.0.2.3"})", true, true, true, true},
        {"same value", R"({"qvCfgOLTOnu2Onu":"1"})", true, false, false, false},
        {"number ignored", R"({"qvCfgOLTIpAddress":3})", false, false, false, false},
        {"id without allowId", R"({"id":"9"})", false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OltTableRow row;
        row.clearHasModified();
        EXPECT_EQ(row.setJsonData(c.json, false), c.result);
        EXPECT_EQ(row.getHasModified(), c.modified);
        EXPECT_EQ(row.getHasJsonFileModified(), c.fileModified);
        EXPECT_EQ(row.getHasUpdateIpAddress(), c.updateIp);
    }
    OltTableRow row;
    row.setJsonData(R"({"qvCfgOLTIpAddress":"127.0.2.3"})", false);
    // The next update, even one that is not an object, forgets the IP change.
    EXPECT_FALSE(row.setJsonData("[]", false));
    EXPECT_FALSE(row.getHasUpdateIpAddress());
    EXPECT_TRUE(row.getHasJsonFileModified());
    row.clearHasJsonFileModified();
    EXPECT_FALSE(row.getHasJsonFileModified());
    EXPECT_TRUE(row.getHasModified());
    EXPECT_THROW(row.setJsonData("{", false), Exception);
}

TEST(OltTableRow, VlanSetFlagPerPort) {
    OltTableRow row;
    row.setHasVlanSet(1, true);
    row.setHasVlanSet(2, true);  // no such port: ignored
    EXPECT_FALSE(row.getHasVlanSet(0));
    EXPECT_TRUE(row.getHasVlanSet(1));
    EXPECT_FALSE(row.getHasVlanSet(2));
    EXPECT_FALSE(row.getHasVlanSet(-1));
    row.initDefaultValues();
    EXPECT_FALSE(row.getHasVlanSet(1));
}

TEST(OnuTableRow, FileKeysAndFlags) {
    OnuTableRow row;
    EXPECT_FALSE(row.getHasJsonFileModified());
    EXPECT_EQ(row.getJsonFile(),
              R"({"qvCfgONUPhysicalID":"","qvCfgONUName":"","qvCfgONUVlanId":"","qvCfgONUSlotIndex":"",)"
              R"("qvCfgONUPonIndex":"","qvCfgONUIndex":"","qvCfgONUEnabled":"1"})");
    EXPECT_TRUE(row.getIsTrafficEnabled());

    EXPECT_TRUE(row.setJsonData(R"({"qvCfgONULinkStatus":"1","qvCfgONUAlarm":"los"})", false));
    EXPECT_TRUE(row.getHasModified());
    EXPECT_FALSE(row.getHasJsonFileModified());

    EXPECT_TRUE(row.setJsonData(R"({"qvCfgONUEnabled":"0"})", false));
    EXPECT_TRUE(row.getHasJsonFileModified());
    EXPECT_FALSE(row.getIsTrafficEnabled());
    row.clearHasJsonFileModified();
    EXPECT_FALSE(row.getHasJsonFileModified());

    row.setHasVlanSet(true);
    EXPECT_TRUE(row.getHasVlanSet());
}

TEST(OltAlarmTableRow, DateTimeIsShownInTheConfiguredZone) {
    OltAlarmTableRow row;
    row.setValue("datetime", "07/12/2026 23:30:00", true);
    const std::string keys[] = {"datetime"};
    struct Case {
        int offset;
        const char* shown;
    };
    for (const Case c :
         {Case{3, "08/12/2026 02:30:00"}, Case{0, "07/12/2026 23:30:00"}, Case{-2, "07/12/2026 21:30:00"}}) {
        SCOPED_TRACE(c.offset);
        GL_TIMEZONE_VALUE.store(c.offset);
        const std::string shown = c.shown;
        EXPECT_EQ(row.getValue("datetime"), shown);
        EXPECT_EQ(row.getJsonData(true, keys, 1), R"({"datetime":")" + shown + R"("})");
        EXPECT_EQ(row.getJsonFile(),
                  R"({"alarm":"","datetime":")" + shown + R"(","id":"0","label":"","slot_id":"","state":""})");
    }
    GL_TIMEZONE_VALUE.store(5);
    OltAlarmTableRow empty;
    EXPECT_EQ(empty.getValue("datetime"), "");  // nothing stored yet: nothing to shift
    EXPECT_THROW(empty.getValue("speed"), Exception);
    GL_TIMEZONE_VALUE.store(0);
}

// ---- RwLockTable ----

Container* rowWithId(uint64_t id) {
    auto* row = new SlotTableRow();
    row->setNewValue("id", std::to_string(id));
    return row;
}

TEST(RwLockTable, FreshTableIsAnEmptyArray) {
    RwLockTable table;
    table.readLock();
    EXPECT_EQ(table.toJson(), "[]");
    EXPECT_EQ(table.toJsonFile(), "[]");
    EXPECT_EQ(table.getCachedJson(), "[]");
    EXPECT_TRUE(table.getAll().empty());
    table.unlock();
    EXPECT_FALSE(table.getHasModified());
    EXPECT_FALSE(table.getHasJsonFileModified());
}

TEST(RwLockTable, IndexesOnlyGrow) {
    RwLockTable table;
    table.writeLock();
    Container* first = rowWithId(0);
    table.addNew(first, false);
    EXPECT_EQ(first->getId(), 1u);
    table.addNew(rowWithId(10), false);
    Container* next = rowWithId(0);
    table.addNew(next, false);
    EXPECT_EQ(next->getId(), 11u);
    Container* renumbered = rowWithId(5);
    table.addNew(renumbered, true);
    EXPECT_EQ(renumbered->getId(), 12u);
    table.addNew(rowWithId(3), false);  // an adopted lower id does not lower the counter
    EXPECT_EQ(table.getNewIndex(), 13u);

    std::vector<uint64_t> ids;
    for (Container* row : table.getAll()) ids.push_back(row->getId());
    EXPECT_EQ(ids, (std::vector<uint64_t>{1, 3, 10, 11, 12}));

    EXPECT_EQ(table.getFromId(10)->getId(), 10u);
    EXPECT_EQ(table.getFromId(2), nullptr);
    table.delFromId(2);
    table.delFromId(10);
    EXPECT_EQ(table.getFromId(10), nullptr);
    EXPECT_EQ(table.getAll().size(), 4u);

    table.buildCachedJson();
    table.clearAll();
    EXPECT_EQ(table.getCachedJson(), "[]");
    Container* after = rowWithId(0);
    table.addNew(after, false);
    EXPECT_EQ(after->getId(), 13u);
    table.unlock();
}

TEST(RwLockTable, SecondRowUnderOneIndexReplacesTheFirst) {
    // The replaced row is deleted, not leaked (the leak checker of the address build sees it).
    RwLockTable table;
    table.writeLock();
    table.addNew(rowWithId(4), false);
    Container* second = rowWithId(4);
    second->setValue("qvSlotCardSN", "SN2", true);
    table.addNew(second, false);
    table.addNew(second, false);  // the same row again changes nothing
    EXPECT_EQ(table.getAll().size(), 1u);
    EXPECT_EQ(table.getFromId(4)->getValue("qvSlotCardSN"), "SN2");
    table.addNew(nullptr, true);
    EXPECT_EQ(table.getAll().size(), 1u);
    table.unlock();
}

TEST(RwLockTable, RunsOutOfIndexesWithAClearMessage) {
    RwLockTable table;
    table.writeLock();
    table.addNew(rowWithId(UINT64_MAX), false);
    std::unique_ptr<Container> row(rowWithId(0));
    try {
        table.addNew(row.get(), false);
        ADD_FAILURE() << "no Exception raised";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Impossible to allocate new index, please do the reset factory.");
        EXPECT_EQ(std::string(e.what()).rfind("getNewIndex[", 0), 0u);
    }
    EXPECT_EQ(table.getAll().size(), 1u);  // the refused row stays ours (freed by unique_ptr)
    table.unlock();
}

TEST(RwLockTable, JsonTextsAndFlags) {
    RwLockTable table;
    table.writeLock();
    auto* olt = new OltTableRow();
    olt->setValue("qvCfgOLTName", "a", true);
    table.addNew(olt, false);
    table.addNew(new ModuleOnuTableRow(), false);
    table.setHasModified(true);
    table.setHasJsonFileModified(true);
    const std::string json = table.toJson();
    EXPECT_EQ(json.substr(0, 2), "[{");
    EXPECT_NE(json.find(R"("id":"1")"), std::string::npos);
    EXPECT_NE(json.find(R"(},{"id":"2","qvOpticModuleOnuIndex")"), std::string::npos);
    EXPECT_EQ(table.toJsonFile(), "[" + olt->getJsonFile() + "," + table.getFromId(2)->getJsonFile() + "]");
    EXPECT_EQ(table.getCachedJson(), "[]");
    table.buildCachedJson();
    EXPECT_EQ(table.getCachedJson(), json);
    EXPECT_FALSE(table.getHasModified());
    EXPECT_TRUE(table.getHasJsonFileModified());

    testing::internal::CaptureStdout();
    table.dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[1] : " + compact(*olt) + "\n[2] : " + compact(*table.getFromId(2)) + "\n");
    table.unlock();
}

// A rebuild prints again only the rows that changed; whatever happened to the rows (changed
// through any path, deleted, replaced under their index, added), the ready text is the whole
// table as it stands, the same as printing every row.
TEST(RwLockTable, RebuildKeepsTheTextsOfUnchangedRows) {
    RwLockTable table;
    table.writeLock();
    for (int i = 0; i < 5; ++i) table.addNew(new OnuTableRow(), false);
    struct Step {
        const char* name;
        std::function<void()> change;
    };
    const Step steps[] = {
        {"first build", [] {}},
        {"setValue", [&] { table.getFromId(2)->setValue("qvCfgONUName", "two", true); }},
        {"setJsonData", [&] { table.getFromId(3)->setJsonData(R"({"qvCfgONUVlanId":"30"})", false); }},
        {"delete", [&] { table.delFromId(1); }},
        {"replace under the same index",
         [&] {
             auto* other = new OnuTableRow();
             other->setNewValue("id", "4");
             table.addNew(other, false);
         }},
        {"add", [&] { table.addNew(new OnuTableRow(), false); }},
        {"change after an unchanged rebuild", [&] { table.getFromId(6)->setValue("qvCfgONUName", "six", true); }},
        {"clear", [&] { table.clearAll(); }},
        {"add to an empty table", [&] { table.addNew(new OnuTableRow(), false); }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        table.buildCachedJson();
        EXPECT_EQ(table.getCachedJson(), table.toJson());
    }
    table.unlock();
}

// How alarm rows print depends on the time zone, which changes no row: until their texts
// are forgotten a rebuild keeps the old zone.
TEST(RwLockTable, ForgottenRowTextsArePrintedAgain) {
    GL_TIMEZONE_VALUE.store(0);
    RwLockTable table;
    table.writeLock();
    auto* alarm = new OltAlarmTableRow();
    alarm->setValue("datetime", "07/12/2026 23:30:00", true);
    table.addNew(alarm, false);
    table.buildCachedJson();
    GL_TIMEZONE_VALUE.store(3);
    table.buildCachedJson();
    EXPECT_NE(table.getCachedJson().find("07/12/2026 23:30:00"), std::string::npos);
    table.forgetRowTexts();
    table.buildCachedJson();
    EXPECT_NE(table.getCachedJson().find("08/12/2026 02:30:00"), std::string::npos);
    table.unlock();
    GL_TIMEZONE_VALUE.store(0);
}

TEST(RwLockTable, WaitForNewCachedJsonReturnsOnceTheCacheIsRebuilt) {
    RwLockTable table;
    // A budget far beyond any test time-out: only the rebuild can end this wait.
    table.setCachedJsonWaitForTest(std::chrono::milliseconds(1), 100000000);
    table.setHasModified(true);
    std::atomic<bool> waiting{false};
    std::thread worker([&] {
        while (!waiting.load()) std::this_thread::yield();
        table.writeLock();
        table.addNew(new SlotTableRow(), false);
        table.buildCachedJson();
        table.unlock();
    });
    waiting.store(true);
    table.waitForNewCachedJson();
    worker.join();
    table.readLock();
    EXPECT_NE(table.getCachedJson(), "[]");
    table.unlock();
}

TEST(RwLockTable, WaitForNewCachedJsonGivesUpAfterItsBudget) {
    RwLockTable table;
    table.setCachedJsonWaitForTest(std::chrono::milliseconds(1), 3);
    table.setHasModified(true);
    table.waitForNewCachedJson();  // nobody rebuilds: returns when the budget is spent
    EXPECT_TRUE(table.getHasModified());
}

TEST(RwLockTable, ReadersAndAWriterUnderTheTableLock) {
    RwLockTable table;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {
            table.writeLock();
            Container* row = new OnuTableRow();
            table.addNew(row, false);
            row->setJsonData(R"({"qvCfgONUName":"n"})", false);
            if (i % 3 == 0) table.delFromId(row->getId());
            table.setHasModified(true);
            table.buildCachedJson();
            table.unlock();
        }
        done.store(true);
    });
    std::thread reader([&] {
        while (!done.load()) {
            table.readLock();
            const std::string cached = table.getCachedJson();
            for (Container* row : table.getAll()) (void)row->getValue("qvCfgONUName");
            table.unlock();
            EXPECT_EQ(cached.front(), '[');
        }
    });
    writer.join();
    reader.join();
    table.readLock();
    EXPECT_EQ(table.getAll().size(), 66u);
    table.unlock();
}

}  // namespace
