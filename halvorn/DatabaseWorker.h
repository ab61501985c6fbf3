#pragma once
// The periodic cycle of the daemon (about every 3 s): the action flags of "/systeminfo"
// (restore, factory reset, reboot, backup), the save of changed tables, the rebuild of the
// ready JSON texts and the uptime/clock snapshots. Process-wide singleton; its one thread
// is the only one that saves. A restore archive is checked before anything is deleted.

#include <string>
#include <thread>

class Database;

class DatabaseWorker {
public:
    static DatabaseWorker* getInstance();
    DatabaseWorker();
    DatabaseWorker(const DatabaseWorker&) = delete;
    DatabaseWorker& operator=(const DatabaseWorker&) = delete;

    // Loads the whole database on the calling thread, then starts the cycle thread.
    void startWorker();
    void waitWorkerFinish();
    void threadWorker();

    // Reads "/tmp/restoreConfig.bin" and checks it with SystemManager::checkRestoreArchive;
    // "" when it may be restored, else why not.
    static std::string checkRestoreFile();

private:
    Database* database_;
    std::thread thread_;
};
