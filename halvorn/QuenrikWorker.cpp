#include "QuenrikWorker.h"

#include <cstdio>

#include "APIData.h"
#include "ChannelThread.h"
#include "Exception.h"
#include "Manager.h"
#include "Paths.h"
#include "ipc/Ostrel"

namespace {

// A channel to Quenrik that cannot be set up (Quenrik never published its port within the
// client's wait, or our own port is taken) ends the daemon rather than leaving it queueing
// tasks that can never leave.
void sndThreadEntry() {
    ChannelThread::runOrExit([] { QuenrikWorker::getInstance()->threadSndWorker(); }, "sndThreadEntry");
}

void rcvThreadEntry() {
    ChannelThread::runOrExit([] { QuenrikWorker::getInstance()->threadRcvWorker(); }, "rcvThreadEntry");
}

}  // namespace

QuenrikWorker* QuenrikWorker::getInstance() {
    // Never destroyed: its threads run until the process ends.
    static QuenrikWorker* instance = new QuenrikWorker();
    return instance;
}

void QuenrikWorker::startWorker() {
    rcvThread_ = std::thread(rcvThreadEntry);
    sndThread_ = std::thread(sndThreadEntry);
}

void QuenrikWorker::waitWorkerFinish() {
    if (sndThread_.joinable()) sndThread_.join();
}

bool QuenrikWorker::sendQuenrikTask(APIData* task) {
    std::unique_ptr<APIData> copy;
    try {
        copy.reset(task->clone());
    } catch (...) {
        return false;
    }
    if (!copy) return false;
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.push_back(std::move(copy));
    queueCond_.notify_one();
    return true;
}

size_t QuenrikWorker::getQueueSize() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return queue_.size();
}

void QuenrikWorker::threadSndWorker() {
    Ostrel endpoint(kSenderPort);
    ChannelThread::setUp(endpoint, Paths::kHalQuenIpc, false, __func__, __LINE__);

    for (;;) {
        std::unique_ptr<APIData> task;
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            queueCond_.wait(lock, [this] { return !queue_.empty(); });
            task = std::move(queue_.front());
            queue_.pop_front();
            // A burst of tasks (all ONUs of a card coming back) must not pin its storage.
            if (queue_.empty()) std::deque<std::unique_ptr<APIData>>().swap(queue_);
        }
        try {
            if (endpoint.send(task->getJsonProtocol()) < 0)
                throw Exception(endpoint.getErrorMessage(), __func__, __LINE__);
        } catch (const Exception& e) {
            std::printf("%s[%d]: Exception: %s\n", __func__, __LINE__, e.what());
        } catch (...) {
            std::printf("%s[%d]: Unexpected exception\n", __func__, __LINE__);
        }
    }
}

void QuenrikWorker::threadRcvWorker() {
    Ostrel endpoint(kReceiverPort);
    ChannelThread::setUp(endpoint, Paths::kQuenHalIpc, true, __func__, __LINE__);

    Manager* manager = Manager::getInstance();
    APIData envelope;
    std::string message;
    for (;;) {
        if (!ChannelThread::receive(endpoint, message, __func__, __LINE__)) continue;
        try {
            envelope.clearAll();
            envelope.parseRequest(message.data(), static_cast<int>(message.size()));
            manager->handlerNotification(&envelope);
        } catch (const Exception& e) {
            std::printf("%s[%d]: Exception: %s\n", __func__, __LINE__, e.what());
        } catch (...) {
            std::printf("%s[%d]: Unexpected exception\n", __func__, __LINE__);
        }
    }
}
