#pragma once
// The two channels to and from Quenrik: a sender thread that drains the task queue onto
// "/tmp/halquen.ipc" (own port 2011) and a receiver thread that hands every notification
// from "/tmp/quenhal.ipc" (own port 2000) to Manager. Process-wide singleton.
// sendQuenrikTask is thread-safe (the queue, a BlockingQueue, has its own lock); the queue
// owns its copies until the sender has sent them. The sender never gives up on Quenrik,
// which may start late, be absent or restart: it keeps trying to connect, reconnects after
// a failed send, and a task that did not reach Quenrik stays first in the queue (the rule
// is in BlockingQueue.h, beside the notifier's). The receiver's channel, which the daemon
// serves itself, ends the process when it cannot be set up.

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

#include "APIData.h"
#include "BlockingQueue.h"
#include "ipc/Ostrel"

class QuenrikWorker {
public:
    static constexpr int kSenderPort = 2011;
    static constexpr int kReceiverPort = 2000;
    // Pings of one task send (5 s each): after a minute without Quenrik the sender
    // reconnects, reading the port file again, and tries once more.
    static constexpr int kSenderPingAttempts = 12;

    static QuenrikWorker* getInstance();
    QuenrikWorker() = default;
    QuenrikWorker(const QuenrikWorker&) = delete;
    QuenrikWorker& operator=(const QuenrikWorker&) = delete;

    // Starts the receiver thread, then the sender thread.
    void startWorker();
    // Joins the sender thread.
    void waitWorkerFinish();
    // Queues a copy of the envelope (the caller keeps its own); false when it cannot be copied.
    bool sendQuenrikTask(APIData* task);

    void threadSndWorker();
    void threadRcvWorker();

    // Number of tasks waiting; for tests and diagnostics.
    size_t getQueueSize();

    // The connect limit (port-file tests, one second apart, >= 1) and the pings of a send;
    // read by the sender at each connect. The test build of the program (HalvornForTest)
    // calls it before startWorker.
    void setSenderLimitsForTest(int connectSeconds, int pingAttempts);

private:
    // createSocket and connect with the sender's limits; false, after printing why and a
    // pause, when Quenrik cannot be reached yet.
    bool connectSender(Ostrel& endpoint);

    // Never stopped: the sender runs until the process ends.
    BlockingQueue<APIData> queue_;

    std::atomic<int> connectTests_{Ostrel::kDefaultPortFileTests};
    std::atomic<int> pingAttempts_{kSenderPingAttempts};

    std::thread sndThread_;
    std::thread rcvThread_;
};
