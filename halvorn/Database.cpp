#include "Database.h"

#include <malloc.h>
#include <sys/stat.h>

#include <cstdio>
#include <thread>

#include "Exception.h"
#include "Helper.h"
#include "JsonHelper.h"
#include "OnuLink.h"
#include "Paths.h"
#include "PrintException.h"
#include "PrivateStore.h"
#include "SafeFile.h"
#include "ShellRunner.h"
#include "SystemInfo.h"
#include "TableRows.h"
#include "Uris.h"

namespace {

const char* const kDbDir = Uris::kDbFolder;
const char* const kBackupArchive = "/tmp/backupConfig.bin";
const char* const kRestoreArchive = "/tmp/restoreConfig.bin";
// Only these tables have a file; the others are live state rebuilt after every start.
const char* const kPersistedTables[] = {Uris::kOnuTable, Uris::kOltTable};
const char* const kPersistedObjects[] = {Uris::kSystemInfo, Uris::kPrivateStore};
const int kMaxSaveTries = 10;

bool pathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isPersistedTable(const std::string& uri) {
    for (const char* u : kPersistedTables)
        if (uri == u) return true;
    return false;
}

void runShell(const std::string& command) { ShellRunner::run(command); }

}  // namespace

Database* Database::getInstance() {
    // Never destroyed: worker threads use the tables until the process ends.
    static Database* instance = new Database();
    return instance;
}

Database::Database() = default;

Database::~Database() {
    clearAllMapUriTable();
    clearAllMapUriObject();
}

std::string Database::getFilePath(const std::string& uri) {
    return Paths::resolve(std::string(kDbDir) + uri + ".json");
}

void Database::init() {
    try {
        createEmptyMapData();
        loadMapUriTable();
        loadMapUriObject();
        initDefaultData();
    } catch (const Exception& e) {
        printf("Exception: %s\n", e.what());
    } catch (...) {
        printf("Unknown exception\n");
    }
    fflush(stdout);
}

void Database::createEmptyMapData() {
    runShell("mkdir -p " + ShellRunner::shellPath(kDbDir));
    for (const char* uri : {Uris::kOnuTable, Uris::kOltTable, Uris::kSlotTable, Uris::kModuleOltTable,
                            Uris::kModuleOnuTable, Uris::kOltAlarmTable}) {
        if (tables_.count(uri) == 0) tables_[uri] = new RwLockTable();
    }
    for (const char* uri : kPersistedObjects) {
        if (objects_.count(uri) != 0) continue;
        Container* object = getNewObjectFromUri(uri, "");
        if (object != nullptr) objects_[uri] = object;
    }
}

namespace {

// Hands the text of a URI's file to load when the file holds anything. A file that load
// refuses (it throws) is printed under function and deleted: it would be refused at every
// start. What load applied before it threw stays.
template <typename Load>
void loadFile(const std::string& path, const char* function, Load load) {
    // A temporary file left by a save that was cut short never replaced the file.
    std::remove(SafeFile::temporaryPath(path).c_str());
    const std::string text = Helper::getAllContentFile(path);
    if (text.empty()) return;
    try {
        load(text);
    } catch (const Exception& e) {
        printException(function, __LINE__, e);
        std::remove(path.c_str());
    } catch (...) {
        printUnexpectedException(function, __LINE__);
        std::remove(path.c_str());
    }
}

}  // namespace

void Database::loadMapUriTable() {
    const char* const function = __func__;  // also inside the loader below
    for (const char* uri : kPersistedTables) {
        auto it = tables_.find(uri);
        if (it == tables_.end()) continue;
        RwLockTable* table = it->second;
        const std::string path = getFilePath(uri);
        loadFile(path, function, [&](const std::string& text) {
            JsonPtr array(JsonHelper::parseJArray(text));
            if (!cJSON_IsArray(array.get()))
                throw Exception("Invalid Json Array format in file " + path, function, __LINE__);
            // Every element must be a row object: an array of anything else is not ours, and
            // loading it would invent default rows.
            const cJSON* element = nullptr;
            cJSON_ArrayForEach(element, array.get()) {
                if (!cJSON_IsObject(element))
                    throw Exception("Invalid Json Array format in file " + path, function, __LINE__);
            }
            cJSON_ArrayForEach(element, array.get()) {
                Container* row = getNewObjectFromUri(uri, JsonHelper::toString(element, true));
                if (row == nullptr) continue;
                TableLock lock(table, true);
                try {
                    table->addNew(row, false);
                } catch (...) {
                    delete row;
                    throw;
                }
            }
        });
    }
}

