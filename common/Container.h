#pragma once
// A record of named text values and named lists of owned child records.
// Owns its children (deleted by clear/clearList/destructor; takeItemFromList hands one back).
// Thread-safety: own pthread rwlock; getValue/getJsonData read-lock, setValue/setcJsonData/
// clear write-lock; the list and declaration operations take no lock and rely on the caller
// (record being built, or the table lock held). Lock order: table, then parent, then child.
// Throws Exception: "Key '<k>' not found", "Can't convert list '<k>' to a object",
// "Can't convert object '<k>' to a list", and JsonHelper's messages.

#include <cjson/cJSON.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class Container {
public:
    using List = std::vector<Container*>;

    // values = {"id": "0"}, no lists, modified false.
    Container();
    virtual ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    // A copy of the value, under the read lock; throws "Key '<key>' not found".
    virtual std::string getValue(const std::string& key) const;
    // JSON object text: with keys, exactly those keys in that order (through getValue);
    // without (keys == nullptr), every value key in ascending order. Lists follow as arrays.
    virtual std::string getJsonData(bool unformatted, const std::string* keys, size_t count) const;
    // Parses the text (throws "Impossible to parse json") and applies setcJsonData.
    virtual bool setJsonData(const std::string& text, bool allowId);
    // Takes over string members of declared value keys ("id" only with allowId) and walks
    // arrays into existing children. True when a declared value key was given a string.
    // Any failure inside is re-raised after the lock is released, origin setcJsonData.
    virtual bool setcJsonData(cJSON* value, bool allowId);
    // The compact text as stored in a table file: getJsonData(true, nullptr, 0).
    virtual std::string getJsonFile() const;
    virtual bool getHasJsonFileModified() const;
    virtual void clearHasJsonFileModified();

    // Declares or overwrites a value without lock and without the modified flag.
    void setNewValue(const std::string& key, const std::string& value);
    // Stores a changed value under the write lock and sets modified; an unknown key throws
    // when mustExist, else is ignored.
    void setValue(const std::string& key, const std::string& value, bool mustExist);
    bool hasKey(const std::string& key) const;
    bool hasList(const std::string& key) const;

    // Appends the child (ownership moves here), creating the list if needed.
    void addItemToList(const std::string& key, Container* child);
    // Throws "Key '<key>' not found" when there is no such list.
    List& getList(const std::string& key);
    size_t getListSize(const std::string& key) const;
    // Removes the child and hands ownership to the caller; nullptr when out of range.
    Container* takeItemFromList(const std::string& key, size_t index);
    // Deletes the children; the (possibly new) list stays, empty.
    void clearList(const std::string& key);
    // Deletes everything, then "id" = "0". The modified flag is kept.
    void clear();

    void setId(uint64_t id);
    // "id" as an unsigned number with C base prefixes ("010" = 8, "0x10" = 16); no digits -> 0.
    uint64_t getId() const;

    bool getHasModified() const { return modified_.load(); }
    void clearHasModified() { modified_.store(false); }

    // Grows with every change of the record's values or lists (whatever its flags say), so
    // a text printed from the record can tell that it is out of date: RwLockTable keeps one
    // per row and prints again only the rows whose count moved.
    uint64_t getChangeCount() const { return changes_.load(); }

protected:
    // For derived classes that change values_ or lists_ directly, after construction.
    void noteChange() { changes_.fetch_add(1); }

    // The rwlock of this record, for derived overrides that update values in place.
    void readLock() const;
    void writeLock() const;
    void unlock() const;

    // The whole of setcJsonData (object check, write lock, members, lists, re-raise after
    // unlocking), with onChange(key) called under the lock after each value that really
    // changed, so derived rows can keep their own change flags without a copy of the rules.
    bool setcJsonDataWith(cJSON* value, bool allowId, const std::function<void(const std::string&)>& onChange);

    // Values and lists: guarded by lock_ for readers/writers as described above.
    std::map<std::string, std::string> values_;
    std::map<std::string, List> lists_;
    // Written under the write lock but read by the persistence code without it.
    std::atomic<bool> modified_{false};

private:
    std::atomic<uint64_t> changes_{0};

protected:
private:
    mutable pthread_rwlock_t lock_;
};
