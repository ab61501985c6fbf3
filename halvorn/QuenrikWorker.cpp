#include "QuenrikWorker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "APIData.h"
#include "ChannelThread.h"
#include "Exception.h"
#include "Manager.h"
#include "Paths.h"
#include "PrintException.h"
#include "ipc/Ostrel"

namespace {

// The sender only returns on a failure of the process itself (memory); the receiver when
// the channel it serves cannot be set up. Either ends the daemon with a failure status.
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
    queue_.push(std::move(copy));
    return true;
}

size_t QuenrikWorker::getQueueSize() { return queue_.size(); }

void QuenrikWorker::setSenderLimitsForTest(int connectSeconds, int pingAttempts) {
    connectTests_.store(std::max(connectSeconds, 1));
    pingAttempts_.store(std::max(pingAttempts, 1));
}

bool QuenrikWorker::connectSender(Ostrel& endpoint) {
    endpoint.setPortFileWaitLimit(connectTests_.load());
    endpoint.setPingLimits(pingAttempts_.load(), Ostrel::kDefaultPingTimeoutMs);
    try {
        ChannelThread::setUp(endpoint, Paths::kHalQuenIpc, false, __func__, __LINE__);
        return true;
    } catch (const Exception& e) {
        std::printf("%s[%d]-Error: %s\n", __func__, __LINE__, e.getMessage().c_str());
        std::fflush(stdout);
    }
    // A port file that is there but cannot be used (a bad number, our own port taken) fails
    // at once: pause so the retries do not spin.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return false;
}

void QuenrikWorker::threadSndWorker() {
    Ostrel endpoint(kSenderPort);
    bool connected = false;
    for (;;) {
        if (!connected) {
            connected = connectSender(endpoint);
            continue;
        }
        std::unique_ptr<APIData> task = queue_.pop();
        int64_t result = 0;
        try {
            result = endpoint.send(task->getJsonProtocol());
            if (result < 0) throw Exception(endpoint.getErrorMessage(), __func__, __LINE__);
        } catch (const Exception& e) {
            printException(__func__, __LINE__, e);
        } catch (...) {
            printUnexpectedException(__func__, __LINE__);
        }
        if (result >= 0) continue;
        // Quenrik went away (or restarted): connect again, reading its port file afresh.
        connected = false;
        // -1: no pong, or the chunk could not leave, so Quenrik never took the task: it goes
        // out first once Quenrik is back. -2/-3: the task's bytes went out and Quenrik may
        // have taken it; sending it again could run it twice (a reset), so it is dropped.
        if (result == -1) queue_.putBackFirst(std::move(task));
    }
}

void QuenrikWorker::threadRcvWorker() {
    Ostrel endpoint(kReceiverPort);
    ChannelThread::setUp(endpoint, Paths::kQuenHalIpc, true, __func__, __LINE__);
    Manager* manager = Manager::getInstance();
    ChannelThread::serve(
        endpoint, [manager](APIData& envelope) { manager->handlerNotification(&envelope); }, __func__, __LINE__);
}
