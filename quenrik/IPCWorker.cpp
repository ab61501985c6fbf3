// The task receiver and the start and end of both channel threads.
#include "IPCWorker.h"

#include "APIData.h"
#include "ChannelThread.h"
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
    queue_.stop();
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
    try {
        // With bounded transfer waits: a Halvorn that dies in the middle of a task must not
        // hold the receiver for ever.
        ChannelThread::setUp(endpoint, Paths::kHalQuenIpc, true, __func__, __LINE__);
    } catch (const Exception& e) {
        // Without its task channel Quenrik can do nothing: end with a failure status so that
        // whoever supervises the daemon starts it again.
        ChannelThread::exitFatal(__func__, __LINE__, e.getMessage());
    }
    Manager* manager = Manager::getInstance();
    ChannelThread::serve(
        endpoint, [manager](APIData& request) { manager->handlerApiRequest(&request); }, __func__, __LINE__);
}
