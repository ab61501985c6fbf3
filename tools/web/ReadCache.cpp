#include "ReadCache.h"

ReadCache::Answer ReadCache::get(const std::string& key, const Fetch& fetch) {
    std::unique_lock<std::mutex> l(mutex_);
    Entry* e = &entries_[key];
    for (;;) {
        if (e->answer && e->generation == generation_ && Clock::now() - e->at < maxAge_) return e->answer;
        if (!e->fetching) break;
        fetched_.wait(l);
        e = &entries_[key];  // std::map keeps its nodes: the same entry
    }
    e->fetching = true;
    const unsigned long generation = generation_;
    l.unlock();
    Answer answer;
    try {
        answer = std::make_shared<const ApiClient::Response>(fetch());
    } catch (...) {
        l.lock();
        e->fetching = false;
        fetched_.notify_all();
        throw;
    }
    l.lock();
    e->fetching = false;
    // An answer fetched before a change may not hold it: given to this request, kept stale.
    if (answer->err.empty()) {
        e->answer = answer;
        e->at = Clock::now();
        e->generation = generation;
    }
    fetched_.notify_all();
    return answer;
}

void ReadCache::invalidate() {
    std::lock_guard<std::mutex> l(mutex_);
    ++generation_;
}
