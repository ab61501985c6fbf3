#include "WebWorker.h"

#include "Paths.h"

WebWorker* WebWorker::getInstance() {
    // Never destroyed: its thread runs until the process ends.
    static WebWorker* instance = new WebWorker();
    return instance;
}

WebWorker::WebWorker() : RequestWorker(kOwnPort, Paths::kWebIpc) {}