void Database::loadMapUriObject() {
    const char* const function = __func__;  // also inside the loader below
    for (const char* uri : kPersistedObjects) {
        auto it = objects_.find(uri);
        if (it == objects_.end()) continue;
        Container* object = it->second;
        const std::string path = getFilePath(uri);
        loadFile(path, function, [&](const std::string& text) {
            // The settings record accepts any non-object as "nothing rejected"; a file that
            // is not an object is still garbage.
            JsonPtr json(JsonHelper::parseJObject(text));
            if (!cJSON_IsObject(json.get())) throw Exception("Invalid object type in file " + path, function, __LINE__);
            // Actions are asked for by a request, never by a file: a stored "1" would reboot
            // or wipe the card at every start.
            for (const std::string& action : SystemInfo::dropActionKeys(json.get()))
                printf("%s[%d]: Exception: Action '%s' in %s ignored\n", function, __LINE__, action.c_str(),
                       path.c_str());
            SystemInfo* settings = dynamic_cast<SystemInfo*>(object);
            const bool accepted =
                settings != nullptr ? settings->loadcJsonData(json.get()) : object->setcJsonData(json.get(), false);
            if (!accepted) throw Exception("Invalid object type in file " + path, function, __LINE__);
            object->clearHasJsonFileModified();
        });
    }
}

void Database::initDefaultData() {
    // Tested once, after a bad file has been deleted by the loader: no file, default rows.
    const bool oltFileExists = pathExists(getFilePath(Uris::kOltTable));
    SlotTableRow slot;
    ModuleOltTableRow module;
    OltTableRow olt;
    for (int s = 1; s <= 8; ++s) {
        const std::string index = std::to_string(s);
        slot.setValue("qvSlotIndex", index, true);
        addNewObjectInTable(Uris::kSlotTable, slot.getJsonData(true, nullptr, 0));
        module.setValue("qvOpticModuleOltSlotIndex", index, true);
        for (const char* pon : {"1", "2"}) {
            module.setValue("qvOpticModuleOltPonIndex", pon, true);
            addNewObjectInTable(Uris::kModuleOltTable, module.getJsonData(true, nullptr, 0));
        }
        if (!oltFileExists) {
            olt.setValue("qvCfgOLTSlotIndex", index, true);
            addNewObjectInTable(Uris::kOltTable, olt.getJsonData(true, nullptr, 0));
        }
    }
    buildAllTableCachedJson(true);
}

Container* Database::getObjectFromUri(const std::string& uri) {
    auto it = objects_.find(uri);
    return it == objects_.end() ? nullptr : it->second;
}

Container* Database::getNewObjectFromUri(const std::string& uri, const std::string& json) {
    Container* object = nullptr;
    if (uri == Uris::kOnuTable) object = new OnuTableRow();
    else if (uri == Uris::kOltTable) object = new OltTableRow();
    else if (uri == Uris::kSlotTable) object = new SlotTableRow();
    else if (uri == Uris::kModuleOltTable) object = new ModuleOltTableRow();
    else if (uri == Uris::kModuleOnuTable) object = new ModuleOnuTableRow();
    else if (uri == Uris::kOltAlarmTable) object = new OltAlarmTableRow();
    else if (uri == Uris::kSystemInfo) object = new SystemInfo();
    else if (uri == Uris::kPrivateStore) object = new PrivateStore();
    else return nullptr;
    if (!json.empty()) {
        try {
            object->setJsonData(json, false);
        } catch (...) {
            delete object;
            throw;
        }
    }
    return object;
}

