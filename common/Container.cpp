#include "Container.h"

#include <cstdio>
#include <cstdlib>

#include "Exception.h"
#include "JsonHelper.h"

namespace {

// Releases the record lock on every path out of a scope, throws included.
class LockRelease {
public:
    explicit LockRelease(pthread_rwlock_t* lock) : lock_(lock) {}
    ~LockRelease() { pthread_rwlock_unlock(lock_); }
    LockRelease(const LockRelease&) = delete;
    LockRelease& operator=(const LockRelease&) = delete;

private:
    pthread_rwlock_t* lock_;
};

void addString(cJSON* object, const std::string& key, const std::string& value) {
    if (cJSON_AddStringToObject(object, key.c_str(), value.c_str()) == nullptr)
        throw Exception("Impossible to allocate memory", "getJsonData", __LINE__);
}

}  // namespace

Container::Container() {
    // Default attributes: on Linux readers are preferred, so getJsonData may read-lock
    // again (through the virtual getValue) while it already holds the read lock.
    pthread_rwlock_init(&lock_, nullptr);
    values_["id"] = "0";
}

Container::~Container() {
    clear();
    pthread_rwlock_destroy(&lock_);
}

void Container::readLock() const { pthread_rwlock_rdlock(&lock_); }
void Container::writeLock() const { pthread_rwlock_wrlock(&lock_); }
void Container::unlock() const { pthread_rwlock_unlock(&lock_); }

std::string Container::getValue(const std::string& key) const {
    readLock();
    LockRelease release(&lock_);
    auto it = values_.find(key);
    if (it == values_.end()) throw Exception("Key '" + key + "' not found", __func__, __LINE__);
    return it->second;
}

std::string Container::getJsonData(bool unformatted, const std::string* keys, size_t count) const {
    JsonPtr root(JsonHelper::createObject());
    {
        readLock();
        LockRelease release(&lock_);
        if (keys != nullptr) {
            for (size_t i = 0; i < count; ++i) addString(root.get(), keys[i], getValue(keys[i]));
        } else {
            for (const auto& kv : values_) addString(root.get(), kv.first, kv.second);
        }
        for (const auto& list : lists_) {
            // A child that cannot print drops its list from the text, not the whole record.
            try {
                JsonPtr array(JsonHelper::createArray());
                for (const Container* child : list.second) {
                    JsonPtr item(JsonHelper::parseJObject(child->getJsonData(true, nullptr, 0)));
                    if (!cJSON_AddItemToArray(array.get(), item.get())) continue;
                    item.release();
                }
                if (cJSON_AddItemToObject(root.get(), list.first.c_str(), array.get())) array.release();
            } catch (...) {
                continue;
            }
        }
    }
    return JsonHelper::toString(root.get(), unformatted);
}

bool Container::setJsonData(const std::string& text, bool allowId) {
    JsonPtr json(JsonHelper::parseJObject(text));
    return setcJsonData(json.get(), allowId);
}

bool Container::setcJsonData(cJSON* value, bool allowId) { return setcJsonDataWith(value, allowId, nullptr); }

bool Container::setcJsonDataWith(cJSON* value, bool allowId, const std::function<void(const std::string&)>& onChange) {
    if (!cJSON_IsObject(value)) return false;
    bool result = false;
    std::string error;
    writeLock();
    try {
        for (cJSON* member = value->child; member != nullptr; member = member->next) {
            if (member->string == nullptr) continue;
            const std::string key(member->string);
            if (cJSON_IsString(member) && member->valuestring != nullptr && (allowId || key != "id")) {
                auto it = values_.find(key);
                if (it != values_.end()) {
                    if (it->second != member->valuestring) {
                        it->second = member->valuestring;
                        noteChange();
                        modified_.store(true);
                        if (onChange) onChange(key);
                    }
                    result = true;
                    continue;
                }
            }
            if (cJSON_IsArray(member)) {
                auto it = lists_.find(key);
                if (it == lists_.end()) continue;
                // Only children that already exist are updated; the array never creates any.
                noteChange();
                size_t i = 0;
                for (cJSON* element = member->child; element != nullptr && i < it->second.size();
                     element = element->next, ++i)
                    it->second[i]->setcJsonData(element, false);
            }
            // Anything else (numbers, booleans, null, objects, undeclared keys) is ignored:
            // a JSON update only ever replaces declared text values.
        }
    } catch (const Exception& e) {
        error = e.what();
    } catch (...) {
        error = "Unknown Error at Container::setcJsonData";
        printf("Unknown Error at %s\n", "setcJsonData");
    }
    unlock();
    if (!error.empty()) throw Exception(error, "setcJsonData", __LINE__);
    return result;
}

