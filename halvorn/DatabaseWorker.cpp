#include "DatabaseWorker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "Database.h"
#include "Exception.h"
#include "Helper.h"
#include "Paths.h"
#include "PrintException.h"
#include "SystemInfo.h"
#include "SystemManager.h"
#include "Uris.h"

namespace {

void runDatabaseWorker() { DatabaseWorker::getInstance()->threadWorker(); }

}  // namespace

DatabaseWorker* DatabaseWorker::getInstance() {
    // Never destroyed: its thread runs until the process ends.
    static DatabaseWorker* instance = new DatabaseWorker();
    return instance;
}

DatabaseWorker::DatabaseWorker() : database_(Database::getInstance()) {}

void DatabaseWorker::startWorker() {
    database_->init();
    thread_ = std::thread(runDatabaseWorker);
}

void DatabaseWorker::waitWorkerFinish() {
    if (thread_.joinable()) thread_.join();
}

std::string DatabaseWorker::checkRestoreFile() {
    const std::string path = Paths::resolve("/tmp/restoreConfig.bin");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "/tmp/restoreConfig.bin not found";
    if (!S_ISREG(st.st_mode)) return "/tmp/restoreConfig.bin is not a file";
    // Our backups are a few table files; anything far larger is not one of them.
    if (st.st_size > 256 * 1024 * 1024) return "/tmp/restoreConfig.bin is too large";
    const std::string bytes = Helper::getAllContentFile(path);
    return SystemManager::checkRestoreArchive(bytes.data(), bytes.size());
}

void DatabaseWorker::threadWorker() {
    std::this_thread::sleep_for(std::chrono::seconds(5));

    auto* info = dynamic_cast<SystemInfo*>(database_->getObjectFromUri(Uris::kSystemInfo));
    SystemManager* system = SystemManager::getInstance();
    if (!info || !system) {
        std::printf("Invalid pointers SystemInfo or SystemManager\n");
        std::fflush(stdout);
        ::_exit(0);
    }

    int countdown = 0;
    for (;;) {
        try {
            if (info->getValue("restoreBackup") == "1") {
                // The factory reset deletes the configuration, so the archive must be known
                // good before it runs; a bad one would leave the card empty after the reboot.
                const std::string why = checkRestoreFile();
                if (why.empty()) {
                    system->doResetFactory();
                    database_->doRestore();
                    system->doReboot();
                    return;
                }
                std::printf("%s[%d]: Exception: Restore refused, configuration kept: %s\n", __func__, __LINE__,
                            why.c_str());
                info->setValue("restoreBackup", "0", true);
            }
            if (info->getValue("resetFactory") == "1") {
                system->doResetFactory();
                system->doReboot();
                return;
            }
            if (countdown <= 0) {
                system->saveUptime();
                system->saveDateTime();
                countdown = 15;
            }
            countdown -= 3;

            database_->save();
            database_->buildAllTableCachedJson(false);

            if (info->getValue("reboot") == "1") {
                system->doReboot();
                return;
            }
            if (info->getValue("backup") == "1") {
                database_->doBackup();
                info->setValue("backup", "0", true);
            }
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
        } catch (...) {
            printUnexpectedException(__func__, __LINE__);
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
}
