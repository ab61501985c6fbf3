#include "SNMPWorker.h"

#include "Paths.h"

SNMPWorker* SNMPWorker::getInstance() {
    // Never destroyed: its thread runs until the process ends.
    static SNMPWorker* instance = new SNMPWorker();
    return instance;
}

SNMPWorker::SNMPWorker() : RequestWorker(kOwnPort, Paths::kSnmpIpc) {}