std::string Container::getJsonFile() const { return getJsonData(true, nullptr, 0); }

bool Container::getHasJsonFileModified() const { return modified_.load(); }
void Container::clearHasJsonFileModified() { modified_.store(false); }

void Container::setNewValue(const std::string& key, const std::string& value) {
    if (lists_.count(key) != 0) throw Exception("Can't convert list '" + key + "' to a object", __func__, __LINE__);
    values_[key] = value;
    noteChange();
}

void Container::setValue(const std::string& key, const std::string& value, bool mustExist) {
    bool exists;
    {
        readLock();
        LockRelease release(&lock_);
        exists = values_.count(key) != 0;
    }
    if (!exists) {
        if (mustExist) throw Exception("Key '" + key + "' not found", __func__, __LINE__);
        return;
    }
    // Compared through the virtual getValue, as every reader of the record sees it.
    if (getValue(key) == value) return;
    writeLock();
    values_[key] = value;
    noteChange();
    unlock();
    modified_.store(true);
}

bool Container::hasKey(const std::string& key) const { return values_.count(key) != 0; }
bool Container::hasList(const std::string& key) const { return lists_.count(key) != 0; }

void Container::addItemToList(const std::string& key, Container* child) {
    if (values_.count(key) != 0) throw Exception("Can't convert object '" + key + "' to a list", __func__, __LINE__);
    List& list = lists_[key];
    // A null child would only crash the next print; the list is still declared.
    if (child != nullptr) list.push_back(child);
    noteChange();
}

Container::List& Container::getList(const std::string& key) {
    auto it = lists_.find(key);
    if (it == lists_.end()) throw Exception("Key '" + key + "' not found", __func__, __LINE__);
    noteChange();  // the caller may change the list through the reference
    return it->second;
}

size_t Container::getListSize(const std::string& key) const {
    auto it = lists_.find(key);
    return it == lists_.end() ? 0 : it->second.size();
}

Container* Container::takeItemFromList(const std::string& key, size_t index) {
    auto it = lists_.find(key);
    if (it == lists_.end() || index >= it->second.size()) return nullptr;
    Container* child = it->second[index];
    it->second.erase(it->second.begin() + static_cast<std::ptrdiff_t>(index));
    noteChange();
    return child;
}

void Container::clearList(const std::string& key) {
    // Creating a list under a value's key would print the key twice.
    if (values_.count(key) != 0) throw Exception("Can't convert object '" + key + "' to a list", __func__, __LINE__);
    List& list = lists_[key];
    for (Container* child : list) delete child;
    list.clear();
    noteChange();
}

void Container::clear() {
    writeLock();
    for (auto& list : lists_)
        for (Container* child : list.second) delete child;
    lists_.clear();
    values_.clear();
    values_["id"] = "0";
    noteChange();
    unlock();
}

void Container::setId(uint64_t id) { setValue("id", std::to_string(id), false); }

uint64_t Container::getId() const {
    // Base 0: decimal, "0x" hexadecimal, leading "0" octal, as ids have always been read.
    const std::string id = getValue("id");
    return std::strtoull(id.c_str(), nullptr, 0);
}
