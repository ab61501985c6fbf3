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
    // cached JSON = toJson(); has-modified = false. Under the write lock.
    void buildCachedJson();
    std::string getCachedJson() const;
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
    // Guarded by lock_ (taken by the callers).
    std::map<uint64_t, Container*> rows_;
    uint64_t lastIndex_ = 0;
    std::string cachedJson_ = "[]";

    std::atomic<bool> hasModified_{false};
    std::atomic<bool> hasJsonFileModified_{false};
    std::chrono::milliseconds pollInterval_{250};
    int pollAttempts_ = 12;

    pthread_rwlock_t lock_;
};
