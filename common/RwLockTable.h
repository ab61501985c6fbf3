#pragma once
// A table of rows by unsigned 64-bit index, with change flags and a cached JSON text.
// Owns its rows. Takes no lock itself: callers bracket every use with readLock()/writeLock()
// and unlock() (write for addNew/delFromId/clearAll/buildCachedJson and row changes), and
// row pointers stay valid only while they hold it. Lock order: table before row.
// The two flags are atomics: waitForNewCachedJson reads has-modified without the lock.
// Throws "Impossible to allocate new index, please do the reset factory." and row errors.

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Container.h"

class RwLockTable {
public:
    RwLockTable();
    virtual ~RwLockTable();
    RwLockTable(const RwLockTable&) = delete;
    RwLockTable& operator=(const RwLockTable&) = delete;

    void readLock();
    void writeLock();
    void unlock();

    // last index + 1, not stored; throws when that would wrap to 0.
    uint64_t getNewIndex() const;
    // Takes ownership. A row with id != 0 keeps it (unless forceNewIndex); otherwise it gets
    // a new index. A row already stored under the same index is replaced and deleted.
    // When getNewIndex throws, the row stays the caller's.
    void addNew(Container* row, bool forceNewIndex);
    Container* getFromId(uint64_t index) const;
    void delFromId(uint64_t index);
    // All rows, ascending index; the table keeps ownership.
    std::vector<Container*> getAll() const;
    // Deletes every row; cached JSON = "[]". Last index and flags stay.
    void clearAll();

    // JSON array of every row's compact getJsonData / getJsonFile, ascending index.
    std::string toJson() const;
    std::string toJsonFile() const;
    // cached JSON = toJson(); has-modified = false. Under the write lock. Only the rows
    // whose change count moved since the last rebuild are printed again (the others' texts
    // are kept from then), so a rebuild after one change costs little more than a copy.
    void buildCachedJson();
    // Makes the next rebuild print every row again: for a change that alters how rows print
    // without changing them (the time zone that alarm times are shown in). Under the write
    // lock.
    void forgetRowTexts();
    std::string getCachedJson() const;
    // The ready text itself, without a copy: valid while the caller holds the table's lock.
    const std::string& getCachedJsonLockHeld() const { return cachedJson_; }
    // Called without the table lock: polls has-modified every 250 ms, at most 12 times,
    // and returns as soon as it is false.
    void waitForNewCachedJson() const;

    void setHasModified(bool value) { hasModified_.store(value); }
    bool getHasModified() const { return hasModified_.load(); }
    void setHasJsonFileModified(bool value) { hasJsonFileModified_.store(value); }
    bool getHasJsonFileModified() const { return hasJsonFileModified_.load(); }

    // One line per row on standard output: "[<index>] : <compact JSON>".
    void dump() const;

    // Shortens the wait of waitForNewCachedJson so a test need not spend 3 s.
    void setCachedJsonWaitForTest(std::chrono::milliseconds interval, int attempts);

private:
    // What a row printed as at the last rebuild; valid while it is the same row (a row
    // replaced under its index is another object) with the same change count.
    struct RowText {
        const Container* row = nullptr;
        uint64_t changes = 0;
        std::string text;
    };

    // Guarded by lock_ (taken by the callers).
    std::map<uint64_t, Container*> rows_;
    uint64_t lastIndex_ = 0;
    std::string cachedJson_ = "[]";
    std::map<uint64_t, RowText> rowTexts_;

    std::atomic<bool> hasModified_{false};
    std::atomic<bool> hasJsonFileModified_{false};
    std::chrono::milliseconds pollInterval_{250};
    int pollAttempts_ = 12;

    pthread_rwlock_t lock_;
};
