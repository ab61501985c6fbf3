// Halvorn: the configuration and state database daemon of the management card.
// Loads the database, serves the API on the web and SNMP channels, exchanges tasks and
// notifications with Quenrik, and applies the card's system settings.

#include <cstdio>
#ifdef HALVORN_TEST_SEAMS
#include <cstdlib>
#endif

#include "DatabaseWorker.h"
#include "Manager.h"
#include "QuenrikWorker.h"
#include "SNMPWorker.h"
#include "SystemManager.h"
#include "WebWorker.h"

int main() {
    // Line-buffered even when standard output is a file or a pipe, so every printed failure
    // is visible at once and lines of different threads do not interleave mid-line.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    Manager::getInstance();
    DatabaseWorker* database = DatabaseWorker::getInstance();
    SNMPWorker* snmp = SNMPWorker::getInstance();
    WebWorker* web = WebWorker::getInstance();
    QuenrikWorker* quenrik = QuenrikWorker::getInstance();
    SystemManager* system = SystemManager::getInstance();

#ifdef HALVORN_TEST_SEAMS
    // Test build only: a test of the whole daemon shortens the task sender's waits. Its value
    // in seconds becomes the connect limit, and a send pings once.
    if (const char* wait = std::getenv("HALVORN_QUENRIK_WAIT_FOR_TEST")) {
        const int seconds = std::atoi(wait);
        if (seconds > 0) quenrik->setSenderLimitsForTest(seconds, 1);
    }
#endif

    database->startWorker();
    snmp->startWorker();
    web->startWorker();
    quenrik->startWorker();

    system->init();

    snmp->waitWorkerFinish();
    web->waitWorkerFinish();
    database->waitWorkerFinish();
    quenrik->waitWorkerFinish();
    return 0;
}
