#include "ConnectionGuard.h"

#include <algorithm>

void ConnectionGuard::opened(int fd, Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    entries_[fd] = Entry{true, false, now + limits_.headers};
}

void ConnectionGuard::headersDone(int fd, size_t contentLength, Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    const auto transfer = std::chrono::seconds(contentLength / std::max<size_t>(limits_.minBodyBytesPerSecond, 1));
    it->second.timed = true;
    it->second.deadline = now + limits_.bodyGrace + transfer;
}

void ConnectionGuard::answering(int fd) {
    std::lock_guard<std::mutex> l(mutex_);
    auto it = entries_.find(fd);
    if (it != entries_.end()) it->second.timed = false;
}

void ConnectionGuard::requestDone(int fd, Clock::time_point now) {
    std::lock_guard<std::mutex> l(mutex_);
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    it->second.timed = true;
    it->second.deadline = now + limits_.headers;
}

void ConnectionGuard::closed(int fd) {
    std::lock_guard<std::mutex> l(mutex_);
    entries_.erase(fd);
}

size_t ConnectionGuard::enforce(Clock::time_point now, const std::function<void(int)>& cut) {
    std::lock_guard<std::mutex> l(mutex_);
    size_t n = 0;
    for (auto& [fd, e] : entries_) {
        if (!e.timed || e.cut || now < e.deadline) continue;
        e.cut = true;
        cut(fd);
        ++n;
    }
    return n;
}

size_t ConnectionGuard::size() {
    std::lock_guard<std::mutex> l(mutex_);
    return entries_.size();
}
