#pragma once
// The base of the in-process Manager tests: a Database in a fresh temporary root (defaults
// seeded, no worker threads), a Manager over it whose tasks are recorded instead of sent,
// and row look-ups under the table's read lock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "APIData.h"
#include "Database.h"
#include "Manager.h"

namespace halvorn_test {

struct Task {
    std::string uri;
    std::string data;
    bool operator==(const Task& o) const { return uri == o.uri && data == o.data; }
};

inline std::ostream& operator<<(std::ostream& os, const Task& t) { return os << t.uri << " " << t.data; }

class ManagerTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/halmgr.XXXXXX";
        root_ = mkdtemp(pattern);
        setenv("PONMC_ROOT", root_.c_str(), 1);
        db_ = std::make_unique<Database>();
        db_->init();
        // Nobody rebuilds the ready texts here; the change reply must not wait 3 s for it.
        for (auto& kv : db_->getMapUriTable()) kv.second->setCachedJsonWaitForTest(std::chrono::milliseconds(1), 1);
        manager_ = std::make_unique<Manager>(db_.get(), nullptr);
        manager_->setTaskSinkForTest([this](APIData* task) {
            std::lock_guard<std::mutex> lock(tasksMutex_);
            tasks_.push_back({task->getUri(), task->getJsonData()});
            return sinkAccepts_;
        });
    }
    void TearDown() override {
        manager_.reset();
        db_.reset();
        std::system(("rm -rf '" + root_ + "'").c_str());
        unsetenv("PONMC_ROOT");
    }

    std::vector<Task> takeTasks() {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        return std::exchange(tasks_, {});
    }
    RwLockTable* table(const std::string& uri) { return db_->getMapUriTable().at(uri); }
    // The value of key in row id of the table; "<none>" when the row does not exist.
    std::string value(const std::string& uri, uint64_t id, const std::string& key) {
        RwLockTable* t = table(uri);
        Database::TableLock lock(t, false);
        Container* row = t->getFromId(id);
        return row == nullptr ? "<none>" : row->getValue(key);
    }

    std::string root_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<Manager> manager_;
    std::mutex tasksMutex_;
    std::vector<Task> tasks_;
    // What the recorded queue answers; false acts as a queue that cannot take the task.
    bool sinkAccepts_ = true;
};

}  // namespace halvorn_test
