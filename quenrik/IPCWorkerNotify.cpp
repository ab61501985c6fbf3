// The notification queue and the notifier thread.
#include <cstdio>

#include "APIData.h"
#include "ChannelThread.h"
#include "Exception.h"
#include "IPCWorker.h"
#include "Paths.h"
#include "PrintException.h"
#include "ipc/Ostrel"

void IPCWorker::addNotification(APIData* notification) {
    if (notification == nullptr) return;
    queue_.push(std::unique_ptr<APIData>(notification));
}

void IPCWorker::addNotification(const std::string& uri, const std::string& data) {
    auto notification = std::make_unique<APIData>();
    notification->createRequest("set", uri, data);
    addNotification(notification.release());
}

size_t IPCWorker::getQueueSizeForTest() { return queue_.size(); }

std::unique_ptr<APIData> IPCWorker::takeNotificationForTest() { return queue_.tryPop(); }

void IPCWorker::setSendLimitsForTest(int pingAttempts, int pingTimeoutMs, int transferTimeoutMs) {
    pingAttempts_ = pingAttempts;
    pingTimeoutMs_ = pingTimeoutMs;
    transferTimeoutMs_ = transferTimeoutMs;
}

bool IPCWorker::pauseUnlessStopped() { return !queue_.waitForStop(periods_.notifierRetry); }

std::unique_ptr<Ostrel> IPCWorker::connectNotifier(bool printFailure) {
    auto endpoint = std::make_unique<Ostrel>(kNotifyPort);
    // One look at the port file per attempt: the retry loop does the waiting, so that the
    // thread stays responsive and the queue keeps filling meanwhile.
    endpoint->setPortFileWaitLimit(1);
    endpoint->setPingLimits(pingAttempts_, pingTimeoutMs_);
    try {
        ChannelThread::setUp(*endpoint, Paths::kQuenHalIpc, false, __func__, __LINE__, transferTimeoutMs_);
        return endpoint;
    } catch (const Exception& e) {
        if (printFailure) std::printf("%s[%d]-Error: %s\n", "threadNotifyWorker", __LINE__, e.getMessage().c_str());
    }
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
        std::unique_ptr<APIData> notification = queue_.pop();
        if (!notification) return;
        try {
            if (endpoint->send(notification->getJsonProtocol()) < 0)
                throw Exception(endpoint->getErrorMessage(), __func__, __LINE__);
            outagePrinted = false;
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
            // Halvorn may have restarted on the same port or be gone: set the channel up
            // afresh before the next notification. The failed one is dropped.
            endpoint.reset();
            failedSends_.fetch_add(1);
        } catch (...) {
            printUnexpectedException(__func__, __LINE__);
            endpoint.reset();
            failedSends_.fetch_add(1);
        }
    }
}
