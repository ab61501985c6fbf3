#pragma once
// The two channels to and from Quenrik: a sender thread that drains the task queue onto
// "/tmp/halquen.ipc" (own port 2011) and a receiver thread that hands every notification
// from "/tmp/quenhal.ipc" (own port 2000) to Manager. Process-wide singleton.
// sendQuenrikTask is thread-safe (queue guarded by queueMutex_); the queue owns its copies
// until the sender has sent them. A channel that cannot be set up ends the process.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class APIData;

class QuenrikWorker {
public:
    static constexpr int kSenderPort = 2011;
    static constexpr int kReceiverPort = 2000;

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

private:
    std::mutex queueMutex_;
    std::condition_variable queueCond_;
    // Guarded by queueMutex_; oldest first.
    std::deque<std::unique_ptr<APIData>> queue_;

    std::thread sndThread_;
    std::thread rcvThread_;
};
