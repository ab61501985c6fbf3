#pragma once
// Quenrik's two channel threads and the one queue of notifications for Halvorn.
//
// Task receiver (threadWorker): server of "/tmp/halquen.ipc", own port 2010. Every message
// is parsed into an envelope and routed by the slot Manager; nothing is ever answered. A task
// channel that cannot be created or bound ends the process with status 1 ("Fatal Error - "
// line): without it Quenrik can do nothing, and a supervisor starts it again.
//
// Notifier (threadNotifyWorker): client of "/tmp/quenhal.ipc", own port 2001. Sends the
// notifications in exactly the order addNotification was called, across all threads. It
// never ends the process because Halvorn is late or gone: while Halvorn's port file is
// missing or the channel cannot be set up it tries again every Periods::notifierRetry (the
// failure printed once per outage) and the queue keeps everything, in order; a send that
// fails is printed, that one notification is dropped (Halvorn converges again from the next
// reports) and the channel is set up afresh before the next one. Every wait inside a send is
// bounded (pings, acknowledgements), so a Halvorn that dies mid-message costs seconds.
//
// Thread-safe. The queue (a BlockingQueue, whose header states the failed-send rule of both
// daemons) has its own lock, never held while sending. getInstance() lives for the whole
// process; tests build their own and start only the notifier (startNotifier), which the
// destructor stops. The receiver, once started, runs until the process ends.

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "APIData.h"
#include "BlockingQueue.h"
#include "ChannelThread.h"
#include "Periods.h"

class Manager;
class Ostrel;

class IPCWorker {
public:
    static constexpr int kTaskPort = 2010;    // own port of the task receiver
    static constexpr int kNotifyPort = 2001;  // own port of the notifier
    // Bounds of one send: pings and the wait for each (so a Halvorn that vanished is noticed
    // after about 15 s), and each acknowledgement wait inside the transfer.
    static constexpr int kPingAttempts = 3;
    static constexpr int kPingTimeoutMs = 5000;
    static constexpr int kTransferTimeoutMs = ChannelThread::kTransferTimeoutMs;

    static IPCWorker* getInstance();

    IPCWorker();
    virtual ~IPCWorker();
    IPCWorker(const IPCWorker&) = delete;
    IPCWorker& operator=(const IPCWorker&) = delete;

    // Before startWorker: the notifier's retry period.
    void setPeriods(const Periods& periods) { periods_ = periods; }
    // Starts the task receiver (routing to Manager::getInstance()), then the notifier.
    void startWorker();
    void startNotifier();
    // Joins the receiver, then the notifier (neither returns in normal operation).
    void waitWorkerFinish();

    // Takes ownership of a ready-made envelope and queues it; never blocks on the channel.
    void addNotification(APIData* notification);
    // Builds {"action":"set","uri":uri,"data":data} and queues it. Throws Exception when the
    // data is not JSON (nothing is queued then).
    void addNotification(const std::string& uri, const std::string& data);

    // The thread bodies.
    void threadWorker();
    void threadNotifyWorker();

    size_t getQueueSizeForTest();
    // Notifications dropped because their send failed.
    unsigned getFailedSendsForTest() const { return failedSends_.load(); }
    // Takes the oldest queued notification (nullptr when none), for tests that run no notifier.
    std::unique_ptr<APIData> takeNotificationForTest();
    // Shorter bounds for tests that make Halvorn vanish mid-send.
    void setSendLimitsForTest(int pingAttempts, int pingTimeoutMs, int transferTimeoutMs);

private:
    // A connected endpoint, or nullptr (the failure printed when printFailure).
    std::unique_ptr<Ostrel> connectNotifier(bool printFailure);
    // Sleeps the retry period; false when stopping.
    bool pauseUnlessStopped();

    Periods periods_;
    int pingAttempts_ = kPingAttempts;
    int pingTimeoutMs_ = kPingTimeoutMs;
    int transferTimeoutMs_ = kTransferTimeoutMs;

    std::thread receiver_;
    std::thread notifier_;

    BlockingQueue<APIData> queue_;  // stopped by the destructor
    std::atomic<unsigned> failedSends_{0};
};
