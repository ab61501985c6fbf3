// The database in-process, over a temporary root: seeding, loading (and deleting what does
// not load), the save that only writes what changed and never leaves a torn file, and the
// backup archive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "Database.h"
#include "Exception.h"
#include "Helper.h"
#include "OnuLink.h"
#include "Paths.h"
#include "TableRows.h"

namespace {

class TempRoot {
public:
    TempRoot() {
        char pattern[] = "/tmp/haldb.XXXXXX";
        root_ = mkdtemp(pattern);
        setenv("PONMC_ROOT", root_.c_str(), 1);
    }
    ~TempRoot() {
        std::system(("rm -rf '" + root_ + "'").c_str());
        unsetenv("PONMC_ROOT");
    }
    static void write(const std::string& absolute, const std::string& text) {
        std::system(("mkdir -p \"$(dirname '" + Paths::resolve(absolute) + "')\"").c_str());
        std::ofstream(Paths::resolve(absolute), std::ios::binary) << text;
    }

private:
    std::string root_;
};

bool exists(const std::string& absolute) {
    struct stat st;
    return stat(Paths::resolve(absolute).c_str(), &st) == 0;
}

class DatabaseTest : public ::testing::Test {
protected:
    std::unique_ptr<Database> start() {
        auto db = std::make_unique<Database>();
        db->init();
        return db;
    }
    static RwLockTable* table(Database& db, const std::string& uri) { return db.getMapUriTable().at(uri); }
    static std::string value(Database& db, const std::string& uri, uint64_t id, const std::string& key) {
        RwLockTable* t = table(db, uri);
        Database::TableLock lock(t, false);
        Container* row = t->getFromId(id);
        return row == nullptr ? "<none>" : row->getValue(key);
    }
    static size_t rows(Database& db, const std::string& uri) {
        RwLockTable* t = table(db, uri);
        Database::TableLock lock(t, false);
        return t->getAll().size();
    }

    TempRoot root_;
};

TEST_F(DatabaseTest, FirstStartSeedsTheChassis) {
    auto db = start();
    ASSERT_EQ(rows(*db, "/slottable"), 8u);
    ASSERT_EQ(rows(*db, "/moduleolttable"), 16u);
    ASSERT_EQ(rows(*db, "/olttable"), 8u);
    EXPECT_EQ(rows(*db, "/onutable"), 0u);
    EXPECT_EQ(rows(*db, "/moduleonutable"), 0u);
    EXPECT_EQ(rows(*db, "/oltalarmtable"), 0u);
    // The notification handlers address these rows by slot and port arithmetic.
    for (int s = 1; s <= 8; ++s) {
        EXPECT_EQ(value(*db, "/slottable", s, "qvSlotIndex"), std::to_string(s));
        EXPECT_EQ(value(*db, "/slottable", s, "qvSlotStatus"), "2");
        EXPECT_EQ(value(*db, "/olttable", s, "qvCfgOLTSlotIndex"), std::to_string(s));
        for (int p = 1; p <= 2; ++p) {
            const uint64_t id = 2 * (s - 1) + p;
            EXPECT_EQ(value(*db, "/moduleolttable", id, "qvOpticModuleOltSlotIndex"), std::to_string(s));
            EXPECT_EQ(value(*db, "/moduleolttable", id, "qvOpticModuleOltPonIndex"), std::to_string(p));
            EXPECT_EQ(value(*db, "/moduleolttable", id, "qvOpticModuleOltTxPower"), "-");
        }
    }
    EXPECT_TRUE(exists("/mnt/db/json"));
    // Ready texts exist from the start, so the first read needs no cycle of the worker.
    RwLockTable* olt = table(*db, "/olttable");
    Database::TableLock lock(olt, false);
    EXPECT_EQ(olt->getCachedJson(), olt->toJson());
    EXPECT_NE(olt->getCachedJson().find("\"qvCfgOLTSlotIndex\":\"8\""), std::string::npos);
}

TEST_F(DatabaseTest, OltFileDecidesTheOltRows) {
    TempRoot::write(
        "/mnt/db/json/olttable.json",
        R"([{"qvCfgOLTSlotIndex":"5","qvCfgOLTName":"east"},{"qvCfgOLTSlotIndex":"2","qvCfgOLTName":"west"}])");
    {
        auto db = start();
        ASSERT_EQ(rows(*db, "/olttable"), 2u);
        EXPECT_EQ(value(*db, "/olttable", 1, "qvCfgOLTName"), "east");
        EXPECT_EQ(value(*db, "/olttable", 2, "qvCfgOLTName"), "west");
        EXPECT_EQ(value(*db, "/olttable", 1, "qvCfgOLTMtu"), "1500");  // unsaved keys keep defaults
    }
    // An empty file still exists: no default rows either.
    TempRoot::write("/mnt/db/json/olttable.json", "");
    auto db = start();
    EXPECT_EQ(rows(*db, "/olttable"), 0u);
}

TEST_F(DatabaseTest, FileThatDoesNotLoadIsDeleted) {
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"not json", "garbage{"},
        {"object instead of array", R"({"qvCfgONUPhysicalID":"aa"})"},
        {"array of non-objects", "[1,2,3]"},
        {"torn array", R"([{"qvCfgONUPhysicalID":"00:11:22:33:44:55"},{"qvCfgONUPhy)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempRoot::write("/mnt/db/json/onutable.json", c.text);
        TempRoot::write("/mnt/db/json/olttable.json", c.text);
        auto db = start();
        EXPECT_FALSE(exists("/mnt/db/json/onutable.json"));
        EXPECT_FALSE(exists("/mnt/db/json/olttable.json"));
        EXPECT_EQ(rows(*db, "/onutable"), 0u);
        // The OLT file is gone before the default test, so the chassis is seeded.
        EXPECT_EQ(rows(*db, "/olttable"), 8u);
    }
    for (const char* text : {"nonsense", "[1]", "7"}) {
        SCOPED_TRACE(text);
        TempRoot::write("/mnt/db/json/systeminfo.json", text);
        auto db = start();
        EXPECT_FALSE(exists("/mnt/db/json/systeminfo.json"));
        EXPECT_EQ(db->getObjectFromUri("/systeminfo")->getValue("webPort"), "80");
    }
}

