// The notification queue and the notifier thread.
#include <cstdio>

#include "APIData.h"
#include "Exception.h"
#include "IPCWorker.h"
#include "Paths.h"
#include "ipc/Ostrel"

void IPCWorker::addNotification(APIData* notification) {
    if (notification == nullptr) return;
    std::unique_ptr<APIData> owned(notification);
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.push_back(std::move(owned));
    }
    queueSignal_.notify_one();
}

void IPCWorker::addNotification(const std::string& uri, const std::string& data) {
    auto notification = std::make_unique<APIData>();
    notification->createRequest("set", uri, data);
    addNotification(notification.release());
}

size_t IPCWorker::getQueueSizeForTest() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return queue_.size();
}

std::unique_ptr<APIData> IPCWorker::takeNotificationForTest() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (queue_.empty()) return nullptr;
    std::unique_ptr<APIData> first = std::move(queue_.front());
    queue_.pop_front();
    return first;
}

void IPCWorker::setSendLimitsForTest(int pingAttempts, int pingTimeoutMs, int transferTimeoutMs) {
    pingAttempts_ = pingAttempts;
    pingTimeoutMs_ = pingTimeoutMs;
    transferTimeoutMs_ = transferTimeoutMs;
}

std::unique_ptr<APIData> IPCWorker::takeNotification() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    // Tested and waited on under one hold of the mutex, so a notification added in between
    // is not missed.
    queueSignal_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return nullptr;
    std::unique_ptr<APIData> first = std::move(queue_.front());
    queue_.pop_front();
    // A burst (every ONU of eight cards) must not pin its storage once it has left.
    if (queue_.empty()) std::deque<std::unique_ptr<APIData>>().swap(queue_);
    return first;
}

bool IPCWorker::pauseUnlessStopped() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    return !queueSignal_.wait_for(lock, periods_.notifierRetry, [this] { return stopping_; });
}

std::unique_ptr<Ostrel> IPCWorker::connectNotifier(bool printFailure) {
    auto endpoint = std::make_unique<Ostrel>(kNotifyPort);
    // One look at the port file per attempt: the retry loop does the waiting, so that the
    // thread stays responsive and the queue keeps filling meanwhile.
    endpoint->setPortFileWaitLimit(1);
    endpoint->setPingLimits(pingAttempts_, pingTimeoutMs_);
    endpoint->setTransferTimeout(transferTimeoutMs_);
    const std::string portFile = Paths::resolve(Paths::kQuenHalIpc);
    if (endpoint->createSocket() && endpoint->connect(portFile.c_str())) return endpoint;
    if (printFailure) std::printf("%s[%d]-Error: %s\n", "threadNotifyWorker", __LINE__, endpoint->getErrorMessage());
    return nullptr;
}

void IPCWorker::threadNotifyWorker() {
    std::unique_ptr<Ostrel> endpoint;
    bool outagePrinted = false;
    for (;;) {
        // Connect before taking a notification off the queue: while Halvorn is away, every
        // notification stays queued in order.
        while (!endpoint) {
            endpoint = connectNotifier(!outagePrinted);
            if (endpoint) break;
            outagePrinted = true;
            if (!pauseUnlessStopped()) return;
        }
        std::unique_ptr<APIData> notification = takeNotification();
        if (!notification) return;
        try {
            if (endpoint->send(notification->getJsonProtocol()) < 0)
                throw Exception(endpoint->getErrorMessage(), __func__, __LINE__);
            outagePrinted = false;
        } catch (const Exception& e) {
            std::printf("%s[%d]: Exception: %s\n", __func__, __LINE__, e.what());
            // Halvorn may have restarted on the same port or be gone: set the channel up
            // afresh before the next notification. The failed one is dropped.
            endpoint.reset();
            failedSends_.fetch_add(1);
        } catch (...) {
            std::printf("%s[%d]: Unexpected exception\n", __func__, __LINE__);
            endpoint.reset();
            failedSends_.fetch_add(1);
        }
    }
}
