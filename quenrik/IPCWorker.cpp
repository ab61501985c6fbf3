// The task receiver and the start and end of both channel threads.
#include "IPCWorker.h"

#include <cstdio>
#include <cstdlib>

#include "APIData.h"
#include "Exception.h"
#include "Manager.h"
#include "Paths.h"
#include "ipc/Ostrel"

IPCWorker* IPCWorker::getInstance() {
    // Never destroyed: its threads run until the process ends.
    static IPCWorker* instance = new IPCWorker();
    return instance;
}

IPCWorker::IPCWorker() = default;

IPCWorker::~IPCWorker() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        stopping_ = true;
    }
    queueSignal_.notify_all();
    if (notifier_.joinable()) notifier_.join();
    // The receiver blocks in its channel for good; only a process-wide instance starts it.
    if (receiver_.joinable()) receiver_.detach();
}

void IPCWorker::startWorker() {
    receiver_ = std::thread(&IPCWorker::threadWorker, this);
    startNotifier();
}

void IPCWorker::startNotifier() {
    if (!notifier_.joinable()) notifier_ = std::thread(&IPCWorker::threadNotifyWorker, this);
}

void IPCWorker::waitWorkerFinish() {
    if (receiver_.joinable()) receiver_.join();
    if (notifier_.joinable()) notifier_.join();
}

void IPCWorker::threadWorker() {
    Ostrel endpoint(kTaskPort);
    const std::string portFile = Paths::resolve(Paths::kHalQuenIpc);
    if (!endpoint.createSocket() || !endpoint.bind(portFile.c_str())) {
        // Without its task channel Quenrik can do nothing: end with a failure status so that
        // whoever supervises the daemon starts it again.
        std::printf("Fatal Error - %s[%d]: %s\n", __func__, __LINE__, endpoint.getErrorMessage());
        std::fflush(stdout);
        std::exit(1);
    }
    // A Halvorn that dies in the middle of a task must not hold the receiver for ever.
    endpoint.setTransferTimeout(kTransferTimeoutMs);

    APIData request;
    Manager* manager = Manager::getInstance();
    std::string message;
    for (;;) {
        message.clear();
        if (endpoint.recv(message) < 0) {
            std::printf("%s[%d]-Error: %s\n", __func__, __LINE__, endpoint.getErrorMessage());
            continue;
        }
        try {
            request.clearAll();
            request.parseRequest(message.data(), static_cast<int>(message.size()));
            manager->handlerApiRequest(&request);
        } catch (const Exception& e) {
            std::printf("%s[%d]: Exception: %s\n", __func__, __LINE__, e.what());
        } catch (...) {
            std::printf("%s[%d]: Unexpected exception\n", __func__, __LINE__);
        }
    }
}