TEST_F(DatabaseTest, SavedTablesAndRecordsComeBackAfterRestart) {
    {
        auto db = start();
        RwLockTable* onu = table(*db, "/onutable");
        {
            Database::TableLock lock(onu, true);
            db->addNewObjectInTable("/onutable",
                                    R"({"qvCfgONUPhysicalID":"00:11:22:33:44:55","qvCfgONUName":"flat 3",)"
                                    R"("qvCfgONUSlotIndex":"3","qvCfgONUPonIndex":"1","qvCfgONUIndex":"1",)"
                                    R"("qvCfgONULinkStatus":"1"})");
            onu->setHasJsonFileModified(true);
        }
        RwLockTable* olt = table(*db, "/olttable");
        {
            Database::TableLock lock(olt, true);
            olt->getFromId(4)->setValue("qvCfgOLTName", "rack 4", true);
            olt->setHasJsonFileModified(true);
        }
        db->getObjectFromUri("/systeminfo")->setJsonData(R"({"webPort":"8080"})", false);
        db->save();
        EXPECT_FALSE(onu->getHasJsonFileModified());
        EXPECT_FALSE(exists("/mnt/db/json/onutable.json~"));
    }
    auto db = start();
    ASSERT_EQ(rows(*db, "/onutable"), 1u);
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONUName"), "flat 3");
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONUIndex"), "1");
    // Live state is not saved.
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONULinkStatus"), "");
    ASSERT_EQ(rows(*db, "/olttable"), 8u);
    EXPECT_EQ(value(*db, "/olttable", 4, "qvCfgOLTName"), "rack 4");
    EXPECT_EQ(db->getObjectFromUri("/systeminfo")->getValue("webPort"), "8080");
    EXPECT_FALSE(db->getObjectFromUri("/systeminfo")->getHasJsonFileModified());
}

// The action flags are requests, not settings: a settings file that holds them set (a
// foreign or hand-made archive, an older card that saved the whole record) must not make
// the card reboot, wipe itself, restore or back up at every start. The settings it holds
// still load.
TEST_F(DatabaseTest, ActionFlagsInTheSettingsFileAreIgnored) {
    TempRoot::write(
        "/mnt/db/json/systeminfo.json",
        R"({"timezone":"2","webPort":"8080","reboot":"1","resetFactory":"1","restoreBackup":"1","backup":"1"})");
    testing::internal::CaptureStdout();
    auto db = start();
    const std::string printed = testing::internal::GetCapturedStdout();
    Container* info = db->getObjectFromUri("/systeminfo");
    for (const char* action : {"reboot", "resetFactory", "restoreBackup", "backup"}) {
        EXPECT_EQ(info->getValue(action), "0") << action;
        EXPECT_NE(printed.find(std::string("Action '") + action + "' in " + Database::getFilePath("/systeminfo") +
                               " ignored"),
                  std::string::npos)
            << printed;
    }
    EXPECT_EQ(info->getValue("timezone"), "2");
    EXPECT_EQ(info->getValue("webPort"), "8080");
    EXPECT_TRUE(exists("/mnt/db/json/systeminfo.json"));
}