Container* Database::addNewObjectInTable(const std::string& uri, const std::string& json) {
    auto it = tables_.find(uri);
    if (it == tables_.end()) throw Exception("Table uri not exists: " + uri, __func__, __LINE__);
    Container* row = getNewObjectFromUri(uri, json);
    if (row == nullptr) throw Exception("Impossible to add new object in table: " + uri, __func__, __LINE__);
    try {
        it->second->addNew(row, true);
    } catch (...) {
        delete row;  // addNew leaves the row with us when no index is left
        throw;
    }
    it->second->setHasModified(true);
    return row;
}

uint64_t Database::insertOnuTable(OnuLink* link) {
    try {
        OnuTableRow onu;
        onu.setValue("qvCfgONUSlotIndex", link->getSlotId(), true);
        onu.setValue("qvCfgONUPonIndex", link->getPonPort(), true);
        onu.setValue("qvCfgONUIndex", "", true);
        onu.setValue("qvCfgONUName", "", true);
        onu.setValue("qvCfgONUPhysicalID", link->getMacAddress(), true);
        onu.setValue("qvCfgONULinkStatus", link->getOnlineStatus() ? "1" : "2", true);
        onu.setValue("qvCfgONUReset", "0", true);
        onu.setValue("qvCfgONUAlarm", "", true);
        onu.setValue("qvCfgONUGigabitStatus", link->getIsGigabit() ? "1" : "0", true);
        const std::string json = onu.getJsonData(true, nullptr, 0);
        RwLockTable* table = tables_.at(Uris::kOnuTable);
        TableLock lock(table, true);
        const uint64_t id = addNewObjectInTable(Uris::kOnuTable, json)->getId();
        table->setHasModified(true);
        // A new row of a saved table must reach the file even when the report that created
        // it changes nothing else.
        table->setHasJsonFileModified(true);
        return id;
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    } catch (...) {
        printUnexpectedException(__func__, __LINE__);
    }
    return 0;
}

uint64_t Database::insertModuleOnuTable(OnuLink* link, const std::string& onuIndex) {
    try {
        ModuleOnuTableRow module;
        module.setValue("qvOpticModuleOnuSlotIndex", link->getSlotId(), true);
        module.setValue("qvOpticModuleOnuPonIndex", link->getPonPort(), true);
        module.setValue("qvOpticModuleOnuIndex", onuIndex, true);
        module.setValue("qvOpticModuleOnuTxPower", link->getTxPowerOutput(), true);
        module.setValue("qvOpticModuleOnuRxPower", link->getTxPowerInput(), true);
        module.setValue("qvOpticModuleOnuVcc", link->getSupplyVoltage(), true);
        module.setValue("qvOpticModuleOnuTxBias", link->getTxBiasCurrent(), true);
        module.setValue("qvOpticModuleOnuTemperature", link->getTemperature(), true);
        module.setValue("qvOpticModuleOnuPhysicalID", link->getMacAddress(), true);
        const std::string json = module.getJsonData(true, nullptr, 0);
        RwLockTable* table = tables_.at(Uris::kModuleOnuTable);
        TableLock lock(table, true);
        const uint64_t id = addNewObjectInTable(Uris::kModuleOnuTable, json)->getId();
        table->setHasModified(true);
        return id;
    } catch (const Exception& e) {
        printException(__func__, __LINE__, e);
    } catch (...) {
        printUnexpectedException(__func__, __LINE__);
    }
    return 0;
}

void Database::save() {
    if (!isDirectory(Paths::resolve(kDbDir))) return;
    for (auto& [uri, table] : tables_) {
        if (!isPersistedTable(uri) || !table->getHasJsonFileModified()) continue;
        try {
            std::string text;
            {
                // The flag is cleared together with the copy: a change made after the copy
                // sets it again under the write lock, so nothing slips between the two. The
                // slow part, the write itself, runs without the lock so the request and
                // notification threads are not held up by the disk.
                TableLock lock(table, false);
                text = table->toJsonFile();
                table->setHasJsonFileModified(false);
            }
            try {
                saveIfChanged(getFilePath(uri), text);
            } catch (...) {
                table->setHasJsonFileModified(true);
                throw;
            }
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
        } catch (...) {
            printUnexpectedException(__func__, __LINE__);
        }
    }
    for (auto& [uri, object] : objects_) {
        // A record has no way to raise its flag again, so a failed write is remembered here.
        if (!object->getHasJsonFileModified() && objectsToRetry_.count(uri) == 0) continue;
        try {
            object->clearHasJsonFileModified();
            objectsToRetry_.insert(uri);
            saveIfChanged(getFilePath(uri), object->getJsonFile());
            objectsToRetry_.erase(uri);
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
        } catch (...) {
            printUnexpectedException(__func__, __LINE__);
        }
    }
    fflush(stdout);
}

