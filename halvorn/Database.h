#pragma once
// The store of the daemon: six tables and two settings records, each under its URI, loaded
// from and saved to "/mnt/db/json/<uri>.json" (ONU and OLT tables and the two records only).
// Owns every table and record; the maps never change shape after init(), so callers may keep
// references to them and look entries up from any thread. Rows are guarded by their table's
// lock (table before row, one table at a time); the records by their own lock.
// Throws Exception: "Table uri not exists: <uri>", "Impossible to add new object in table:
// <uri>", "Impossible to save a empty data", "Max tries to save database json file",
// "Impossible to rename <tmp>: <why>", and the table/row errors. save(), the loaders and init() print failures and
// carry on.

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "Container.h"
#include "RwLockTable.h"

class OnuLink;

class Database {
public:
    using TableMap = std::map<std::string, RwLockTable*>;
    using ObjectMap = std::map<std::string, Container*>;

    // Holds a table's read or write lock for one scope, so every throw path unlocks.
    class TableLock {
    public:
        TableLock(RwLockTable* table, bool write) : table_(table) {
            if (write) table_->writeLock();
            else table_->readLock();
        }
        ~TableLock() { table_->unlock(); }
        TableLock(const TableLock&) = delete;
        TableLock& operator=(const TableLock&) = delete;

    private:
        RwLockTable* table_;
    };

    // The process-wide instance, created on first call (maps empty until init()).
    static Database* getInstance();

    // A test may build its own instance; PONMC_ROOT decides where its files live.
    Database();
    virtual ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Creates the maps, loads the files (a file that does not load is deleted), seeds the
    // chassis defaults and builds every ready JSON text. Runs once, before any worker thread.
    void init();

    TableMap& getMapUriTable() { return tables_; }
    ObjectMap& getMapUriObject() { return objects_; }

    // The record under the URI ("/systeminfo", "/privatestore"), or nullptr.
    Container* getObjectFromUri(const std::string& uri);
    // A new row or record of the URI's class, with setJsonData(json, false) applied when the
    // text is not empty (result ignored); nullptr for an unknown URI. The caller owns it.
    Container* getNewObjectFromUri(const std::string& uri, const std::string& json);
    // Adds a new row (always a fresh id) built from the JSON text and sets the table's
    // has-modified flag. The caller holds the table's write lock (or no thread runs yet).
    // Returns the row, owned by the table.
    Container* addNewObjectInTable(const std::string& uri, const std::string& json);
    // The ONU / module ONU row of a newly seen link, added under the table's write lock.
    // The new id, or 0 after printing the failure.
    uint64_t insertOnuTable(OnuLink* link);
    uint64_t insertModuleOnuTable(OnuLink* link, const std::string& onuIndex);

    // Writes every persisted table and record whose file-modified flag is set; a failed
    // write leaves the flag set so the next cycle tries again.
    void save();
    // Replaces the file as a whole: temporary file in the same folder ("<path>~"), flushed to
    // disk and read back, then renamed over the path, so the file is always either the old or
    // the new complete text, even if the process dies half-way. The path is already resolved.
    void saveJsonToFile(const std::string& path, const std::string& text);
    // Rebuilds the ready JSON of every table whose has-modified flag is set (all when force).
    void buildAllTableCachedJson(bool force);
    // Rows 1 to 8 of the table: key = value where it differs; sets has-modified.
    void setAllValueOfTable(const std::string& uri, const std::string& key, const std::string& value);

    // "tar -cf /tmp/backupConfig.bin -C /mnt/db/json ."
    void doBackup();
    // Unpacks "/tmp/restoreConfig.bin" into "/mnt/db/json" when it exists; effective at the
    // next start.
    void doRestore();
    // Every table and record on standard output (diagnostics only).
    void dump();

    void clearAllMapUriTable();
    void clearAllMapUriObject();

    // The file of a URI, resolved: "/mnt/db/json" + uri + ".json".
    static std::string getFilePath(const std::string& uri);

    // Shortens the pause between save attempts whose temporary file cannot be opened.
    void setSaveRetryDelayForTest(std::chrono::milliseconds delay) { saveRetryDelay_ = delay; }

private:
    void createEmptyMapData();
    void loadMapUriTable();
    void loadMapUriObject();
    void initDefaultData();
    // Writes the file unless it already holds exactly this text.
    void saveIfChanged(const std::string& path, const std::string& text);

    // Filled by init() on the main thread, then never reshaped.
    TableMap tables_;
    ObjectMap objects_;
    // Touched only by the thread that calls save() (the database worker).
    std::chrono::milliseconds saveRetryDelay_{2000};
    // Records whose last write failed; their own flag was already cleared.
    std::set<std::string> objectsToRetry_;
};
