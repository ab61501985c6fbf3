#pragma once
// The two channels to and from Quenrik: a sender thread that drains the task queue onto
// "/tmp/halquen.ipc" (own port 2011) and a receiver thread that hands every notification
// from "/tmp/quenhal.ipc" (own port 2000) to Manager. Process-wide singleton.
// sendQuenrikTask is thread-safe (queue guarded by queueMutex_); the queue owns its copies
// until the sender has sent them. The sender never gives up on Quenrik, which may start
// late, be absent or restart: it keeps trying to connect, reconnects after a failed send,
// and a task that did not reach Quenrik stays first in the queue. The receiver's channel,
// which the daemon serves itself, ends the process when it cannot be set up.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "ipc/Ostrel"

class APIData;

class QuenrikWorker {
public:
    static constexpr int kSenderPort = 2011;
    static constexpr int kReceiverPort = 2000;
    // Pings of one task send (5 s each): after a minute without Quenrik the sender
    // reconnects, reading the port file again, and tries once more.
    static constexpr int kSenderPingAttempts = 12;
    // Environment variable that shortens the sender's waits for a test of the whole daemon:
    // its value in seconds becomes the connect limit, and a send pings once.
    static constexpr const char* kWaitForTestVariable = "HALVORN_QUENRIK_WAIT_FOR_TEST";

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
    // read by the sender at each connect.
    void setSenderLimitsForTest(int connectSeconds, int pingAttempts);

private:
    // createSocket and connect with the sender's limits; false, after printing why and a
    // pause, when Quenrik cannot be reached yet.
    bool connectSender(Ostrel& endpoint);
    // Waits for the first task and takes it off the queue.
    std::unique_ptr<APIData> takeTask();
    // Puts a task that did not leave back in first place.
    void putBackTask(std::unique_ptr<APIData> task);

    std::mutex queueMutex_;
    std::condition_variable queueCond_;
    // Guarded by queueMutex_; oldest first.
    std::deque<std::unique_ptr<APIData>> queue_;

    std::atomic<int> connectTests_{Ostrel::kDefaultPortFileTests};
    std::atomic<int> pingAttempts_{kSenderPingAttempts};

    std::thread sndThread_;
    std::thread rcvThread_;
};