void Database::saveIfChanged(const std::string& path, const std::string& text) {
    // Status changes of ONUs raise the file flag although no saved key changed; the file
    // is rewritten only when its content would differ.
    if (!text.empty() && Helper::getAllContentFile(path) == text) return;
    saveJsonToFile(path, text);
}

void Database::saveJsonToFile(const std::string& path, const std::string& text) {
    if (text.empty()) throw Exception("Impossible to save a empty data", __func__, __LINE__);
    // The table file itself is only ever replaced by a rename, so after a crash or power
    // loss at any point it holds either the old or the new complete text.
    const std::string temporary = SafeFile::temporaryPath(path);
    bool written = false;
    for (int attempt = 0; attempt < kMaxSaveTries && !written; ++attempt) {
        bool opened = false;
        const bool synced = SafeFile::writeAndSync(temporary, text, opened);
        if (!opened) {
            std::this_thread::sleep_for(saveRetryDelay_);
            continue;
        }
        written = synced && Helper::getAllContentFile(temporary) == text;
    }
    if (!written) throw Exception("Max tries to save database json file", __func__, __LINE__);
    SafeFile::commit(temporary, path);
}

void Database::buildAllTableCachedJson(bool force) {
    for (auto& [uri, table] : tables_) {
        if (!force && !table->getHasModified()) continue;
        try {
            TableLock lock(table, true);
            table->buildCachedJson();
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
        } catch (...) {
            printUnexpectedException(__func__, __LINE__);
        }
    }
    // Serialising and parsing whole tables (here and for every read's response) leaves large
    // freed blocks in the allocator's per-thread arenas; once a cycle they are handed back,
    // so the daemon's footprint follows its tables rather than its busiest moment.
    malloc_trim(0);
}

void Database::setAllValueOfTable(const std::string& uri, const std::string& key, const std::string& value) {
    auto it = tables_.find(uri);
    if (it == tables_.end()) throw Exception("Table uri not exists: " + uri, __func__, __LINE__);
    RwLockTable* table = it->second;
    TableLock lock(table, true);
    for (uint64_t id = 1; id <= 8; ++id) {
        Container* row = table->getFromId(id);
        if (row != nullptr && row->hasKey(key) && row->getValue(key) != value) row->setValue(key, value, true);
    }
    table->setHasModified(true);
}

void Database::doBackup() {
    runShell("tar -cf " + ShellRunner::shellPath(kBackupArchive) + " -C " + ShellRunner::shellPath(kDbDir) + " .");
}

void Database::doRestore() {
    if (!pathExists(Paths::resolve(kRestoreArchive))) return;
    const std::string dir = ShellRunner::shellPath(kDbDir);
    runShell("mkdir -p " + dir);
    runShell("tar -xf " + ShellRunner::shellPath(kRestoreArchive) + " -C " + dir + " .");
    runShell("sync;sync;sync;");
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

void Database::dump() {
    printf("Tables:\n");
    for (auto& [uri, table] : tables_) {
        printf("URI: %s\n", uri.c_str());
        {
            TableLock lock(table, false);
            table->dump();
        }
        printf("\n");
    }
    printf("Objects:\n");
    for (auto& [uri, object] : objects_) {
        printf("URI: %s\n", uri.c_str());
        printf("%s\n", object->getJsonData(true, nullptr, 0).c_str());
        printf("\n");
    }
    fflush(stdout);
}

void Database::clearAllMapUriTable() {
    for (auto& kv : tables_) delete kv.second;
    tables_.clear();
}

void Database::clearAllMapUriObject() {
    for (auto& kv : objects_) delete kv.second;
    objects_.clear();
}
