#include "RwLockTable.h"

#include <cinttypes>
#include <cstdio>
#include <limits>
#include <thread>

#include "Exception.h"
#include "JsonHelper.h"

RwLockTable::RwLockTable() { pthread_rwlock_init(&lock_, nullptr); }

RwLockTable::~RwLockTable() {
    clearAll();
    pthread_rwlock_destroy(&lock_);
}

void RwLockTable::readLock() { pthread_rwlock_rdlock(&lock_); }
void RwLockTable::writeLock() { pthread_rwlock_wrlock(&lock_); }
void RwLockTable::unlock() { pthread_rwlock_unlock(&lock_); }

uint64_t RwLockTable::getNewIndex() const {
    if (lastIndex_ == std::numeric_limits<uint64_t>::max())
        throw Exception("Impossible to allocate new index, please do the reset factory.", __func__, __LINE__);
    return lastIndex_ + 1;
}

void RwLockTable::addNew(Container* row, bool forceNewIndex) {
    if (row == nullptr) return;
    uint64_t index = row->getId();
    if (forceNewIndex || index == 0) {
        index = getNewIndex();
        row->setId(index);
    }
    // Indexes only grow, so a deleted row's index is never handed out again.
    if (index > lastIndex_) lastIndex_ = index;
    Container*& slot = rows_[index];
    // Replacing, not leaking: a second row under one index would otherwise be lost.
    if (slot != nullptr && slot != row) delete slot;
    slot = row;
}

Container* RwLockTable::getFromId(uint64_t index) const {
    auto it = rows_.find(index);
    return it == rows_.end() ? nullptr : it->second;
}

void RwLockTable::delFromId(uint64_t index) {
    auto it = rows_.find(index);
    if (it == rows_.end()) return;
    delete it->second;
    rows_.erase(it);
}

std::vector<Container*> RwLockTable::getAll() const {
    std::vector<Container*> all;
    all.reserve(rows_.size());
    for (const auto& kv : rows_) all.push_back(kv.second);
    return all;
}

void RwLockTable::clearAll() {
    for (auto& kv : rows_) delete kv.second;
    rows_.clear();
    rowTexts_.clear();
    cachedJson_ = "[]";
}

std::string RwLockTable::toJson() const { return JsonHelper::toString(getAll(), true); }

std::string RwLockTable::toJsonFile() const {
    std::string text = "[";
    bool first = true;
    for (const auto& kv : rows_) {
        if (!first) text += ",";
        text += kv.second->getJsonFile();
        first = false;
    }
    return text + "]";
}

void RwLockTable::buildCachedJson() {
    std::string json;
    json.reserve(cachedJson_.size() + 64);
    json += '[';
    // Both maps are in index order: one pass drops the texts of deleted rows, adds those of
    // new ones and prints again the rows that changed.
    auto text = rowTexts_.begin();
    for (const auto& [index, row] : rows_) {
        while (text != rowTexts_.end() && text->first < index) text = rowTexts_.erase(text);
        if (text == rowTexts_.end() || text->first != index) text = rowTexts_.emplace_hint(text, index, RowText());
        RowText& known = text->second;
        const uint64_t changes = row->getChangeCount();
        if (known.row != row || known.changes != changes || known.text.empty()) {
            known.text = row->getJsonData(true, nullptr, 0);
            known.row = row;
            known.changes = changes;
        }
        if (json.size() > 1) json += ',';
        json += known.text;
        ++text;
    }
    rowTexts_.erase(text, rowTexts_.end());
    json += ']';
    cachedJson_ = std::move(json);
    hasModified_.store(false);
}

void RwLockTable::forgetRowTexts() { rowTexts_.clear(); }

std::string RwLockTable::getCachedJson() const { return cachedJson_; }

void RwLockTable::waitForNewCachedJson() const {
    for (int i = 0; i < pollAttempts_ && hasModified_.load(); ++i) std::this_thread::sleep_for(pollInterval_);
}

void RwLockTable::dump() const {
    for (const auto& kv : rows_)
        printf("[%" PRIu64 "] : %s\n", kv.first, kv.second->getJsonData(true, nullptr, 0).c_str());
}

void RwLockTable::setCachedJsonWaitForTest(std::chrono::milliseconds interval, int attempts) {
    pollInterval_ = interval;
    pollAttempts_ = attempts;
}
