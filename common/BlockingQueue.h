#pragma once
// A first-in first-out queue of owned items between any number of producer threads and one
// consumer thread: Halvorn's task queue for Quenrik, Quenrik's notification queue for
// Halvorn, and each slot's task queue. The queue owns an item from push until pop hands it
// out. Thread-safe; mutex_ is held for no more than one queue operation and no other lock is
// taken under it. Never throws but std::bad_alloc.
//
// The rule for an item whose send failed, written once for every user: the consumer that
// popped it owns it, and either drops it (destroys it: the default) or, only when it knows
// the peer never took it, gives it back with putBackFirst so that it goes out again before
// everything queued after it.
//   Halvorn's task sender: a send that failed with -1 (no pong, or the chunk could not
//     leave) is put back first; one that failed with -2/-3 is dropped, because Quenrik may
//     have taken it and running it twice could mean a second reset.
//   Quenrik's notifier: a notification whose send failed is dropped; Halvorn converges
//     again from the next reports.
//   A slot's task queue sends nothing, so nothing is given back.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

template <typename T>
class BlockingQueue {
public:
    BlockingQueue() = default;
    BlockingQueue(const BlockingQueue&) = delete;
    BlockingQueue& operator=(const BlockingQueue&) = delete;

    // Queues the item last (a null item is ignored) and wakes the consumer.
    void push(std::unique_ptr<T> item) {
        if (!item) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            items_.push_back(std::move(item));
            if (items_.size() > peak_) peak_ = items_.size();
        }
        signal_.notify_one();
    }

    // Gives an item the consumer popped and could not send back in first place. Only the one
    // consumer calls it, so the front is where the item came from.
    void putBackFirst(std::unique_ptr<T> item) {
        if (!item) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            items_.push_front(std::move(item));
            if (items_.size() > peak_) peak_ = items_.size();
        }
        signal_.notify_one();
    }

    // Waits for the first item and takes it; nullptr once stop() was called (what is still
    // queued then stays queued).
    std::unique_ptr<T> pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        // Tested and waited on under one hold of the mutex, so an item pushed in between is
        // not missed.
        signal_.wait(lock, [this] { return stopping_ || !items_.empty(); });
        if (stopping_) return nullptr;
        return takeFirstLocked();
    }

    // The first item without waiting; nullptr when there is none.
    std::unique_ptr<T> tryPop() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (items_.empty()) return nullptr;
        return takeFirstLocked();
    }

    // Sleeps up to timeout, woken early by stop(); true when stopped.
    template <typename Rep, typename Period>
    bool waitForStop(const std::chrono::duration<Rep, Period>& timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return signal_.wait_for(lock, timeout, [this] { return stopping_; });
    }

    // Wakes every waiter for good: pop returns nullptr and waitForStop true from now on.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        signal_.notify_all();
    }

    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_.size();
    }

    // Above this many items a std::deque of pointers has grown past its first storage block;
    // once such a burst (every ONU of eight cards) has drained, that storage is given back.
    static constexpr std::size_t kShrinkAbove = 64;

private:
    std::unique_ptr<T> takeFirstLocked() {
        std::unique_ptr<T> first = std::move(items_.front());
        items_.pop_front();
        if (items_.empty() && peak_ > kShrinkAbove) {
            std::deque<std::unique_ptr<T>>().swap(items_);
            peak_ = 0;
        }
        return first;
    }

    std::mutex mutex_;
    std::condition_variable signal_;
    std::deque<std::unique_ptr<T>> items_;  // guarded by mutex_; oldest first
    std::size_t peak_ = 0;                  // guarded by mutex_; largest size since the last shrink
    bool stopping_ = false;                 // guarded by mutex_
};