TEST_F(DatabaseTest, UnchangedTableIsNotRewritten) {
    auto db = start();
    RwLockTable* olt = table(*db, "/olttable");
    olt->setHasJsonFileModified(true);
    db->save();
    const std::string path = Database::getFilePath("/olttable");
    struct stat first;
    ASSERT_EQ(stat(path.c_str(), &first), 0);

    // Flag not set: nothing happens. Flag set by a change that touched no saved key (as an
    // ONU status change does): the content is the same, so the file stays as it is too.
    db->save();
    {
        Database::TableLock lock(olt, true);
        olt->getFromId(1)->setValue("qvCfgOLTMac", "00:aa:bb:cc:dd:ee", true);
        olt->setHasJsonFileModified(true);
    }
    db->save();
    struct stat second;
    ASSERT_EQ(stat(path.c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
    EXPECT_EQ(first.st_mtim.tv_sec, second.st_mtim.tv_sec);
    EXPECT_EQ(first.st_mtim.tv_nsec, second.st_mtim.tv_nsec);

    // A saved key changes: a new file replaces the old one by rename (new inode).
    {
        Database::TableLock lock(olt, true);
        olt->getFromId(1)->setValue("qvCfgOLTName", "changed", true);
        olt->setHasJsonFileModified(true);
    }
    db->save();
    struct stat third;
    ASSERT_EQ(stat(path.c_str(), &third), 0);
    EXPECT_NE(first.st_ino, third.st_ino);
    EXPECT_NE(Helper::getAllContentFile(path).find("\"changed\""), std::string::npos);
}

TEST_F(DatabaseTest, SaveFailuresKeepTheFlag) {
    auto db = start();
    db->setSaveRetryDelayForTest(std::chrono::milliseconds(1));
    try {
        db->saveJsonToFile(Database::getFilePath("/olttable"), "");
        FAIL() << "empty text saved";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Impossible to save a empty data");
    }
    try {
        db->saveJsonToFile(Paths::resolve("/no/such/dir/x.json"), "[]");
        FAIL() << "saved into a missing folder";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Max tries to save database json file");
    }

    // Without the folder nothing is written and the change waits for the next cycle.
    std::system(("rm -rf '" + Paths::resolve("/mnt/db/json") + "'").c_str());
    RwLockTable* olt = table(*db, "/olttable");
    olt->setHasJsonFileModified(true);
    db->save();
    EXPECT_TRUE(olt->getHasJsonFileModified());
    EXPECT_FALSE(exists("/mnt/db/json/olttable.json"));
    // The folder is back (a restore or the next start): the pending change is written.
    std::system(("mkdir -p '" + Paths::resolve("/mnt/db/json") + "'").c_str());
    db->save();
    EXPECT_FALSE(olt->getHasJsonFileModified());
    EXPECT_TRUE(exists("/mnt/db/json/olttable.json"));
}

TEST_F(DatabaseTest, InsertedOnuRowsAreNewAndSaved) {
    auto db = start();
    OnuLink link("00:11:22:33:44:55");
    link.setSlotId("3");
    link.setPonPort("1");
    link.setOnlineStatus(true);
    link.setIsGigabit(true);
    link.setTemperature("41.5");
    EXPECT_EQ(db->insertOnuTable(&link), 1u);
    EXPECT_EQ(db->insertOnuTable(&link), 2u);
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONULinkStatus"), "1");
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONUGigabitStatus"), "1");
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONUReset"), "0");
    EXPECT_EQ(value(*db, "/onutable", 1, "qvCfgONUEnabled"), "1");
    EXPECT_TRUE(table(*db, "/onutable")->getHasJsonFileModified());
    EXPECT_EQ(db->insertModuleOnuTable(&link, "7"), 1u);
    EXPECT_EQ(value(*db, "/moduleonutable", 1, "qvOpticModuleOnuIndex"), "7");
    EXPECT_EQ(value(*db, "/moduleonutable", 1, "qvOpticModuleOnuTemperature"), "41.5");

    try {
        db->addNewObjectInTable("/nosuchtable", "{}");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "Table uri not exists: /nosuchtable");
    }
}

TEST_F(DatabaseTest, BackupThenRestoreBringsTheFilesBack) {
    auto db = start();
    // No archive: nothing runs, not even the folder creation.
    std::system(("rm -rf '" + Paths::resolve("/mnt/db/json") + "'").c_str());
    db->doRestore();
    EXPECT_FALSE(exists("/mnt/db/json"));

    TempRoot::write("/mnt/db/json/olttable.json", "[]");
    TempRoot::write("/mnt/db/json/systeminfo.json", R"({"webPort":"81"})");
    TempRoot::write("/tmp/placeholder", "");
    db->doBackup();
    ASSERT_TRUE(exists("/tmp/backupConfig.bin"));
    std::rename(Paths::resolve("/tmp/backupConfig.bin").c_str(), Paths::resolve("/tmp/restoreConfig.bin").c_str());
    std::system(("rm -rf '" + Paths::resolve("/mnt/db/json") + "'").c_str());
    db->doRestore();
    EXPECT_EQ(Helper::getAllContentFile(Paths::resolve("/mnt/db/json/olttable.json")), "[]");
    EXPECT_EQ(Helper::getAllContentFile(Paths::resolve("/mnt/db/json/systeminfo.json")), R"({"webPort":"81"})");
}

}  // namespace
